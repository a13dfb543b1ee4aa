#include "check_problem.h"

#include <new>

#include "check_run.h"
#include "text.h"
#include "texts.h"

const char* ProblemLineFormat(ProblemKind kind, bool isFolder) {
  // In the order of ProblemKind; found intact under another name, nothing the checker says.
  static const char* const kFormats[] = {
      kTextFolderMissing,   kTextFileMissing,   kTextFileBroken,       kTextReadFailed, "", "",
      kTextPathTooLongLine, kTextFileAmbiguous, kTextCheckerLoadFailed};
  static_assert(sizeof kFormats / sizeof kFormats[0] == kProblemCheckerUnusable + 1,
                "a format for every kind");
  return kind == kProblemNameAmbiguous && isFolder ? kTextFolderAmbiguous : kFormats[kind];
}

UserMessage KindMessage(ProblemKind kind) {
  switch (kind) {
    case kProblemFolderMissing:
      return kUserMessageFolderMissing;
    case kProblemFileMissing:
      return kUserMessageFileMissing;
    case kProblemFileDamaged:
      return kUserMessageFileBroken;
    default:
      return kNoUserMessage;
  }
}

const char* ProblemAdvice(ProblemKind kind, const char* messageText) {
  // The distributor's messages are about downloading and unpacking again, which cannot
  // shorten the path: the advice that helps takes their place.
  return kind == kProblemPathTooLong ? kTextUnpackShallower : messageText;
}

namespace {

// One byte more than the bytes themselves: the text writer copies a lead byte only with room
// for a second byte after it, and a damaged path may end in a lead byte alone.
size_t SubjectSize(const CheckProblem& problem) {
  return TextLength(problem.folder) + TextLength(problem.path) + 2;
}

}  // namespace

size_t ProblemTextSize(const CheckProblem& problem) {
  // Room for the subject too, which is put together at the end before it is put in the line.
  return TextLength(ProblemLineFormat(problem.kind, problem.isFolder)) + 2 * SubjectSize(problem) +
         TextLength(ProblemAdvice(problem.kind, problem.messageText));
}

void WordProblem(const CheckProblem& problem, char* text, size_t size) {
  // The subject gets the end of the buffer; with less than ProblemTextSize, as much of it and
  // of the text as fits in half of it each.
  size_t subjectSize = SubjectSize(problem);
  if (subjectSize > size / 2 && size < ProblemTextSize(problem)) subjectSize = size / 2;
  char* subject = text + size - subjectSize;
  TextCopy(subject, subjectSize, problem.folder);
  TextAppend(subject, subjectSize, problem.path);
  size -= subjectSize;
  FormatText(text, size, ProblemLineFormat(problem.kind, problem.isFolder), subject);
  TextAppend(text, size, ProblemAdvice(problem.kind, problem.messageText));
}

void ShowProblem(MessageSink& messages, const CheckProblem& problem) {
  // The advice has no length limit, and a path that did not fit a path buffer must still be
  // named whole, so the text gets a buffer sized to fit; without memory the user still
  // learns what is wrong, with the texts cut to fit.
  size_t size = ProblemTextSize(problem);
  char* buffer = new (std::nothrow) char[size];
  char fallback[2 * kCheckerPathSize];
  WordProblem(problem, buffer != nullptr ? buffer : fallback,
              buffer != nullptr ? size : sizeof fallback);
  messages.Show(buffer != nullptr ? buffer : fallback, kTextError, kMessageWarning);
  delete[] buffer;
}

#include "check_problem.h"

#include <new>

#include "check_run.h"
#include "text.h"
#include "texts.h"

const char* ProblemLineFormat(ProblemKind kind, bool isFolder) {
  switch (kind) {
    case kProblemFolderMissing:
      return kTextFolderMissing;
    case kProblemFileMissing:
      return kTextFileMissing;
    case kProblemFileDamaged:
      return kTextFileBroken;
    case kProblemReadFailed:
      return kTextReadFailed;
    case kProblemPathTooLong:
      return kTextPathTooLongLine;
    case kProblemNameAmbiguous:
      return isFolder ? kTextFolderAmbiguous : kTextFileAmbiguous;
    case kProblemCheckerUnusable:
      return kTextCheckerLoadFailed;
    case kProblemFolderRenamed:
    case kProblemFileRenamed:
      break;
  }
  // Found intact under another name: nothing that the checker would say.
  return "";
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
  return TextLength(ProblemLineFormat(problem.kind, problem.isFolder)) + SubjectSize(problem) +
         TextLength(ProblemAdvice(problem.kind, problem.messageText));
}

void WordProblem(const CheckProblem& problem, char* text, size_t size) {
  // The advice has no length limit, and a path that did not fit a path buffer must still be
  // named whole, so the subject gets a buffer sized to fit.
  size_t subjectSize = SubjectSize(problem);
  char* buffer = new (std::nothrow) char[subjectSize];
  // Without memory the user still learns what is wrong, with the path cut to fit.
  char fallback[kCheckerPathSize];
  char* subject = buffer != nullptr ? buffer : fallback;
  if (buffer == nullptr) subjectSize = sizeof fallback;
  TextCopy(subject, subjectSize, problem.folder);
  TextAppend(subject, subjectSize, problem.path);
  FormatText(text, size, ProblemLineFormat(problem.kind, problem.isFolder), subject);
  TextAppend(text, size, ProblemAdvice(problem.kind, problem.messageText));
  delete[] buffer;
}

void ShowProblem(MessageSink& messages, const CheckProblem& problem) {
  size_t size = ProblemTextSize(problem);
  char* buffer = new (std::nothrow) char[size];
  char fallback[kCheckerPathSize];
  char* text = buffer != nullptr ? buffer : fallback;
  WordProblem(problem, text, buffer != nullptr ? size : sizeof fallback);
  messages.Show(text, kTextError, kMessageWarning);
  delete[] buffer;
}

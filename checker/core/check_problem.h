// What a check found wrong, as a record: the kinds of problem, the record the check hands
// over for each, and the checker's wording of it (the fixed line, then the advice).
// Runtime-free: the checker words its boxes with it.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "checkfile.h"
#include "platform.h"

enum ProblemKind {
  kProblemFolderMissing,
  kProblemFileMissing,
  kProblemFileDamaged,
  kProblemReadFailed,  // the file opened, but reading it failed part of the way
  // Not there under its own name but under another form (NameForm), a file's content intact.
  kProblemFolderRenamed,
  kProblemFileRenamed,
  // The base folder and the stored path together pass the path limit: not looked at. The
  // checker's own path too (no entry then).
  kProblemPathTooLong,
  // Not there under its own name, and a form gives several names on disk for it, or a name
  // that other missing entries could have as well: which one it is cannot be told.
  kProblemNameAmbiguous,
  // The checker file carries no check data that can be used: no entry.
  kProblemCheckerUnusable,
};

// The index of a problem that concerns no listed entry.
constexpr uint32_t kNoEntry = 0xFFFFFFFFu;

// One problem, as the check hands it over. The texts are the check's own (code page 932),
// valid only while the record is being handed over.
struct CheckProblem {
  ProblemKind kind;
  bool isFolder;   // the entry is a listed folder (else a listed file)
  uint32_t index;  // in the folder or file list, or kNoEntry
  // What the fixed line names: `folder` + `path`. The folder is the checker's own where the
  // line names the full path (a missing folder, a path too long), else empty; the path is the
  // entry's, as stored.
  const char* folder;
  const char* path;
  UserMessage message;      // the distributor's message that belongs to it, if any
  const char* messageText;  // that message's text ("" for none)
  const char* expected;     // a damaged file's stored digest text, else ""
  const char* actual;       // and the digest text of what was read, else ""
};

// The distributor's message that belongs to a problem of `kind`, if any: the one of a missing
// folder, a missing file, a damaged file.
UserMessage KindMessage(ProblemKind kind);
// The fixed line of a problem of `kind` (about a folder entry when `isFolder`): a format for
// one text, the folder and path that the line names.
const char* ProblemLineFormat(ProblemKind kind, bool isFolder);
// What follows the fixed line: the distributor's `messageText`, or the check's own advice
// where theirs cannot help (a path too long).
const char* ProblemAdvice(ProblemKind kind, const char* messageText);

// The checker's text for `problem`, as its box shows it: the fixed line, then the advice.
// `size` bytes at `text`; ProblemTextSize gives the size that holds it whole.
size_t ProblemTextSize(const CheckProblem& problem);
void WordProblem(const CheckProblem& problem, char* text, size_t size);
// Words `problem` and shows it through `messages` as the checker's warning box.
void ShowProblem(MessageSink& messages, const CheckProblem& problem);

// Takes the check's records, one per problem, as they are found.
class ProblemSink {
 public:
  virtual void Report(const CheckProblem& problem) = 0;

 protected:
  ~ProblemSink() = default;
};

// Shows every record as the checker's box at once.
class ProblemBoxes : public ProblemSink {
 public:
  explicit ProblemBoxes(MessageSink& messages) : messages_(messages) {}
  void Report(const CheckProblem& problem) override { ShowProblem(messages_, problem); }

 private:
  MessageSink& messages_;
};

// vexorin-check's run over one checker file: the checker's own loading and verification
// (CheckRun), refused when a stored path leaves the folder, gone on with after a problem when
// every problem is wanted, and what it found as data.
#pragma once
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "check_problem.h"
#include "checkfile.h"
#include "md5_lanes.h"
#include "name_twins.h"
#include "platform.h"
#include "unlisted.h"

// A CheckProblem kept: the record, its texts copied (code page 932), and what the name
// search added to it.
struct Problem {
  ProblemKind kind;
  bool isFolder = false;
  uint32_t index = kNoEntry;
  std::string path;  // relative, as stored: code page 932, backslash separators
  // The checker's folder where the fixed line names the full path (a missing folder, a path
  // too long), else empty; it may begin with the platform's kExecutableFolderMark.
  std::string folder;
  UserMessage message = kNoUserMessage;
  std::string messageText;       // the distributor's text of `message`
  std::string expected, actual;  // the digest texts of a damaged file
  // How it was found: a damaged file or a read error may be found under another form too.
  NameForm form = kFormOwn;
  std::string diskName;  // under another form: the relative path on disk, "/" separators
  // Ambiguous: the relative paths on disk it could be, and the other listed entries that
  // could be one of them (UTF-8, "/" separators); `form` is the form that gave them.
  std::vector<std::string> candidates, rivals;
};

// The text the checker shows for `problem` (code page 932), worded by WordProblem: its fixed
// line, and after a line feed the advice; for a read error or an ambiguous name only its line.
std::string CheckerText(const Problem& problem);

enum CheckOutcome {
  kOutcomeIntact,    // every folder and file is there and intact
  kOutcomeProblems,  // at least one problem was found
  kOutcomeUnusable,  // the file carries no check data that can be used
};

struct CheckReport {
  CheckOutcome outcome = kOutcomeUnusable;
  // Unusable: the first stored path that leaves the folder (code page 932), or empty when the
  // file carries no check data at all (the checker's load failure).
  std::string escapingPath;
  uint32_t folders = 0, files = 0;  // listed in the check data
  uint32_t foldersChecked = 0, filesChecked = 0;
  std::vector<Problem> problems;
  // With every problem wanted and the names on disk given: what the folder holds that the
  // check data does not list. Information only: it changes neither outcome nor exit status.
  std::vector<UnlistedEntry> unlisted;
};

// Told before every step of the file check, with the checker's two progress lines.
class CheckProgress {
 public:
  // The checker's two progress lines, and how many of the `files` listed are done: with
  // several jobs, files after the one that line1 names may be done too.
  virtual void Step(const char* line1, const char* line2, size_t filesDone, size_t files) = 0;

 protected:
  ~CheckProgress() = default;
};

// Checks the folder of the platform's executable (the checker file) against that file's
// check data, as the checker does: the folders in stored order, then the files in stored
// order, ending at the first problem; with `all`, every folder and file, each problem listed.
// Nothing is opened or tested when a stored path leaves the folder.
//
// With `jobs` above 1 that many jobs read files at once, each digesting up to
// `lanes->width` files in SIMD lanes (one file at a time, with one reading buffer of
// kCheckerChunkSize bytes, when `lanes` is null), and the results are taken in stored
// order: the report is the one
// of a run with one job, which reads one chunk per step as the checker does. The platform's
// reading calls must then allow calls from several threads at once. The progress lines then
// name the file the results wait for, and the bytes read from all files so far.
//
// With `names`, a folder or file that is not there under its own name is looked for under
// the forms that unpackers and other systems give names (NameTwinSearch). One found is
// checked under that name, reported with its form, and does not end the run; one that could
// be several names is reported ambiguous, as a problem. With `names`, `all` and `unlisted`,
// the report lists what the folder holds beyond the check data too (CheckReport::unlisted).
void RunCheck(Platform& platform, bool all, int jobs, CheckProgress* progress, CheckReport* report,
              const Md5LaneKernel* lanes = Md5WidestLaneKernel(), FolderNames* names = nullptr,
              bool unlisted = false);

// The stored digest text and relative path of every listed file, in stored order, without
// checking anything. False, with `report` saying why, when the data is unusable.
bool ReadDigestList(Platform& platform, CheckReport* report,
                    std::vector<std::pair<std::string, std::string>>* list);

// True when the platform's executable carries check data that the checker would load.
bool CarriesCheckData(Platform& platform);

// False for a stored path that could lead out of the folder it is relative to: an absolute
// path, a drive letter, a leading separator, a ".." component, a control character.
bool PathStaysInside(const char* path);

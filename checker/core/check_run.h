// The checker's whole state and its run: loading its own check data, the folder check and
// the file check one chunk per step. Portable: it sees the platform only through Platform,
// and hands each problem it finds to a ProblemSink as a record, so the same source runs in
// the checker (which shows each as a box at once) and in the native unit tests.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "check_problem.h"
#include "checkfile.h"
#include "digest.h"
#include "platform.h"

// Paths live in buffers of VX_CHECKER_PATH_SIZE bytes, terminator included: 1,024 in the
// checker, whose platform opens paths past Windows's 260 characters in the \\?\ form
// (checker/CMakeLists.txt), and 4,096 in the tools that check (vexorin-check), Linux's limit,
// so that a folder unpacked deep down is checked there too. A build that sets none gets 260,
// Windows's classic limit. A path that does not fit is reported too long, never cut; the
// checker's own path too.
#ifndef VX_CHECKER_PATH_SIZE
#define VX_CHECKER_PATH_SIZE 260
#endif
constexpr size_t kCheckerPathSize = VX_CHECKER_PATH_SIZE;
// Progress lines live in buffers of 260 bytes, whatever the path limit: a longer path is cut
// there at a character boundary.
constexpr size_t kProgressTextSize = 260;

// What one CheckStep did; the dialog decides from it whether to go on.
enum CheckStepResult {
  kCheckMore = 0,         // more of the current file remains, or the next file is current
  kCheckAllIntact = -1,   // the last file has been checked and every file was intact
  kCheckFileMissing = 1,  // the current file cannot be opened; its record has been handed over
  kCheckFileBroken = 2,   // the current file's digest differs; its record has been handed over
  // The current file's full path passes the path limit, so it cannot be asked about: it may
  // well be there. Its record has been handed over.
  kCheckPathTooLong = 3,
};

class CheckRun {
 public:
  explicit CheckRun(Platform& platform);
  ~CheckRun();
  CheckRun(const CheckRun&) = delete;
  CheckRun& operator=(const CheckRun&) = delete;

  // Fills `folder` with the folder of the running executable, separator included.
  void ModuleFolder(char folder[kCheckerPathSize]);
  // Reads the check data from the end of the executable's own file, checks the folders and
  // makes the first file current. False when the run must not begin; the reason has then
  // been handed to `problems`. The same as ReadOwnCheckData, CheckFolders and
  // StartFileCheck in turn.
  bool LoadCheckData(ProblemSink& problems);
  // The first part of loading: the base folder and the check data of the executable's own
  // file. False, with the load failure handed over, when the file carries no usable data.
  bool ReadOwnCheckData(ProblemSink& problems);
  // True when every listed folder exists; otherwise hands over the first missing one.
  bool CheckFolders(ProblemSink& problems);
  // Tests the listed folder `index`; hands it over as missing and returns false when it is not
  // there. A caller that wants every missing folder (vexorin-check --all) tests each.
  bool CheckFolder(uint32_t index, ProblemSink& problems);
  // True when the base folder and the stored relative `path` fit the path limit together.
  bool PathFits(const char* path) const;
  bool FolderExists(const char* path);
  // Makes the first file current, with nothing read yet.
  void StartFileCheck();
  // Reads one chunk of the current file; see CheckStepResult.
  int CheckStep(ProblemSink& problems);
  // Ends the current file with its digest read elsewhere (vexorin-check's concurrent jobs,
  // `bytes` read in all; not `opened` when it could not be opened): what the step that read
  // its last chunk would have returned and handed over.
  int FileDigested(bool opened, const unsigned char md5[16], uint64_t bytes, ProblemSink& problems);
  // Makes the next file current; false when the current one was the last. CheckStep does
  // this after an intact file; a caller that goes on after a missing or damaged file
  // (vexorin-check --all) calls it itself.
  bool NextFile();
  // The two progress lines for the state before the next step.
  void MakeProgressTexts(char line1[kProgressTextSize], char line2[kProgressTextSize]);
  void CloseCurrentFile();

  // The state of the run, in the order it is kept.
  DigestState digest;  // the file being read, if any, and its running MD5
  char baseFolder[kCheckerPathSize];
  uint32_t currentIndex = 0;
  // The folder list, the file records (digest list and file list in one) and the three
  // messages. The lists point into the data block, which is kept for the whole run.
  CheckData data;
  char currentFullPath[kCheckerPathSize];
  char currentRelPath[kCheckerPathSize];
  char expectedDigest[kDigestDigits + 1];
  // The digest text of the last file read to its end, intact or not.
  char actualDigest[kDigestDigits + 1];
  int64_t bytesDone = 0;
  int64_t byteTotal = 0;
  // False when the base folder and the current file's relative path together do not fit
  // the path buffer: such a file cannot be opened by that path, so it counts as missing.
  bool currentPathFits = false;

 private:
  void SelectFile(uint32_t index);
  // The end of the current file: missing when not `opened`, else its digest compared.
  int EndFile(bool opened, const unsigned char md5[16], ProblemSink& problems);
  const char* CurrentStoredPath() const;
  // Hands over the record of a problem of the listed entry `index` (kNoEntry: of the checker
  // itself) named by `path`.
  void Hand(ProblemSink& problems, ProblemKind kind, bool isFolder, uint32_t index,
            const char* path);
  // Joins the base folder and a stored relative path; false when they do not fit together.
  bool JoinPath(char fullPath[kCheckerPathSize], const char* path) const;

  Platform& platform_;
};

#include "check_report.h"

#include <memory>

#include "check_run.h"
#include "concurrent_digest.h"
#include "cp932.h"
#include "cp932_convert.h"
#include "text.h"
#include "unlisted.h"

namespace {

// Keeps the record of the problem the run has just found, for the caller to list.
class LastProblem : public ProblemSink {
 public:
  void Report(const CheckProblem& problem) override {
    last = Problem();
    last.kind = problem.kind;
    last.isFolder = problem.isFolder;
    last.index = problem.index;
    last.path = problem.path;
    last.folder = problem.folder;
    last.message = problem.message;
    last.messageText = problem.messageText;
    last.expected = problem.expected;
    last.actual = problem.actual;
  }
  Problem last;
};

bool IsSeparator(unsigned char c) { return c == '\\' || c == '/'; }

// A component that reaches the parent folder: "..", and on Windows also a name of dots and
// spaces only, since Windows drops a name's trailing dots and spaces (".. " is "..").
bool LeadsUp(const std::string& component) {
  int dots = 0;
  for (char c : component) {
    if (c == '.') {
      ++dots;
    } else if (c != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

// Whether any component of `path` leads up, with the components cut at `separator` bytes.
// The caller asks twice: once at the separators that code page 932 sees, once at every
// separator byte, because a platform that converts a damaged double-byte character leniently
// can take its second byte (0x5C) for a separator after all.
bool AnyComponentLeadsUp(const char* path, bool byteWise) {
  std::string component;
  bool inDouble = false;
  for (const char* p = path;; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    bool separator = c == '\0' || (IsSeparator(c) && (byteWise || !inDouble));
    if (separator) {
      if (LeadsUp(component)) return true;
      if (c == '\0') return false;
      component.clear();
      inDouble = false;
      continue;
    }
    component += static_cast<char>(c);
    inDouble = !inDouble && IsCp932LeadByte(c);
  }
}

// Loads the check data and refuses it when a stored path leaves the folder. False when the
// run must not go on; `report` then says why.
bool LoadTrusted(CheckRun& run, LastProblem& sink, CheckReport* report) {
  report->outcome = kOutcomeUnusable;
  if (!run.ReadOwnCheckData(sink)) return false;
  // Folder records come before file records in the data, so this is the first in the file.
  for (uint32_t i = 0; i < run.data.folderCount; ++i) {
    if (!PathStaysInside(run.data.folders[i])) {
      report->escapingPath = run.data.folders[i];
      return false;
    }
  }
  for (uint32_t i = 0; i < run.data.fileCount; ++i) {
    const char* path = RecordPath(run.data.fileRecords[i]);
    if (!PathStaysInside(path)) {
      report->escapingPath = path;
      return false;
    }
  }
  report->folders = run.data.folderCount;
  report->files = run.data.fileCount;
  return true;
}

// What one run needs to decide after each file.
struct FileContext {
  CheckRun& run;
  LastProblem& sink;
  bool all;
  CheckReport* report;
  Platform& platform;
  NameTwinSearch* search;  // null: entries are looked for under their own names only
};

// A listed file that the checker would call damaged, but whose bytes were never all read:
// nothing is known of them, and telling the recipient to download again may not help.
void MakeReadFailed(Problem* problem) {
  problem->kind = kProblemReadFailed;
  problem->folder.clear();
  problem->message = kNoUserMessage;
  problem->messageText.clear();
  problem->expected.clear();
  problem->actual.clear();
}

// A problem that the name search found, with nothing of the checker's record in it.
Problem EntryProblem(ProblemKind kind, bool isFolder, uint32_t index, const char* path) {
  Problem problem;
  problem.kind = kind;
  problem.isFolder = isFolder;
  problem.index = index;
  problem.path = path;
  return problem;
}

// An entry that several names on disk, or several entries, could be.
Problem AmbiguousProblem(bool isFolder, uint32_t index, const char* path,
                         const NameFinding& finding) {
  Problem problem = EntryProblem(kProblemNameAmbiguous, isFolder, index, path);
  problem.form = finding.form;
  problem.candidates = finding.candidates;
  problem.rivals = finding.rivals;
  return problem;
}

// The current file, missing under its own name, looked for under other forms and, when found,
// digested under that name. False when it is not there under any form.
bool CheckUnderOtherName(const FileContext& c, bool* intact) {
  const char* path = RecordPath(c.run.data.fileRecords[c.run.currentIndex]);
  NameFinding finding;
  NameSearchResult found = c.search != nullptr ? c.search->Find(path, &finding) : kNameNotFound;
  if (found == kNameNotFound) return false;
  if (found == kNameAmbiguous) {
    c.report->problems.push_back(AmbiguousProblem(false, c.run.currentIndex, path, finding));
    *intact = false;
    return true;
  }
  DigestState state;
  std::vector<unsigned char> chunk(kCheckerChunkSize);
  unsigned char md5[16];
  StepResult step;
  do {
    uint32_t bytes = 0;
    step = DigestFileStep(c.platform, &state, finding.path.c_str(), chunk.data(), kCheckerChunkSize,
                          md5, &bytes);
    if (step != kStepOpenFailed) c.run.bytesDone += bytes;
  } while (step == kStepMore);
  if (step == kStepOpenFailed) return false;
  Problem problem = EntryProblem(kProblemFileRenamed, false, c.run.currentIndex, path);
  problem.form = finding.form;
  problem.diskName = finding.diskName;
  DigestToHex(md5, c.run.actualDigest);
  *intact = false;
  if (state.readFailed) {
    problem.kind = kProblemReadFailed;
  } else if (TextEqual(c.run.actualDigest, c.run.expectedDigest)) {
    *intact = true;
  } else {
    problem.kind = kProblemFileDamaged;
    problem.message = KindMessage(kProblemFileDamaged);
    problem.messageText = UserMessageText(c.run.data, problem.message);
    problem.expected = c.run.expectedDigest;
    problem.actual = c.run.actualDigest;
  }
  c.report->problems.push_back(problem);
  return true;
}

// What the file phase does once a file has ended with `result` (kCheckMore: it was intact and
// the next is current); false when the phase is over. The one place both loops below decide.
bool AfterFile(const FileContext& c, int result, bool readFailed) {
  if (result == kCheckMore) return true;
  if (result == kCheckAllIntact) return false;
  bool intact = false;
  bool elsewhere = result == kCheckFileMissing && CheckUnderOtherName(c, &intact);
  if (!elsewhere) {
    // The checker's own record of the file, but a read error is not called damage.
    c.report->problems.push_back(c.sink.last);
    if (result == kCheckFileBroken && readFailed) MakeReadFailed(&c.report->problems.back());
  }
  // A file found intact under another name ends nothing: the rest are checked as well, so
  // that the report can say whether the whole folder was renamed the same way.
  if (!c.all && !intact) {
    c.report->filesChecked = c.run.currentIndex + 1;
    return false;
  }
  return c.run.NextFile();
}

void ShowProgress(CheckRun& run, CheckProgress* progress, size_t filesDone) {
  if (progress == nullptr) return;
  char line1[kProgressTextSize], line2[kProgressTextSize];
  run.MakeProgressTexts(line1, line2);
  progress->Step(line1, line2, filesDone, run.data.fileCount);
}

// The file phase, one chunk per step as the checker takes it.
void CheckFiles(const FileContext& c, CheckProgress* progress) {
  for (;;) {
    ShowProgress(c.run, progress, c.run.currentIndex);
    int result = c.run.CheckStep(c.sink);
    if (!AfterFile(c, result, c.run.digest.readFailed)) return;
  }
}

// The listed files by the paths the run opens them by. A path that does not fit the run's
// buffer is handed out empty, which opens nothing: the run calls that file missing anyway.
class ListedFiles : public DigestList {
 public:
  explicit ListedFiles(const CheckRun& run) : run_(run) {}
  size_t Count() const override { return run_.data.fileCount; }
  void FullPath(size_t index, std::string* path) const override {
    *path = run_.baseFolder;
    *path += RecordPath(run_.data.fileRecords[index]);
    if (path->size() >= kCheckerPathSize) path->clear();
  }

 private:
  const CheckRun& run_;
};

// Takes the digests of the jobs in stored order and ends each file as the step that read its
// last chunk would have; the progress lines count the bytes read by every job.
class CheckFeeder : public DigestWatcher {
 public:
  CheckFeeder(const FileContext& c, CheckProgress* progress)
      : c_(c), run_(c.run), progress_(progress) {}

  bool FileDone(size_t, const FileDigest& d) override {
    int result = run_.FileDigested(d.outcome != kDigestOpenFailed, d.md5, d.bytes, c_.sink);
    return AfterFile(c_, result, d.outcome == kDigestReadFailed);
  }

  void Progress(const DigestProgress& p) override {
    // The run counts the bytes of the files taken so far; the line shows those of the files
    // still in the jobs' hands too.
    int64_t taken = run_.bytesDone;
    run_.bytesDone = static_cast<int64_t>(p.bytesRead);
    ShowProgress(run_, progress_, p.filesDone);
    run_.bytesDone = taken;
  }

  bool Cancelled() override { return false; }  // vexorin-check ends on Ctrl+C as it is

 private:
  const FileContext& c_;
  CheckRun& run_;
  CheckProgress* progress_;
};

// The file phase with `jobs` files read at once; the same report as CheckFiles.
void CheckFilesConcurrently(const FileContext& c, int jobs, const Md5LaneKernel* lanes,
                            CheckProgress* progress) {
  ShowProgress(c.run, progress, 0);
  ListedFiles list(c.run);
  CheckFeeder feeder(c, progress);
  // A file that cannot be opened may be there under another name, which does not end the run.
  bool goOn = c.all || c.search != nullptr;
  DigestConcurrently(c.platform, list, jobs, kCheckerChunkSize, feeder,
                     goOn ? kFailureGoesOn : kFailureEndsRun, lanes);
}

// What the folder holds beyond the check data: neither the checker nor an entry found under
// another name counts, nor a name on disk that a listed entry could be (ambiguous-name).
std::vector<UnlistedEntry> Unlisted(Platform& platform, FolderNames& names, CheckRun& run,
                                    const CheckReport& report) {
  std::set<std::string> found;
  for (const Problem& problem : report.problems) {
    if (problem.form != kFormOwn) found.insert(problem.diskName);
    found.insert(problem.candidates.begin(), problem.candidates.end());
  }
  char self[kCheckerPathSize];
  std::string checker;
  if (platform.ExecutablePath(self, sizeof self)) {
    std::string path = self;
    checker = Cp932TextToUtf8(path.substr(FolderPrefixLength(self)));
  }
  return FindUnlisted(platform, names, run.baseFolder, run.data, checker, found);
}

}  // namespace

std::string CheckerText(const Problem& problem) {
  CheckProblem record{problem.kind,
                      problem.isFolder,
                      problem.index,
                      problem.folder.c_str(),
                      problem.path.c_str(),
                      problem.message,
                      problem.messageText.c_str(),
                      problem.expected.c_str(),
                      problem.actual.c_str()};
  std::string text(ProblemTextSize(record), '\0');
  WordProblem(record, &text[0], text.size());
  return text.c_str();
}

bool PathStaysInside(const char* path) {
  // A path of the UTF-8 extension comes enclosed (checkfile.h); its inside is held to the same
  // rules, and a mark anywhere else is a control character.
  size_t n = TextLength(path);
  if (n >= 2 && path[0] == kForeignNameBegin && path[n - 1] == kForeignNameEnd)
    return PathStaysInside(std::string(path + 1, n - 2).c_str());
  const unsigned char* p = reinterpret_cast<const unsigned char*>(path);
  if (IsSeparator(p[0])) return false;
  bool letter = (p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z');
  if (letter && p[1] == ':') return false;
  // No second byte of a double-byte character is below 0x40, so every such byte is a control
  // character; 0x01 would moreover stand for the checker's own folder on some platforms.
  for (size_t i = 0; p[i] != '\0'; ++i) {
    if (p[i] < 0x20 || p[i] == 0x7F) return false;
  }
  return !AnyComponentLeadsUp(path, false) && !AnyComponentLeadsUp(path, true);
}

void RunCheck(Platform& platform, bool all, int jobs, CheckProgress* progress, CheckReport* report,
              const Md5LaneKernel* lanes, FolderNames* names, bool unlisted) {
  *report = CheckReport();
  CheckRun run(platform);
  LastProblem sink;
  if (!LoadTrusted(run, sink, report)) return;
  std::unique_ptr<NameTwinSearch> search;
  if (names != nullptr) {
    search.reset(new NameTwinSearch(*names, run.baseFolder));
    for (uint32_t i = 0; i < run.data.folderCount; ++i) search->AddListed(run.data.folders[i]);
    for (uint32_t i = 0; i < run.data.fileCount; ++i)
      search->AddListed(RecordPath(run.data.fileRecords[i]));
  }

  // The checker's folder check, CheckFolders, one folder at a time so that `all` can go on.
  bool foldersThere = true;
  for (uint32_t i = 0; i < run.data.folderCount; ++i) {
    ++report->foldersChecked;
    if (run.CheckFolder(i, sink)) continue;
    Problem problem = sink.last;
    bool fits = problem.kind != kProblemPathTooLong;
    NameFinding finding;
    NameSearchResult found =
        fits && search ? search->Find(run.data.folders[i], &finding) : kNameNotFound;
    if (found == kNameFound && platform.IsFolder(finding.path.c_str())) {
      problem = EntryProblem(kProblemFolderRenamed, true, i, run.data.folders[i]);
      problem.form = finding.form;
      problem.diskName = finding.diskName;
      report->problems.push_back(problem);
      continue;
    }
    if (found == kNameAmbiguous) problem = AmbiguousProblem(true, i, run.data.folders[i], finding);
    report->problems.push_back(problem);
    foldersThere = false;
    if (!all) break;
  }
  if (foldersThere || all) {
    report->filesChecked = run.data.fileCount;
    run.StartFileCheck();
    FileContext context{run, sink, all, report, platform, search.get()};
    if (jobs > 1) {
      CheckFilesConcurrently(context, jobs, lanes, progress);
    } else {
      CheckFiles(context, progress);
    }
  }
  run.CloseCurrentFile();
  report->outcome = report->problems.empty() ? kOutcomeIntact : kOutcomeProblems;
  if (all && names != nullptr && unlisted) report->unlisted = Unlisted(platform, *names, run, *report);
}

bool ReadDigestList(Platform& platform, CheckReport* report,
                    std::vector<std::pair<std::string, std::string>>* list) {
  *report = CheckReport();
  CheckRun run(platform);
  LastProblem sink;
  if (!LoadTrusted(run, sink, report)) return false;
  list->clear();
  for (uint32_t i = 0; i < run.data.fileCount; ++i) {
    const char* record = run.data.fileRecords[i];
    list->emplace_back(std::string(record, kDigestDigits), RecordPath(record));
  }
  report->outcome = kOutcomeIntact;
  return true;
}

bool CarriesCheckData(Platform& platform) {
  CheckRun run(platform);
  LastProblem sink;
  return run.ReadOwnCheckData(sink);
}

#include "check_session.h"

#include <set>

#include "cp932.h"
#include "cp932_convert.h"
#include "text.h"
#include "unlisted.h"

namespace {

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

}  // namespace

FileDigest DigestThroughPlatform(Platform& platform, const char* path) {
  FileDigest digest{};
  DigestState state;
  std::vector<unsigned char> chunk(kCheckerChunkSize);
  StepResult step;
  do {
    uint32_t bytes = 0;
    step =
        DigestFileStep(platform, &state, path, chunk.data(), kCheckerChunkSize, digest.md5, &bytes);
    if (step != kStepOpenFailed) digest.bytes += bytes;
  } while (step == kStepMore);
  digest.outcome = step == kStepOpenFailed ? kDigestOpenFailed
                   : state.readFailed      ? kDigestReadFailed
                                           : kDigestOk;
  return digest;
}

void CheckSession::LastProblem::Report(const CheckProblem& problem) {
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

CheckSession::CheckSession(Platform& platform, CheckReport* report, const SessionOptions& options)
    : platform_(platform), report_(report), options_(options), run_(platform) {
  *report_ = CheckReport();
}

CheckSession::~CheckSession() { run_.CloseCurrentFile(); }

bool CheckSession::Load() {
  report_->outcome = kOutcomeUnusable;
  if (!run_.ReadOwnCheckData(sink_)) return false;
  // Folder records come before file records in the data, so this is the first in the file.
  for (uint32_t i = 0; i < run_.data.folderCount; ++i) {
    if (!PathStaysInside(run_.data.folders[i])) {
      report_->escapingPath = run_.data.folders[i];
      return false;
    }
  }
  for (uint32_t i = 0; i < run_.data.fileCount; ++i) {
    const char* path = RecordPath(run_.data.fileRecords[i]);
    if (!PathStaysInside(path)) {
      report_->escapingPath = path;
      return false;
    }
  }
  report_->folders = run_.data.folderCount;
  report_->files = run_.data.fileCount;
  loaded_ = true;
  if (options_.names != nullptr) {
    search_.reset(new NameTwinSearch(*options_.names, run_.baseFolder));
    for (uint32_t i = 0; i < run_.data.folderCount; ++i) search_->AddListed(run_.data.folders[i]);
    for (uint32_t i = 0; i < run_.data.fileCount; ++i)
      search_->AddListed(RecordPath(run_.data.fileRecords[i]));
  }
  return true;
}

bool CheckSession::CheckFolders() {
  // The checker's folder check, CheckFolders, one folder at a time so that `all` can go on.
  bool foldersThere = true;
  for (uint32_t i = 0; i < run_.data.folderCount; ++i) {
    ++report_->foldersChecked;
    if (run_.CheckFolder(i, sink_)) continue;
    Problem problem = sink_.last;
    bool fits = problem.kind != kProblemPathTooLong;
    NameFinding finding;
    NameSearchResult found =
        fits && search_ ? search_->Find(run_.data.folders[i], &finding) : kNameNotFound;
    if (found == kNameFound && platform_.IsFolder(finding.path.c_str())) {
      problem = EntryProblem(kProblemFolderRenamed, true, i, run_.data.folders[i]);
      problem.form = finding.form;
      problem.diskName = finding.diskName;
      report_->problems.push_back(problem);
      continue;
    }
    if (found == kNameAmbiguous) problem = AmbiguousProblem(true, i, run_.data.folders[i], finding);
    report_->problems.push_back(problem);
    foldersThere = false;
    if (!options_.all) break;
  }
  if (!foldersThere && !options_.all) return false;
  report_->filesChecked = run_.data.fileCount;
  run_.StartFileCheck();
  listed_ = run_.data.fileCount;
  over_ = run_.data.fileCount == 0;
  return true;
}

void CheckSession::FullPath(size_t index, std::string* path) const {
  if (index >= listed_) {
    *path = otherNames_[index - listed_];
    return;
  }
  // A path that does not fit the run's buffer is wanted empty, which opens nothing: the run
  // calls that file too long anyway.
  *path = run_.baseFolder;
  *path += RecordPath(run_.data.fileRecords[index]);
  if (path->size() >= kCheckerPathSize) path->clear();
}

bool CheckSession::Take(size_t index, const FileDigest& digest) {
  if (over_) return false;
  if (index >= run_.data.fileCount) {
    if (!stalled_ || index != stalledIndex_) return true;  // not asked for (any more)
    stalled_ = false;
    if (!OtherNameDigested(stalledOn_, digest)) {
      over_ = true;
      return false;
    }
  } else {
    waiting_[index] = digest;
  }
  return Advance();
}

bool CheckSession::Advance() {
  while (!over_ && !stalled_) {
    auto next = waiting_.find(run_.currentIndex);
    if (next == waiting_.end()) break;
    FileDigest d = next->second;
    waiting_.erase(next);
    int result = run_.FileDigested(d.outcome != kDigestOpenFailed, d.md5, d.bytes, sink_);
    if (!AfterFile(result, d.outcome == kDigestReadFailed)) over_ = true;
  }
  return !over_;
}

bool CheckSession::Step() {
  if (over_) return false;
  int result = run_.CheckStep(sink_);
  if (!AfterFile(result, run_.digest.readFailed)) over_ = true;
  return !over_;
}

bool CheckSession::AfterFile(int result, bool readFailed) {
  if (result == kCheckMore) return true;
  if (result == kCheckAllIntact) return false;
  if (result == kCheckFileMissing && search_) {
    // Missing under its own name: it may be there under another form.
    const char* path = RecordPath(run_.data.fileRecords[run_.currentIndex]);
    NameFinding finding;
    NameSearchResult found = search_->Find(path, &finding);
    if (found == kNameAmbiguous) {
      report_->problems.push_back(AmbiguousProblem(false, run_.currentIndex, path, finding));
      return AfterProblem(false);
    }
    if (found == kNameFound) {
      if (!options_.askForOtherNames) {
        return OtherNameDigested(finding, DigestThroughPlatform(platform_, finding.path.c_str()));
      }
      stalled_ = true;
      stalledOn_ = finding;
      stalledIndex_ = Count();
      otherNames_.push_back(finding.path);
      return true;
    }
  }
  // The checker's own record of the file, but a read error is not called damage.
  report_->problems.push_back(sink_.last);
  if (result == kCheckFileBroken && readFailed) MakeReadFailed(&report_->problems.back());
  return AfterProblem(false);
}

bool CheckSession::AfterProblem(bool intact) {
  // A file found intact under another name ends nothing: the rest are checked as well, so
  // that the report can say whether the whole folder was renamed the same way.
  if (!options_.all && !intact) {
    report_->filesChecked = run_.currentIndex + 1;
    return false;
  }
  return run_.NextFile();
}

bool CheckSession::OtherNameDigested(const NameFinding& finding, const FileDigest& digest) {
  if (digest.outcome == kDigestOpenFailed) {
    // Gone since it was listed: missing, as the checker found it.
    report_->problems.push_back(sink_.last);
    return AfterProblem(false);
  }
  run_.bytesDone += static_cast<int64_t>(digest.bytes);
  const char* path = RecordPath(run_.data.fileRecords[run_.currentIndex]);
  Problem problem = EntryProblem(kProblemFileRenamed, false, run_.currentIndex, path);
  problem.form = finding.form;
  problem.diskName = finding.diskName;
  DigestToHex(digest.md5, run_.actualDigest);
  bool intact = false;
  if (digest.outcome == kDigestReadFailed) {
    problem.kind = kProblemReadFailed;
  } else if (TextEqual(run_.actualDigest, run_.expectedDigest)) {
    intact = true;
  } else {
    problem.kind = kProblemFileDamaged;
    problem.message = KindMessage(kProblemFileDamaged);
    problem.messageText = UserMessageText(run_.data, problem.message);
    problem.expected = run_.expectedDigest;
    problem.actual = run_.actualDigest;
  }
  report_->problems.push_back(problem);
  return AfterProblem(intact);
}

void CheckSession::Finish() {
  run_.CloseCurrentFile();
  if (!loaded_) return;  // unusable: the report says why
  report_->outcome = report_->problems.empty() ? kOutcomeIntact : kOutcomeProblems;
  if (options_.all && options_.names != nullptr && options_.unlisted) {
    // Neither an entry found under another name counts, nor a name on disk that a listed
    // entry could be (ambiguous-name).
    FolderNames& names =
        options_.unlistedNames != nullptr ? *options_.unlistedNames : *options_.names;
    std::set<std::string> found;
    for (const Problem& problem : report_->problems) {
      if (problem.form != kFormOwn) found.insert(names.AsWalked(problem.diskName));
      for (const std::string& candidate : problem.candidates)
        found.insert(names.AsWalked(candidate));
    }
    std::string checker = options_.checkerName;
    char self[kCheckerPathSize];
    if (checker.empty() && platform_.ExecutablePath(self, sizeof self)) {
      std::string path = self;
      checker = Cp932TextToUtf8(path.substr(FolderPrefixLength(self)));
    }
    report_->unlisted = FindUnlisted(platform_, names, run_.baseFolder, run_.data, checker, found);
  }
}

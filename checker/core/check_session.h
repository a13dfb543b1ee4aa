// vexorin-check's check as a session that is handed each file's digest as it comes: the check
// data loaded once and trusted, the folders checked, then the files in stored order, each
// problem kept as a record in the report. RunCheck drives it on one machine; the page drives
// it from the digests its workers make.
#pragma once
#include <stddef.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "check_report.h"
#include "check_run.h"
#include "concurrent_digest.h"
#include "name_twins.h"

// How a session is run.
struct SessionOptions {
  bool all = false;              // go on after a problem, listing every one
  FolderNames* names = nullptr;  // look for entries under the names unpackers give them
  // With `all` and `names`: list what the folder holds beyond the check data, walking these
  // names (`names` when null).
  bool unlisted = false;
  FolderNames* unlistedNames = nullptr;
  // The checker's name in its folder as the names list it (UTF-8), left out of the unlisted
  // entries; empty: taken from the platform's executable path.
  std::string checkerName;
  // A file found under another name is not read here but wanted (WantedPath), for a caller
  // whose files are all read elsewhere, and the session waits for its digest.
  bool askForOtherNames = false;
};

class CheckSession final : public DigestList {
 public:
  CheckSession(Platform& platform, CheckReport* report, const SessionOptions& options);
  ~CheckSession();
  CheckSession(const CheckSession&) = delete;
  CheckSession& operator=(const CheckSession&) = delete;

  // Reads the check data and refuses it when a stored path leaves the folder; false when it
  // cannot be used (the report says why).
  bool Load();
  // Checks the listed folders; false when no file is to be checked (a folder is missing and
  // not every problem is wanted). Then makes the first file current.
  bool CheckFolders();

  // The files the check wants, as DigestList: the listed files in stored order, by the paths
  // the run opens them by (empty for one whose path does not fit, which opens nothing), then
  // each file asked for under another name since (askForOtherNames), by its path on disk.
  size_t Count() const override { return listed_ + otherNames_.size(); }
  void FullPath(size_t index, std::string* path) const override;

  // Hands in the digest of wanted file `index`, in any order: the session takes the digests
  // in its own order as they are there. False once it wants no more.
  bool Take(size_t index, const FileDigest& digest);
  // Reads one chunk of the current file through the platform, as the checker's step does;
  // false once the file phase is over.
  bool Step();
  bool Over() const { return over_; }

  // Ends the run: the outcome and, when asked for, the unlisted entries.
  void Finish();

  CheckRun& run() { return run_; }
  const CheckData& data() const { return run_.data; }

 private:
  class LastProblem : public ProblemSink {
   public:
    void Report(const CheckProblem& problem) override;
    Problem last;
  };
  // What the file phase does once the current file has ended with `result`; false when over.
  bool AfterFile(int result, bool readFailed);
  // After a problem of the current file (`intact`: it was found intact under another name).
  bool AfterProblem(bool intact);
  // The current file's digest under the name the search found.
  bool OtherNameDigested(const NameFinding& finding, const FileDigest& digest);
  // Takes the digests that are there in stored order.
  bool Advance();

  Platform& platform_;
  CheckReport* report_;
  SessionOptions options_;
  CheckRun run_;
  LastProblem sink_;
  std::unique_ptr<NameTwinSearch> search_;
  size_t listed_ = 0;  // the listed files wanted: all, once the folders are checked
  std::vector<std::string> otherNames_;   // then the files asked for under other names
  std::map<size_t, FileDigest> waiting_;  // digests handed in before their turn
  bool loaded_ = false;
  bool over_ = true;
  bool stalled_ = false;  // waiting for the digest of a file under another name
  NameFinding stalledOn_;
  size_t stalledIndex_ = 0;  // its index among the wanted files
};

// The digest of the file at `path`, read through the platform one chunk at a time.
FileDigest DigestThroughPlatform(Platform& platform, const char* path);

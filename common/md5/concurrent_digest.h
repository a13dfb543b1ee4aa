// Digests the files of a list on several threads at once and hands the results back in list order.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "md5_lanes.h"
#include "platform.h"

enum DigestOutcome : uint8_t {
  kDigestOk,
  kDigestOpenFailed,  // the file could not be opened
  kDigestReadFailed,  // a read failed inside the file: the digest covers only part of it
};

// What one file gave.
struct FileDigest {
  unsigned char md5[16];
  uint64_t bytes;  // bytes read from it
  DigestOutcome outcome;
};

// The files to digest, by index. Every job reads it at the same time while a run lasts, so
// it must not change then.
class DigestList {
 public:
  virtual size_t Count() const = 0;
  // The path to open file `index` by, in the platform's form.
  virtual void FullPath(size_t index, std::string* path) const = 0;

 protected:
  ~DigestList() = default;
};

// Paths relative to one folder: `prefix` (the folder's path, ending with a separator)
// followed by each entry of `relative`. Neither is copied; both must outlive the run.
class PrefixedDigestList : public DigestList {
 public:
  PrefixedDigestList(const std::string& prefix, const std::vector<std::string>& relative)
      : prefix_(prefix), relative_(relative) {}
  size_t Count() const override { return relative_.size(); }
  void FullPath(size_t index, std::string* path) const override {
    *path = prefix_;
    *path += relative_[index];
  }

 private:
  const std::string& prefix_;
  const std::vector<std::string>& relative_;
};

// How far a run has come, counted over all jobs.
struct DigestProgress {
  uint64_t bytesRead;  // bytes read from all files so far, finished or not
  size_t filesDone;    // files finished by any job, in whatever order they finished
  size_t nextInOrder;  // index of the first file not yet handed over: the one the order waits for
};

// The owner's side of a run. Every call comes on the thread that called DigestConcurrently,
// so the owner needs no locks of its own.
class DigestWatcher {
 public:
  // File `index`, after every file before it. False ends the run after this file.
  virtual bool FileDone(size_t index, const FileDigest& digest) = 0;
  // At most once per kDigestProgressIntervalMs while the run goes on.
  virtual void Progress(const DigestProgress& progress) = 0;
  // Asked often (at least once per kDigestProgressIntervalMs); true stops every job.
  virtual bool Cancelled() = 0;

 protected:
  ~DigestWatcher() = default;
};

constexpr uint32_t kDigestProgressIntervalMs = 100;

// What a file that cannot be opened or read does to the run.
enum DigestFailures {
  kFailureEndsRun,  // the run ends with it: only the first failure in list order matters
  kFailureGoesOn,   // it is handed over like any file and the run goes on (every problem is wanted)
};

enum DigestRunResult {
  kRunComplete,   // every file was handed over
  kRunStopped,    // a file failed, or FileDone returned false; nothing after it was handed over
  kRunCancelled,  // Cancelled() returned true
};

// Each lane of a lane job reads through a buffer of this size (or of the chunk size, if
// smaller): a job of 32 lanes holds 2 MiB of buffers.
constexpr uint32_t kLaneChunkSize = 65536;

// Digests every file of `list` with `jobs` threads (capped at the number of files). With
// `lanes` null each job reads one file at a time through one reading buffer of `chunkSize`
// bytes of its own: at most `jobs` files are open and `jobs` buffers exist at any moment.
// With a lane kernel each job digests up to `lanes->width` files at once, one per lane,
// each through a buffer of its own of kLaneChunkSize bytes (`chunkSize` if smaller): at most
// `jobs` * width files are open and as many buffers exist. A file's reads are then those of
// DigestFileStep with a chunk of that size. The results reach `watcher` in list order
// whatever order the jobs finish in, and every digest equals that of DigestFileStep over
// the same file.
//
// With kFailureEndsRun a file that cannot be opened or read ends the run: it is handed over
// and the result is kRunStopped, so the failure reported is always the first in list order,
// as it would be one file after another. Once a failure is known, no job starts a file after
// it, and jobs give up such files between two reads. With kFailureGoesOn only FileDone's
// answer ends the run early. On return every thread has ended and every file is closed.
// `platform` is called from all jobs at once; its reading calls must allow that.
DigestRunResult DigestConcurrently(Platform& platform, const DigestList& list, int jobs,
                                   uint32_t chunkSize, DigestWatcher& watcher,
                                   DigestFailures failures = kFailureEndsRun,
                                   const Md5LaneKernel* lanes = Md5WidestLaneKernel());

#include "concurrent_digest.h"

#include <atomic>
#include <memory>

#include "digest.h"
#include "lane_digest.h"
#include "threads.h"

namespace {

// One file's result, written by the job that digested it and published by `ready`.
struct Slot {
  FileDigest digest;
  std::atomic<bool> ready{false};
};

constexpr size_t kNoFailure = ~static_cast<size_t>(0);

// What the jobs share. The only things they write are their own slots and the counters.
struct Run {
  Platform& platform;
  const DigestList& list;
  uint32_t chunkSize;
  bool failureEndsRun;
  std::unique_ptr<Slot[]> slots;
  // One reading buffer per job, on the heap (a thread's stack may be small), or one lane
  // job each with its buffers, made before any job starts so that a job never lacks one.
  std::vector<std::unique_ptr<unsigned char[]>> buffers;
  std::vector<std::unique_ptr<LaneJob>> laneJobs;
  std::atomic<int> jobs{1};         // jobs running, for each one's fair share of the files
  std::atomic<size_t> inFlight{0};  // files taken by lane jobs and not yet finished
  std::atomic<size_t> next{0};      // the next file a job may take
  std::atomic<size_t> firstFailure{kNoFailure};  // the lowest index known to have failed
  std::atomic<bool> stop{false};                 // set by the owner's thread to end the run
  std::atomic<uint64_t> bytesRead{0};
  std::atomic<size_t> filesDone{0};
  // The file the owner's thread sleeps until, so that a job wakes it only for that one: one
  // wake-up hands over every file finished meanwhile, where a wake-up per file cost a system
  // call or two for each.
  std::atomic<size_t> awaited{~static_cast<size_t>(0)};
  WakeSignal wake;  // the awaited file finished

  Run(Platform& p, const DigestList& l, uint32_t c, bool f)
      : platform(p), list(l), chunkSize(c), failureEndsRun(f) {}

  // A file at `index` need not be (or go on being) read: the run is over, or an earlier
  // file failed, so the owner will never be handed this one.
  bool Pointless(size_t index) const {
    return stop.load(std::memory_order_relaxed) ||
           index > firstFailure.load(std::memory_order_relaxed);
  }

  void NoteFailure(size_t index) {
    size_t seen = firstFailure.load();
    while (index < seen && !firstFailure.compare_exchange_weak(seen, index)) {
    }
  }
};

// Reads the whole file `index` as DigestFileStep does; false when it was given up.
bool DigestOne(Run& run, size_t index, unsigned char* buffer, const std::string& path,
               FileDigest* out) {
  DigestState state;
  out->bytes = 0;
  for (;;) {
    uint32_t got = 0;
    StepResult r =
        DigestFileStep(run.platform, &state, path.c_str(), buffer, run.chunkSize, out->md5, &got);
    if (r == kStepOpenFailed) {
      out->outcome = kDigestOpenFailed;
      return true;
    }
    out->bytes += got;
    run.bytesRead.fetch_add(got, std::memory_order_relaxed);
    if (r == kStepDone) {
      out->outcome = state.readFailed ? kDigestReadFailed : kDigestOk;
      return true;
    }
    if (run.Pointless(index)) {
      DigestClose(run.platform, &state);
      return false;
    }
  }
}

// A slot's result is in: it goes to the owner's thread.
void Publish(Run& run, size_t index) {
  Slot& slot = run.slots[index];
  if (slot.digest.outcome != kDigestOk && run.failureEndsRun) run.NoteFailure(index);
  // Sequentially consistent, as the owner's store of `awaited` and load of `ready` are: one
  // of the two sides sees the other's store, so the owner never sleeps past this file.
  slot.ready.store(true);
  run.filesDone.fetch_add(1, std::memory_order_relaxed);
  if (run.awaited.load() == index) run.wake.Signal();
}

// What a lane job of the run is fed with.
class RunFeed : public LaneFeed {
 public:
  explicit RunFeed(Run& run) : run_(run) {}

  // While files are plentiful a job fills every lane; towards the end it takes no more than
  // its share of what is left (in lanes or not yet taken), so that one job does not hold
  // the last files in its lanes while another has nothing to do. A job with no busy lane
  // always gets a file while one is left.
  bool Take(int busy, size_t* index, std::string* path) override {
    const size_t count = run_.list.Count();
    if (busy > 0) {
      const size_t next = run_.next.load(std::memory_order_relaxed);
      const size_t left = (next < count ? count - next : 0) + run_.inFlight.load();
      const size_t jobs = static_cast<size_t>(run_.jobs.load(std::memory_order_relaxed));
      if (static_cast<size_t>(busy) >= (left + jobs - 1) / jobs) return false;
    }
    const size_t i = run_.next.fetch_add(1);
    if (i >= count || run_.Pointless(i)) return false;
    run_.inFlight.fetch_add(1);
    run_.list.FullPath(i, path);
    *index = i;
    return true;
  }
  bool Pointless(size_t index) override { return run_.Pointless(index); }
  void Read(uint32_t bytes) override { run_.bytesRead.fetch_add(bytes, std::memory_order_relaxed); }
  void Done(size_t index, const FileDigest& digest) override {
    run_.slots[index].digest = digest;
    run_.inFlight.fetch_sub(1);
    Publish(run_, index);
  }
  void GaveUp(size_t) override { run_.inFlight.fetch_sub(1); }

 private:
  Run& run_;
};

void Job(void* arg, int job) {
  Run& run = *static_cast<Run*>(arg);
  if (!run.laneJobs.empty()) {
    RunFeed feed(run);
    run.laneJobs[static_cast<size_t>(job)]->Run(run.platform, feed);
    return;
  }
  unsigned char* buffer = run.buffers[static_cast<size_t>(job)].get();
  std::string path;
  const size_t count = run.list.Count();
  for (;;) {
    size_t index = run.next.fetch_add(1);
    if (index >= count || run.Pointless(index)) return;
    run.list.FullPath(index, &path);
    Slot& slot = run.slots[index];
    if (!DigestOne(run, index, buffer, path, &slot.digest)) return;
    Publish(run, index);
  }
}

// A lane job holds a buffer per lane; smaller ones than a sequential job's keep all of a
// job's buffers in the core's own cache between the read that fills them and the digest.
uint32_t LaneChunkSize(uint32_t chunkSize) {
  return chunkSize < kLaneChunkSize ? chunkSize : kLaneChunkSize;
}

}  // namespace

DigestRunResult DigestConcurrently(Platform& platform, const DigestList& list, int jobs,
                                   uint32_t chunkSize, DigestWatcher& watcher,
                                   DigestFailures failures, const Md5LaneKernel* lanes) {
  const size_t count = list.Count();
  Run run(platform, list, chunkSize, failures == kFailureEndsRun);
  run.slots.reset(new Slot[count > 0 ? count : 1]);
  if (jobs < 1) jobs = 1;
  if (static_cast<size_t>(jobs) > count) jobs = count > 0 ? static_cast<int>(count) : 1;
  if (jobs > ThreadGroup::kMaxThreads) jobs = ThreadGroup::kMaxThreads;
  for (int i = 0; i < jobs; ++i) {
    if (lanes != nullptr)
      run.laneJobs.emplace_back(new LaneJob(*lanes, LaneChunkSize(chunkSize)));
    else
      run.buffers.emplace_back(new unsigned char[chunkSize]);
  }
  run.jobs.store(jobs);

  ThreadGroup threads;
  const int started = count > 0 ? threads.Start(jobs, Job, &run) : 0;
  run.jobs.store(started > 0 ? started : 1);
  if (count > 0 && started == 0) {
    // No thread could be started: the files are digested here, one after another; the
    // results are then handed over below as usual.
    Job(&run, 0);
  }

  DigestRunResult result = kRunComplete;
  size_t next = 0;
  uint64_t lastProgress = MonotonicMilliseconds();
  while (next < count) {
    if (watcher.Cancelled()) {
      result = kRunCancelled;
      break;
    }
    Slot& slot = run.slots[next];
    if (slot.ready.load(std::memory_order_acquire)) {
      bool goOn = watcher.FileDone(next, slot.digest);
      bool failed = slot.digest.outcome != kDigestOk && run.failureEndsRun;
      ++next;
      if (failed || !goOn) {
        result = kRunStopped;
        break;
      }
    } else {
      run.awaited.store(next);
      if (!slot.ready.load()) run.wake.Wait(kDigestProgressIntervalMs);
    }
    uint64_t now = MonotonicMilliseconds();
    if (now - lastProgress >= kDigestProgressIntervalMs) {
      lastProgress = now;
      watcher.Progress(DigestProgress{run.bytesRead.load(std::memory_order_relaxed),
                                      run.filesDone.load(std::memory_order_relaxed), next});
    }
  }
  run.stop.store(true);
  threads.Join();
  return result;
}

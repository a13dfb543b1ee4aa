#include "concurrent_digest.h"

#include <atomic>
#include <memory>

#include "digest.h"
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
  // One reading buffer per job, on the heap (a thread's stack may be small), made before
  // any job starts so that a job never lacks one.
  std::vector<std::unique_ptr<unsigned char[]>> buffers;
  std::atomic<size_t> next{0};                   // the next file a job may take
  std::atomic<size_t> firstFailure{kNoFailure};  // the lowest index known to have failed
  std::atomic<bool> stop{false};                 // set by the owner's thread to end the run
  std::atomic<uint64_t> bytesRead{0};
  std::atomic<size_t> filesDone{0};
  WakeSignal wake;  // a file finished

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

void Job(void* arg, int job) {
  Run& run = *static_cast<Run*>(arg);
  unsigned char* buffer = run.buffers[static_cast<size_t>(job)].get();
  std::string path;
  const size_t count = run.list.Count();
  for (;;) {
    size_t index = run.next.fetch_add(1);
    if (index >= count || run.Pointless(index)) return;
    run.list.FullPath(index, &path);
    Slot& slot = run.slots[index];
    if (!DigestOne(run, index, buffer, path, &slot.digest)) return;
    if (slot.digest.outcome != kDigestOk && run.failureEndsRun) run.NoteFailure(index);
    slot.ready.store(true, std::memory_order_release);
    run.filesDone.fetch_add(1, std::memory_order_relaxed);
    run.wake.Signal();
  }
}

}  // namespace

DigestRunResult DigestConcurrently(Platform& platform, const DigestList& list, int jobs,
                                   uint32_t chunkSize, DigestWatcher& watcher,
                                   DigestFailures failures) {
  const size_t count = list.Count();
  Run run(platform, list, chunkSize, failures == kFailureEndsRun);
  run.slots.reset(new Slot[count > 0 ? count : 1]);
  if (jobs < 1) jobs = 1;
  if (static_cast<size_t>(jobs) > count) jobs = count > 0 ? static_cast<int>(count) : 1;
  if (jobs > ThreadGroup::kMaxThreads) jobs = ThreadGroup::kMaxThreads;
  for (int i = 0; i < jobs; ++i) run.buffers.emplace_back(new unsigned char[chunkSize]);

  ThreadGroup threads;
  if (count > 0 && threads.Start(jobs, Job, &run) == 0) {
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
      run.wake.Wait(kDigestProgressIntervalMs);
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

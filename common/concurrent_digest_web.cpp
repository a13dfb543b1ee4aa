// The concurrent digest in the web page. A worker of the page has no threads, and the
// browser reads files fastest asynchronously and several at once, which a synchronous
// Platform::Read cannot do alone: so the page's digest workers, one per core, read and digest
// the files, and the check takes their digests here, in its own order, as from any concurrent
// digest.
//
// The page runs the check twice. The first run only asks: this records the list of files the
// check wants, in its order, and ends. The page's workers then digest them in batches, each
// batch by the ordinary concurrent digest (concurrent_digest.cpp, compiled as
// DigestOnThisThread, with the files read ahead by the worker): one lane job, several files at
// once in the SIMD lanes. The second run takes the digests in list order. Where the page runs
// no digest workers, the files are digested here, on this thread, the same way, reading
// through the synchronous platform.
#include <stdint.h>

#include <string>

#include "concurrent_digest.h"
#include "platform_web.h"

#define VX_WEB_IMPORT(name) __attribute__((import_module("vx"), import_name(name)))

extern "C" {
// 0: the page digests here; 1: the run asks for the list; 2: the digests are in.
VX_WEB_IMPORT("digest_mode") int32_t VxJsDigestMode();
// File `index` of the list, by its path below the checker's folder (empty: none such).
VX_WEB_IMPORT("want") void VxJsWant(uint32_t index, const char* path, uint32_t length);
// The digest of file `index`: its 16 bytes, the bytes read; returns its DigestOutcome.
VX_WEB_IMPORT("digest") int32_t VxJsDigest(uint32_t index, unsigned char* md5, double* bytes);
}

DigestRunResult DigestOnThisThread(Platform& platform, const DigestList& list, int jobs,
                                   uint32_t chunkSize, DigestWatcher& watcher,
                                   DigestFailures failures, const Md5LaneKernel* lanes);

DigestRunResult DigestConcurrently(Platform& platform, const DigestList& list, int jobs,
                                   uint32_t chunkSize, DigestWatcher& watcher,
                                   DigestFailures failures, const Md5LaneKernel* lanes) {
  const int32_t mode = VxJsDigestMode();
  if (mode == 0) {
    return DigestOnThisThread(platform, list, jobs, chunkSize, watcher, failures, lanes);
  }
  const size_t count = list.Count();
  if (mode == 1) {
    std::string path, relative;
    for (size_t i = 0; i < count; ++i) {
      list.FullPath(i, &path);
      // A path the page cannot name opens nothing, as on every platform.
      if (!WebRelativePath(path.c_str(), &relative)) relative.clear();
      VxJsWant(static_cast<uint32_t>(i), relative.data(), static_cast<uint32_t>(relative.size()));
    }
    return kRunCancelled;
  }
  for (size_t i = 0; i < count; ++i) {
    if (watcher.Cancelled()) return kRunCancelled;
    FileDigest digest;
    double bytes = 0;
    digest.outcome =
        static_cast<DigestOutcome>(VxJsDigest(static_cast<uint32_t>(i), digest.md5, &bytes));
    digest.bytes = static_cast<uint64_t>(bytes);
    bool goOn = watcher.FileDone(i, digest);
    if ((digest.outcome != kDigestOk && failures == kFailureEndsRun) || !goOn) return kRunStopped;
  }
  return kRunComplete;
}

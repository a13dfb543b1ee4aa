// The concurrent digest: results in list order whatever order the jobs finish in, the first
// failure in list order, cancelling, bounded open files; and the build job fed by it over
// real folders. These tests also run under ThreadSanitizer (preset linux-tsan).
#include "concurrent_digest.h"

#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "builder_test_support.h"
#include "checker_builder.h"
#include "concurrent_build.h"
#include "digest.h"
#include "maker_platform_posix.h"
#include "md5.h"
#include "test_support.h"
#include "texts.h"

namespace {

// Files in memory that any number of threads may read at once, each with its own quirks.
class SharedMemoryPlatform : public Platform {
 public:
  struct File {
    std::string content;
    uint64_t virtualSize = 0;  // when not 0: that many bytes of a pattern instead of content
    useconds_t openDelay = 0;  // before the open returns
    useconds_t readDelay = 0;  // before every read returns
    bool openFails = false;
    bool readFails = false;  // the second read fails
  };
  std::map<std::string, File> files;  // fixed before the run starts
  std::atomic<int> open{0};
  std::atomic<int> mostOpen{0};
  std::atomic<int> opens{0};

  FileRef OpenRead(const char* path) override {
    auto it = files.find(path);
    if (it == files.end()) return nullptr;
    if (it->second.openDelay != 0) usleep(it->second.openDelay);
    if (it->second.openFails) return nullptr;
    ++opens;
    int now = ++open;
    int most = mostOpen.load();
    while (now > most && !mostOpen.compare_exchange_weak(most, now)) {
    }
    return new Handle{&it->second, 0, 0};
  }

  int32_t Read(FileRef ref, void* buffer, uint32_t size) override {
    Handle* h = static_cast<Handle*>(ref);
    if (h->file->readDelay != 0) usleep(h->file->readDelay);
    if (h->file->readFails && ++h->reads == 2) return -1;
    uint64_t total = h->file->virtualSize != 0 ? h->file->virtualSize : h->file->content.size();
    uint64_t left = total - h->position;
    uint32_t n = left < size ? static_cast<uint32_t>(left) : size;
    if (h->file->virtualSize != 0) {
      memset(buffer, static_cast<int>(h->position >> 20), n);
    } else if (n > 0) {
      memcpy(buffer, h->file->content.data() + h->position, n);
    }
    h->position += n;
    return static_cast<int32_t>(n);
  }

  bool Seek(FileRef, uint64_t) override { return false; }
  void Close(FileRef ref) override {
    --open;
    delete static_cast<Handle*>(ref);
  }
  bool FileSize(const char*, uint64_t*) override { return false; }
  bool IsFolder(const char*) override { return false; }
  bool ExecutablePath(char*, size_t) override { return false; }

 private:
  struct Handle {
    File* file;
    uint64_t position;
    int reads;
  };
};

// Records what a run hands over; cancels once `cancelAfterBytes` have been read.
struct Recorder : DigestWatcher {
  std::vector<size_t> order;
  std::vector<FileDigest> digests;
  std::vector<DigestProgress> progress;
  uint64_t cancelAfterBytes = 0;
  bool cancel = false;

  bool FileDone(size_t index, const FileDigest& d) override {
    order.push_back(index);
    digests.push_back(d);
    return true;
  }
  void Progress(const DigestProgress& p) override {
    progress.push_back(p);
    if (cancelAfterBytes != 0 && p.bytesRead >= cancelAfterBytes) cancel = true;
  }
  bool Cancelled() override { return cancel; }
};

std::string Md5Text(const std::string& bytes) {
  Md5Context ctx;
  Md5Init(&ctx);
  Md5Update(&ctx, bytes.data(), bytes.size());
  unsigned char md5[16];
  Md5Final(&ctx, md5);
  char hex[33];
  DigestToHex(md5, hex);
  return hex;
}

std::string Hex(const unsigned char md5[16]) {
  char hex[33];
  DigestToHex(md5, hex);
  return hex;
}

const std::string kImage = std::string("MZ\x90\0image", 9);

// Every way this machine can digest: the scalar code alone (nullptr) and each lane kernel
// the CPU runs.
std::vector<const Md5LaneKernel*> EveryWay() {
  std::vector<const Md5LaneKernel*> ways{nullptr};
  int count = 0;
  const Md5LaneKernel* const* kernels = Md5UsableLaneKernels(&count);
  for (int i = 0; i < count; ++i) ways.push_back(kernels[i]);
  return ways;
}

std::string WayName(const Md5LaneKernel* lanes) { return lanes ? lanes->name : "scalar"; }

}  // namespace

// Files of mixed sizes (chunk boundaries included) whose reads take different times, so that
// the jobs finish out of order: every run hands over each file once, in list order, with the
// digest and byte count of its content, never has more files open than jobs, and closes all.
TEST(ConcurrentDigest, ResultsComeInListOrderWithTheDigestOfEachFile) {
  std::mt19937 rng(14);
  SharedMemoryPlatform platform;
  std::vector<std::string> names;
  const uint32_t chunk = 4096;  // small chunks: many reads per file, many chances to interleave
  const size_t sizes[] = {0, 1, 63, 64, 65, chunk - 1, chunk, chunk + 1, 2 * chunk, 3 * chunk + 7};
  uint64_t total = 0;
  for (int i = 0; i < 160; ++i) {
    std::string name = "f" + std::to_string(i);
    SharedMemoryPlatform::File& f = platform.files[name];
    size_t size = i < 10 ? sizes[i] : rng() % (6 * chunk);
    for (size_t b = 0; b < size; ++b) f.content.push_back(static_cast<char>(rng()));
    f.readDelay = rng() % 4 == 0 ? rng() % 3000 : 0;
    total += size;
    names.push_back(name);
  }
  const std::string prefix;
  PrefixedDigestList list(prefix, names);
  for (const Md5LaneKernel* lanes : EveryWay()) {
    for (int jobs : {1, 2, 3, 8}) {
      SCOPED_TRACE(WayName(lanes));
      Recorder rec;
      platform.mostOpen = 0;
      ASSERT_EQ(DigestConcurrently(platform, list, jobs, chunk, rec, kFailureEndsRun, lanes),
                kRunComplete)
          << jobs;
      ASSERT_EQ(rec.order.size(), names.size()) << jobs;
      for (size_t i = 0; i < names.size(); ++i) {
        ASSERT_EQ(rec.order[i], i) << jobs;
        const std::string& content = platform.files[names[i]].content;
        EXPECT_EQ(rec.digests[i].outcome, kDigestOk);
        EXPECT_EQ(Hex(rec.digests[i].md5), Md5Text(content))
            << names[i] << " with " << jobs << " jobs";
        EXPECT_EQ(rec.digests[i].bytes, content.size());
      }
      EXPECT_LE(platform.mostOpen.load(), jobs * (lanes ? lanes->width : 1));
      EXPECT_EQ(platform.open.load(), 0);
      for (size_t p = 0; p < rec.progress.size(); ++p) {
        EXPECT_LE(rec.progress[p].bytesRead, total);
        EXPECT_LE(rec.progress[p].nextInOrder, rec.progress[p].filesDone);
        if (p > 0) {
          EXPECT_GE(rec.progress[p].bytesRead, rec.progress[p - 1].bytesRead);
        }
      }
    }
  }
  EXPECT_GE(platform.mostOpen.load(), 2) << "eight jobs read more than one file at a time";
}

// File 1 fails late (a read error after a slow start) and file 10 at once (it cannot be
// opened): the run still ends at file 1, after file 0, and hardly starts anything past 10
// (a job of lanes may have a lane's worth of files more in hand when the failure shows).
TEST(ConcurrentDigest, TheFirstFailureInListOrderEndsTheRunEvenWhenALaterOneFailsFirst) {
  for (const Md5LaneKernel* lanes : EveryWay())
    for (bool openFailureFirst : {false, true}) {
      SCOPED_TRACE(WayName(lanes));
      SharedMemoryPlatform platform;
      std::vector<std::string> names;
      for (int i = 0; i < 200; ++i) {
        names.push_back("f" + std::to_string(i));
        platform.files[names.back()].content = std::string(10000, static_cast<char>('a' + i % 26));
      }
      platform.files["f0"].readDelay = 40000;
      platform.files["f1"].openDelay = 30000;
      (openFailureFirst ? platform.files["f1"].openFails : platform.files["f1"].readFails) = true;
      platform.files["f10"].openFails = true;
      const std::string prefix;
      PrefixedDigestList list(prefix, names);
      Recorder rec;
      EXPECT_EQ(DigestConcurrently(platform, list, 4, 4096, rec, kFailureEndsRun, lanes),
                kRunStopped);
      ASSERT_EQ(rec.order, (std::vector<size_t>{0, 1}));
      EXPECT_EQ(rec.digests[0].outcome, kDigestOk);
      EXPECT_EQ(rec.digests[1].outcome, openFailureFirst ? kDigestOpenFailed : kDigestReadFailed);
      EXPECT_EQ(platform.open.load(), 0) << "every file closed";
      EXPECT_LE(platform.opens.load(), 10 + 4 * (lanes ? lanes->width : 1))
          << "files after a known failure are not started";
    }
}

// Every lane width against the scalar code, through one job and through two: random
// lengths from 0 to 10 KiB; the lengths around the padding (55, 56 and 63 bytes after the
// last block take one or two padded blocks) and around the lane buffer, read through a small
// buffer (many refills) and the real one; a first batch whose files all end in different
// blocks of the same kernel call; unreadable files and a read failing inside a file, whose
// digest then covers the part read, as the step-by-step digest's does.
TEST(ConcurrentDigest, EveryLaneWidthGivesTheDigestsOfTheScalarCode) {
  int count = 0;
  const Md5LaneKernel* const* kernels = Md5UsableLaneKernels(&count);
  if (count == 0) GTEST_SKIP() << "this CPU runs no lane kernel";
  std::mt19937 rng(6);
  for (uint32_t chunk : {256u, kLaneChunkSize}) {
    SharedMemoryPlatform platform;
    std::vector<std::string> names;
    auto add = [&](size_t size) {
      names.push_back("f" + std::to_string(names.size()));
      SharedMemoryPlatform::File& f = platform.files[names.back()];
      for (size_t b = 0; b < size; ++b) f.content.push_back(static_cast<char>(rng()));
      return &f;
    };
    for (size_t i = 0; i < kMd5MaxLanes; ++i) add(64 * i + 7 * i);  // one batch, ends apart
    for (size_t size : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128}) add(size);
    for (size_t size : {chunk - 1, chunk, chunk + 1, 2 * chunk, 2 * chunk + 56}) add(size);
    for (int i = 0; i < 300; ++i) add(rng() % 10241);
    add(5000)->openFails = true;
    add(3 * chunk)->readFails = true;  // its second read fails: the digest covers one chunk
    const size_t unreadable = names.size() - 2;
    const std::string prefix;
    PrefixedDigestList list(prefix, names);
    for (int k = 0; k < count; ++k)
      for (int jobs : {1, 2}) {
        SCOPED_TRACE(std::string(kernels[k]->name) + ", chunk " + std::to_string(chunk) +
                     ", jobs " + std::to_string(jobs));
        Recorder rec;
        ASSERT_EQ(DigestConcurrently(platform, list, jobs, chunk, rec, kFailureGoesOn, kernels[k]),
                  kRunComplete);
        ASSERT_EQ(rec.digests.size(), names.size());
        for (size_t i = 0; i < names.size(); ++i) {
          const std::string& content = platform.files[names[i]].content;
          if (i == unreadable) {
            EXPECT_EQ(rec.digests[i].outcome, kDigestOpenFailed);
          } else if (i == unreadable + 1) {
            EXPECT_EQ(rec.digests[i].outcome, kDigestReadFailed);
            EXPECT_EQ(rec.digests[i].bytes, chunk);
            EXPECT_EQ(Hex(rec.digests[i].md5), Md5Text(content.substr(0, chunk)));
          } else {
            EXPECT_EQ(rec.digests[i].outcome, kDigestOk) << names[i];
            EXPECT_EQ(rec.digests[i].bytes, content.size());
            EXPECT_EQ(Hex(rec.digests[i].md5), Md5Text(content))
                << names[i] << ", " << content.size() << " bytes";
          }
        }
        EXPECT_EQ(platform.open.load(), 0);
      }
  }
}

// A cancel while four large files are being read stops all four jobs long before their end,
// hands nothing more over and leaves no file open.
TEST(ConcurrentDigest, CancellingStopsEveryJobAndClosesEveryFile) {
  SharedMemoryPlatform platform;
  std::vector<std::string> names;
  const uint64_t size = 1ull << 32;
  for (int i = 0; i < 4; ++i) {
    names.push_back("huge" + std::to_string(i));
    platform.files[names.back()].virtualSize = size;
  }
  const std::string prefix;
  PrefixedDigestList list(prefix, names);
  Recorder rec;
  rec.cancelAfterBytes = 1;
  EXPECT_EQ(DigestConcurrently(platform, list, 4, kMakerChunkSize, rec), kRunCancelled);
  EXPECT_TRUE(rec.order.empty());
  EXPECT_EQ(platform.open.load(), 0);
  EXPECT_EQ(platform.opens.load(), 4);
  ASSERT_FALSE(rec.progress.empty());
  EXPECT_LT(rec.progress.back().bytesRead, size) << "stopped within the first of 16 GiB";
}

// The build job fed by the concurrent digest over a real folder (Japanese names, a name
// whose second byte is 0x5C, empty files and chunk-boundary sizes) writes the same checker
// byte for byte as the job stepping one file after another; with two files that cannot be
// opened both report the first in scan order and write nothing.
TEST(ConcurrentBuild, WritesWhatTheStepByStepBuildWritesAndReportsTheSameFirstFailure) {
  TempDir dir;
  dir.WriteFile("表.txt", "hyou");
  dir.WriteFile("ソフト/empty.bin", "");
  dir.WriteFile("ソフト/空/chunk.bin", std::string(kMakerChunkSize, 'c'));
  dir.WriteFile("ソフト/空/chunk+1.bin", std::string(kMakerChunkSize + 1, 'd'));
  dir.WriteFile("chunk-1.bin", std::string(kMakerChunkSize - 1, 'e'));
  for (int i = 0; i < 40; ++i) dir.WriteFile("many/" + std::to_string(i), std::string(i * 97, 'x'));

  struct View : BuildView {
    std::vector<std::string> fileLines;
    void ShowProgress(const std::string&, const std::string&) override {}
    void ShowFileLine(const std::string& state, const std::string& progress) override {
      fileLines.push_back(state + " " + progress);
    }
    bool Cancelled() override { return false; }
  } view;

  auto concurrent = [&](RecordingSink& sink) {
    PosixMakerPlatform platform;
    TCheckerBuilder job(platform, sink, reinterpret_cast<const unsigned char*>(kImage.data()),
                        kImage.size());
    job.Clear();
    EXPECT_TRUE(job.Start(dir.path().c_str(), "Vexorin.exe", "m1", "m2", "m3"));
    int r = DigestJobFiles(job, platform, 4, view);
    if (r == kBuildAllDigested) {
      EXPECT_TRUE(job.WriteChecker());
    }
    job.CloseFile();
    return r;
  };

  PosixMakerPlatform platform;
  RecordingSink sequentialSink;
  TCheckerBuilder sequential(platform, sequentialSink,
                             reinterpret_cast<const unsigned char*>(kImage.data()), kImage.size());
  ASSERT_TRUE(RunBuild(sequential, dir.path(), "Vexorin.exe").written);
  const std::string stepByStep = dir.ReadFile("Vexorin.exe");
  ASSERT_EQ(unlink((dir.path() + "/Vexorin.exe").c_str()), 0);

  RecordingSink sink;
  ASSERT_EQ(concurrent(sink), kBuildAllDigested);
  EXPECT_TRUE(sink.boxes.empty());
  EXPECT_EQ(dir.ReadFile("Vexorin.exe"), stepByStep);
  ASSERT_EQ(view.fileLines.size(), 45u) << "one line per file";
  for (size_t i = 0; i < view.fileLines.size();
       ++i) {  // the step-by-step build's lines, in scan order
    const std::string& line = view.fileLines[i];
    EXPECT_EQ(line.compare(0, sequential.files[i].size() + 1, sequential.files[i] + " "), 0)
        << line;
    EXPECT_NE(line.find(" KByte processed. (" + std::to_string(i + 1) + "/45)"), std::string::npos)
        << line;
  }
  ASSERT_EQ(unlink((dir.path() + "/Vexorin.exe").c_str()), 0);

  // Two links that lead nowhere are listed as files that cannot be opened.
  ASSERT_EQ(symlink("gone-a", (dir.path() + "/many/dangling-a").c_str()), 0);
  ASSERT_EQ(symlink("gone-b", (dir.path() + "/ソフト/dangling-b").c_str()), 0);
  const std::string before = dir.Snapshot();
  RecordingSink failedSequential, failedConcurrent;
  TCheckerBuilder again(platform, failedSequential,
                        reinterpret_cast<const unsigned char*>(kImage.data()), kImage.size());
  EXPECT_EQ(RunBuild(again, dir.path(), "Vexorin.exe").lastStep, kBuildStopped);
  EXPECT_EQ(concurrent(failedConcurrent), kBuildStopped);
  ASSERT_EQ(failedSequential.boxes.size(), 1u);
  ASSERT_EQ(failedConcurrent.boxes.size(), 1u);
  EXPECT_EQ(failedConcurrent.boxes[0].text, failedSequential.boxes[0].text);
  EXPECT_NE(failedConcurrent.boxes[0].text.find("dangling-"), std::string::npos);
  EXPECT_EQ(dir.Snapshot(), before) << "nothing written";
}

// Files and byte counts beyond 32 bits: a sparse file above 4 GiB through the build job and
// the checker, and the progress figures of both programs at such sizes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "check_run.h"
#include "checker_builder.h"
#include "checkfile.h"
#include "checkfile_writer.h"
#include "maker_platform_posix.h"
#include "platform_posix.h"
#include "test_support.h"

namespace {

const std::string kImage = std::string("MZ\x90\0image", 9);
constexpr uint64_t k4GiB = 1ull << 32;

// A file of `size` bytes that holds data only at its start, across the 4 GiB mark and at its
// end, and holes in between: cheap on disk, but every byte must be read to digest it. The
// bytes across the mark catch an offset or count cut to 32 bits.
void WriteSparseFile(const std::string& path, uint64_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  const std::string head = "head of a huge file";
  const std::string mark = "across the 4 GiB mark";
  const std::string tail = "and its last bytes";
  ASSERT_EQ(pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
  ASSERT_EQ(pwrite(fd, mark.data(), mark.size(), static_cast<off_t>(k4GiB - 7)),
            static_cast<ssize_t>(mark.size()));
  ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(size - tail.size())),
            static_cast<ssize_t>(tail.size()));
  ASSERT_EQ(close(fd), 0);
}

// md5sum of a file, started at once and collected later, so that it runs beside the code
// under test instead of after it.
class BackgroundMd5 {
 public:
  explicit BackgroundMd5(const std::string& path) {
    std::string cmd = "md5sum '" + path + "'";
    pipe_ = popen(cmd.c_str(), "r");
  }
  ~BackgroundMd5() {
    if (pipe_ != nullptr) pclose(pipe_);
  }
  std::string Result() {
    char digest[33] = {0};
    size_t n = pipe_ != nullptr ? fread(digest, 1, 32, pipe_) : 0;
    return std::string(digest, n);
  }

 private:
  FILE* pipe_ = nullptr;
};

// The KByte figure of a progress line: the number in front of " KByte".
int64_t KBytes(const std::string& line) {
  size_t end = line.find(" KByte");
  size_t start = line.rfind(' ', end - 1);
  start = start == std::string::npos ? 0 : start + 1;
  return std::stoll(line.substr(start, end - start));
}

}  // namespace

// One sparse file of 4 GiB and a bit: the build job stores md5sum's digest and a byte total
// above 32 bits, every progress line counts the bytes read so far, and the checker passes
// the file with a percentage that stays within 0 to 100.
TEST(HugeFiles, ASparseFileAbove4GiBIsDigestedStoredAndCheckedWhole) {
  TempDir dir;
  const uint64_t size = k4GiB + 1000000;  // not a whole number of chunks of either program
  WriteSparseFile(dir.path() + "/huge.bin", size);
  BackgroundMd5 md5sum(dir.path() + "/huge.bin");

  PosixMakerPlatform makerPlatform;
  RecordingSink makerSink;
  TCheckerBuilder job(makerPlatform, makerSink,
                      reinterpret_cast<const unsigned char*>(kImage.data()), kImage.size());
  job.Clear();
  ASSERT_TRUE(job.Start(dir.path().c_str(), "Vexorin.exe", "m1", "m2", "m3"));
  int result;
  int steps = 0;
  int64_t largestShown = 0;
  do {
    std::string state, progress;
    job.GetProgressTexts(&state, &progress);
    int64_t shown = KBytes(progress);
    ASSERT_EQ(shown, job.bytesDone / 1024) << progress;
    largestShown = shown;
    result = job.Step();
    ++steps;
  } while (result == kBuildMore);
  ASSERT_EQ(result, kBuildAllDigested);
  EXPECT_EQ(steps, static_cast<int>(size / kMakerChunkSize) + 1);
  EXPECT_EQ(largestShown, static_cast<int64_t>((size - size % kMakerChunkSize) / 1024))
      << "the line before the last step shows every whole chunk read, above 4 GiB";
  EXPECT_GT(largestShown, static_cast<int64_t>(k4GiB / 1024));
  ASSERT_TRUE(job.WriteChecker());
  job.CloseFile();

  // What the checker file holds, read back by the checker's own reader.
  PosixPlatform platform;
  CheckData data;
  ASSERT_TRUE(ReadCheckData(platform, (dir.CorePath() + "Vexorin.exe").c_str(), &data));
  EXPECT_EQ(static_cast<uint64_t>(data.byteTotal), size);
  EXPECT_NE(static_cast<uint64_t>(data.byteTotal) >> 32, 0u)
      << "the upper half of the byte total is used";
  ASSERT_EQ(data.fileCount, 1u);
  const std::string expected = md5sum.Result();
  ASSERT_EQ(expected.size(), 32u);
  EXPECT_EQ(std::string(RecordDigest(data.fileRecords[0]), 32), expected);
  EXPECT_STREQ(RecordPath(data.fileRecords[0]), "huge.bin");
  ReleaseCheckData(&data);

  // The checker over the same file.
  platform.SetExecutablePath(dir.CorePath() + "Vexorin.exe");
  RecordingBoxes sink;
  CheckRun run(platform);
  ASSERT_TRUE(run.LoadCheckData(sink));
  EXPECT_EQ(static_cast<uint64_t>(run.byteTotal), size);
  std::string lastLine2;
  steps = 0;
  do {
    char line1[kProgressTextSize], line2[kProgressTextSize];
    run.MakeProgressTexts(line1, line2);
    ASSERT_EQ(KBytes(line2), run.bytesDone / 1024) << line2;
    ASSERT_NE(std::string(line2).find("(" + std::to_string(run.bytesDone * 100 / run.byteTotal)),
              std::string::npos)
        << line2;
    lastLine2 = line2;
    result = run.CheckStep(sink);
    ++steps;
  } while (result == kCheckMore);
  EXPECT_EQ(result, kCheckAllIntact);
  EXPECT_TRUE(sink.boxes.empty());
  EXPECT_EQ(steps, static_cast<int>(size / kCheckerChunkSize) + 1);
  EXPECT_EQ(static_cast<uint64_t>(run.bytesDone), size);
  EXPECT_EQ(lastLine2, Cp932(std::to_string((size - size % kCheckerChunkSize) / 1024) +
                             " KByte Checked. (99％)"));
}

// The build job's progress line at sizes no test folder reaches: the kilobytes are the
// 64-bit byte count divided by 1,024, the remainder dropped.
TEST(LargeFigures, TheBuildJobCountsKilobytesBeyond32Bits) {
  TempDir dir;
  PosixMakerPlatform platform;
  RecordingSink sink;
  TCheckerBuilder job(platform, sink, reinterpret_cast<const unsigned char*>(kImage.data()),
                      kImage.size());
  job.Clear();
  job.files = {"a.bin", "b.bin", "c.bin"};
  job.fileIndex = 1;
  job.currentRelPath = "b.bin";
  struct Case {
    int64_t bytes;
    const char* text;
  };
  const Case cases[] = {
      {static_cast<int64_t>(k4GiB) - 1, "4194303 KByte processed. (2/3)"},
      {static_cast<int64_t>(k4GiB), "4194304 KByte processed. (2/3)"},
      {static_cast<int64_t>(5 * k4GiB + 1023), "20971520 KByte processed. (2/3)"},
      {1ll << 50, "1099511627776 KByte processed. (2/3)"},
      {INT64_MAX, "9007199254740991 KByte processed. (2/3)"},
  };
  for (const Case& k : cases) {
    job.bytesDone = k.bytes;
    std::string state, progress;
    job.GetProgressTexts(&state, &progress);
    EXPECT_EQ(progress, k.text);
    EXPECT_EQ(state, Cp932("b.bin を処理中..."));
  }
}

// The checker's second line with a byte total above 32 bits: kilobytes and a percentage that
// come from 64-bit divisions, and can pass 100 when files have grown since the build.
TEST(LargeFigures, TheCheckerCountsKilobytesAndPercentBeyond32Bits) {
  TempDir dir;
  const int64_t total = 6 * static_cast<int64_t>(k4GiB) + 5;
  std::string block;
  ASSERT_TRUE(BuildCheckBlock(
      {"|", MakeFileRecord("d41d8cd98f00b204e9800998ecf8427e", "f"), "|", "", "", ""},
      static_cast<uint64_t>(total), &block));
  dir.WriteFile("Vexorin.exe", kImage + block);
  dir.WriteFile("f", "");
  PosixPlatform platform;
  platform.SetExecutablePath(dir.CorePath() + "Vexorin.exe");
  RecordingBoxes sink;
  CheckRun run(platform);
  ASSERT_TRUE(run.LoadCheckData(sink));
  EXPECT_EQ(run.byteTotal, total);
  struct Case {
    int64_t bytes;
    const char* text;
  };
  const Case cases[] = {
      {0, "0 KByte Checked. (0％)"},
      {total / 4, "6291456 KByte Checked. (24％)"},  // a hair below a quarter: dropped
      {total - 1, "25165824 KByte Checked. (99％)"},
      {total, "25165824 KByte Checked. (100％)"},
      {2 * total, "50331648 KByte Checked. (200％)"},
  };
  for (const Case& k : cases) {
    run.bytesDone = k.bytes;
    char line1[kProgressTextSize], line2[kProgressTextSize];
    run.MakeProgressTexts(line1, line2);
    EXPECT_EQ(std::string(line2), Cp932(k.text)) << k.bytes;
    EXPECT_EQ(std::string(line1), Cp932("f をチェック中...(1/1)"));
  }
}

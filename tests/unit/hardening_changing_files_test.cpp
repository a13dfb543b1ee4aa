// Files that change while they are being read: another program appends to them, cuts them
// short or replaces them between two steps. Both programs must stay consistent: the maker
// stores the digest and the count of exactly the bytes it read, the checker counts what it
// read and judges the file by it, and neither crashes, hangs or leaves a file open.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "check_run.h"
#include "checker_builder.h"
#include "checkfile.h"
#include "checkfile_writer.h"
#include "maker_platform_posix.h"
#include "platform_posix.h"
#include "test_support.h"

namespace {

const std::string kImage = std::string("MZ\x90\0image", 9);

std::string Pattern(size_t size, char seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(seed + i * 131 % 251);
  return s;
}

int OpenDescriptors() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (readdir(d) != nullptr) ++n;
  closedir(d);
  return n;
}

void Append(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "ab");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  ASSERT_EQ(fclose(f), 0);
}

void CutTo(const std::string& path, off_t size) { ASSERT_EQ(truncate(path.c_str(), size), 0); }

// The MD5 text of some bytes, by md5sum over a copy of them.
std::string Md5Of(const TempDir& dir, const std::string& bytes) {
  dir.WriteFile("expected.tmp", bytes);
  std::string digest = SystemMd5(dir.path() + "/expected.tmp");
  unlink((dir.path() + "/expected.tmp").c_str());
  return digest;
}

struct BuildResult {
  std::string digest;
  uint64_t byteTotal = 0;
  int steps = 0;
};

// Builds a checker over a folder holding only f.bin, calling `between(n)` after step n. The
// checker is written into a folder of its own, so that nothing but f.bin is listed.
BuildResult BuildChanging(TempDir& dir, const std::function<void(int)>& between) {
  BuildResult out;
  PosixMakerPlatform platform;
  RecordingSink sink;
  TCheckerBuilder job(platform, sink, reinterpret_cast<const unsigned char*>(kImage.data()),
                      kImage.size());
  job.Clear();
  EXPECT_TRUE(job.Start((dir.path() + "/tree").c_str(), "Vexorin.exe", "", "", ""));
  int result;
  do {
    result = job.Step();
    ++out.steps;
    if (result == kBuildMore) between(out.steps);
  } while (result == kBuildMore && out.steps < 1000);
  EXPECT_EQ(result, kBuildAllDigested);
  EXPECT_TRUE(job.WriteChecker());
  EXPECT_TRUE(sink.boxes.empty());
  job.CloseFile();

  PosixPlatform reader;
  CheckData data;
  EXPECT_TRUE(ReadCheckData(reader, (dir.CorePath() + "tree\\Vexorin.exe").c_str(), &data));
  if (data.fileCount == 1) out.digest = std::string(RecordDigest(data.fileRecords[0]), 32);
  out.byteTotal = static_cast<uint64_t>(data.byteTotal);
  ReleaseCheckData(&data);
  return out;
}

}  // namespace

TEST(ChangingFiles, AFileThatGrowsWhileTheMakerReadsItIsStoredAsRead) {
  TempDir dir;
  const std::string path = dir.path() + "/tree/f.bin";
  const std::string first = Pattern(300000, 'a'), added = Pattern(100000, 'z');
  dir.WriteFile("tree/f.bin", first);
  int descriptors = OpenDescriptors();
  BuildResult r = BuildChanging(dir, [&](int step) {
    if (step == 1) Append(path, added);
  });
  // The second read goes on to the new end: every byte of the grown file was read.
  EXPECT_EQ(r.steps, 2);
  EXPECT_EQ(r.byteTotal, first.size() + added.size());
  EXPECT_EQ(r.digest, Md5Of(dir, first + added));
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST(ChangingFiles, AFileCutShortBehindTheReadPositionIsStoredAsRead) {
  TempDir dir;
  const std::string path = dir.path() + "/tree/f.bin";
  const std::string content = Pattern(600000, 'b');
  dir.WriteFile("tree/f.bin", content);
  int descriptors = OpenDescriptors();
  BuildResult r = BuildChanging(dir, [&](int step) {
    if (step == 1) CutTo(path, 100000);
  });
  // The next read finds the end at once; the record is that of the one chunk read.
  EXPECT_EQ(r.steps, 2);
  EXPECT_EQ(r.byteTotal, kMakerChunkSize);
  EXPECT_EQ(r.digest, Md5Of(dir, content.substr(0, kMakerChunkSize)));
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST(ChangingFiles, AFileCutShortAheadOfTheReadPositionIsStoredAsRead) {
  TempDir dir;
  const std::string path = dir.path() + "/tree/f.bin";
  const std::string content = Pattern(600000, 'c');
  dir.WriteFile("tree/f.bin", content);
  BuildResult r = BuildChanging(dir, [&](int step) {
    if (step == 1) CutTo(path, 300000);
  });
  EXPECT_EQ(r.steps, 2);
  EXPECT_EQ(r.byteTotal, 300000u);
  EXPECT_EQ(r.digest, Md5Of(dir, content.substr(0, 300000)));
}

TEST(ChangingFiles, AFileReplacedWhileTheMakerReadsItIsStoredAsTheFileOpened) {
  TempDir dir;
  const std::string path = dir.path() + "/tree/f.bin";
  const std::string old = Pattern(400000, 'd');
  dir.WriteFile("tree/f.bin", old);
  BuildResult r = BuildChanging(dir, [&](int step) {
    if (step == 1) {
      dir.WriteFile("new.bin", "the new content");
      ASSERT_EQ(rename((dir.path() + "/new.bin").c_str(), path.c_str()), 0);
    }
  });
  // The open file is the old one to its end, whatever now stands under its name.
  EXPECT_EQ(r.byteTotal, old.size());
  EXPECT_EQ(r.digest, Md5Of(dir, old));
}

TEST(ChangingFiles, AFileThatChangesWhileTheCheckerReadsItIsJudgedByTheBytesRead) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> change;
    uint64_t bytesRead;
  };
  const std::string content = Pattern(kCheckerChunkSize + 1000, 'e');
  const std::vector<Case> cases = {
      {"grown", [](const std::string& p) { Append(p, std::string(5000, 'x')); },
       kCheckerChunkSize + 6000},
      {"cut behind the read position", [](const std::string& p) { CutTo(p, 10); },
       kCheckerChunkSize},
      {"cut ahead of the read position",
       [](const std::string& p) { CutTo(p, kCheckerChunkSize + 10); }, kCheckerChunkSize + 10},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    TempDir dir;
    dir.WriteFile("f.bin", content);
    dir.WriteFile("after.txt", "abc");
    std::string block;
    ASSERT_TRUE(BuildCheckBlock(
        {"|", MakeFileRecord(SystemMd5(dir.path() + "/f.bin").c_str(), "f.bin"),
         MakeFileRecord("900150983cd24fb0d6963f7d28e17f72", "after.txt"), "|", "", "", "broken"},
        content.size() + 3, &block));
    dir.WriteFile("Vexorin.exe", kImage + block);
    PosixPlatform platform;
    platform.SetExecutablePath(dir.CorePath() + "Vexorin.exe");
    RecordingBoxes sink;
    int descriptors = OpenDescriptors();
    {
      CheckRun run(platform);
      ASSERT_TRUE(run.LoadCheckData(sink));
      ASSERT_EQ(run.CheckStep(sink), kCheckMore);
      k.change(dir.path() + "/f.bin");
      EXPECT_EQ(run.CheckStep(sink), kCheckFileBroken);
      EXPECT_EQ(static_cast<uint64_t>(run.bytesDone), k.bytesRead);
      EXPECT_EQ(run.digest.file, nullptr) << "the file is closed at the end it found";
      ASSERT_EQ(sink.boxes.size(), 1u);
      EXPECT_EQ(sink.boxes[0].text, Cp932("ファイル f.bin が壊れています.\n") + "broken");
    }
    EXPECT_EQ(OpenDescriptors(), descriptors);
  }
}

// The platform ends a read at the size the file had when it was opened, without a read that
// finds the end; the file's size may have changed since: one that has grown reads on to its
// new end, one cut short stops at its new end, and after a seek it reads on to the end.
TEST(ChangingFiles, OneReadGoesOnPastTheSizeAtOpeningWhenTheFileHasGrown) {
  TempDir dir;
  dir.WriteFile("f.bin", Pattern(1000, 'f'));
  PosixPlatform platform;
  std::string buffer(8192, '\0');
  FileRef file = platform.OpenRead((dir.CorePath() + "f.bin").c_str());
  ASSERT_NE(file, nullptr);
  Append(dir.path() + "/f.bin", Pattern(500, 'g'));
  EXPECT_EQ(platform.Read(file, &buffer[0], 8192), 1500);
  EXPECT_EQ(buffer.substr(0, 1500), Pattern(1000, 'f') + Pattern(500, 'g'));
  EXPECT_EQ(platform.Read(file, &buffer[0], 8192), 0);
  platform.Close(file);

  file = platform.OpenRead((dir.CorePath() + "f.bin").c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(platform.Read(file, &buffer[0], 1000), 1000);
  CutTo(dir.path() + "/f.bin", 1200);
  EXPECT_EQ(platform.Read(file, &buffer[0], 8192), 200);
  EXPECT_EQ(platform.Read(file, &buffer[0], 8192), 0);
  ASSERT_TRUE(platform.Seek(file, 100));
  Append(dir.path() + "/f.bin", std::string(50, 'x'));
  EXPECT_EQ(platform.Read(file, &buffer[0], 8192), 1150) << "after a seek, to the end";
  platform.Close(file);
}

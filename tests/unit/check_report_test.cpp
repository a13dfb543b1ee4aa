// vexorin-check's run where no real file system can be made to fail on purpose: a read error
// part of the way through a file.
#include "check_report.h"

#include <gtest/gtest.h>

#include <string>

#include "checkfile_writer.h"
#include "digest.h"
#include "md5.h"
#include "platform_posix.h"
#include "test_support.h"

namespace {

// The real platform, except that reading a file whose path ends in "bad.bin" fails after its
// first chunk.
struct FailingPlatform : Platform {
  PosixPlatform base;
  FileRef failing = nullptr;
  int readsOfFailing = 0;

  FileRef OpenRead(const char* path) override {
    FileRef file = base.OpenRead(path);
    std::string p = path;
    if (p.size() >= 7 && p.compare(p.size() - 7, 7, "bad.bin") == 0) {
      failing = file;
      readsOfFailing = 0;
    }
    return file;
  }
  int32_t Read(FileRef file, void* buffer, uint32_t size) override {
    if (file == failing && ++readsOfFailing > 1) return -1;
    return base.Read(file, buffer, size);
  }
  bool Seek(FileRef file, uint64_t offset) override { return base.Seek(file, offset); }
  void Close(FileRef file) override {
    if (file == failing) failing = nullptr;
    base.Close(file);
  }
  bool FileSize(const char* path, uint64_t* size) override { return base.FileSize(path, size); }
  bool IsFolder(const char* path) override { return base.IsFolder(path); }
  bool ExecutablePath(char* buffer, size_t capacity) override {
    return base.ExecutablePath(buffer, capacity);
  }
};

std::string Md5Text(const std::string& content) {
  Md5Context md5;
  Md5Init(&md5);
  Md5Update(&md5, content.data(), static_cast<uint32_t>(content.size()));
  unsigned char digest[16];
  Md5Final(&md5, digest);
  char text[33];
  DigestToHex(digest, text);
  return text;
}

}  // namespace

TEST(CheckReport, AReadErrorMidFileIsAReadErrorWithItsPathNotADamagedFile) {
  TempDir dir;
  std::string big(kCheckerChunkSize + 100, 'b');
  dir.WriteFile("sub/bad.bin", big);
  dir.WriteFile("changed.txt", "now");
  dir.WriteFile("ok.txt", "ok");
  std::string block;
  ASSERT_TRUE(
      BuildCheckBlock({"sub\\", "|", MakeFileRecord(Md5Text(big).c_str(), "sub\\bad.bin"),
                       MakeFileRecord(Md5Text("before").c_str(), "changed.txt"),
                       MakeFileRecord(Md5Text("ok").c_str(), "ok.txt"), "|", "m1", "m2", "m3"},
                      big.size() + 8, &block));
  dir.WriteFile("Vexorin.exe", "MZ" + block);
  FailingPlatform platform;
  platform.base.SetExecutablePath(dir.CorePath() + "Vexorin.exe");

  CheckReport report;
  RunCheck(platform, true, nullptr, &report);
  EXPECT_EQ(report.outcome, kOutcomeProblems);
  ASSERT_EQ(report.problems.size(), 2u);
  EXPECT_EQ(report.problems[0].kind, kProblemReadFailed);
  EXPECT_EQ(report.problems[0].path, "sub\\bad.bin");
  EXPECT_EQ(report.problems[0].text, Sjis("sub\\bad.bin の読み込みに失敗しました."));
  EXPECT_EQ(report.problems[1].kind, kProblemFileDamaged);
  EXPECT_EQ(report.problems[1].text, Sjis("ファイル changed.txt が壊れています.\n") + "m3");
  EXPECT_EQ(report.problems[1].expected, Md5Text("before"));
  EXPECT_EQ(report.problems[1].actual, Md5Text("now"));
  EXPECT_EQ(report.filesChecked, 3u);

  // As the checker would, the first problem ends a run that is not to go on.
  RunCheck(platform, false, nullptr, &report);
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].kind, kProblemReadFailed);
  EXPECT_EQ(report.filesChecked, 1u);
  EXPECT_EQ(platform.failing, nullptr) << "the failing file is closed";
}

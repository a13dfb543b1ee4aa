// The build job end to end over real folders: what it asks, shows, refuses and writes.
#include "checker_builder.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "builder_test_support.h"
#include "checkfile.h"
#include "maker_platform_posix.h"
#include "test_support.h"
#include "texts.h"

namespace {

const std::string kImage = std::string("MZ\x90\0image", 9);

struct Fixture {
  TempDir dir;
  PosixMakerPlatform platform;
  RecordingSink sink;
  TCheckerBuilder job{platform, sink, reinterpret_cast<const unsigned char*>(kImage.data()),
                      kImage.size()};

  BuildOutcome Build(const char* name = "Vexorin.exe") { return RunBuild(job, dir.path(), name); }
};

std::string DefaultMessage(bool twoLines) {
  return std::string(kTextDefaultLine1) + (twoLines ? std::string("\n") + kTextDefaultLine2 : "");
}

}  // namespace

TEST(BuildJob, WorkedExampleComesOutByteForByte) {
  Fixture f;
  f.dir.WriteFile("data/empty.bin", "");
  f.dir.WriteFile("readme.txt", "abc");
  f.dir.WriteFile("Vexorin.exe", "old checker");
  f.job.Clear();
  ASSERT_TRUE(f.job.Start(f.dir.path().c_str(), "Vexorin.exe", DefaultMessage(true).c_str(),
                          DefaultMessage(true).c_str(), DefaultMessage(false).c_str()));
  ASSERT_EQ(f.sink.boxes.size(), 1u);
  EXPECT_EQ(f.sink.boxes[0].text, Cp932("Vexorin.exe に上書きしますか？"));
  EXPECT_EQ(f.sink.boxes[0].title, Cp932("上書き確認"));
  EXPECT_EQ(f.sink.boxes[0].kind, kMessageQuestion);
  int r;
  while ((r = f.job.Step()) == kBuildMore) {
  }
  ASSERT_EQ(r, kBuildAllDigested);
  ASSERT_TRUE(f.job.WriteChecker());
  EXPECT_EQ(f.job.dataSize, 318u);

  std::string records;
  for (const std::string& file : f.job.files) {
    records += (file == "readme.txt" ? "900150983cd24fb0d6963f7d28e17f72 readme.txt"
                                     : "d41d8cd98f00b204e9800998ecf8427e data\\empty.bin");
    records.push_back('\0');
  }
  std::string m2 = DefaultMessage(true), m3 = DefaultMessage(false);
  std::string expected = kImage + std::string("data\\\0|\0", 8) + records + std::string("|\0", 2) +
                         m2 + '\0' + m2 + '\0' + m3 + '\0' +
                         std::string("VXR!\x3e\x01\0\0\x03\0\0\0\0\0\0\0", 16);
  std::string written = f.dir.ReadFile("Vexorin.exe");
  EXPECT_EQ(written.size(), kImage.size() + 318 + 16);
  EXPECT_EQ(written, expected);
}

TEST(BuildJob, EveryRecordReadsBackAsWritten) {
  Fixture f;
  f.dir.WriteFile("a.txt", "alpha");
  f.dir.WriteFile("表/ソフト.dat", std::string(300000, 'q'));
  f.dir.MakeFolder("empty");
  ASSERT_TRUE(f.Build().written);
  CheckData data;
  ASSERT_TRUE(ReadCheckData(f.platform, (f.dir.CorePath() + "Vexorin.exe").c_str(), &data));
  ASSERT_EQ(data.fileCount, f.job.files.size());
  for (uint32_t i = 0; i < data.fileCount; ++i) {
    std::string native;
    ASSERT_TRUE(NativePath(RecordPath(data.fileRecords[i]), &native));
    EXPECT_EQ(RecordPath(data.fileRecords[i]), f.job.files[i]);
    EXPECT_EQ(std::string(RecordDigest(data.fileRecords[i]), 32),
              SystemMd5(f.dir.path() + "/" + native));
    EXPECT_EQ(data.fileRecords[i][32], ' ');
  }
  ASSERT_EQ(data.folderCount, f.job.folders.size());
  for (uint32_t i = 0; i < data.folderCount; ++i) EXPECT_EQ(data.folders[i], f.job.folders[i]);
  EXPECT_STREQ(data.messages[0], "m1");
  EXPECT_STREQ(data.messages[2], "m3");
  EXPECT_EQ(data.byteTotal, 300005);
  ReleaseCheckData(&data);
}

TEST(BuildJob, AMessageOfABarAloneReadsBackAsAMessageWhateverFollowsIt) {
  // Written alone, "|" reads as a third separator: "utf8" after it then begins the extension
  // and "X" is taken for one of its folders, which lacks its separators, so the reader
  // refuses the data and the checker calls itself damaged; otherwise the messages are lost.
  const char* const sets[][3] = {{"|", "utf8", "X"}, {"|", "m2", "m3"}, {"m1", "m2", "|"}};
  for (const auto& m : sets) {
    Fixture f;
    f.dir.WriteFile("a.txt", "alpha");
    ASSERT_TRUE(RunBuild(f.job, f.dir.path(), "Vexorin.exe", m[0], m[1], m[2]).written);
    CheckData data;
    ASSERT_TRUE(ReadCheckData(f.platform, (f.dir.CorePath() + "Vexorin.exe").c_str(), &data))
        << m[0] << " " << m[1] << " " << m[2];
    EXPECT_EQ(data.fileCount, 1u);
    for (int i = 0; i < kMessageCount; ++i) {
      // The line feed after it shows the same line.
      EXPECT_EQ(data.messages[i], std::string(m[i]) + (m[i] == std::string("|") ? "\n" : ""));
    }
    ReleaseCheckData(&data);
  }
}

TEST(BuildJob, ProgressTextsShowBytesBeforeTheStepAndTheFileAboutToBeRead) {
  Fixture f;
  f.dir.WriteFile("big.bin", std::string(262144, 'b'));
  f.job.Clear();
  ASSERT_TRUE(f.job.Start(f.dir.path().c_str(), "Vexorin.exe", "", "", ""));
  std::string state, progress;
  f.job.GetProgressTexts(&state, &progress);
  EXPECT_EQ(state, Cp932("big.bin を処理中..."));
  EXPECT_EQ(progress, "0 KByte processed. (1/1)");
  EXPECT_EQ(f.job.Step(), kBuildMore);
  f.job.GetProgressTexts(&state, &progress);
  EXPECT_EQ(progress, "256 KByte processed. (1/1)") << "an exact chunk needs a second, empty step";
  EXPECT_EQ(f.job.Step(), kBuildAllDigested);
  EXPECT_TRUE(f.sink.boxes.empty());
}

TEST(BuildJob, KilobytesDropTheRemainder) {
  Fixture f;
  f.dir.WriteFile("a", std::string(1023, 'a'));
  f.dir.WriteFile("b", std::string(1, 'b'));
  f.dir.WriteFile("c", "");
  f.job.Clear();
  ASSERT_TRUE(f.job.Start(f.dir.path().c_str(), "Vexorin.exe", "", "", ""));
  std::vector<std::string> seen;
  std::string state, progress;
  do {
    f.job.GetProgressTexts(&state, &progress);
    seen.push_back(progress.substr(0, progress.find(" KByte")));
  } while (f.job.Step() == kBuildMore);
  std::vector<int> kilobytes;
  for (const auto& s : seen) kilobytes.push_back(std::stoi(s));
  // The third file is read after 1023 or 1024 bytes, depending on the listing order.
  EXPECT_EQ(kilobytes[0], 0);
  EXPECT_EQ(f.job.bytesDone, 1024);
}

TEST(BuildJob, DecliningTheOverwriteLeavesEverythingUntouched) {
  Fixture f;
  f.dir.WriteFile("Vexorin.exe", "old checker bytes");
  f.dir.WriteFile("a.txt", "a");
  std::string before = f.dir.Snapshot();
  f.sink.answers = {false};
  BuildOutcome out = f.Build();
  EXPECT_FALSE(out.started);
  EXPECT_EQ(f.sink.boxes.size(), 1u) << "no message follows a declined overwrite";
  EXPECT_TRUE(f.job.files.empty()) << "nothing is scanned before the answer";
  EXPECT_EQ(f.dir.Snapshot(), before);
}

TEST(BuildJob, AFolderWithOnlyTheOldCheckerAsksThenRefuses) {
  Fixture f;
  f.dir.WriteFile("Vexorin.exe", "old");
  std::string before = f.dir.Snapshot();
  BuildOutcome out = f.Build();
  EXPECT_FALSE(out.started);
  ASSERT_EQ(f.sink.boxes.size(), 2u);
  EXPECT_EQ(f.sink.boxes[0].kind, kMessageQuestion);
  EXPECT_EQ(f.sink.boxes[1].text, Cp932("対象フォルダにファイルやフォルダがありません."));
  EXPECT_EQ(f.sink.boxes[1].title, Cp932("エラー"));
  EXPECT_EQ(f.sink.boxes[1].kind, kMessageWarning);
  EXPECT_EQ(f.dir.Snapshot(), before);
}

TEST(BuildJob, AnEmptyFolderIsRefusedWithoutAQuestion) {
  Fixture f;
  EXPECT_FALSE(f.Build().started);
  ASSERT_EQ(f.sink.boxes.size(), 1u);
  EXPECT_EQ(f.sink.boxes[0].text, Cp932("対象フォルダにファイルやフォルダがありません."));
  EXPECT_FALSE(f.dir.Exists("Vexorin.exe"));
}

TEST(BuildJob, FoldersWithoutFilesGiveACheckerWithAnEmptyFileSection) {
  Fixture f;
  f.dir.MakeFolder("a/b");
  BuildOutcome out = f.Build();
  EXPECT_TRUE(out.written);
  EXPECT_EQ(out.steps, 1);
  CheckData data;
  ASSERT_TRUE(ReadCheckData(f.platform, (f.dir.CorePath() + "Vexorin.exe").c_str(), &data));
  EXPECT_EQ(data.folderCount, 2u);
  EXPECT_EQ(data.fileCount, 0u);
  ReleaseCheckData(&data);
}

TEST(BuildJob, AFileThatVanishesAfterTheScanStopsTheBuild) {
  Fixture f;
  f.dir.WriteFile("keep.txt", "k");
  f.dir.WriteFile("gone.txt", "g");
  f.job.Clear();
  ASSERT_TRUE(f.job.Start(f.dir.path().c_str(), "Vexorin.exe", "", "", ""));
  unlink((f.dir.path() + "/gone.txt").c_str());
  std::string before = f.dir.Snapshot();
  int r;
  while ((r = f.job.Step()) == kBuildMore) {
  }
  EXPECT_EQ(r, kBuildStopped);
  ASSERT_EQ(f.sink.boxes.size(), 1u);
  EXPECT_EQ(f.sink.boxes[0].text, Cp932("gone.txt のオープンに失敗しました."));
  EXPECT_EQ(f.sink.boxes[0].kind, kMessageWarning);
  f.job.CloseFile();
  EXPECT_EQ(f.dir.Snapshot(), before);
}

TEST(BuildJob, AReadErrorStopsTheBuildInsteadOfStoringAWrongDigest) {
  Fixture f;
  f.dir.WriteFile("a.txt", "a");
  // Reading /proc/self/mem at offset 0 fails with EIO: a real read error after a good open.
  ASSERT_EQ(symlink("/proc/self/mem", (f.dir.path() + "/mem.bin").c_str()), 0);
  BuildOutcome out = f.Build();
  EXPECT_EQ(out.lastStep, kBuildStopped);
  EXPECT_FALSE(out.written);
  ASSERT_EQ(f.sink.boxes.size(), 1u);
  EXPECT_EQ(f.sink.boxes[0].text, Cp932("mem.bin の読み込みに失敗しました."));
  EXPECT_FALSE(f.dir.Exists("Vexorin.exe"));
}

TEST(BuildJob, CancelKeepsTheFolderAsItWas) {
  Fixture f;
  f.dir.WriteFile("big.bin", std::string(600000, 'x'));
  f.dir.WriteFile("Vexorin.exe", "old");
  std::string before = f.dir.Snapshot();
  f.job.Clear();
  ASSERT_TRUE(f.job.Start(f.dir.path().c_str(), "Vexorin.exe", "", "", ""));
  EXPECT_EQ(f.job.Step(), kBuildMore);
  // The owner stops calling Step and closes the job's file.
  f.job.CloseFile();
  EXPECT_EQ(f.job.digest.file, nullptr);
  EXPECT_EQ(f.dir.Snapshot(), before);
}

TEST(BuildJob, OverwriteAcceptedReplacesTheOldCheckerWhole) {
  Fixture f;
  f.dir.WriteFile("a.txt", "a");
  f.dir.WriteFile("Vexorin.exe", std::string(100000, 'o'));
  ASSERT_TRUE(f.Build().written);
  std::string written = f.dir.ReadFile("Vexorin.exe");
  EXPECT_EQ(written.substr(0, kImage.size()), kImage);
  EXPECT_EQ(written.substr(written.size() - 16, 4), "VXR!");
  // Only the checker and the source file remain: no temporary file is left behind.
  EXPECT_EQ(f.dir.Snapshot().find("~vx"), std::string::npos);
}

TEST(BuildJob, ACheckerThatCannotTakeItsPlaceIsReportedAndTheFolderKept) {
  Fixture f;
  f.dir.WriteFile("a.txt", "a");
  f.dir.WriteFile("Vexorin.exe/inside.txt", "a folder of the checker's name");
  std::string before = f.dir.Snapshot();
  BuildOutcome out = f.Build();
  EXPECT_EQ(out.lastStep, kBuildAllDigested);
  EXPECT_FALSE(out.written);
  ASSERT_EQ(f.sink.boxes.size(), 1u);
  EXPECT_EQ(f.sink.boxes[0].text, Cp932("Vexorin.exe のオープンに失敗しました."));
  EXPECT_EQ(f.dir.Snapshot(), before);
}

TEST(BuildJob, AFullDiskNeverLeavesATruncatedChecker) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  Fixture f;
  std::string mountPoint = f.dir.path() + "/small";
  f.dir.MakeFolder("small");
  if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "no tmpfs";
  struct Unmount {
    std::string p;
    ~Unmount() { umount(p.c_str()); }
  } unmount{mountPoint};

  TempDir unused;
  RecordingSink sink;
  std::string bigImage(200000, 'I');  // does not fit in 64 KiB beside the old checker
  TCheckerBuilder job(f.platform, sink, reinterpret_cast<const unsigned char*>(bigImage.data()),
                      bigImage.size());
  std::string old(20000, 'o');
  {
    FILE* out = fopen((mountPoint + "/Vexorin.exe").c_str(), "wb");
    fwrite(old.data(), 1, old.size(), out);
    fputs("", out);
    fclose(out);
    FILE* a = fopen((mountPoint + "/a.txt").c_str(), "wb");
    fputs("a", a);
    fclose(a);
  }
  BuildOutcome out = RunBuild(job, mountPoint, "Vexorin.exe");
  EXPECT_EQ(out.lastStep, kBuildAllDigested);
  EXPECT_FALSE(out.written);
  ASSERT_EQ(sink.boxes.size(), 2u);  // the overwrite question, then the failure
  EXPECT_EQ(sink.boxes[1].text, Cp932("Vexorin.exe の書き込みに失敗しました."));
  EXPECT_EQ(sink.boxes[1].kind, kMessageWarning);
  EXPECT_EQ(f.dir.ReadFile("small/Vexorin.exe"), old);
  EXPECT_FALSE(f.dir.Exists("small/~vx00.tmp"));
}

TEST(BuildJob, PathProblemsAreRefusedWithAWarningNamingTheEntry) {
  Fixture f;
  f.dir.WriteFile("ok.txt", "x");
  f.dir.WriteFile("\xFF.txt", "x");
  EXPECT_FALSE(f.Build().started);
  ASSERT_EQ(f.sink.boxes.size(), 1u);
  // Not even UTF-8 holds these bytes; named with the byte escaped, for whatever shows it.
  EXPECT_EQ(f.sink.boxes[0].text, std::string(1, kForeignNameBegin) + "\\xFF.txt" +
                                      kForeignNameEnd +
                                      Cp932(" の名前に使えない文字が含まれています."));
  EXPECT_FALSE(f.dir.Exists("Vexorin.exe"));

  Fixture g;
  g.dir.WriteFile("a.txt", "x");
  std::string longName(kPathCapacity, 'n');
  EXPECT_FALSE(g.Build(longName.c_str()).started);
  ASSERT_EQ(g.sink.boxes.size(), 1u);
  EXPECT_EQ(g.sink.boxes[0].text, longName + Cp932(" のパスが長すぎます."));
}

TEST(BuildJob, NamesCodePage932CannotWriteAreStoredInUtf8AfterTheMessages) {
  Fixture f;
  f.dir.WriteFile("a.txt", "abc");
  f.dir.WriteFile("한/café.txt", "");
  f.dir.WriteFile("ver1.0〜2.0.txt", "abc");  // 〜 (U+301C) reads back from code page 932 as ～
  ASSERT_TRUE(f.Build().written);

  const std::string b(1, kForeignNameBegin), e(1, kForeignNameEnd);
  std::string extension = std::string("|\0utf8\0", 7) + "한\\" + std::string("\0|\0", 3);
  for (const std::string& file : f.job.files) {
    if (file == "a.txt") continue;
    extension += file == b + "한" + e + "\\" + b + "café.txt" + e
                     ? "d41d8cd98f00b204e9800998ecf8427e 한\\café.txt"
                     : "900150983cd24fb0d6963f7d28e17f72 ver1.0〜2.0.txt";
    extension.push_back('\0');
  }
  extension += std::string("|\0", 2);
  std::string head = kImage + std::string("|\0", 2) + "900150983cd24fb0d6963f7d28e17f72 a.txt" +
                     std::string("\0|\0m1\0m2\0m3\0", 12);
  std::string written = f.dir.ReadFile("Vexorin.exe");
  ASSERT_EQ(written.size(), head.size() + extension.size() + kTrailerSize);
  EXPECT_EQ(written.substr(0, head.size()), head) << "the records older readers know come first";
  EXPECT_EQ(written.substr(head.size(), extension.size()), extension);

  // Read back as the checker reads it (vexorin-build's test reads the note that names them).
  CheckData data;
  ASSERT_TRUE(ReadCheckData(f.platform, (f.dir.CorePath() + "Vexorin.exe").c_str(), &data));
  EXPECT_EQ(data.byteTotal, 6) << "every file's bytes count";
  ASSERT_EQ(data.folderCount, 1u);
  EXPECT_EQ(data.folders[0], b + "한\\" + e);
  ASSERT_EQ(data.fileCount, 3u);
  ReleaseCheckData(&data);

  // A message of "|" alone would begin the extension early and leave those names unchecked.
  ASSERT_TRUE(RunBuild(f.job, f.dir.path(), "Vexorin.exe", "m1", "|", "m3").written);
  ASSERT_TRUE(ReadCheckData(f.platform, (f.dir.CorePath() + "Vexorin.exe").c_str(), &data));
  EXPECT_EQ(data.fileCount, 3u);
  EXPECT_EQ(std::string(data.messages[1]) + data.messages[2], "|\nm3");
  ReleaseCheckData(&data);
}

// The checker in a folder whose path code page 932 cannot write (a Korean user name in the
// Downloads path): the platform hands out its folder as a mark and puts it back when it
// opens a path or shows a text, so the run checks and reports that folder correctly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder_test_support.h"
#include "check_run.h"
#include "checker_builder.h"
#include "maker_platform_posix.h"
#include "platform_posix.h"
#include "test_support.h"

namespace {

const std::string kImage = std::string("MZ\x90\0checker image", 17);
const std::string kMark(1, kExecutableFolderMark);

// A tree built by the build job below `folder` (a native path under `dir`), with the
// checker file written into it; the run's platform takes that file for its executable.
struct ForeignChecker {
  TempDir dir;
  std::string folder;  // native, no trailing slash
  PosixPlatform platform;
  RecordingBoxes sink;
  CheckRun run{platform};

  explicit ForeignChecker(const std::string& relativeFolder)
      : folder(dir.path() + "/" + relativeFolder) {
    dir.WriteFile(relativeFolder + "/表.txt", "abc");
    dir.WriteFile(relativeFolder + "/ソフト/deep/data.bin", std::string(600000, 'd'));
    dir.MakeFolder(relativeFolder + "/ソフト/empty");
  }

  // The build job writes the checker from the folder's code-page-932 name, so the tree is
  // built in a twin folder that code page 932 can name and the checker copied over.
  void Build(const std::string& checkerName = "Vexorin.exe") {
    TempDir twin;
    std::string copy = "cp -a '" + folder + "/.' '" + twin.path() + "/'";
    ASSERT_EQ(system(copy.c_str()), 0);
    PosixMakerPlatform makerPlatform;
    RecordingSink makerSink;
    TCheckerBuilder job(makerPlatform, makerSink,
                        reinterpret_cast<const unsigned char*>(kImage.data()), kImage.size());
    ASSERT_TRUE(RunBuild(job, twin.path(), "Vexorin.exe", "folder gone", "file gone", "file broken")
                    .written);
    std::string move = "cp '" + twin.path() + "/Vexorin.exe' '" + folder + "/" + checkerName + "'";
    ASSERT_EQ(system(move.c_str()), 0);
    platform.SetExecutableNativePath(folder + "/" + checkerName);
  }

  // Steps the way the dialog's timer does, until a result other than "more".
  int RunToEnd() {
    int result;
    int steps = 0;
    do {
      result = run.CheckStep(sink);
    } while (result == kCheckMore && ++steps < 1000);
    return result;
  }

  std::string Shown(size_t box) const {
    std::string text;
    EXPECT_TRUE(platform.DisplayText(sink.boxes.at(box).text.c_str(), &text));
    return text;
  }
};

}  // namespace

TEST(ForeignFolderPlatform, HandsOutTheMarkOnlyWhenCodePage932CannotWriteTheFolder) {
  TempDir dir;
  PosixPlatform plain;
  plain.SetExecutableNativePath(dir.path() + "/表/Vexorin.exe");
  char path[kCheckerPathSize];
  ASSERT_TRUE(plain.ExecutablePath(path, sizeof path));
  EXPECT_EQ(std::string(path), Cp932(dir.path() + "/表/Vexorin.exe"))
      << "a writable path is as it was";

  PosixPlatform foreign;
  foreign.SetExecutableNativePath(dir.path() + "/한/Vexorin.exe");
  ASSERT_TRUE(foreign.ExecutablePath(path, sizeof path));
  EXPECT_EQ(std::string(path), kMark + "\\Vexorin.exe");

  std::string native;
  ASSERT_TRUE(foreign.Native((kMark + Cp932("\\ソフト\\表.txt")).c_str(), &native));
  EXPECT_EQ(native, dir.path() + "/한/ソフト/表.txt");
  ASSERT_TRUE(foreign.Native(path, &native));
  EXPECT_EQ(native, dir.path() + "/한/Vexorin.exe");
  std::string shown;
  ASSERT_TRUE(
      foreign.DisplayText((Cp932("フォルダ ") + kMark + Cp932("\\ソフト\\ が")).c_str(), &shown));
  EXPECT_EQ(shown, "フォルダ " + dir.path() + "/한\\ソフト\\ が");
  // The folder's own bytes are never converted: a backslash in a Linux folder name stays.
  PosixPlatform slashed;
  slashed.SetExecutableNativePath(dir.path() + "/a\\b/한/Vexorin.exe");
  ASSERT_TRUE(slashed.ExecutablePath(path, sizeof path));
  ASSERT_TRUE(slashed.Native((kMark + "\\x.txt").c_str(), &native));
  EXPECT_EQ(native, dir.path() + "/a\\b/한/x.txt");
  // Without a mark handed out, the byte is only a byte: nothing is put in for it.
  ASSERT_TRUE(plain.Native((kMark + "\\x").c_str(), &native));
  EXPECT_EQ(native, kMark + "/x");
}

TEST(ForeignFolderPlatform, ANameCodePage932CannotWriteStillNamesTheExecutableItself) {
  TempDir dir;
  dir.WriteFile("표시.exe", "own bytes");
  PosixPlatform platform;
  platform.SetExecutableNativePath(dir.path() + "/표시.exe");
  char path[kCheckerPathSize];
  ASSERT_TRUE(platform.ExecutablePath(path, sizeof path));
  uint64_t size = 0;
  ASSERT_TRUE(platform.FileSize(path, &size));
  EXPECT_EQ(size, 9u);
  FileRef file = platform.OpenRead(path);
  ASSERT_NE(file, nullptr);
  platform.Close(file);
}

TEST(ForeignFolderRun, ChecksTheTreeInAFolderNamedOutsideCodePage932) {
  ForeignChecker c("사용자/Downloads/pack");
  c.Build();
  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  EXPECT_TRUE(c.sink.boxes.empty());
  EXPECT_EQ(std::string(c.run.baseFolder), kMark + "\\");
  EXPECT_EQ(c.RunToEnd(), kCheckAllIntact);
  EXPECT_TRUE(c.sink.boxes.empty());
  EXPECT_EQ(c.run.bytesDone, 600003);
}

TEST(ForeignFolderRun, ARenamedCheckerWithAKoreanNameStillFindsItsData) {
  ForeignChecker c("pack");
  c.Build("확인.exe");
  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  EXPECT_EQ(c.RunToEnd(), kCheckAllIntact);
  EXPECT_TRUE(c.sink.boxes.empty());
}

TEST(ForeignFolderRun, EachProblemNamesWhatIsMissingOrBroken) {
  {
    SCOPED_TRACE("a missing folder is named with the whole folder, shown as it is");
    ForeignChecker c("한");
    c.Build();
    ASSERT_EQ(system(("rm -r '" + c.folder + "/ソフト/empty'").c_str()), 0);
    EXPECT_FALSE(c.run.LoadCheckData(c.sink));
    ASSERT_EQ(c.sink.boxes.size(), 1u);
    EXPECT_EQ(c.sink.boxes[0].text, Cp932("フォルダ ") + kMark +
                                        Cp932("\\ソフト\\empty\\ が見つかりません.\nfolder gone"));
    EXPECT_EQ(c.Shown(0),
              "フォルダ " + c.folder + "\\ソフト\\empty\\ が見つかりません.\nfolder gone");
  }
  {
    SCOPED_TRACE("a missing file is named by its stored path");
    ForeignChecker c("한");
    c.Build();
    ASSERT_EQ(remove((c.folder + "/表.txt").c_str()), 0);
    ASSERT_TRUE(c.run.LoadCheckData(c.sink));
    EXPECT_EQ(c.RunToEnd(), kCheckFileMissing);
    ASSERT_EQ(c.sink.boxes.size(), 1u);
    EXPECT_EQ(c.Shown(0), "ファイル 表.txt が見つかりません.\nfile gone");
  }
  {
    SCOPED_TRACE("a changed file is reported broken");
    ForeignChecker c("한");
    c.Build();
    c.dir.WriteFile("한/ソフト/deep/data.bin", std::string(600000, 'e'));
    ASSERT_TRUE(c.run.LoadCheckData(c.sink));
    EXPECT_EQ(c.RunToEnd(), kCheckFileBroken);
    ASSERT_EQ(c.sink.boxes.size(), 1u);
    EXPECT_EQ(c.Shown(0), "ファイル ソフト\\deep\\data.bin が壊れています.\nfile broken");
  }
}

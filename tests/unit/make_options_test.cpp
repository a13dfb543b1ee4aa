// The settings store: defaults, the settings file's format and place, message joining.
#include "make_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "maker_platform_posix.h"
#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kLine1 = Cp932("ダウンロードからやり直してください.");
const std::string kLine2 = Cp932("また、フォルダ構造ごと解凍しているか確認してください.");

// A maker "installed" in a temporary folder, so that its settings file is real.
struct SettingsFixture : ::testing::Test {
  TempDir dir;
  PosixMakerPlatform platform;

  void SetUp() override { platform.SetExecutablePath(dir.CorePath() + "VexorinMake.exe"); }
  void WriteSettings(const std::string& bytes) { dir.WriteFile("VexorinMake.INI", bytes); }
  std::string ReadSettings() const { return dir.ReadFile("VexorinMake.INI"); }

  // A store whose every member differs from both the defaults and the test files.
  static TMakeOptions Marked() {
    TMakeOptions o;
    o.Target = "keep-target";
    o.CheckerName = "keep.exe";
    o.FolderLines = {"keep-f"};
    o.NoFileLines = {"keep-n"};
    o.BrokenFileLines = {"keep-b"};
    return o;
  }
  static void ExpectMarked(const TMakeOptions& o) {
    EXPECT_EQ(o.Target, "keep-target");
    EXPECT_EQ(o.CheckerName, "keep.exe");
    EXPECT_EQ(o.FolderLines, Lines{"keep-f"});
    EXPECT_EQ(o.NoFileLines, Lines{"keep-n"});
    EXPECT_EQ(o.BrokenFileLines, Lines{"keep-b"});
  }
};

}  // namespace

TEST(MakeOptionsDefaults, AreTheStandardNameAndMessages) {
  TMakeOptions o;
  EXPECT_EQ(o.Target, "");
  EXPECT_EQ(o.CheckerName, "Vexorin.exe");
  EXPECT_EQ(o.FolderLines, (Lines{kLine1, kLine2}));
  EXPECT_EQ(o.NoFileLines, (Lines{kLine1, kLine2}));
  EXPECT_EQ(o.BrokenFileLines, Lines{kLine1});
  EXPECT_EQ(o.FolderMessage, "");
  EXPECT_EQ(o.NoFileMessage, "");
  EXPECT_EQ(o.BrokenFileMessage, "");
}

TEST(MakeOptionsJoin, JoinsEachListWithSingleLineFeeds) {
  TMakeOptions o;
  o.JoinMessages();
  EXPECT_EQ(o.FolderMessage, kLine1 + "\n" + kLine2);
  EXPECT_EQ(o.FolderMessage.size(), 89u);
  EXPECT_EQ(o.NoFileMessage, o.FolderMessage);
  EXPECT_EQ(o.BrokenFileMessage, kLine1);

  o.FolderLines = {"a", "b"};
  o.NoFileLines = {};
  o.BrokenFileLines = {"", "x", ""};
  o.JoinMessages();
  EXPECT_EQ(o.FolderMessage, "a\nb");
  EXPECT_EQ(o.NoFileMessage, "");
  EXPECT_EQ(o.BrokenFileMessage, "\nx\n");
  // The lists are the source; joining leaves them alone.
  EXPECT_EQ(o.FolderLines, (Lines{"a", "b"}));
}

TEST(SplitLines, EndsLinesAtCrLfLoneCrAndLoneLf) {
  EXPECT_EQ(SplitLines(""), Lines{});
  EXPECT_EQ(SplitLines("a"), Lines{"a"});
  EXPECT_EQ(SplitLines("a\r\n"), Lines{"a"});
  EXPECT_EQ(SplitLines("\r\n"), Lines{""});
  EXPECT_EQ(SplitLines("a\r\nb"), (Lines{"a", "b"}));
  EXPECT_EQ(SplitLines("a\rb\nc\r\nd"), (Lines{"a", "b", "c", "d"}));
  // A CR before a CR LF is a line end of its own; LF CR is two line ends.
  EXPECT_EQ(SplitLines("a\r\r\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(SplitLines("a\n\rb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(SplitLines("\n\n"), (Lines{"", ""}));
  // Nothing but line ends is trimmed.
  EXPECT_EQ(SplitLines(" a \t\r\n"), Lines{" a \t"});
}

TEST(SplitLines, NulEndsTheText) {
  EXPECT_EQ(SplitLines(std::string("a\r\nb\0c\r\nd", 10)), (Lines{"a", "b"}));
  EXPECT_EQ(SplitLines(std::string("\0a\r\n", 4)), Lines{});
  EXPECT_EQ(SplitLines(std::string("a\r\0\nb", 5)), Lines{"a"});
}

TEST(ChangeFileExtension, ReplacesOnlyTheLastComponentsExtension) {
  EXPECT_EQ(ChangeFileExtension("C:\\Tools\\VexorinMake.exe", ".INI"),
            "C:\\Tools\\VexorinMake.INI");
  EXPECT_EQ(ChangeFileExtension("C:\\Tools\\a.b.exe", ".INI"), "C:\\Tools\\a.b.INI");
  EXPECT_EQ(ChangeFileExtension("C:\\Tools\\maker", ".INI"), "C:\\Tools\\maker.INI");
  EXPECT_EQ(ChangeFileExtension("C:\\v1.2\\maker", ".INI"), "C:\\v1.2\\maker.INI");
  EXPECT_EQ(ChangeFileExtension("/opt/v1.2/maker", ".INI"), "/opt/v1.2/maker.INI");
  EXPECT_EQ(ChangeFileExtension("C:maker", ".INI"), "C:maker.INI");
}

TEST(ChangeFileExtension, SecondByteBackslashDoesNotHideTheExtension) {
  // 表 is 0x95 0x5C: taken as a separator it would make "x." look extension-less.
  EXPECT_EQ(ChangeFileExtension("C:\\x.\x95\x5c", ".INI"), "C:\\x.INI");
  EXPECT_EQ(ChangeFileExtension("C:\\\x83\x5c.exe", ".INI"), "C:\\\x83\x5c.INI");
}

TEST_F(SettingsFixture, PathIsBesideTheExecutable) {
  std::string path;
  ASSERT_TRUE(SettingsFilePath(platform, &path));
  EXPECT_EQ(path, dir.CorePath() + "VexorinMake.INI");
}

TEST_F(SettingsFixture, DefaultsAreSavedAsElevenCrLfLines) {
  TMakeOptions o;
  ASSERT_TRUE(o.Save(platform));
  EXPECT_EQ(ReadSettings(), "\r\nVexorin.exe\r\n" + kLine1 + "\r\n" + kLine2 + "\r\n--\r\n" +
                                kLine1 + "\r\n" + kLine2 + "\r\n--\r\n" + kLine1 + "\r\n--\r\n");
}

TEST_F(SettingsFixture, SaveThenLoadGivesBackEveryValue) {
  TMakeOptions saved;
  saved.Target = Cp932("C:\\存在しない\\表 ");  // no such folder, a 0x5C second byte, a blank
  saved.CheckerName = Cp932("ソフト.EXE");
  saved.FolderLines = {"first", "", "third"};
  saved.NoFileLines = {""};
  saved.BrokenFileLines = {"-", "---", " -- ", "x"};
  saved.FolderMessage = "not saved";
  ASSERT_TRUE(saved.Save(platform));

  TMakeOptions loaded = Marked();
  loaded.FolderMessage = "untouched";
  ASSERT_TRUE(loaded.Load(platform));
  EXPECT_EQ(loaded.Target, saved.Target);
  EXPECT_EQ(loaded.CheckerName, saved.CheckerName);
  EXPECT_EQ(loaded.FolderLines, saved.FolderLines);
  EXPECT_EQ(loaded.NoFileLines, saved.NoFileLines);
  EXPECT_EQ(loaded.BrokenFileLines, saved.BrokenFileLines);
  // The joined texts are never part of the file.
  EXPECT_EQ(loaded.FolderMessage, "untouched");
}

TEST_F(SettingsFixture, EmptyListsAreFiveLinesAndComeBackEmpty) {
  TMakeOptions o;
  o.Target = "T";
  o.CheckerName = "C";
  o.FolderLines.clear();
  o.NoFileLines.clear();
  o.BrokenFileLines.clear();
  ASSERT_TRUE(o.Save(platform));
  EXPECT_EQ(ReadSettings(), "T\r\nC\r\n--\r\n--\r\n--\r\n");

  TMakeOptions loaded = Marked();
  ASSERT_TRUE(loaded.Load(platform));
  EXPECT_EQ(loaded.Target, "T");
  EXPECT_EQ(loaded.CheckerName, "C");
  EXPECT_EQ(loaded.FolderLines, Lines{});
  EXPECT_EQ(loaded.NoFileLines, Lines{});
  EXPECT_EQ(loaded.BrokenFileLines, Lines{});
}

TEST_F(SettingsFixture, ReplacesAnOlderLongerFileWhole) {
  WriteSettings(std::string(5000, 'x') + "\r\n");
  TMakeOptions o;
  o.FolderLines.clear();
  o.NoFileLines.clear();
  o.BrokenFileLines.clear();
  ASSERT_TRUE(o.Save(platform));
  EXPECT_EQ(ReadSettings(), "\r\nVexorin.exe\r\n--\r\n--\r\n--\r\n");
}

TEST_F(SettingsFixture, AnyLineEndStyleLoadsAlike) {
  for (const char* eol : {"\r\n", "\n", "\r"}) {
    SCOPED_TRACE(testing::PrintToString(std::string(eol)));
    std::string e = eol;
    WriteSettings("D:\\in" + e + "n.exe" + e + "f1" + e + "f2" + e + "--" + e + "n1" + e + "--" +
                  e + "b1" + e + "--" + e);
    TMakeOptions o = Marked();
    ASSERT_TRUE(o.Load(platform));
    EXPECT_EQ(o.Target, "D:\\in");
    EXPECT_EQ(o.CheckerName, "n.exe");
    EXPECT_EQ(o.FolderLines, (Lines{"f1", "f2"}));
    EXPECT_EQ(o.NoFileLines, Lines{"n1"});
    EXPECT_EQ(o.BrokenFileLines, Lines{"b1"});
  }
}

TEST_F(SettingsFixture, FewerThanFiveLinesChangeNothing) {
  for (const std::string& content :
       {std::string(""), std::string("a\r\nb\r\n--\r\n--\r\n"), std::string("a\r\nb\r\n--\r\n--"),
        std::string("a\r\nb\r\n--\r\n--\r\n\0--\r\n", 17)}) {
    SCOPED_TRACE(testing::PrintToString(content));
    WriteSettings(content);
    TMakeOptions o = Marked();
    EXPECT_TRUE(o.Load(platform));
    ExpectMarked(o);
  }
}

TEST_F(SettingsFixture, FiveLinesWithoutSeparatorsAllGoToTheFolderMessage) {
  WriteSettings("t\r\nc\r\nx\r\ny\r\nz");  // the last line has no line end and still counts
  TMakeOptions o = Marked();
  ASSERT_TRUE(o.Load(platform));
  EXPECT_EQ(o.Target, "t");
  EXPECT_EQ(o.CheckerName, "c");
  EXPECT_EQ(o.FolderLines, (Lines{"x", "y", "z"}));
  EXPECT_EQ(o.NoFileLines, Lines{});
  EXPECT_EQ(o.BrokenFileLines, Lines{});
}

TEST_F(SettingsFixture, SeparatorIsExactlyTwoDashes) {
  WriteSettings(
      "t\r\nc\r\n-- \r\n --\r\n---\r\n-\r\n--\r\nn\r\n--\r\nb\r\n--\r\nafter\r\n--\r\nmore\r\n");
  TMakeOptions o = Marked();
  ASSERT_TRUE(o.Load(platform));
  EXPECT_EQ(o.FolderLines, (Lines{"-- ", " --", "---", "-"}));
  EXPECT_EQ(o.NoFileLines, Lines{"n"});
  // Lines after the third separator are ignored.
  EXPECT_EQ(o.BrokenFileLines, Lines{"b"});
}

TEST_F(SettingsFixture, SavedDashLineEndsItsMessageOnLoad) {
  TMakeOptions o;
  o.FolderLines = {"a", "--", "b"};
  o.NoFileLines = {"n"};
  o.BrokenFileLines = {"x"};
  ASSERT_TRUE(o.Save(platform));
  TMakeOptions loaded;
  ASSERT_TRUE(loaded.Load(platform));
  EXPECT_EQ(loaded.FolderLines, Lines{"a"});
  EXPECT_EQ(loaded.NoFileLines, Lines{"b"});
  EXPECT_EQ(loaded.BrokenFileLines, Lines{"n"});
}

TEST_F(SettingsFixture, NulEndsTheFileAndShortPartsLeaveListsEmpty) {
  WriteSettings(std::string("t\r\nc\r\nf1\r\n--\r\nn1\r\n\0--\r\nb1\r\n--\r\n", 30));
  TMakeOptions o = Marked();
  ASSERT_TRUE(o.Load(platform));
  EXPECT_EQ(o.FolderLines, Lines{"f1"});
  EXPECT_EQ(o.NoFileLines, Lines{"n1"});
  EXPECT_EQ(o.BrokenFileLines, Lines{});

  WriteSettings("t\r\nc\r\nf1\r\nf2\r\nf3\r\n");  // ends inside the folder-missing lines
  o = Marked();
  ASSERT_TRUE(o.Load(platform));
  EXPECT_EQ(o.FolderLines, (Lines{"f1", "f2", "f3"}));
  EXPECT_EQ(o.NoFileLines, Lines{});
  EXPECT_EQ(o.BrokenFileLines, Lines{});
}

TEST_F(SettingsFixture, MissingFileKeepsEverythingAndIsNoFailure) {
  TMakeOptions o = Marked();
  EXPECT_TRUE(o.Load(platform));
  ExpectMarked(o);
  EXPECT_FALSE(dir.Exists("VexorinMake.INI"));
}

TEST_F(SettingsFixture, UnreadableFileIsAFailureThatChangesNothing) {
  dir.MakeFolder("VexorinMake.INI");  // there, but not a file that can be read
  TMakeOptions o = Marked();
  EXPECT_FALSE(o.Load(platform));
  ExpectMarked(o);
}

TEST_F(SettingsFixture, UnwritableFileIsAFailureThatLeavesNoTrace) {
  dir.MakeFolder("VexorinMake.INI");  // a folder cannot be replaced by the settings file
  dir.WriteFile("VexorinMake.INI/inside", "kept");
  std::string before = dir.Snapshot();
  TMakeOptions o;
  EXPECT_FALSE(o.Save(platform));
  EXPECT_EQ(dir.Snapshot(), before);

  platform.SetExecutablePath(dir.CorePath() + "missing\\VexorinMake.exe");
  EXPECT_FALSE(o.Save(platform));
  EXPECT_FALSE(dir.Exists("missing"));
}

TEST(MakeOptionsPlace, NoExecutablePathIsAFailure) {
  struct NoPath : PosixMakerPlatform {
    bool ExecutablePath(char*, size_t) override { return false; }
  } platform;
  TMakeOptions o;
  o.Target = "x";
  EXPECT_FALSE(o.Load(platform));
  EXPECT_FALSE(o.Save(platform));
  EXPECT_EQ(o.Target, "x");
}

// The maker windows' logic outside the windows: memo texts, box texts, checker-name
// completion, the build that the progress dialog runs, and the layout's DPI scaling.
#include "maker_gui_logic.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "checkfile.h"
#include "dpi_scale.h"
#include "maker_platform_posix.h"
#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;

// Stands in for the progress dialog: logs what the build shows and when it pumps, and
// lets a test act (cancel, remove a file) at a given pump.
struct FakeMonitor : BuildMonitor {
  std::vector<std::string> log;
  int pumps = 0;
  bool cancel = false;
  std::function<void(int pump)> onPump;

  void ShowProgress(const std::string& state, const std::string& progress) override {
    log.push_back("show " + state + " | " + progress);
  }
  void AfterStep() override {
    ++pumps;
    log.push_back("pump");
    if (onPump) onPump(pumps);
  }
  bool Cancelled() override { return cancel; }
};

const unsigned char kImage[] = {'M', 'Z', 'i', 'm', 'g'};
constexpr size_t kChunk = 262144;

struct BuildFixture : ::testing::Test {
  TempDir dir;
  PosixMakerPlatform platform;
  RecordingSink sink;
  FakeMonitor monitor;
  TMakeOptions options;

  void SetUp() override { options.Target = dir.CorePath(); }
  MakeOutcome Run() {
    return RunCheckerBuild(options, platform, sink, kImage, sizeof kImage, monitor);
  }
  size_t Shows() const {
    size_t n = 0;
    for (const std::string& e : monitor.log) n += e.compare(0, 5, "show ") == 0;
    return n;
  }
};

}  // namespace

TEST(MemoText, EveryLineEndsWithCrLfAndComesBackWhole) {
  EXPECT_EQ(MemoTextFromLines({}), "");
  EXPECT_EQ(MemoTextFromLines({"a", "b"}), "a\r\nb\r\n");
  for (const Lines& lines : {Lines{}, Lines{""}, Lines{"a"}, Lines{"a", ""}, Lines{"", "x", "", ""},
                             Lines{Cp932("表示"), " -- "}}) {
    SCOPED_TRACE(testing::PrintToString(lines));
    EXPECT_EQ(LinesFromMemoText(MemoTextFromLines(lines)), lines);
  }
}

TEST(MemoText, TypedTextSplitsAtAnyLineEnd) {
  EXPECT_EQ(LinesFromMemoText("a\r\nb"), (Lines{"a", "b"}));
  EXPECT_EQ(LinesFromMemoText("a\r\nb\r\n"), (Lines{"a", "b"}));
  EXPECT_EQ(LinesFromMemoText("a\nb\rc"), (Lines{"a", "b", "c"}));
  EXPECT_EQ(LinesFromMemoText("\r\n\r\n"), (Lines{"", ""}));
  EXPECT_EQ(LinesFromMemoText(std::string(5000, 'w')), Lines{std::string(5000, 'w')});
}

TEST(UsageText, HasSixLinesWithFullWidthSpaceLines) {
  Lines lines = UsageLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], Cp932("【使い方】"));
  EXPECT_EQ(lines[2], "\x81\x40");
  EXPECT_EQ(lines[4], "\x81\x40");
  for (int i : {1, 3, 5}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(lines[i].compare(0, 2, "\x81\x40"), 0) << "starts with a full-width space";
    EXPECT_GT(lines[i].size(), 100u);
  }
  EXPECT_NE(lines[1].find("Vexorin.exe"), std::string::npos);
}

TEST(BoxTexts, TargetNotFoundNamesTheTextAsEntered) {
  EXPECT_EQ(TargetNotFoundText(""),
            Cp932("チェックするフォルダ  は存在しません.\nファイルチェッカーの作成を中止します."));
  EXPECT_EQ(TargetNotFoundText(" C:\\a%sb "),
            Cp932("チェックするフォルダ  C:\\a%sb  "
                  "は存在しません.\nファイルチェッカーの作成を中止します."));
  // A folder text far longer than any path is shown whole rather than overflowing.
  std::string longText(3000, 'q');
  std::string text = TargetNotFoundText(longText);
  EXPECT_NE(text.find(" " + longText + " "), std::string::npos);
}

TEST(BoxTexts, SettingsFailuresNameTheFile) {
  EXPECT_EQ(SettingsReadFailedText("C:\\T\\VexorinMake.INI"),
            Cp932("設定ファイル C:\\T\\VexorinMake.INI を読み込めませんでした."));
  EXPECT_EQ(SettingsWriteFailedText("C:\\T\\VexorinMake.INI"),
            Cp932("設定ファイル C:\\T\\VexorinMake.INI に書き込めませんでした."));
  EXPECT_EQ(SettingsReadFailedText(""), Cp932("設定ファイルの場所がわかりません."));
  EXPECT_EQ(SettingsWriteFailedText(""), Cp932("設定ファイルの場所がわかりません."));
}

TEST(CheckerName, CompletionAppendsExeUnlessTheLastFourBytesAreIt) {
  struct Case {
    std::string typed, kept;
  } cases[] = {
      {"abc", "abc.exe"},
      {"exe", "exe.exe"},
      {".exe ", ".exe .exe"},
      {"A.EXE", "A.EXE"},
      {"a.Exe", "a.Exe"},
      {".exe", ".exe"},
      {"  ", "  .exe"},
      {"xe", "xe.exe"},
      {"a.ex", "a.ex.exe"},
      {"a.exe.txt", "a.exe.txt.exe"},
      {Cp932("表"), Cp932("表.exe")},
      {Cp932("表.exe"), Cp932("表.exe")},
      {"a\x83"
       "E.exe",
       "a\x83"
       "E.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.typed));
    bool wasEmpty = true;
    EXPECT_EQ(CompleteCheckerName(c.typed, &wasEmpty), c.kept);
    EXPECT_FALSE(wasEmpty);
  }
}

TEST(CheckerName, EmptyNameBecomesTheStandardName) {
  bool wasEmpty = false;
  EXPECT_EQ(CompleteCheckerName("", &wasEmpty), "Vexorin.exe");
  EXPECT_TRUE(wasEmpty);
}

TEST_F(BuildFixture, FullBuildShowsProgressPumpsAfterEveryStepAndReportsSuccess) {
  dir.WriteFile("big.bin", std::string(kChunk + 10, 'b'));  // two steps
  dir.MakeFolder("sub");
  options.CheckerName = "Check.exe";
  options.FolderLines = {"f1", "f2"};
  options.NoFileLines = {};
  options.BrokenFileLines = {"", "b"};

  ASSERT_EQ(Run(), kMakeWritten);
  // Each step is preceded by its progress lines and followed by the pump.
  std::string first = monitor.log.at(0);
  EXPECT_EQ(first.compare(0, 5, "show "), 0);
  for (size_t i = 0; i + 1 < monitor.log.size(); i += 2) {
    SCOPED_TRACE(i);
    EXPECT_EQ(monitor.log[i].compare(0, 5, "show "), 0);
    EXPECT_EQ(monitor.log[i + 1], "pump");
  }
  EXPECT_EQ(monitor.pumps, 2);
  EXPECT_EQ(monitor.log.back(), "show " + Cp932("処理が完了しました.") + " | ");
  EXPECT_NE(monitor.log[2].find("256 KByte processed. (1/1)"), std::string::npos) << monitor.log[2];

  ASSERT_EQ(sink.boxes.size(), 1u);
  EXPECT_EQ(sink.boxes[0].text, Cp932("ファイルチェッカーが正常に作成できました."));
  EXPECT_EQ(sink.boxes[0].title, Cp932("成功"));
  EXPECT_EQ(sink.boxes[0].kind, kMessagePlain);

  // The checker carries the image and the joined messages.
  ASSERT_TRUE(dir.Exists("Check.exe"));
  EXPECT_EQ(dir.ReadFile("Check.exe").substr(0, 5), "MZimg");
  CheckData data;
  ASSERT_TRUE(ReadCheckData(platform, (dir.CorePath() + "Check.exe").c_str(), &data));
  EXPECT_EQ(data.fileCount, 1u);
  EXPECT_EQ(data.folderCount, 1u);
  EXPECT_STREQ(data.messages[0], "f1\nf2");
  EXPECT_STREQ(data.messages[1], "");
  EXPECT_STREQ(data.messages[2], "\nb");
  ReleaseCheckData(&data);
  EXPECT_EQ(options.FolderMessage, "f1\nf2");
}

TEST_F(BuildFixture, CancelDuringALargeFileWritesNothingAndSaysNothing) {
  dir.WriteFile("large.bin", std::string(4 * kChunk, 'L'));
  std::string before = dir.Snapshot();
  monitor.onPump = [this](int) { monitor.cancel = true; };

  EXPECT_EQ(Run(), kMakeCancelled);
  EXPECT_EQ(monitor.pumps, 1) << "the loop stops after the step that saw the cancel";
  EXPECT_EQ(Shows(), 1u);
  EXPECT_TRUE(sink.boxes.empty());
  EXPECT_EQ(dir.Snapshot(), before);
}

TEST_F(BuildFixture, CancelDuringTheFinalStepStillWritesTheChecker) {
  dir.WriteFile("a.txt", "a");
  monitor.onPump = [this](int) { monitor.cancel = true; };
  EXPECT_EQ(Run(), kMakeWritten);
  EXPECT_TRUE(dir.Exists("Vexorin.exe"));
  ASSERT_EQ(sink.boxes.size(), 1u);
  EXPECT_EQ(sink.boxes[0].title, Cp932("成功"));
}

TEST_F(BuildFixture, DeclinedOverwriteShowsNoProgressAndKeepsTheOldChecker) {
  dir.WriteFile("a.txt", "a");
  dir.WriteFile("Vexorin.exe", "old checker");
  sink.answers = {false};
  EXPECT_EQ(Run(), kMakeNotStarted);
  EXPECT_TRUE(monitor.log.empty());
  ASSERT_EQ(sink.boxes.size(), 1u);
  EXPECT_EQ(sink.boxes[0].text, Cp932("Vexorin.exe に上書きしますか？"));
  EXPECT_EQ(dir.ReadFile("Vexorin.exe"), "old checker");
}

TEST_F(BuildFixture, EmptyFolderIsRefusedWithoutProgress) {
  EXPECT_EQ(Run(), kMakeNotStarted);
  EXPECT_TRUE(monitor.log.empty());
  ASSERT_EQ(sink.boxes.size(), 1u);
  EXPECT_EQ(sink.boxes[0].text, Cp932("対象フォルダにファイルやフォルダがありません."));
  EXPECT_FALSE(dir.Exists("Vexorin.exe"));
}

TEST_F(BuildFixture, UnopenableFileStopsTheBuildWhileItsNameIsShown) {
  dir.WriteFile("a.txt", "a");
  dir.WriteFile("b.txt", "b");
  // Both files vanish once the first one (whichever the listing gives first) is read, so
  // the second one cannot be opened.
  monitor.onPump = [this](int pump) {
    if (pump != 1) return;
    remove((dir.path() + "/a.txt").c_str());
    remove((dir.path() + "/b.txt").c_str());
  };
  EXPECT_EQ(Run(), kMakeStopped);
  ASSERT_EQ(sink.boxes.size(), 1u);
  EXPECT_EQ(sink.boxes[0].kind, kMessageWarning);
  // The failing step's progress line, then its pump, came last.
  ASSERT_GE(monitor.log.size(), 2u);
  EXPECT_EQ(monitor.log.back(), "pump");
  std::string shown = monitor.log[monitor.log.size() - 2];
  ASSERT_EQ(shown.compare(0, 5, "show "), 0);
  // The box names the file whose name the dialog was showing when it came up.
  std::string name = sink.boxes[0].text.substr(0, 5);
  EXPECT_EQ(shown.substr(5, 5), name);
  EXPECT_FALSE(dir.Exists("Vexorin.exe"));
}

TEST_F(BuildFixture, SecondBuildAsksBeforeReplacingTheFirstOnesChecker) {
  dir.WriteFile("a.txt", "a");
  ASSERT_EQ(Run(), kMakeWritten);
  std::string first = dir.ReadFile("Vexorin.exe");
  dir.WriteFile("a.txt", "changed");
  sink.boxes.clear();
  ASSERT_EQ(Run(), kMakeWritten);
  ASSERT_EQ(sink.boxes.size(), 2u);
  EXPECT_EQ(sink.boxes[0].kind, kMessageQuestion);
  EXPECT_NE(dir.ReadFile("Vexorin.exe"), first);
}

TEST(AdvancedValues, FallbackCopyLeavesTargetAndJoinedTextsAlone) {
  TMakeOptions o;
  o.Target = "t";
  o.FolderMessage = "joined";
  StoreAdvancedValues({"n.exe", {"f"}, {}, {"b1", "b2"}}, &o);
  EXPECT_EQ(o.Target, "t");
  EXPECT_EQ(o.FolderMessage, "joined");
  AdvancedValues back = AdvancedValuesOf(o);
  EXPECT_EQ(back.checkerName, "n.exe");
  EXPECT_EQ(back.folderLines, Lines{"f"});
  EXPECT_EQ(back.noFileLines, Lines{});
  EXPECT_EQ(back.brokenFileLines, (Lines{"b1", "b2"}));
}

TEST(DpiScaling, LayoutFontsAndPicturesAtEachSetting) {
  // At 96 DPI every value stays as it is; the main window's values are the yardstick.
  for (int v : {0, 1, 8, 12, 15, 16, 21, 32, 299, 469, 487}) {
    EXPECT_EQ(ScaleToDpi(v, 96), v);
    EXPECT_EQ(ScaledLength(8, v, 96), v);
    EXPECT_EQ(ScaleFontHeight(v, 96), v);
  }
  // 150 %: halves round up; a span is measured between its scaled edges (8 + 469 = 477).
  EXPECT_EQ(ScaleToDpi(487, 144), 731);
  EXPECT_EQ(ScaleToDpi(299, 144), 449);
  EXPECT_EQ(ScaledLength(8, 469, 144), 716 - 12);
  EXPECT_EQ(ScaledLength(161, 21, 144), 273 - 242);
  EXPECT_EQ(ScaleToDpi(487, 120), 609);
  EXPECT_EQ(ScaleToDpi(487, 192), 974);
  // Font heights round down, so that a text never outgrows its control.
  EXPECT_EQ(ScaleFontHeight(12, 144), 18);
  EXPECT_EQ(ScaleFontHeight(15, 144), 22);
  EXPECT_EQ(ScaleFontHeight(15, 120), 18);
  EXPECT_EQ(ScaleFontHeight(12, 192), 24);
  // Pictures: the largest variant that fits, never one larger than the square.
  struct Case {
    int base, wanted, index, size;
  };
  for (const Case& c : {Case{16, 16, 0, 16}, Case{16, 24, 2, 24}, Case{16, 23, 1, 20},
                        Case{32, 48, 2, 48}, Case{16, 40, 4, 32}, Case{16, 12, 0, 16}}) {
    int size = 0;
    EXPECT_EQ(ChoosePictureVariant(c.base, c.wanted, &size), c.index)
        << c.base << " in " << c.wanted;
    EXPECT_EQ(size, c.size) << c.base << " in " << c.wanted;
  }
}

// The checker's run over real folders and checker files: loading its own data, the folder
// check, the stepped file check and what each of them shows the user.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "builder_test_support.h"
#include "check_run.h"
#include "checker_builder.h"
#include "checkfile.h"
#include "checkfile_writer.h"
#include "maker_platform_posix.h"
#include "platform_posix.h"
#include "test_support.h"

namespace {

const std::string kImage = std::string("MZ\x90\0checker image", 17);
const std::string kEmptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";
const std::string kAbcMd5 = "900150983cd24fb0d6963f7d28e17f72";
constexpr uint32_t kChunk = 524288;

std::string Nul(const std::string& s) { return s + std::string(1, '\0'); }
std::string Record(const std::string& digest, const std::string& path) {
  return digest + " " + path;
}

std::string DefaultMessage() {
  return Cp932(
      "ダウンロードからやり直してください.\nまた、フォルダ構造ごと解凍しているか確認してください.");
}

// The real platform, with a log of the files the run opens and closes.
struct LoggingPlatform : Platform {
  PosixPlatform base;
  std::vector<std::string> opened;
  int openFiles = 0;

  FileRef OpenRead(const char* path) override {
    FileRef file = base.OpenRead(path);
    opened.push_back(path);
    if (file != nullptr) ++openFiles;
    return file;
  }
  int32_t Read(FileRef file, void* buffer, uint32_t size) override {
    return base.Read(file, buffer, size);
  }
  bool Seek(FileRef file, uint64_t offset) override { return base.Seek(file, offset); }
  void Close(FileRef file) override {
    --openFiles;
    base.Close(file);
  }
  bool FileSize(const char* path, uint64_t* size) override { return base.FileSize(path, size); }
  bool IsFolder(const char* path) override { return base.IsFolder(path); }
  bool ExecutablePath(char* buffer, size_t capacity) override {
    return base.ExecutablePath(buffer, capacity);
  }
  bool ExecutablePathTooLong(char* buffer, size_t capacity) override {
    return base.ExecutablePathTooLong(buffer, capacity);
  }
};

struct Outcome {
  int result = 0;
  int steps = 0;
  std::vector<std::string> line1, line2;  // as shown before each step
};

struct Checker {
  TempDir dir;
  LoggingPlatform platform;
  RecordingBoxes sink;
  CheckRun run{platform};
  std::string path;  // the checker file, code page 932

  // Writes a checker file of the image and `tail` (check data and trailer) at `name`
  // (a native relative path) and makes it the running executable.
  void WriteFile(const std::string& tail, const std::string& name = "Vexorin.exe") {
    dir.WriteFile(name, kImage + tail);
    std::string relative = Cp932(name);
    for (char& c : relative) {
      if (c == '/') c = '\\';
    }
    path = dir.CorePath() + relative;
    platform.base.SetExecutablePath(path);
  }
  // The same, with the records written by the maker's own writer.
  void Write(const std::vector<std::string>& records, uint64_t byteTotal,
             const std::string& name = "Vexorin.exe") {
    std::string block;
    ASSERT_TRUE(BuildCheckBlock(records, byteTotal, &block));
    WriteFile(block, name);
  }
  // Check data as given, with a trailer that declares `declared` bytes of it.
  static std::string Raw(const std::string& data, uint64_t byteTotal, uint32_t declared) {
    unsigned char trailer[kTrailerSize];
    EncodeTrailer(trailer, declared, byteTotal);
    return data + std::string(reinterpret_cast<char*>(trailer), kTrailerSize);
  }
  static std::string Raw(const std::string& data, uint64_t byteTotal = 0) {
    return Raw(data, byteTotal, static_cast<uint32_t>(data.size()));
  }

  // Steps the way the dialog's timer does, until a result other than "more".
  Outcome RunToEnd() {
    Outcome out;
    char l1[kProgressTextSize], l2[kProgressTextSize];
    do {
      run.MakeProgressTexts(l1, l2);
      out.line1.push_back(l1);
      out.line2.push_back(l2);
      out.result = run.CheckStep(sink);
      ++out.steps;
    } while (out.result == kCheckMore && out.steps < 10000);
    return out;
  }

  std::vector<std::string> FilesOpenedAfterLoading() const {
    std::vector<std::string> files;
    for (const std::string& p : platform.opened) {
      if (p != path) files.push_back(p);
    }
    return files;
  }
};

void ExpectOneWarning(const RecordingSink& sink, const std::string& text) {
  ASSERT_EQ(sink.boxes.size(), 1u);
  EXPECT_EQ(sink.boxes[0].text, text);
  EXPECT_EQ(sink.boxes[0].title, Cp932("エラー"));
  EXPECT_EQ(sink.boxes[0].kind, kMessageWarning);
}

const std::string kLoadFailed =
    Cp932("チェックデータの読み込みに失敗しました.\nVexorin.exeが壊れています.");

}  // namespace

// --- Loading --------------------------------------------------------------------------------

TEST(CheckerLoad, ACheckerWrittenByTheBuildJobLoadsAndPassesAsItWasBuilt) {
  Checker c;
  c.dir.WriteFile("data/empty.bin", "");
  c.dir.WriteFile("data/deeper/abc.txt", "abc");
  c.dir.WriteFile("readme.txt", std::string(kChunk + 5, 'r'));
  PosixMakerPlatform makerPlatform;
  RecordingSink makerSink;
  TCheckerBuilder job(makerPlatform, makerSink,
                      reinterpret_cast<const unsigned char*>(kImage.data()), kImage.size());
  BuildOutcome built = RunBuild(job, c.dir.path(), "Vexorin.exe", "m1", "m2", "m3");
  ASSERT_TRUE(built.written);
  c.platform.base.SetExecutablePath(c.dir.CorePath() + "Vexorin.exe");

  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  EXPECT_TRUE(c.sink.boxes.empty());
  EXPECT_EQ(std::string(c.run.baseFolder), c.dir.CorePath());
  EXPECT_EQ(c.run.data.folderCount, 2u);
  ASSERT_EQ(c.run.data.fileCount, 3u);
  EXPECT_STREQ(c.run.data.messages[2], "m3");
  EXPECT_EQ(c.run.byteTotal, kChunk + 5 + 3);
  // Positioned on the first file, nothing open yet.
  EXPECT_EQ(c.run.currentIndex, 0u);
  EXPECT_EQ(c.run.bytesDone, 0);
  EXPECT_EQ(c.run.digest.file, nullptr);
  EXPECT_EQ(std::string(c.run.currentRelPath), RecordPath(c.run.data.fileRecords[0]));
  EXPECT_EQ(std::string(c.run.currentFullPath), c.dir.CorePath() + c.run.currentRelPath);
  EXPECT_EQ(std::string(c.run.expectedDigest), std::string(c.run.data.fileRecords[0], 32));

  Outcome out = c.RunToEnd();
  EXPECT_EQ(out.result, kCheckAllIntact);
  EXPECT_TRUE(c.sink.boxes.empty());
  EXPECT_EQ(out.steps, 4) << "the file of one chunk and 5 bytes takes two steps, the others one";
  EXPECT_EQ(c.run.bytesDone, c.run.byteTotal);
}

TEST(CheckerLoad, SplitRulesAsTheRunSeesThem) {
  {
    SCOPED_TRACE("byte 32 of a file record is skipped whatever it holds");
    Checker c;
    c.dir.WriteFile("f.txt", "abc");
    c.WriteFile(Checker::Raw(
        Nul("|") + Nul(kAbcMd5 + "#f.txt") + Nul("|") + Nul("") + Nul("") + Nul(""), 3));
    ASSERT_TRUE(c.run.LoadCheckData(c.sink));
    EXPECT_STREQ(c.run.currentRelPath, "f.txt");
    EXPECT_EQ(c.RunToEnd().result, kCheckAllIntact);
  }
  {
    SCOPED_TRACE("an empty folder section: no folder is tested");
    Checker c;
    c.Write({"|", Record(kEmptyMd5, "e"), "|", "", "", ""}, 0);
    c.dir.WriteFile("e", "");
    ASSERT_TRUE(c.run.LoadCheckData(c.sink));
    EXPECT_EQ(c.run.data.folderCount, 0u);
    EXPECT_EQ(c.RunToEnd().result, kCheckAllIntact);
  }
  {
    SCOPED_TRACE("a message that is exactly | ends the data: the messages after it are empty");
    Checker c;
    c.Write({"|", Record(kAbcMd5, "gone.txt"), "|", "folder message", "|", "broken message"}, 3);
    ASSERT_TRUE(c.run.LoadCheckData(c.sink));
    EXPECT_EQ(c.RunToEnd().result, kCheckFileMissing);
    ExpectOneWarning(c.sink, Cp932("ファイル gone.txt が見つかりません.\n"));
  }
  {
    SCOPED_TRACE("fewer than three messages: the missing ones are empty");
    Checker c;
    c.dir.WriteFile("f.txt", "abd");
    c.WriteFile(
        Checker::Raw(Nul("|") + Nul(Record(kAbcMd5, "f.txt")) + Nul("|") + Nul("only one"), 3));
    ASSERT_TRUE(c.run.LoadCheckData(c.sink));
    EXPECT_EQ(c.RunToEnd().result, kCheckFileBroken);
    ExpectOneWarning(c.sink, Cp932("ファイル f.txt が壊れています.\n"));
  }
  {
    SCOPED_TRACE("the last string without its terminator ends at the block, not in the trailer");
    Checker c;
    c.WriteFile(Checker::Raw(Nul("missing\\") + Nul("|") + Nul("|") + "cut message", 0));
    EXPECT_FALSE(c.run.LoadCheckData(c.sink));
    ExpectOneWarning(c.sink, Cp932("フォルダ ") + c.dir.CorePath() + "missing\\" +
                                 Cp932(" が見つかりません.\n") + "cut message");
  }
}

TEST(CheckerLoad, DataThatCannotBeTrustedGivesTheLoadFailureAndChecksNothing) {
  const std::string good =
      Nul("|") + Nul(Record(kAbcMd5, "f.txt")) + Nul("|") + Nul("a") + Nul("b") + Nul("c");
  struct Case {
    const char* what;
    std::string tail;  // after the image
  };
  std::vector<Case> cases = {
      {"the bare image", ""},
      {"anything after the trailer", Checker::Raw(good) + "appended"},
      {"a wrong magic", "XXXX" + Checker::Raw(good).substr(4)},
      {"a length larger than the file less its trailer",
       Checker::Raw(good, 0, static_cast<uint32_t>(good.size() + kImage.size() + 1))},
      {"a length near 4 GiB", Checker::Raw(good, 0, 0xFFFFFFF0u)},
      {"no second separator", Checker::Raw(Nul("d\\") + Nul("|") + Nul(Record(kAbcMd5, "f.txt")))},
      {"a file record with an empty path (33 bytes)",
       Checker::Raw(Nul("|") + Nul(kAbcMd5 + " ") + Nul("|") + Nul("a") + Nul("b") + Nul("c"))},
      {"a file record shorter than a digest",
       Checker::Raw(Nul("|") + Nul("0123abc") + Nul("|") + Nul("a") + Nul("b") + Nul("c"))},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Checker c;
    c.dir.WriteFile("f.txt", "abc");
    c.WriteFile(k.tail);
    EXPECT_FALSE(c.run.LoadCheckData(c.sink));
    ExpectOneWarning(c.sink, kLoadFailed);
    EXPECT_TRUE(c.FilesOpenedAfterLoading().empty());
    EXPECT_EQ(c.platform.openFiles, 0);
  }
  {
    SCOPED_TRACE("a file shorter than the trailer");
    Checker c;
    c.dir.WriteFile("Vexorin.exe", "VXR!");
    c.platform.base.SetExecutablePath(c.dir.CorePath() + "Vexorin.exe");
    EXPECT_FALSE(c.run.LoadCheckData(c.sink));
    ExpectOneWarning(c.sink, kLoadFailed);
  }
  {
    SCOPED_TRACE("the executable's own file cannot be read");
    Checker c;
    c.platform.base.SetExecutablePath(c.dir.CorePath() + "gone.exe");
    EXPECT_FALSE(c.run.LoadCheckData(c.sink));
    ExpectOneWarning(c.sink, kLoadFailed);
  }
}

TEST(CheckerLoad, ACheckerWhoseOwnPathDoesNotFitIsTooDeepNotDamaged) {
  const std::string tooLong =
      Cp932("のパスが長すぎます.\nパスの短いフォルダに解凍し直してください.");
  {
    SCOPED_TRACE("one byte past the path buffer: named whole");
    Checker c;
    std::string path = c.dir.CorePath();
    path += std::string(kCheckerPathSize - path.size() - 12, 'd') + "\\Vexorin.exe";
    ASSERT_EQ(path.size(), kCheckerPathSize);
    c.platform.base.SetExecutablePath(path);
    EXPECT_FALSE(c.run.LoadCheckData(c.sink));
    ExpectOneWarning(c.sink, path + " " + tooLong);
    EXPECT_TRUE(c.platform.opened.empty());
  }
  {
    SCOPED_TRACE("past what a text can name: its beginning, cut at a character");
    Checker c;
    std::string path = c.dir.CorePath() + std::string(2 * kCheckerPathSize, 'd') + "\\";
    while (path.size() < 4 * kCheckerPathSize) path += Cp932("表");
    c.platform.base.SetExecutablePath(path);
    EXPECT_FALSE(c.run.LoadCheckData(c.sink));
    ASSERT_EQ(c.sink.boxes.size(), 1u);
    const std::string& text = c.sink.boxes[0].text;
    size_t shown = text.find("... " + tooLong);
    ASSERT_NE(shown, std::string::npos) << text.substr(text.size() - 100);
    EXPECT_GT(shown, 2 * kCheckerPathSize);
    EXPECT_EQ(text.substr(0, shown), path.substr(0, shown));
    EXPECT_EQ((shown - path.find('\\', c.dir.CorePath().size())) % 2, 1u) << "a whole 表 last";
  }
}

TEST(CheckerLoad, ARenamedCheckerFindsItsDataAndStillNamesVexorinWhenBroken) {
  Checker good;
  good.dir.WriteFile("f.txt", "abc");
  good.Write({"|", Record(kAbcMd5, "f.txt"), "|", "", "", ""}, 3, "check.exe");
  ASSERT_TRUE(good.run.LoadCheckData(good.sink));
  EXPECT_EQ(good.RunToEnd().result, kCheckAllIntact);

  Checker bad;
  bad.WriteFile("", "check.exe");
  EXPECT_FALSE(bad.run.LoadCheckData(bad.sink));
  ExpectOneWarning(bad.sink, kLoadFailed);
}

// --- Where the checker lies -------------------------------------------------------------------

TEST(CheckerModuleFolder, CutsAfterTheLastRealSeparator) {
  struct Case {
    std::string executable, folder;
  };
  std::vector<Case> cases = {
      {"D:\\dl\\pack\\Vexorin.exe", "D:\\dl\\pack\\"},
      {"D:\\dl\\\x95\x5c\\Vexorin.exe", "D:\\dl\\\x95\x5c\\"},  // a folder named 表
      {"D:\\dl\\\x95\x5c.exe", "D:\\dl\\"},  // 0x5C inside the name is no separator
      {"D:\\dl\\\x95\x5c", "D:\\dl\\"},
      {"/home/u/a/b.exe", "/home/u/a/"},
      {"Vexorin.exe", "Vexorin.exe"},  // nothing to cut
      {"\\Vexorin.exe", "\\Vexorin.exe"},
  };
  for (const Case& k : cases) {
    Checker c;
    c.platform.base.SetExecutablePath(k.executable);
    char folder[kCheckerPathSize];
    c.run.ModuleFolder(folder);
    EXPECT_EQ(std::string(folder), k.folder) << k.executable;
  }
}

TEST(CheckerModuleFolder, ACheckerInAFolderEndingInHyoChecksThatFolder) {
  Checker c;
  c.dir.WriteFile("x表/sub/f.txt", "abc");
  c.Write({"sub\\", "|", Record(kAbcMd5, "sub\\f.txt"), "|", "", "", ""}, 3, "x表/Vexorin.exe");
  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  EXPECT_EQ(std::string(c.run.baseFolder), c.dir.CorePath() + Cp932("x表") + "\\");
  EXPECT_EQ(c.RunToEnd().result, kCheckAllIntact);
  EXPECT_TRUE(c.sink.boxes.empty());
}

// --- Folder check -----------------------------------------------------------------------------

TEST(CheckerFolders, AMissingFolderWithASubFolderIsReportedByTheSubFolderFirst) {
  Checker c;
  c.dir.WriteFile("f.txt", "abc");
  c.Write({"sub\\deep\\", "sub\\", "other\\", "|", Record(kAbcMd5, "f.txt"), "|", DefaultMessage(),
           "m2", "m3"},
          3);
  EXPECT_FALSE(c.run.LoadCheckData(c.sink));
  ExpectOneWarning(c.sink, Cp932("フォルダ ") + c.dir.CorePath() + "sub\\deep\\" +
                               Cp932(" が見つかりません.\n") + DefaultMessage());
  EXPECT_TRUE(c.FilesOpenedAfterLoading().empty()) << "no file is read after a missing folder";
}

TEST(CheckerFolders, OnlyExistingFoldersPass) {
  Checker c;
  c.dir.MakeFolder("a/b");
  c.dir.WriteFile("plain", "not a folder");
  c.Write({"a\\b\\", "a\\", "plain\\", "|", "|", "", "", ""}, 0);
  EXPECT_FALSE(c.run.LoadCheckData(c.sink))
      << "a file of a listed folder's name is not that folder";
  ExpectOneWarning(
      c.sink, Cp932("フォルダ ") + c.dir.CorePath() + "plain\\" + Cp932(" が見つかりません.\n"));

  std::string base = c.dir.CorePath();
  EXPECT_TRUE(c.run.FolderExists((base + "a\\b\\").c_str()));
  EXPECT_TRUE(c.run.FolderExists((base + "a").c_str()));
  EXPECT_FALSE(c.run.FolderExists((base + "plain").c_str()));
  EXPECT_FALSE(c.run.FolderExists((base + "nothing\\").c_str()));
}

// A path that passes the limit cannot be asked about; the folder or file may well be there,
// so the user is told that the path is too long, and to unpack higher up, not to download
// again. One byte less and the folder is looked for.
TEST(CheckerFolders, AFolderPathBeyondThePathLimitIsTooLongNamedWholeAndOneByteLessIsLookedFor) {
  Checker c;
  size_t room = kCheckerPathSize - 1 - c.dir.CorePath().size();
  std::string longFolder = std::string(room - 1, 'd') + "\\";  // fills the buffer
  c.Write({longFolder, "|", "|", "m1", "", ""}, 0);
  EXPECT_FALSE(c.run.LoadCheckData(c.sink));
  ExpectOneWarning(c.sink, Cp932("フォルダ ") + c.dir.CorePath() + longFolder +
                               Cp932(" が見つかりません.\n") + "m1");

  Checker d;
  longFolder = std::string(room, 'd') + "\\";
  d.Write({longFolder, "|", "|", "m1", "", ""}, 0);
  EXPECT_FALSE(d.run.LoadCheckData(d.sink));
  ExpectOneWarning(d.sink,
                   d.dir.CorePath() + longFolder +
                       Cp932(" のパスが長すぎます.\nパスの短いフォルダに解凍し直してください."));
}

// --- File check -------------------------------------------------------------------------------

TEST(CheckerFiles, AMissingFileShowsTheThreeLinesWithTheStoredPath) {
  Checker c;
  c.dir.WriteFile("first.txt", "abc");
  c.dir.MakeFolder("sub");
  c.Write({"sub\\", "|", Record(kAbcMd5, "first.txt"), Record(kAbcMd5, "sub\\a.txt"), "|",
           DefaultMessage(), DefaultMessage(), Cp932("ダウンロードからやり直してください.")},
          6);
  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  Outcome out = c.RunToEnd();
  EXPECT_EQ(out.result, kCheckFileMissing);
  EXPECT_EQ(out.steps, 2);
  ExpectOneWarning(c.sink, Cp932("ファイル sub\\a.txt が見つかりません.\n"
                                 "ダウンロードからやり直してください.\n"
                                 "また、フォルダ構造ごと解凍しているか確認してください."));
  EXPECT_EQ(c.run.bytesDone, 3) << "the missing file adds nothing";
  EXPECT_EQ(c.platform.openFiles, 0);
}

TEST(CheckerFiles, APathThatNamesAFolderIsAMissingFile) {
  Checker c;
  c.dir.MakeFolder("f.txt");
  c.Write({"|", Record(kAbcMd5, "f.txt"), "|", "", "m2", ""}, 3);
  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  EXPECT_EQ(c.RunToEnd().result, kCheckFileMissing);
  ExpectOneWarning(c.sink, Cp932("ファイル f.txt が見つかりません.\n") + "m2");
}

TEST(CheckerFiles, ADamagedFileIsReportedAfterItsWholeContentIsRead) {
  Checker c;
  std::string content(2 * kChunk + 1000, 'z');
  c.dir.WriteFile("big.bin", content);
  std::string digest = SystemMd5(c.dir.path() + "/big.bin");
  content[10] = 'Z';
  c.dir.WriteFile("big.bin", content);
  c.dir.WriteFile("after.txt", "abc");
  c.Write({"|", Record(digest, "big.bin"), Record(kAbcMd5, "after.txt"), "|", "", "", "broken"},
          content.size() + 3);
  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  Outcome out = c.RunToEnd();
  EXPECT_EQ(out.result, kCheckFileBroken);
  EXPECT_EQ(out.steps, 3);
  EXPECT_EQ(c.run.bytesDone, static_cast<int64_t>(content.size()));
  ExpectOneWarning(c.sink, Cp932("ファイル big.bin が壊れています.\n") + "broken");
  EXPECT_EQ(c.FilesOpenedAfterLoading().size(), 1u) << "nothing after the first problem is checked";
  EXPECT_EQ(c.platform.openFiles, 0);
}

TEST(CheckerFiles, AnUpperCaseStoredDigestNeverMatches) {
  Checker c;
  c.dir.WriteFile("f.txt", "abc");
  std::string upper = kAbcMd5;
  for (char& ch : upper) ch = static_cast<char>(toupper(ch));
  c.Write({"|", Record(upper, "f.txt"), "|", "", "", ""}, 3);
  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  EXPECT_EQ(c.RunToEnd().result, kCheckFileBroken);
  ExpectOneWarning(c.sink, Cp932("ファイル f.txt が壊れています.\n"));
}

TEST(CheckerFiles, EachFileTakesItsSizeInChunksPlusOneSteps) {
  struct Case {
    size_t size;
    int steps;
  };
  for (Case k :
       {Case{0, 1}, Case{1, 1}, Case{kChunk - 1, 1}, Case{kChunk, 2}, Case{2 * kChunk + 7, 3}}) {
    Checker c;
    c.dir.WriteFile("f.bin", std::string(k.size, '\x5c'));
    c.Write({"|", Record(SystemMd5(c.dir.path() + "/f.bin"), "f.bin"), "|", "", "", ""}, k.size);
    ASSERT_TRUE(c.run.LoadCheckData(c.sink));
    Outcome out = c.RunToEnd();
    EXPECT_EQ(out.result, kCheckAllIntact) << k.size;
    EXPECT_EQ(out.steps, k.steps) << k.size;
    EXPECT_EQ(c.run.bytesDone, static_cast<int64_t>(k.size));
    EXPECT_EQ(c.platform.openFiles, 0);
  }
}

TEST(CheckerFiles, NoFileRecordsSucceedAtTheFirstStepWithoutReading) {
  Checker c;
  c.dir.MakeFolder("only");
  c.Write({"only\\", "|", "|", "", "", ""}, 0);
  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  Outcome out = c.RunToEnd();
  EXPECT_EQ(out.result, kCheckAllIntact);
  EXPECT_EQ(out.steps, 1);
  EXPECT_TRUE(c.FilesOpenedAfterLoading().empty());
  EXPECT_EQ(out.line1[0], "");
  EXPECT_EQ(out.line2[0], Cp932("0 KByte Checked. (0％)"));
  EXPECT_TRUE(c.sink.boxes.empty());
}

TEST(CheckerFiles, AFilePathBeyondThePathLimitIsTooLongWithoutOpening) {
  Checker c;
  std::string longPath = std::string(kCheckerPathSize - 20, 'p') + "\\" + std::string(30, 'f');
  c.dir.WriteFile("short.txt", "abc");
  c.Write({"|", Record(kAbcMd5, "short.txt"), Record(kAbcMd5, longPath), "|", "", "m2", ""}, 6);
  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  EXPECT_EQ(c.RunToEnd().result, kCheckPathTooLong);
  ExpectOneWarning(c.sink,
                   c.dir.CorePath() + longPath +
                       Cp932(" のパスが長すぎます.\nパスの短いフォルダに解凍し直してください."));
  EXPECT_EQ(c.FilesOpenedAfterLoading().size(), 1u) << "only short.txt was opened";
}

TEST(CheckerFiles, ClosingMidFileLeavesNothingOpenAndContinuingResumesTheDigest) {
  Checker c;
  c.dir.WriteFile("f.bin", std::string(kChunk + 3, 'q'));
  c.Write({"|", Record(SystemMd5(c.dir.path() + "/f.bin"), "f.bin"), "|", "", "", ""}, kChunk + 3);
  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  ASSERT_EQ(c.run.CheckStep(c.sink), kCheckMore);
  EXPECT_EQ(c.platform.openFiles, 1) << "the file stays open between steps";
  // A declined stop request goes on with the same open file and digest.
  EXPECT_EQ(c.run.CheckStep(c.sink), kCheckAllIntact);
  EXPECT_EQ(c.FilesOpenedAfterLoading().size(), 1u);

  Checker stopped;
  stopped.dir.WriteFile("f.bin", std::string(kChunk + 3, 'q'));
  stopped.Write({"|", Record(kEmptyMd5, "f.bin"), "|", "", "", ""}, kChunk + 3);
  ASSERT_TRUE(stopped.run.LoadCheckData(stopped.sink));
  ASSERT_EQ(stopped.run.CheckStep(stopped.sink), kCheckMore);
  stopped.run.CloseCurrentFile();
  EXPECT_EQ(stopped.platform.openFiles, 0);
  stopped.run.CloseCurrentFile();  // closing twice is harmless
  EXPECT_EQ(stopped.platform.openFiles, 0);
}

// --- Progress lines ---------------------------------------------------------------------------

TEST(CheckerProgress, LinesCountFilesAndShowKBytesAndPerCentBeforeEachStep) {
  Checker c;
  c.dir.WriteFile("a.bin", std::string(kChunk + 10240, 'a'));
  c.dir.WriteFile("sub/表.txt", std::string(2048, 'b'));
  c.dir.WriteFile("c.txt", std::string(1024, 'c'));
  c.Write({"sub\\", "|", Record(SystemMd5(c.dir.path() + "/a.bin"), "a.bin"),
           Record(SystemMd5(c.dir.path() + "/sub/表.txt"), Cp932("sub\\表.txt")),
           Record(SystemMd5(c.dir.path() + "/c.txt"), "c.txt"), "|", "", "", ""},
          537600);
  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  Outcome out = c.RunToEnd();
  ASSERT_EQ(out.result, kCheckAllIntact);
  std::vector<std::string> line1 = {
      Cp932("a.bin をチェック中...(1/3)"), Cp932("a.bin をチェック中...(1/3)"),
      Cp932("sub\\表.txt をチェック中...(2/3)"), Cp932("c.txt をチェック中...(3/3)")};
  // 524288 of 537600 bytes is 97.5 per cent, shown as 97: the figures drop their remainders.
  std::vector<std::string> line2 = {
      Cp932("0 KByte Checked. (0％)"), Cp932("512 KByte Checked. (97％)"),
      Cp932("522 KByte Checked. (99％)"), Cp932("524 KByte Checked. (99％)")};
  EXPECT_EQ(out.line1, line1);
  EXPECT_EQ(out.line2, line2);
}

TEST(CheckerProgress, AZeroByteTotalShowsZeroPerCentAndGrownFilesPassAHundred) {
  {
    Checker c;
    c.dir.WriteFile("e1", "");
    c.dir.WriteFile("e2", "");
    c.Write({"|", Record(kEmptyMd5, "e1"), Record(kEmptyMd5, "e2"), "|", "", "", ""}, 0);
    ASSERT_TRUE(c.run.LoadCheckData(c.sink));
    Outcome out = c.RunToEnd();
    EXPECT_EQ(out.result, kCheckAllIntact);
    EXPECT_EQ(out.line2, std::vector<std::string>(2, Cp932("0 KByte Checked. (0％)")));
  }
  for (uint64_t total : {uint64_t{0}, ~uint64_t{0}}) {
    // A hand-made total of 0 (or one that reads as negative) over real bytes: no division.
    Checker c;
    c.dir.WriteFile("f.bin", std::string(kChunk + 1, 'g'));
    c.Write({"|", Record(SystemMd5(c.dir.path() + "/f.bin"), "f.bin"), "|", "", "", ""}, total);
    ASSERT_TRUE(c.run.LoadCheckData(c.sink));
    Outcome out = c.RunToEnd();
    EXPECT_EQ(out.result, kCheckAllIntact);
    ASSERT_EQ(out.line2.size(), 2u);
    EXPECT_EQ(out.line2[1], Cp932("512 KByte Checked. (0％)")) << total;
  }
  {
    // A total stored too small (as if the files had grown since) is shown as it comes.
    Checker c;
    c.dir.WriteFile("f.bin", std::string(kChunk + 1, 'g'));
    c.Write({"|", Record(SystemMd5(c.dir.path() + "/f.bin"), "f.bin"), "|", "", "", ""}, 1024);
    ASSERT_TRUE(c.run.LoadCheckData(c.sink));
    Outcome out = c.RunToEnd();
    ASSERT_EQ(out.line2.size(), 2u);
    EXPECT_EQ(out.line2[1], Cp932("512 KByte Checked. (51200％)"));
  }
}

TEST(CheckerProgress, ALongPathIsCutWithinTheLineAtACharacterBoundary) {
  Checker c;
  std::string path;
  for (int i = 0; i < 130; ++i) path += "\x95\x5c";  // 260 bytes of 表
  path = "a" + path;                                 // puts the lead bytes on odd positions
  c.Write({"|", Record(kAbcMd5, path), "|", "", "", ""}, 3);
  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  char line1[kProgressTextSize + 8], line2[kProgressTextSize];
  memset(line1, '#', sizeof line1);
  c.run.MakeProgressTexts(line1, line2);
  std::string shown = line1;
  EXPECT_LT(shown.size(), kProgressTextSize);
  EXPECT_EQ(line1[kProgressTextSize], '#') << "nothing is written past the buffer";
  EXPECT_EQ(shown, path.substr(0, shown.size())) << "only the path fits; it is cut, not garbled";
  EXPECT_EQ(shown.size() % 2, 1u) << "the cut falls between two characters";
}

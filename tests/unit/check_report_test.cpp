// vexorin-check's run where no real file system can be made to fail on purpose: a read error
// part of the way through a file.
#include "check_report.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "check_run.h"
#include "checkfile_writer.h"
#include "digest.h"
#include "md5.h"
#include "platform_posix.h"
#include "test_support.h"

namespace {

// The real platform, except that reading a file whose path ends in "bad.bin" fails after its
// first chunk. Any number of jobs may read through it at once.
struct FailingPlatform : Platform {
  PosixPlatform base;
  std::mutex lock;
  std::map<FileRef, int> failing;  // the open "bad.bin" files and the reads of each

  FileRef OpenRead(const char* path) override {
    FileRef file = base.OpenRead(path);
    std::string p = path;
    if (file != nullptr && p.size() >= 7 && p.compare(p.size() - 7, 7, "bad.bin") == 0) {
      std::lock_guard<std::mutex> hold(lock);
      failing[file] = 0;
    }
    return file;
  }
  int32_t Read(FileRef file, void* buffer, uint32_t size) override {
    {
      std::lock_guard<std::mutex> hold(lock);
      auto it = failing.find(file);
      if (it != failing.end() && ++it->second > 1) return -1;
    }
    return base.Read(file, buffer, size);
  }
  bool Seek(FileRef file, uint64_t offset) override { return base.Seek(file, offset); }
  void Close(FileRef file) override {
    {
      std::lock_guard<std::mutex> hold(lock);
      failing.erase(file);
    }
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

// The names of the real folders, as vexorin-check lists them on Linux.
struct RealNames : FolderNames {
  const PosixPlatform& platform;
  explicit RealNames(const PosixPlatform& p) : platform(p) {}
  bool List(const std::string& folder, std::vector<std::string>* names) override {
    std::string native;
    DIR* dir = platform.Native(folder.c_str(), &native) ? opendir(native.c_str()) : nullptr;
    if (dir == nullptr) return false;
    while (dirent* entry = readdir(dir)) {
      if (std::string(".") != entry->d_name && std::string("..") != entry->d_name)
        names->push_back(entry->d_name);
    }
    closedir(dir);
    return true;
  }
  std::string Join(const std::string& folder, const std::string& name, bool isFolder) override {
    std::string native;
    platform.Native(folder.c_str(), &native);
    if (native.back() != '/') native += '/';
    return kNativePathMark + native + name + (isFolder ? "/" : "");
  }
};

// Takes the records of a check.
struct KeptRecords : ProblemSink {
  std::vector<ProblemKind> kinds;
  void Report(const CheckProblem& problem) override { kinds.push_back(problem.kind); }
};

}  // namespace

// Every kind of problem as the record the check hands over: which entry it is (folder or file,
// index, stored path), the folder its line names, the distributor's message that belongs to it
// by meaning, the digests of a damaged file, and what the name search found.
TEST(CheckReport, EachKindOfProblemIsARecordOfItsEntry) {
  TempDir dir;
  std::string deep;
  while (deep.size() < kCheckerPathSize) deep += std::string(200, 'd') + "\\";
  dir.MakeFolder("SUB");
  dir.WriteFile("changed.txt", "now");
  dir.WriteFile("bad.bin", std::string(kCheckerChunkSize + 1, 'b'));
  dir.WriteFile("README.TXT", "r");
  dir.WriteFile("TWIN.txt", "t");
  dir.WriteFile("twin.TXT", "t");
  std::string block;
  ASSERT_TRUE(BuildCheckBlock(
      {"gone\\", "Sub\\", deep, "|", MakeFileRecord(Md5Text("l").c_str(), "lost.txt"),
       MakeFileRecord(Md5Text("before").c_str(), "changed.txt"),
       MakeFileRecord(Md5Text(std::string(kCheckerChunkSize + 1, 'b')).c_str(), "bad.bin"),
       MakeFileRecord(Md5Text("r").c_str(), "Readme.txt"),
       MakeFileRecord(Md5Text("t").c_str(), "Twin.txt"), "|", "m1", "m2", "m3"},
      0, &block));
  dir.WriteFile("Vexorin.exe", "MZ" + block);
  FailingPlatform platform;
  platform.base.SetExecutablePath(dir.CorePath() + "Vexorin.exe");
  RealNames names(platform.base);

  CheckReport report;
  RunCheck(platform, true, 1, nullptr, &report, Md5WidestLaneKernel(), &names);
  struct Want {
    ProblemKind kind;
    bool isFolder;
    uint32_t index;
    std::string path, folder;
    UserMessage message;
    std::string messageText;
    NameForm form;
    std::string diskName;
  };
  const std::string base = dir.CorePath();
  const Want want[] = {
      {kProblemFolderMissing, true, 0, "gone\\", base, kUserMessageFolderMissing, "m1", kFormOwn,
       ""},
      {kProblemFolderRenamed, true, 1, "Sub\\", "", kNoUserMessage, "", kFormLetterCase, "SUB/"},
      {kProblemPathTooLong, true, 2, deep, base, kNoUserMessage, "", kFormOwn, ""},
      {kProblemFileMissing, false, 0, "lost.txt", "", kUserMessageFileMissing, "m2", kFormOwn, ""},
      {kProblemFileDamaged, false, 1, "changed.txt", "", kUserMessageFileBroken, "m3", kFormOwn,
       ""},
      {kProblemReadFailed, false, 2, "bad.bin", "", kNoUserMessage, "", kFormOwn, ""},
      {kProblemFileRenamed, false, 3, "Readme.txt", "", kNoUserMessage, "", kFormLetterCase,
       "README.TXT"},
      {kProblemNameAmbiguous, false, 4, "Twin.txt", "", kNoUserMessage, "", kFormLetterCase, ""},
  };
  ASSERT_EQ(report.problems.size(), std::size(want));
  for (size_t i = 0; i < std::size(want); ++i) {
    const Problem& got = report.problems[i];
    const Want& w = want[i];
    EXPECT_EQ(std::tie(got.kind, got.isFolder, got.index, got.path, got.folder, got.message,
                       got.messageText, got.form, got.diskName),
              std::tie(w.kind, w.isFolder, w.index, w.path, w.folder, w.message, w.messageText,
                       w.form, w.diskName))
        << "problem " << i;
    bool damaged = got.kind == kProblemFileDamaged;
    EXPECT_EQ(got.expected, damaged ? Md5Text("before") : "") << i;
    EXPECT_EQ(got.actual, damaged ? Md5Text("now") : "") << i;
  }
  std::vector<std::string> twins = {"TWIN.txt", "twin.TXT"};
  std::vector<std::string> candidates = report.problems.back().candidates;
  std::sort(candidates.begin(), candidates.end());
  EXPECT_EQ(candidates, twins);

  // A checker without check data: a record of no entry.
  dir.WriteFile("Vexorin.exe", "MZ");
  CheckRun run(platform);
  KeptRecords kept;
  EXPECT_FALSE(run.LoadCheckData(kept));
  EXPECT_EQ(kept.kinds, std::vector<ProblemKind>{kProblemCheckerUnusable});
}

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
  RunCheck(platform, true, 1, nullptr, &report);
  EXPECT_EQ(report.outcome, kOutcomeProblems);
  ASSERT_EQ(report.problems.size(), 2u);
  EXPECT_EQ(report.problems[0].kind, kProblemReadFailed);
  EXPECT_EQ(report.problems[0].path, "sub\\bad.bin");
  EXPECT_EQ(CheckerText(report.problems[0]), Cp932("sub\\bad.bin の読み込みに失敗しました."));
  EXPECT_EQ(report.problems[1].kind, kProblemFileDamaged);
  EXPECT_EQ(CheckerText(report.problems[1]),
            Cp932("ファイル changed.txt が壊れています.\n") + "m3");
  EXPECT_EQ(report.problems[1].expected, Md5Text("before"));
  EXPECT_EQ(report.problems[1].actual, Md5Text("now"));
  EXPECT_EQ(report.filesChecked, 3u);

  // As the checker would, the first problem ends a run that is not to go on.
  RunCheck(platform, false, 1, nullptr, &report);
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].kind, kProblemReadFailed);
  EXPECT_EQ(report.filesChecked, 1u);
  EXPECT_TRUE(platform.failing.empty()) << "the failing file is closed";
}

// Many files that four jobs finish out of order, with problems of every kind among them (a
// damaged file of several chunks, missing files, a read error), and a path too long for the
// checker's buffer: four jobs give the report of one, problem by problem, with every problem
// and with the first only. Runs under ThreadSanitizer too (preset linux-tsan).
TEST(ConcurrentCheck, FourJobsGiveTheReportOfOneJob) {
  TempDir dir;
  std::vector<std::string> records = {"|"};
  uint64_t total = 0;
  for (int i = 0; i < 50; ++i) {
    bool bad = i == 7 || i == 30;  // its second read fails
    std::string name = "f" + std::to_string(i) + (bad ? "bad.bin" : ".bin");
    size_t size = bad ? kCheckerChunkSize + 100 : (i * 7919) % (3 * kCheckerChunkSize / 2);
    std::string content(size, static_cast<char>('a' + i % 26));
    total += content.size();
    records.push_back(MakeFileRecord(Md5Text(content).c_str(), name.c_str()));
    if (i == 3 || i == 40) content += "!";                            // damaged
    if (i != 12 && i != 13 && i != 44) dir.WriteFile(name, content);  // else missing
  }
  // Beyond the path buffer (the system's path limit for vexorin-check: no such file can be
  // opened, so none is made).
  std::string deep;
  while (deep.size() < kCheckerPathSize) deep += std::string(200, 'd') + "\\";
  records.push_back(MakeFileRecord(Md5Text("deep").c_str(), deep + "e"));
  records.insert(records.end(), {"|", "m1", "m2", "m3"});
  std::string block;
  ASSERT_TRUE(BuildCheckBlock(records, total, &block));
  dir.WriteFile("Vexorin.exe", "MZ" + block);
  FailingPlatform platform;
  platform.base.SetExecutablePath(dir.CorePath() + "Vexorin.exe");

  for (bool all : {true, false}) {
    CheckReport one, four;
    RunCheck(platform, all, 1, nullptr, &one);
    RunCheck(platform, all, 4, nullptr, &four);
    ASSERT_EQ(one.problems.size(), all ? 8u : 1u);
    EXPECT_EQ(one.problems[0].kind, kProblemFileDamaged);
    EXPECT_EQ(one.problems.back().kind, all ? kProblemPathTooLong : kProblemFileDamaged);
    EXPECT_EQ(four.outcome, one.outcome);
    EXPECT_EQ(four.filesChecked, one.filesChecked);
    ASSERT_EQ(four.problems.size(), one.problems.size());
    for (size_t i = 0; i < one.problems.size(); ++i) {
      const Problem &a = one.problems[i], &b = four.problems[i];
      EXPECT_EQ(std::make_tuple(b.kind, b.path, CheckerText(b), b.expected, b.actual),
                std::make_tuple(a.kind, a.path, CheckerText(a), a.expected, a.actual))
          << a.path;
    }
    EXPECT_TRUE(platform.failing.empty()) << "every failing file closed";
  }
}

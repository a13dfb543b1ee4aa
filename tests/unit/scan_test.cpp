// The folder scan over real trees: order, skip name, links, limits and names.
#include "scan.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "maker_platform_posix.h"
#include "test_support.h"

namespace {

// The order readdir gives, without "." and "..": the order the scan must keep.
std::vector<std::string> DirectoryOrder(const std::string& nativeFolder) {
  std::vector<std::string> names;
  DIR* d = opendir(nativeFolder.c_str());
  while (struct dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  closedir(d);
  return names;
}

// The expected lists, built independently from readdir's order: files where they come,
// each folder after its contents.
void Expect(const std::string& native, const std::string& rel, std::vector<std::string>* folders,
            std::vector<std::string>* files) {
  for (const std::string& n : DirectoryOrder(native)) {
    std::string path = native + "/" + n;
    DIR* sub = opendir(path.c_str());
    if (sub != nullptr) {
      closedir(sub);
      Expect(path, rel + n + "\\", folders, files);
      folders->push_back(rel + n + "\\");
    } else {
      files->push_back(rel + n);
    }
  }
}

struct ScanOutput {
  std::vector<std::string> folders, files;
  ScanProblem problem;
  bool ok;
};

ScanOutput Scan(const TempDir& dir, const char* skip = "Vexorin.exe") {
  PosixMakerPlatform platform;
  ScanOutput out;
  std::string root = dir.CorePath();
  out.ok = ScanFolder(platform, root, &out.folders, &out.files, skip, root.size(), &out.problem);
  return out;
}

}  // namespace

TEST(ScanFolder, KeepsTheFileSystemOrderDepthFirstWithFoldersAfterTheirContents) {
  TempDir dir;
  for (int i = 0; i < 30; ++i) dir.WriteFile("f" + std::to_string(i * 7919 % 101), "x");
  dir.WriteFile("sub/b.txt", "b");
  dir.WriteFile("sub/deep/c.txt", "c");
  dir.WriteFile("sub/deep/d.txt", "d");
  dir.MakeFolder("sub/empty");
  dir.WriteFile("z.txt", "z");
  ScanOutput out = Scan(dir);
  ASSERT_TRUE(out.ok);
  std::vector<std::string> folders, files;
  Expect(dir.path(), "", &folders, &files);
  EXPECT_EQ(out.files, files);
  EXPECT_EQ(out.folders, folders);
  // Post-order: sub\deep\ stands before sub\, whatever the enumeration order.
  auto pos = [&](const std::string& s) {
    return std::find(out.folders.begin(), out.folders.end(), s);
  };
  EXPECT_LT(pos("sub\\deep\\"), pos("sub\\"));
}

TEST(ScanFolder, OnlyAnEmptySubFolder) {
  TempDir dir;
  dir.MakeFolder("x");
  ScanOutput out = Scan(dir);
  EXPECT_TRUE(out.files.empty());
  EXPECT_EQ(out.folders, std::vector<std::string>{"x\\"});
}

TEST(ScanFolder, SkipNameAppliesToFilesInTheRootOnlyWithoutRegardToCase) {
  TempDir dir;
  dir.WriteFile("VEXORIN.EXE", "old");
  dir.WriteFile("sub/Vexorin.exe", "nested");
  dir.MakeFolder("vexorin.exe.d");
  ScanOutput out = Scan(dir);
  EXPECT_EQ(out.files, std::vector<std::string>{"sub\\Vexorin.exe"});
  EXPECT_EQ(out.folders.size(), 2u);

  TempDir folderNamed;
  folderNamed.MakeFolder("Vexorin.exe");
  EXPECT_EQ(Scan(folderNamed).folders, std::vector<std::string>{"Vexorin.exe\\"})
      << "a folder of the checker's name is listed";

  TempDir onlyChecker;
  onlyChecker.WriteFile("vexorin.exe", "old");
  ScanOutput none = Scan(onlyChecker);
  EXPECT_TRUE(none.files.empty() && none.folders.empty());
}

TEST(ScanFolder, HiddenFilesAreListedAndPathsAreRelative) {
  TempDir dir;
  dir.WriteFile(".hidden", "h");
  dir.WriteFile("a/b/c.txt", "c");
  ScanOutput out = Scan(dir);
  EXPECT_NE(std::find(out.files.begin(), out.files.end(), ".hidden"), out.files.end());
  EXPECT_NE(std::find(out.files.begin(), out.files.end(), "a\\b\\c.txt"), out.files.end());
  for (const auto& f : out.files) EXPECT_NE(f[0], '\\');
  for (const auto& f : out.folders) EXPECT_EQ(f.back(), '\\');
}

TEST(ScanFolder, JapaneseNamesAreStoredAsCodePage932Bytes) {
  TempDir dir;
  dir.WriteFile("表.txt", "x");
  dir.WriteFile("ソフト/データ.bin", "y");
  ScanOutput out = Scan(dir);
  ASSERT_TRUE(out.ok);
  EXPECT_NE(std::find(out.files.begin(), out.files.end(), "\x95\x5c.txt"), out.files.end());
  EXPECT_NE(std::find(out.files.begin(), out.files.end(), Cp932("ソフト\\データ.bin")),
            out.files.end());
  EXPECT_EQ(out.folders, std::vector<std::string>{"\x83\x5c\x83t\x83g\\"});
}

TEST(ScanFolder, ALinkBackToAnAncestorIsListedButNotWalkedAgain) {
  TempDir dir;
  dir.WriteFile("sub/a.txt", "a");
  ASSERT_EQ(symlink("..", (dir.path() + "/sub/up").c_str()), 0);
  ASSERT_EQ(symlink(".", (dir.path() + "/self").c_str()), 0);
  ScanOutput out = Scan(dir);
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(out.files, std::vector<std::string>{"sub\\a.txt"});
  std::vector<std::string> folders = out.folders;
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders, (std::vector<std::string>{"self\\", "sub\\", "sub\\up\\"}));
}

TEST(ScanFolder, ALinkOutsideTheTreeIsWalked) {
  TempDir outside, dir;
  outside.WriteFile("o.txt", "o");
  ASSERT_EQ(symlink(outside.path().c_str(), (dir.path() + "/ext").c_str()), 0);
  ScanOutput out = Scan(dir);
  EXPECT_EQ(out.files, std::vector<std::string>{"ext\\o.txt"});
}

TEST(ScanFolder, PathsBeyondTheLimitStopTheScanNamingTheEntry) {
  // A full path of kPathCapacity - 1 bytes fits the buffers with its terminator; one more does
  // not. Folders of 200 bytes make up the length, as no single name holds more than 255.
  TempDir fits;
  std::string folders;
  while (fits.CorePath().size() + folders.size() + 201 < kPathCapacity - 1)
    folders += std::string(200, 'd') + "/";
  size_t room = kPathCapacity - 1 - fits.CorePath().size() - folders.size();
  ASSERT_LE(room, 255u);
  fits.WriteFile(folders + std::string(room, 'f'), "x");
  EXPECT_TRUE(Scan(fits).ok);

  TempDir over;
  over.WriteFile(folders + std::string(room + 1, 'f'), "x");
  ScanOutput tooLong = Scan(over);
  EXPECT_FALSE(tooLong.ok);
  EXPECT_EQ(tooLong.problem.kind, ScanProblem::kPathTooLong);
  std::string stored = folders + std::string(room + 1, 'f');
  for (char& c : stored) c = c == '/' ? '\\' : c;
  EXPECT_EQ(tooLong.problem.entry, stored);

  TempDir deep;
  std::string rel;
  while (deep.CorePath().size() + rel.size() < kPathCapacity + 40) rel += "abcdefghij/";
  deep.WriteFile(rel + "f.txt", "x");
  ScanOutput deepOut = Scan(deep);
  EXPECT_FALSE(deepOut.ok);
  EXPECT_EQ(deepOut.problem.kind, ScanProblem::kPathTooLong);
  EXPECT_EQ(deepOut.problem.entry.substr(0, 11), "abcdefghij\\");
}

TEST(ScanFolder, NamesOutsideCodePage932AreListedEnclosedAndNamesOutsideUtf8StopTheScan) {
  TempDir dir;
  dir.WriteFile("sub/한/x.txt", "x");
  ScanOutput listed = Scan(dir);
  ASSERT_TRUE(listed.ok);
  const std::string enclosed = std::string(1, kForeignNameBegin) + "한" + kForeignNameEnd;
  EXPECT_EQ(listed.folders, (std::vector<std::string>{"sub\\" + enclosed + "\\", "sub\\"}));
  EXPECT_EQ(listed.files, (std::vector<std::string>{"sub\\" + enclosed + "\\x.txt"}));

  // Such a path is stored whole in UTF-8, three bytes for a character that takes two in code
  // page 932: it must fit the limit in that form, which this one does only in code page 932.
  TempDir deep;
  std::string folders = "한";
  for (int i = 0; i < 5; ++i) {
    folders += "/";
    for (int k = 0; k < 80; ++k) folders += "表";
  }
  deep.WriteFile(folders + "/x.txt", "x");
  ASSERT_LT(deep.CorePath().size() + 6 + 5 * 161 + 5, kPathCapacity);
  EXPECT_EQ(Scan(deep).problem.kind, ScanProblem::kPathTooLong);

  dir.WriteFile("sub/\xFF.txt", "x");
  ScanOutput out = Scan(dir);
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.problem.kind, ScanProblem::kNameNotRepresentable);
  EXPECT_EQ(out.problem.entry.substr(0, 4), "sub\\");

  TempDir backslash;
  backslash.WriteFile("a\\b.txt", "x");
  EXPECT_EQ(Scan(backslash).problem.kind, ScanProblem::kNameNotRepresentable)
      << "a backslash in a name would read as a folder in the stored path";
}

TEST(ScanFolder, UnreadableRootListsNothing) {
  PosixMakerPlatform platform;
  std::vector<std::string> folders, files;
  ScanProblem problem;
  EXPECT_TRUE(ScanFolder(platform, "/nonexistent-vx\\", &folders, &files, nullptr, 17, &problem));
  EXPECT_TRUE(folders.empty() && files.empty());
}

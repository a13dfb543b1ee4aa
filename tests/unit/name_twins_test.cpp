// The forms unpackers give code-page-932 names, and the search that offers a name on disk for
// a missing entry only where such a form really gives it, and never one another entry has.
#include "name_twins.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "name_forms.h"
#include "platform.h"

namespace {

// Code-page-932 bytes of the names below.
const char kAiu[] = "\xB1\xB2\xB3.txt";  // ｱｲｳ.txt, half-width katakana
const char kIau[] = "\xB2\xB1\xB3.txt";  // ｲｱｳ.txt: unzip writes it as ｱｲｳ.txt is written
const char kKanji[] = "\x8A\xBF\x8E\x9A.txt";  // 漢字.txt, trail bytes 0xBF and 0x9A
const char kA[] = "\xB1";                      // ｱ

// Folders as the system lists them: Platform path (ending in "/") to names.
class Disk : public FolderNames {
 public:
  std::map<std::string, std::vector<std::string>> folders;
  bool List(const std::string& folder, std::vector<std::string>* names) override {
    auto it = folders.find(folder);
    if (it == folders.end()) return false;
    *names = it->second;
    return true;
  }
  std::string Join(const std::string& folder, const std::string& name, bool isFolder) override {
    return folder + name + (isFolder ? "/" : "");
  }
};

// A search over `disk` with every entry of `listed` told to it.
struct Search {
  NameTwinSearch search;
  Search(Disk& disk, const std::vector<std::string>& listed) : search(disk, "/b/") {
    for (const std::string& path : listed) search.AddListed(path.c_str());
  }
  NameSearchResult Find(const std::string& path, NameFinding* finding = nullptr) {
    NameFinding ignored;
    return search.Find(path.c_str(), finding != nullptr ? finding : &ignored);
  }
};

std::string Utf8Listed(const std::string& path) {
  return kForeignNameBegin + path + kForeignNameEnd;
}

}  // namespace

TEST(NameForms, UnzipWritesAFixedByteForWhatLatin1LacksNotAnyByte) {
  // What Debian's unzip writes for a zip made on Windows (tests/cli compares the whole table
  // with the installed unzip): ｱ, ｲ and ｳ all become 0xA6; 漢字 becomes è+ÄÜ in Latin-1.
  EXPECT_EQ(UnzipFatName(kAiu), "\xA6\xA6\xA6.txt");
  EXPECT_EQ(UnzipFatName(kIau), "\xA6\xA6\xA6.txt");
  EXPECT_EQ(UnzipFatName(kKanji), "\xE8+\xC4\xDC.txt");
  // 0x98 is dropped: 弌 (0x98 0x9F) leaves one byte.
  EXPECT_EQ(UnzipFatName("\x98\x9F.txt"), "\x83.txt");
  // Read as code page 437 in UTF-8 (Python's zipfile) nothing is lost: ▒▓│.txt.
  EXPECT_EQ(ReadAsCodePage(kAiu, kCodePage437), "\xE2\x96\x92\xE2\x96\x93\xE2\x94\x82.txt");
}

TEST(NameSearch, TheIssuesFolderOffersNoOtherEntrysFile) {
  // Built with ｱｲｳ.txt, abc.txt, x/r.txt and ｱ/s.txt; then ｱｲｳ.txt and ｱ/ deleted. A
  // wildcard for what Latin-1 lacks took abc.txt for ｱｲｳ.txt and x/ for ｱ/.
  Disk disk;
  disk.folders["/b/"] = {"abc.txt", "x"};
  disk.folders["/b/x/"] = {"r.txt"};
  Search s(disk, {"x\\", std::string(kA) + "\\", kAiu, "abc.txt", "x\\r.txt",
                  std::string(kA) + "\\s.txt"});
  EXPECT_EQ(s.Find(std::string(kA) + "\\"), kNameNotFound);
  EXPECT_EQ(s.Find(kAiu), kNameNotFound);
  EXPECT_EQ(s.Find(std::string(kA) + "\\s.txt"), kNameNotFound);

  // Unpacked by unzip instead: found under the names its table gives, the folder looked into.
  disk.folders["/b/"] = {"\xA6\xA6\xA6.txt", "abc.txt", "x", "\xA6"};
  disk.folders["/b/\xA6/"] = {"s.txt"};
  Search unzipped(disk, {"x\\", std::string(kA) + "\\", kAiu, "abc.txt", "x\\r.txt",
                         std::string(kA) + "\\s.txt"});
  NameFinding folder, file, inside;
  EXPECT_EQ(unzipped.Find(std::string(kA) + "\\", &folder), kNameFound);
  EXPECT_EQ(unzipped.Find(kAiu, &file), kNameFound);
  EXPECT_EQ(unzipped.Find(std::string(kA) + "\\s.txt", &inside), kNameFound);
  EXPECT_EQ(folder.diskName, "\xA6/");
  EXPECT_EQ(file.diskName, "\xA6\xA6\xA6.txt");
  EXPECT_EQ(file.form, kFormCp437Latin1);
  EXPECT_EQ(inside.path, "/b/\xA6/s.txt");
  EXPECT_EQ(inside.form, kFormCp437Latin1);
}

TEST(NameSearch, KanjiAndKatakanaMatchOnlyTheirOwnStandIns) {
  Disk disk;
  // One byte other than unzip's stand-in: another name, not 漢字.txt.
  disk.folders["/b/"] = {"\xE8-\xC4\xDC.txt", "\xA6\xA6\xA7.txt", "\xE8+\xC4\xDC.tx", "x"};
  disk.folders["/b/x/"] = {"\xF2\\"};  // 表 (0x95 0x5C) as unzip writes it
  Search s(disk, {kKanji, kAiu, "x\\", "x\\\x95\\"});
  EXPECT_EQ(s.Find(kKanji), kNameNotFound);
  EXPECT_EQ(s.Find(kAiu), kNameNotFound);
  // A file named 表 alone: its second byte is no separator, so it is a file, found as one.
  NameFinding hyo;
  ASSERT_EQ(s.Find("x\\\x95\\", &hyo), kNameFound);
  EXPECT_EQ(hyo.path, "/b/x/\xF2\\");
}

TEST(NameSearch, ANameSeveralEntriesCouldHaveIsAmbiguousForEach) {
  // unzip writes ｱｲｳ.txt and ｲｱｳ.txt under one name: which of them is there cannot be told.
  Disk disk;
  disk.folders["/b/"] = {"\xA6\xA6\xA6.txt"};
  Search s(disk, {kAiu, kIau});
  NameFinding first, second;
  ASSERT_EQ(s.Find(kAiu, &first), kNameAmbiguous);
  EXPECT_EQ(first.form, kFormCp437Latin1);
  EXPECT_EQ(first.candidates, std::vector<std::string>{"\xA6\xA6\xA6.txt"});
  EXPECT_EQ(first.rivals, std::vector<std::string>{"\xEF\xBD\xB2\xEF\xBD\xB1\xEF\xBD\xB3.txt"});
  ASSERT_EQ(s.Find(kIau, &second), kNameAmbiguous);
  EXPECT_EQ(second.rivals, std::vector<std::string>{"\xEF\xBD\xB1\xEF\xBD\xB2\xEF\xBD\xB3.txt"});

  // With the other one there under its own name, the garbled name is this one's alone.
  disk.folders["/b/"] = {"\xA6\xA6\xA6.txt", "\xEF\xBD\xB2\xEF\xBD\xB1\xEF\xBD\xB3.txt"};
  Search one(disk, {kAiu, kIau});
  EXPECT_EQ(one.Find(kAiu), kNameFound);
}

TEST(NameSearch, SeveralNamesOfOneFormAreAmbiguousAndAListedNameIsNeverOffered) {
  Disk disk;
  disk.folders["/b/"] = {"README.TXT", "Readme.txt", "ABC.txt"};
  Search s(disk, {"readme.txt", "abc.txt", "ABC.txt"});
  NameFinding finding;
  ASSERT_EQ(s.Find("readme.txt", &finding), kNameAmbiguous);
  EXPECT_EQ(finding.form, kFormLetterCase);
  EXPECT_EQ(finding.candidates, (std::vector<std::string>{"README.TXT", "Readme.txt"}));
  EXPECT_TRUE(finding.rivals.empty());
  // ABC.txt is listed itself: it is not abc.txt in another case.
  EXPECT_EQ(s.Find("abc.txt"), kNameNotFound);
}

TEST(NameSearch, AFolderFoundAmbiguouslyIsNotLookedInto) {
  Disk disk;
  disk.folders["/b/"] = {"DATA", "Data"};
  disk.folders["/b/DATA/"] = {"a.txt"};
  disk.folders["/b/Data/"] = {"a.txt"};
  Search s(disk, {"data\\", "data\\a.txt"});
  EXPECT_EQ(s.Find("data\\a.txt"), kNameNotFound);
  EXPECT_EQ(s.Find("data\\"), kNameAmbiguous);
}

TEST(NameSearch, NamesStoredInUtf8AreFoundDecomposedAndInAnotherCase) {
  // café.txt and Ωmega\ stored in UTF-8; on disk decomposed (as macOS writes them) and in
  // capitals (as Windows does not tell apart).
  Disk disk;
  disk.folders["/b/"] = {"cafe\xCC\x81.txt", "\xCE\xA9MEGA"};
  disk.folders["/b/\xCE\xA9MEGA/"] = {"x.txt"};
  Search s(disk, {Utf8Listed("caf\xC3\xA9.txt"), Utf8Listed("\xCE\xA9mega\\"),
                  Utf8Listed("\xCE\xA9mega\\x.txt")});
  NameFinding cafe, omega, inside;
  ASSERT_EQ(s.Find(Utf8Listed("caf\xC3\xA9.txt"), &cafe), kNameFound);
  EXPECT_EQ(cafe.form, kFormDecomposed);
  EXPECT_EQ(cafe.path, "/b/cafe\xCC\x81.txt");
  ASSERT_EQ(s.Find(Utf8Listed("\xCE\xA9mega\\x.txt"), &inside), kNameFound);
  EXPECT_EQ(inside.form, kFormLetterCase);
  EXPECT_EQ(inside.diskName, "\xCE\xA9MEGA/x.txt");
  ASSERT_EQ(s.Find(Utf8Listed("\xCE\xA9mega\\"), &omega), kNameFound);
  EXPECT_EQ(omega.diskName, "\xCE\xA9MEGA/");
}

TEST(NameForms, BytesThatAreNotUtf8PassUnchangedAndNeverPassForALetter) {
  // A stray continuation byte, a cut sequence, overlong forms (of "/" and of é), a surrogate,
  // a value past U+10FFFF: names on disk may hold any bytes. The letter before each is still
  // folded, so the decoding goes on after the bad bytes.
  for (const std::string bad : {"\x80", "\xE3\x81", "\xC0\xAF", "\xE0\x80\xAF", "\xE0\x83\xA9",
                                "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF"}) {
    EXPECT_EQ(CaseFolded("\xEF\xBC\xA1" + bad + "B"), "\xEF\xBD\x81" + bad + "b") << bad;
    EXPECT_EQ(Decomposed(bad + "\xC3\xA9"), bad + "e\xCC\x81") << bad;
    EXPECT_EQ(TwinsFolded(bad + "\xE3\x80\x9C"), bad + "\xEF\xBD\x9E") << bad;
  }
  // So an overlong é on disk is not café.txt under another form.
  Disk disk;
  disk.folders["/b/"] = {"caf\xE0\x83\xA9.txt", "CAF\xE0\x83\xA9.TXT"};
  Search s(disk, {Utf8Listed("caf\xC3\xA9.txt")});
  EXPECT_EQ(s.Find(Utf8Listed("caf\xC3\xA9.txt")), kNameNotFound);
}

// The checker file's trailer, the check data block, and the reader's splitting rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "checkfile.h"
#include "checkfile_writer.h"
#include "platform_posix.h"
#include "test_support.h"

namespace {

std::string Block(const std::vector<std::string>& records, uint64_t total) {
  std::string block;
  EXPECT_TRUE(BuildCheckBlock(records, total, &block));
  return block;
}

// Splits a block (check data without trailer) as the checker does.
struct Split {
  std::string bytes;
  CheckData data;
  bool ok;
  explicit Split(std::string b) : bytes(std::move(b)) {
    bytes.push_back('\0');
    data.block = &bytes[0];
    data.size = static_cast<uint32_t>(bytes.size() - 1);
    ok = SplitCheckData(&data);
  }
  ~Split() {
    delete[] data.folders;
    delete[] data.utf8Block;
  }
};

const std::string kDigest = "0123456789abcdef0123456789abcdef";

}  // namespace

TEST(Trailer, RoundTripsSizeAndA64BitTotal) {
  unsigned char t[16];
  EncodeTrailer(t, 318, 0x123456789ull);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(t), 4), "VXR!");
  EXPECT_EQ(t[4], 318 & 0xFF);
  EXPECT_EQ(t[5], 318 >> 8);
  EXPECT_EQ(t[12], 0x01) << "the upper half of the total is filled";
  uint32_t size;
  uint64_t total;
  ASSERT_TRUE(DecodeTrailer(t, &size, &total));
  EXPECT_EQ(size, 318u);
  EXPECT_EQ(total, 0x123456789ull);
  t[3] = '?';
  EXPECT_FALSE(DecodeTrailer(t, &size, &total));
}

TEST(CheckBlock, RecordsAreNulTerminatedAndTheTrailerCountsThem) {
  std::string b = Block({"sub\\", "|", kDigest + " a.txt", "|", "x", "", "z"}, 7);
  std::string expected = std::string("sub\\\0|\0", 7) + kDigest + std::string(" a.txt\0|\0x\0\0z\0", 14);
  ASSERT_EQ(b.size(), expected.size() + 16);
  EXPECT_EQ(b.substr(0, expected.size()), expected);
  uint32_t size;
  uint64_t total;
  ASSERT_TRUE(DecodeTrailer(reinterpret_cast<const unsigned char*>(b.data() + expected.size()), &size, &total));
  EXPECT_EQ(size, expected.size());
  EXPECT_EQ(total, 7u);
}

TEST(SplitCheckData, SectionsFollowTheSeparators) {
  Split s(std::string("a\\\0b\\c\\\0|\0", 10) + kDigest + " f.txt" + std::string("\0|\0m1\0m2\0m3\0", 12));
  ASSERT_TRUE(s.ok);
  ASSERT_EQ(s.data.folderCount, 2u);
  EXPECT_STREQ(s.data.folders[1], "b\\c\\");
  ASSERT_EQ(s.data.fileCount, 1u);
  EXPECT_STREQ(RecordPath(s.data.fileRecords[0]), "f.txt");
  EXPECT_EQ(std::string(RecordDigest(s.data.fileRecords[0]), 32), kDigest);
  EXPECT_STREQ(s.data.messages[0], "m1");
  EXPECT_STREQ(s.data.messages[2], "m3");
}

TEST(SplitCheckData, EmptyFolderSectionAndAnyByteBeforeThePath) {
  Split s(std::string("|\0", 2) + kDigest + "#f.txt" + std::string("\0|\0\0\0\0", 7));
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.data.folderCount, 0u);
  EXPECT_STREQ(RecordPath(s.data.fileRecords[0]), "f.txt") << "byte 32 is skipped whatever it holds";
}

TEST(SplitCheckData, AThirdSeparatorEndsTheData) {
  Split s(std::string("|\0|\0m1\0|\0ignored\0more\0", 22));
  ASSERT_TRUE(s.ok);
  EXPECT_STREQ(s.data.messages[0], "m1");
  EXPECT_STREQ(s.data.messages[1], "") << "missing messages are empty";
  EXPECT_STREQ(s.data.messages[2], "");
}

TEST(SplitCheckData, VerticalBarInsideALongerStringIsText) {
  Split s(std::string("a|b\\\0|\0|\0||\0", 13));
  ASSERT_TRUE(s.ok);
  EXPECT_STREQ(s.data.folders[0], "a|b\\");
  EXPECT_STREQ(s.data.messages[0], "||");
}

TEST(SplitCheckData, RejectsDataThatCannotBeTrusted) {
  EXPECT_FALSE(Split(std::string("a\\\0|\0", 5)).ok) << "no second separator: the file list may be cut";
  EXPECT_FALSE(Split("").ok);
  EXPECT_FALSE(Split(std::string("|\0", 2) + kDigest + std::string("\0|\0", 3)).ok)
      << "a file record without a path";
  EXPECT_FALSE(Split(std::string("|\0short\0|\0", 10)).ok);
  // The last string without its NUL still ends at the block's end.
  Split unterminated(std::string("|\0|\0m1\0m2\0m3", 12));
  ASSERT_TRUE(unterminated.ok);
  EXPECT_STREQ(unterminated.data.messages[2], "m3");
}

TEST(SplitCheckData, TheUtf8ExtensionFollowsTheOthersOfItsKindEnclosed) {
  auto data = [](const std::vector<std::string>& extension) {
    std::vector<std::string> r = {"a\\", "|", kDigest + " a.txt", "|", "m1", "m2", "m3"};
    r.insert(r.end(), extension.begin(), extension.end());
    return Block(r, 0).substr(0, Block(r, 0).size() - kTrailerSize);
  };
  const std::string begin(1, kForeignNameBegin), end(1, kForeignNameEnd);
  Split s(data({"|", "utf8", "caf\xC3\xA9\\", "\xED\x95\x9C\\x\\", "|",
                kDigest + " \xF0\x9F\x98\x80.txt", "|", "later", "extension"}));
  ASSERT_TRUE(s.ok);
  ASSERT_EQ(s.data.folderCount, 3u);
  EXPECT_STREQ(s.data.folders[0], "a\\");
  EXPECT_EQ(s.data.folders[1], begin + "caf\xC3\xA9\\" + end);
  EXPECT_EQ(s.data.folders[2], begin + "\xED\x95\x9C\\x\\" + end);
  ASSERT_EQ(s.data.fileCount, 2u);
  EXPECT_STREQ(RecordPath(s.data.fileRecords[0]), "a.txt");
  EXPECT_EQ(RecordPath(s.data.fileRecords[1]), begin + "\xF0\x9F\x98\x80.txt" + end);
  EXPECT_EQ(std::string(RecordDigest(s.data.fileRecords[1]), 32), kDigest);
  EXPECT_STREQ(s.data.messages[2], "m3") << "the messages end at the third separator";

  Split unknown(data({"|", "utf16", "x\\"}));
  ASSERT_TRUE(unknown.ok) << "an extension of another name is skipped with all after it";
  EXPECT_EQ(unknown.data.folderCount, 1u);
  EXPECT_TRUE(Split(data({"|"})).ok) << "a third separator alone";
  EXPECT_TRUE(Split(data({"|", "utf8", "|", "|"})).ok) << "an empty extension";

  // Untrusted input: a malformed extension makes the whole data unusable, as a short record does.
  EXPECT_FALSE(Split(data({"|", "utf8", "x\\", "|", kDigest + " f"})).ok) << "no closing separator";
  EXPECT_FALSE(Split(data({"|", "utf8", "x\\"})).ok) << "no separator at all";
  EXPECT_FALSE(Split(data({"|", "utf8"})).ok);
  EXPECT_FALSE(Split(data({"|", "utf8", "|", kDigest, "|"})).ok) << "a file record without a path";
  for (const char* bad : {"\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\xFF", "\x80", "a\x03", "\x04", "\x01", "\x7F", "\xC2\x85"}) {
    EXPECT_FALSE(Split(data({"|", "utf8", std::string("d") + bad + "\\", "|", "|"})).ok) << bad;
    EXPECT_FALSE(Split(data({"|", "utf8", "|", kDigest + " f" + bad, "|"})).ok) << bad;
  }
}

TEST(ReadCheckData, FindsTheDataFromTheEndWhateverTheImage) {
  TempDir dir;
  PosixPlatform platform;
  std::string block = Block({"d\\", "|", kDigest + " d\\x", "|", "a", "b", "c"}, 99);
  for (std::string image : {std::string(), std::string("MZ"), std::string(70000, 'I')}) {
    dir.WriteFile("c.exe", image + block);
    CheckData data;
    ASSERT_TRUE(ReadCheckData(platform, (dir.CorePath() + "c.exe").c_str(), &data));
    EXPECT_EQ(data.byteTotal, 99);
    EXPECT_EQ(data.folderCount, 1u);
    EXPECT_STREQ(RecordPath(data.fileRecords[0]), "d\\x");
    EXPECT_STREQ(data.messages[1], "b");
    ReleaseCheckData(&data);
  }
}

TEST(ReadCheckData, RejectsFilesWithoutValidTrailerOrLength) {
  TempDir dir;
  PosixPlatform platform;
  std::string good = Block({"|", "|", "a", "b", "c"}, 0);
  std::string lying = good;
  lying[lying.size() - 12] = 0x7F;  // data size far beyond the file
  std::string fullLength = "IMAGE" + good;
  std::vector<std::string> bad = {"", "VXR!", std::string("short"), good + "appended", lying,
                                  std::string(good.size(), 'x')};
  for (size_t i = 0; i < bad.size(); ++i) {
    dir.WriteFile("c.exe", bad[i]);
    CheckData data;
    EXPECT_FALSE(ReadCheckData(platform, (dir.CorePath() + "c.exe").c_str(), &data)) << i;
    EXPECT_EQ(data.block, nullptr);
  }
  // A data size equal to all bytes before the trailer is still inside the file.
  dir.WriteFile("c.exe", good);
  CheckData data;
  EXPECT_TRUE(ReadCheckData(platform, (dir.CorePath() + "c.exe").c_str(), &data));
  ReleaseCheckData(&data);
  EXPECT_FALSE(ReadCheckData(platform, (dir.CorePath() + "missing.exe").c_str(), &data));
}

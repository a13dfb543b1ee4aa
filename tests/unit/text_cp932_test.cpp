// Double-byte-aware path helpers and the bounded formatter.
#include <gtest/gtest.h>

#include <string>

#include "cp932.h"
#include "test_support.h"
#include "text.h"
#include "texts.h"

TEST(AppendPathSeparator, AddsABackslashOnlyWhenNeeded) {
  char a[260] = "C:\\data";
  EXPECT_TRUE(AppendPathSeparator(a, sizeof a));
  EXPECT_STREQ(a, "C:\\data\\");
  char b[260] = "C:\\data\\";
  AppendPathSeparator(b, sizeof b);
  EXPECT_STREQ(b, "C:\\data\\");
  char c[260] = "C:/data/";
  AppendPathSeparator(c, sizeof c);
  EXPECT_STREQ(c, "C:/data/");
}

TEST(AppendPathSeparator, SecondByteBackslashIsNotASeparator) {
  // 表 is 0x95 0x5C and ソ 0x83 0x5C.
  char a[260] = "C:\\\x95\x5c";
  AppendPathSeparator(a, sizeof a);
  EXPECT_STREQ(a, "C:\\\x95\x5c\\");
  char b[260] = "\x83\x5c";
  AppendPathSeparator(b, sizeof b);
  EXPECT_STREQ(b, "\x83\x5c\\");
}

TEST(AppendPathSeparator, RefusesWhenTheBufferIsFull) {
  char a[4] = "abc";
  EXPECT_FALSE(AppendPathSeparator(a, sizeof a));
  EXPECT_STREQ(a, "abc");
}

TEST(FolderPrefixLength, CutsAfterTheLastRealSeparator) {
  EXPECT_EQ(FolderPrefixLength("D:\\dl\\pack\\Vexorin.exe"), 11u);
  EXPECT_EQ(FolderPrefixLength("D:\\\x95\x5c\\a.exe"), 6u);
  EXPECT_EQ(FolderPrefixLength("D:\\x\x95\x5c"
                               "a.exe"),
            3u)
      << "0x5C after a lead byte is no separator";
  EXPECT_EQ(FolderPrefixLength("\\a.exe"), 0u)
      << "a separator at the first byte only keeps the path";
  EXPECT_EQ(FolderPrefixLength("a.exe"), 0u);
}

TEST(Cp932EqualNoCase, IgnoresCaseOfSingleByteLettersOnly) {
  EXPECT_TRUE(Cp932EqualNoCase("Vexorin.exe", "VEXORIN.EXE"));
  EXPECT_FALSE(Cp932EqualNoCase("Vexorin.exe", "Vexorin.ex"));
  // ヂ (0x83 0x61) and ア (0x83 0x41) differ only in a second byte that looks like a/A.
  EXPECT_FALSE(Cp932EqualNoCase("\x83\x61.exe", "\x83\x41.exe"));
  EXPECT_TRUE(Cp932EqualNoCase("\x83\x61.EXE", "\x83\x61.exe"));
}

TEST(CheckFileName, RejectsTheNineCharactersButNotSecondBytes) {
  for (const char* bad : {"a\\b", "a/b", "a:b", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b"}) {
    EXPECT_FALSE(CheckFileName(bad)) << bad;
  }
  EXPECT_TRUE(CheckFileName("\x95\x5c.exe"));                  // 表
  EXPECT_TRUE(CheckFileName("\x83\x5c\x83\x74\x83\x67.exe"));  // ソフト
  EXPECT_TRUE(CheckFileName(""));
  EXPECT_TRUE(CheckFileName("  "));
  EXPECT_TRUE(CheckFileName("CON"));
  EXPECT_TRUE(CheckFileName("\x01\x7f"));
  // A backslash right after a whole double-byte character is a real one.
  EXPECT_FALSE(CheckFileName("\x95\x5c\\"));
}

TEST(FormatText, FillsTheProgramsConversions) {
  char out[128];
  EXPECT_TRUE(
      FormatText(out, sizeof out, "%I64d KByte processed. (%d/%d)", int64_t{5000000000}, 1, 3));
  EXPECT_STREQ(out, "5000000000 KByte processed. (1/3)");
  FormatText(out, sizeof out, "%I64d%%", int64_t{-9223372036854775807 - 1});
  EXPECT_STREQ(out, "-9223372036854775808%");
  FormatText(out, sizeof out, "[%s][%u]", "x", 4000000000u);
  EXPECT_STREQ(out, "[x][4000000000]");
  FormatText(out, sizeof out, "trailing %");
  EXPECT_STREQ(out, "trailing ");
}

TEST(FormatText, CutsAtACharacterBoundary) {
  char out[6];
  // "ab" then 表表: the second 表 would need bytes 4 and 5, leaving no room for the NUL.
  EXPECT_FALSE(FormatText(out, sizeof out, "ab%s", "\x95\x5c\x95\x5c"));
  EXPECT_STREQ(out, "ab\x95\x5c");
  char tiny[1];
  EXPECT_FALSE(TextCopy(tiny, sizeof tiny, "x"));
  EXPECT_STREQ(tiny, "");
}

TEST(Texts, DefaultMessageLinesHaveTheirByteLengths) {
  EXPECT_EQ(TextLength(kTextDefaultLine1), 35u);
  EXPECT_EQ(TextLength(kTextDefaultLine2), 53u);
  EXPECT_EQ(std::string(kTextFileMissing), Cp932("ファイル %s が見つかりません.\n"));
  EXPECT_EQ(std::string(kTextCheckedBytes).substr(27), "\x81\x93)") << "full-width per cent sign";
}

TEST(Texts, GeneratedHeaderIsUpToDate) {
  std::string fresh = "/tmp/vx_texts_check.h";
  std::string cmd = std::string("python3 ") + VX_SOURCE_DIR + "/tools/gen_texts.py " + fresh;
  ASSERT_EQ(system(cmd.c_str()), 0);
  std::string diff = std::string("cmp -s ") + fresh + " " + VX_SOURCE_DIR + "/common/checkdata/texts.h";
  EXPECT_EQ(system(diff.c_str()), 0) << "run tools/gen_texts.py";
}

// MD5 against RFC 1321's vectors, and the chunked file digest against md5sum.
#include <gtest/gtest.h>

#include <string>

#include "digest.h"
#include "md5.h"
#include "platform_posix.h"
#include "test_support.h"

namespace {

std::string Hex(const std::string& data, size_t piece) {
  Md5Context ctx;
  Md5Init(&ctx);
  for (size_t i = 0; i < data.size(); i += piece) {
    Md5Update(&ctx, data.data() + i, std::min(piece, data.size() - i));
  }
  unsigned char d[16];
  Md5Final(&ctx, d);
  char text[33];
  DigestToHex(d, text);
  return text;
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

// Runs DigestFileStep over a file to its end; returns the digest text and the step count.
struct DigestRun {
  std::string hex;
  int steps = 0;
  uint64_t bytes = 0;
};

DigestRun DigestWhole(PosixPlatform& platform, const std::string& corePath, uint32_t chunkSize) {
  DigestState state;
  std::vector<unsigned char> chunk(chunkSize);
  unsigned char d[16];
  DigestRun run;
  for (;;) {
    uint32_t got = 0;
    StepResult r = DigestFileStep(platform, &state, corePath.c_str(), chunk.data(), chunkSize, d, &got);
    ++run.steps;
    EXPECT_NE(r, kStepOpenFailed);
    if (r == kStepOpenFailed) return run;
    run.bytes += got;
    if (r == kStepDone) break;
  }
  EXPECT_EQ(state.file, nullptr);
  char text[33];
  DigestToHex(d, text);
  run.hex = text;
  return run;
}

}  // namespace

TEST(Md5, Rfc1321TestSuite) {
  EXPECT_EQ(Hex("", 1), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Hex("a", 1), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Hex("abc", 1), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Hex("message digest", 5), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Hex("abcdefghijklmnopqrstuvwxyz", 7), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", 64),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890", 3),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, SameDigestForEveryWayOfCuttingTheInput) {
  // Lengths around the 56- and 64-byte padding boundaries and several blocks long.
  for (size_t n : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 1000u, 4096u}) {
    std::string data = Pattern(n);
    std::string whole = Hex(data, n == 0 ? 1 : n);
    for (size_t piece : {1u, 3u, 63u, 64u, 65u, 127u}) {
      EXPECT_EQ(Hex(data, piece), whole) << "length " << n << " piece " << piece;
    }
  }
}

TEST(DigestFileStep, MatchesMd5sumAroundTheChunkSize) {
  TempDir dir;
  PosixPlatform platform;
  for (size_t n : {0u, 262143u, 262144u, 262145u, 1048576u + 7u}) {
    std::string name = "f" + std::to_string(n);
    dir.WriteFile(name, Pattern(n));
    std::string expected = SystemMd5(dir.path() + "/" + name);
    DigestRun maker = DigestWhole(platform, dir.CorePath() + name, kMakerChunkSize);
    DigestRun checker = DigestWhole(platform, dir.CorePath() + name, kCheckerChunkSize);
    EXPECT_EQ(maker.hex, expected) << n;
    EXPECT_EQ(checker.hex, expected) << n;
    EXPECT_EQ(maker.bytes, n);
    EXPECT_EQ(maker.steps, static_cast<int>(n / kMakerChunkSize + 1)) << n;
    EXPECT_EQ(checker.steps, static_cast<int>(n / kCheckerChunkSize + 1)) << n;
  }
}

TEST(DigestFileStep, EmptyFileTakesOneStepAndExactChunkTakesTwo) {
  TempDir dir;
  PosixPlatform platform;
  dir.WriteFile("empty", "");
  dir.WriteFile("chunk", Pattern(kMakerChunkSize));
  DigestRun empty = DigestWhole(platform, dir.CorePath() + "empty", kMakerChunkSize);
  EXPECT_EQ(empty.steps, 1);
  EXPECT_EQ(empty.hex, "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(DigestWhole(platform, dir.CorePath() + "chunk", kMakerChunkSize).steps, 2);
  EXPECT_EQ(DigestWhole(platform, dir.CorePath() + "chunk", kCheckerChunkSize).steps, 1);
}

TEST(DigestFileStep, MissingFileReportsOpenFailureAndKeepsNoFile) {
  TempDir dir;
  PosixPlatform platform;
  DigestState state;
  std::vector<unsigned char> chunk(16);
  unsigned char d[16];
  uint32_t got = 12345;
  EXPECT_EQ(DigestFileStep(platform, &state, (dir.CorePath() + "none").c_str(), chunk.data(), 16, d, &got),
            kStepOpenFailed);
  EXPECT_EQ(got, 12345u) << "no count is reported when the open fails";
  EXPECT_EQ(state.file, nullptr);
  // A folder is not a file to read.
  dir.MakeFolder("sub");
  EXPECT_EQ(DigestFileStep(platform, &state, (dir.CorePath() + "sub").c_str(), chunk.data(), 16, d, &got),
            kStepOpenFailed);
}

TEST(DigestFileStep, NextFileStartsAFreshDigest) {
  TempDir dir;
  PosixPlatform platform;
  dir.WriteFile("a", "abc");
  dir.WriteFile("b", "");
  EXPECT_EQ(DigestWhole(platform, dir.CorePath() + "a", 2).hex, "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(DigestWhole(platform, dir.CorePath() + "b", 2).hex, "d41d8cd98f00b204e9800998ecf8427e");
}

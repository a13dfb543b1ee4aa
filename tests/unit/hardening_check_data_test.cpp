// The checker against check data that no maker writes: damaged downloads and hostile files.
// Each case here is one the fuzzer of the checker's loading found or probes; the checker must
// neither read outside its data nor mislead the user about what is wrong.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check_run.h"
#include "checkfile.h"
#include "platform_posix.h"
#include "test_support.h"

namespace {

const std::string kImage = std::string("MZ\x90\0tiny", 8);
const std::string kAbcMd5 = "900150983cd24fb0d6963f7d28e17f72";

std::string Nul(const std::string& s) { return s + std::string(1, '\0'); }

// A checker file in a fresh folder, made of the image, `data` and a trailer declaring it.
struct HostileChecker {
  TempDir dir;
  PosixPlatform platform;
  RecordingBoxes sink;
  CheckRun run{platform};

  explicit HostileChecker(const std::string& data, uint64_t byteTotal = 0) {
    unsigned char trailer[kTrailerSize];
    EncodeTrailer(trailer, static_cast<uint32_t>(data.size()), byteTotal);
    dir.WriteFile("Vexorin.exe",
                  kImage + data + std::string(reinterpret_cast<char*>(trailer), kTrailerSize));
    platform.SetExecutablePath(dir.CorePath() + "Vexorin.exe");
  }

  int RunToEnd() {
    int result;
    int steps = 0;
    do {
      char line1[kProgressTextSize], line2[kProgressTextSize];
      run.MakeProgressTexts(line1, line2);
      result = run.CheckStep(sink);
    } while (result == kCheckMore && ++steps < 100);
    return result;
  }
};

}  // namespace

// A stored path whose last byte is a lead byte of a double-byte character without its second
// byte cannot come from the maker, but a damaged file can hold one. The message must still
// name the path as stored; it used to lose the whole path, because the lead byte was taken
// to need a second byte that the message's buffer had no room for.
TEST(HostileCheckData, AFilePathEndingInALoneLeadByteIsNamedWhole) {
  const std::string path = "\x91";
  HostileChecker c(Nul("|") + Nul(kAbcMd5 + " " + path) + Nul("|") + Nul("") + Nul("m2") + Nul(""));
  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  EXPECT_EQ(c.RunToEnd(), kCheckFileMissing);
  ASSERT_EQ(c.sink.boxes.size(), 1u);
  EXPECT_EQ(c.sink.boxes[0].text, Cp932("ファイル ") + path + Cp932(" が見つかりません.\n") + "m2");
}

TEST(HostileCheckData, AFolderPathEndingInALoneLeadByteIsNamedWhole) {
  const std::string folder = "sub\\x\x91";
  HostileChecker c(Nul(folder) + Nul("|") + Nul("|") + Nul("m1") + Nul("") + Nul(""));
  EXPECT_FALSE(c.run.LoadCheckData(c.sink));
  ASSERT_EQ(c.sink.boxes.size(), 1u);
  EXPECT_EQ(c.sink.boxes[0].text,
            Cp932("フォルダ ") + c.dir.CorePath() + folder + Cp932(" が見つかりません.\n") + "m1");
}

TEST(HostileCheckData, AMessageEndingInALoneLeadByteIsShownWhole) {
  const std::string message = "broken \x81";
  HostileChecker c(Nul("|") + Nul(kAbcMd5 + " f.txt") + Nul("|") + Nul("") + Nul("") +
                   Nul(message));
  c.dir.WriteFile("f.txt", "abd");
  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  EXPECT_EQ(c.RunToEnd(), kCheckFileBroken);
  ASSERT_EQ(c.sink.boxes.size(), 1u);
  EXPECT_EQ(c.sink.boxes[0].text, Cp932("ファイル f.txt が壊れています.\n") + message);
}

// A file record that lists the checker itself, or a path that climbs out of the folder, is
// read like any other: the checker compares bytes and never writes, so nothing is at risk.
TEST(HostileCheckData, RecordsNamingTheCheckerOrClimbingOutAreOnlyCompared) {
  HostileChecker c(Nul("|") + Nul(kAbcMd5 + " Vexorin.exe") + Nul("|") + Nul("") + Nul("") +
                   Nul("m3"));
  std::string before = c.dir.Snapshot();
  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  EXPECT_EQ(c.RunToEnd(), kCheckFileBroken);
  EXPECT_EQ(c.dir.Snapshot(), before);

  HostileChecker up(Nul("..\\") + Nul("|") + Nul(kAbcMd5 + " ..\\nothing-here") + Nul("|") +
                    Nul("") + Nul("m2") + Nul(""));
  ASSERT_TRUE(up.run.LoadCheckData(up.sink)) << "the parent folder exists";
  EXPECT_EQ(up.RunToEnd(), kCheckFileMissing);
  ASSERT_EQ(up.sink.boxes.size(), 1u);
  EXPECT_EQ(up.sink.boxes[0].text, Cp932("ファイル ..\\nothing-here が見つかりません.\n") + "m2");
}

// The byte total comes from the file and may be anything; only bytes actually read count.
TEST(HostileCheckData, AByteTotalWithTheTopBitSetShowsNoPercentage) {
  HostileChecker c(Nul("|") + Nul(kAbcMd5 + " f.txt") + Nul("|") + Nul("") + Nul("") + Nul(""),
                   0x8000000000000000ull);
  c.dir.WriteFile("f.txt", "abc");
  ASSERT_TRUE(c.run.LoadCheckData(c.sink));
  EXPECT_LT(c.run.byteTotal, 0);
  char line1[kProgressTextSize], line2[kProgressTextSize];
  c.run.bytesDone = 3;
  c.run.MakeProgressTexts(line1, line2);
  EXPECT_EQ(std::string(line2), Cp932("0 KByte Checked. (0％)"));
  c.run.bytesDone = 0;
  EXPECT_EQ(c.RunToEnd(), kCheckAllIntact);
}

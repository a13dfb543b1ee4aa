// Links in the tree beyond a single link to an ancestor or outside: links that lead into each
// other, links that lead nowhere or round in a circle, and links to files. The scan must end,
// and what it cannot read must stop the build rather than be left out silently.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "builder_test_support.h"
#include "checker_builder.h"
#include "checkfile.h"
#include "maker_platform_posix.h"
#include "platform_posix.h"
#include "test_support.h"

namespace {

const std::string kImage = std::string("MZ\x90\0image", 9);

struct LinkTree {
  TempDir dir;
  PosixMakerPlatform platform;
  RecordingSink sink;
  TCheckerBuilder job{platform, sink, reinterpret_cast<const unsigned char*>(kImage.data()),
                      kImage.size()};

  void Link(const std::string& target, const std::string& at) {
    ASSERT_EQ(symlink(target.c_str(), (dir.path() + "/" + at).c_str()), 0) << at;
  }
  static std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }
};

}  // namespace

// m1/to2 leads to m2 and m2/to1 back to m1: each is walked once from where it stands, and the
// walk stops where a link would enter a folder it is already inside.
TEST(LinkedFolders, TwoFoldersLinkedIntoEachOtherAreWalkedOnceFromEachSide) {
  LinkTree t;
  t.dir.WriteFile("m1/x1.txt", "1");
  t.dir.WriteFile("m2/x2.txt", "2");
  t.Link("../m2", "m1/to2");
  t.Link("../m1", "m2/to1");
  BuildOutcome out = RunBuild(t.job, t.dir.path(), "Vexorin.exe");
  ASSERT_TRUE(out.written);
  EXPECT_EQ(LinkTree::Sorted(t.job.folders),
            (std::vector<std::string>{"m1\\", "m1\\to2\\", "m1\\to2\\to1\\", "m2\\", "m2\\to1\\",
                                      "m2\\to1\\to2\\"}));
  EXPECT_EQ(
      LinkTree::Sorted(t.job.files),
      (std::vector<std::string>{"m1\\to2\\x2.txt", "m1\\x1.txt", "m2\\to1\\x1.txt", "m2\\x2.txt"}));
}

// A link to a file is a file: its target's bytes are digested under the link's name.
TEST(LinkedFolders, ALinkToAFileIsDigestedAsItsTarget) {
  LinkTree t;
  t.dir.WriteFile("data/abc.txt", "abc");
  t.Link("data/abc.txt", "alias.txt");
  BuildOutcome out = RunBuild(t.job, t.dir.path(), "Vexorin.exe");
  ASSERT_TRUE(out.written);
  PosixPlatform reader;
  CheckData data;
  ASSERT_TRUE(ReadCheckData(reader, (t.dir.CorePath() + "Vexorin.exe").c_str(), &data));
  ASSERT_EQ(data.fileCount, 2u);
  for (uint32_t i = 0; i < data.fileCount; ++i) {
    EXPECT_EQ(std::string(RecordDigest(data.fileRecords[i]), 32),
              "900150983cd24fb0d6963f7d28e17f72")
        << RecordPath(data.fileRecords[i]);
  }
  ReleaseCheckData(&data);
}

// A link whose target is gone, and two links that lead to each other, cannot be read. They are
// listed (as a folder listing of Windows lists them) and stop the build with the open-failure
// warning that names them; the folder is left as it was.
TEST(LinkedFolders, LinksThatLeadNowhereOrInACircleStopTheBuildNamingThem) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> links;  // target, link
    std::string named;
  };
  const std::vector<Case> cases = {
      {"a link to nothing", {{"nothing-there", "dangling"}}, "dangling"},
      {"two links that lead to each other", {{"loop2", "loop1"}, {"loop1", "loop2"}}, ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    LinkTree t;
    t.dir.WriteFile("a.txt", "a");
    for (const auto& link : k.links) t.Link(link.first, link.second);
    std::string before = t.dir.Snapshot();
    BuildOutcome out = RunBuild(t.job, t.dir.path(), "Vexorin.exe");
    EXPECT_TRUE(out.started);
    EXPECT_EQ(out.lastStep, kBuildStopped);
    EXPECT_FALSE(out.written);
    ASSERT_EQ(t.sink.boxes.size(), 1u);
    const std::string& text = t.sink.boxes[0].text;
    std::string named = text.substr(0, text.find(' '));
    EXPECT_TRUE(k.named.empty() ? (named == "loop1" || named == "loop2") : named == k.named)
        << text;
    EXPECT_EQ(text, named + Cp932(" のオープンに失敗しました."));
    EXPECT_EQ(t.dir.Snapshot(), before);
  }
}

// Which .exe of a folder is its checker: the rule every front end follows.
#include "find_checker.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

TEST(FindChecker, VexorinExeInAnyCaseElseTheOneThatCarriesDataElseTheirNames) {
  const std::set<std::string> carrying = {"a.exe", "b.EXE"};
  std::vector<std::string> asked;
  auto carries = [&](const std::string& name) {
    asked.push_back(name);
    return carrying.count(name) > 0;
  };

  // Vexorin.exe is the checker whatever it holds, without a look at the others, in any case of
  // its ASCII letters; its own spelling first. A byte that only a careless fold takes for "."
  // makes another name.
  CheckerChoice choice = FindChecker({"a.exe", "vEXORIN.EXE"}, carries);
  EXPECT_EQ(choice.outcome, CheckerChoice::kFound);
  EXPECT_EQ(choice.name, "vEXORIN.EXE");
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(FindChecker({"VEXORIN.EXE", "vexorin.exe", "Vexorin.exe"}, carries).name,
            "Vexorin.exe");
  EXPECT_EQ(FindChecker({"VEXORIN.EXE", "vexorin.exe"}, carries).name, "VEXORIN.EXE");
  EXPECT_FALSE(
      IsDefaultCheckerName("Vexorin\x0E"
                           "exe"));
  EXPECT_FALSE(
      IsDefaultCheckerName("\xEF\xBC\xB6"
                           "exorin.exe"));  // a full-width V

  // Else the one that carries check data, each name asked once, in byte order.
  choice = FindChecker({"z.exe",
                        "Vexorin\x0E"
                        "exe",
                        "a.exe"},
                       carries);
  EXPECT_EQ(choice.outcome, CheckerChoice::kFound);
  EXPECT_EQ(choice.name, "a.exe");
  EXPECT_TRUE(choice.names.empty());
  EXPECT_EQ(asked, (std::vector<std::string>{"Vexorin\x0E"
                                             "exe",
                                             "a.exe", "z.exe"}));

  // Several: their names, sorted whatever the listing's order. None: nothing.
  choice = FindChecker({"x.exe", "b.EXE", "a.exe"}, carries);
  EXPECT_EQ(choice.outcome, CheckerChoice::kSeveral);
  EXPECT_EQ(choice.names, (std::vector<std::string>{"a.exe", "b.EXE"}));
  EXPECT_EQ(FindChecker({"x.exe"}, carries).outcome, CheckerChoice::kNone);
  EXPECT_EQ(FindChecker({}, carries).outcome, CheckerChoice::kNone);
}

// Which .exe of a folder is its checker: the one rule for a folder on disk, inside a zip or
// chosen in a browser.
#pragma once
#include <functional>
#include <string>
#include <vector>

// True for the name Vexorin.exe with its ASCII letters in any case: Windows compares names so,
// and a recipient's unpacker or file system may have changed the case.
bool IsDefaultCheckerName(const std::string& name);

// What FindChecker found in a folder.
struct CheckerChoice {
  enum Outcome { kFound, kSeveral, kNone };
  Outcome outcome = kNone;
  std::string name;                // kFound: the checker's name, as given
  std::vector<std::string> names;  // kSeveral: every name that carries check data, in byte order
};

// The checker among `exeNames`, the names (UTF-8, no folder) of the .exe files of one folder:
// Vexorin.exe (IsDefaultCheckerName; its own spelling before another case, else the first in
// byte order) whatever it holds; else the one name that `carriesCheckData` says carries check
// data, asked of each name once, in byte order; else all of those, or none. Pure: the caller
// reads the files.
CheckerChoice FindChecker(const std::vector<std::string>& exeNames,
                          const std::function<bool(const std::string& name)>& carriesCheckData);

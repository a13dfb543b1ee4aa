// The folder scan: every folder and file below the target folder, in the checker's order.
#pragma once
#include <string>
#include <vector>

#include "maker_platform.h"

// The longest full path a build takes, terminator included: the checker's own limit (it opens
// paths beyond Windows's 260 in the \\?\ form), so that every path it lists can be checked
// where it was built.
constexpr size_t kPathCapacity = 1024;

// Why a scan stopped early; `entry` names the path (relative) that caused it. A name that
// code page 932 cannot write is scanned (in its enclosed form, platform.h) when the check data
// can hold it in UTF-8; kNameNotRepresentable is a name that not even UTF-8 holds.
struct ScanProblem {
  enum Kind { kNone, kPathTooLong, kNameNotRepresentable } kind = kNone;
  std::string entry;
};

// Appends to the lists, depth-first, the entries below `folder` (which ends with a
// separator) in the order the file system lists them: files as they come, each folder
// after everything inside it. Paths are relative: `rootLength` bytes are cut off the
// front. A file of the name `skipName` (case-insensitive) directly in the root is left
// out. A folder that leads back to one of its own ancestors (through a link) is listed
// but not entered again. Returns false with `problem` set when a path does not fit the
// platform's limit or a name can be held neither in code page 932 nor in UTF-8 (bytes that
// are no UTF-8, a backslash, a control character); the lists are then partial.
bool ScanFolder(MakerPlatform& platform, const std::string& folder, std::vector<std::string>* folders,
                std::vector<std::string>* files, const char* skipName, size_t rootLength,
                ScanProblem* problem);

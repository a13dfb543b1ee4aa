// The writing side of checkfile.h: the check data's records laid out as its reader splits them,
// and the trailer after them.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

// A file record: the 32 digest digits, one space, the relative path.
std::string MakeFileRecord(const char digestText[33], const std::string& relativePath);

// The check data of one checker, gathered entry by entry as a build finds and digests them,
// in the paths' form of the folder scan (code page 932, a name it cannot write enclosed,
// platform.h). Each entry goes to its section as it comes; a path with an enclosed name goes
// whole, in UTF-8, to the UTF-8 extension instead, so that the readers made before the
// extension read the rest as they always did.
class CheckDataWriter {
 public:
  void Clear();
  // A relative folder path, ending with a backslash.
  void AddFolder(const std::string& path);
  // A file's digest text and relative path.
  void AddFile(const char digestText[33], const std::string& path);
  // The check data and trailer: the folders, a separator, the file records, a separator, the
  // `messages` (kMessageCount of them), and the UTF-8 extension only when an entry needs it.
  // A message of a separator alone is written with a line feed after it. False when the data
  // would not fit the trailer's 32-bit size field.
  bool Finish(const std::vector<std::string>& messages, uint64_t byteTotal,
              std::string* block) const;

 private:
  template <typename Visit>
  void ForEachRecord(const std::vector<std::string>& messages, Visit visit) const;

  std::vector<std::string> folders_, fileRecords_;
  std::vector<std::string> utf8Folders_, utf8FileRecords_;  // the extension's, in UTF-8
};

// `records` in order, each followed by its NUL, then the trailer with the data size and
// `byteTotal`: any records at all, as a test of the reader lays them out. False when the data
// would not fit the trailer's 32-bit size field.
bool BuildCheckBlock(const std::vector<std::string>& records, uint64_t byteTotal,
                     std::string* block);

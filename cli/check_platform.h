// The platform a check reads through, and what vexorin-check needs of it beyond reading: a
// checker file standing in for the executable, the run's texts in UTF-8, the current folder.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "name_twins.h"
#include "platform.h"

class CheckPlatform {
 public:
  CheckPlatform();
  ~CheckPlatform();
  CheckPlatform(const CheckPlatform&) = delete;
  CheckPlatform& operator=(const CheckPlatform&) = delete;

  Platform& platform();
  // The names on disk, for finding a listed entry that is there under another form.
  FolderNames& names();
  // Makes the file at `utf8Path` the executable whose data the run reads and whose folder it
  // checks; false when it is not a file. `file` and `folder` receive the file's full path
  // and its folder's, in UTF-8.
  bool UseChecker(const std::string& utf8Path, std::string* file, std::string* folder);
  // A text of the run in UTF-8, the checker's folder put back for the platform's mark; bytes
  // that are not code page 932 become U+FFFD.
  std::string ToUtf8(const std::string& cp932) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  bool marked_ = false;  // the platform stands kExecutableFolderMark for `folder_`
  std::string folder_;   // the checker's folder, UTF-8
};

// The folder part of a path as it was given, with "/" separators and a final one; empty when
// the path names a file in the current folder.
std::string FolderAsGiven(const std::string& utf8Path);

// The files of the current folder whose names end in ".exe" in any case, sorted, in UTF-8.
std::vector<std::string> ExeFilesHere();

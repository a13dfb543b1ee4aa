// The files and folders in a checked folder that its check data does not list: what an older
// version left behind when an update was unpacked over it. Information beside the verdict,
// never part of it.
#pragma once
#include <set>
#include <string>
#include <vector>

#include "checkfile.h"
#include "name_twins.h"
#include "platform.h"

struct UnlistedEntry {
  std::string path;  // relative, the names as on disk joined by "/"; a folder's ends in "/"
  bool isFolder = false;
};

// Walks the folder `base` (a Platform path ending in a separator) through `names` and returns,
// in listing order, each file that `data` does not list and each folder below which it lists
// nothing (said once, not file by file). Left out: the checker itself (`checkerName`, as on
// disk), the names in `foundElsewhere` (entries found under another name, as the name search
// gives their disk names), and what systems and unpackers leave beside every folder:
// Thumbs.db, desktop.ini and .DS_Store at any depth, ._NAME beside a NAME, __MACOSX/ at the
// top, compared without letter case.
std::vector<UnlistedEntry> FindUnlisted(Platform& platform, FolderNames& names,
                                        const std::string& base, const CheckData& data,
                                        const std::string& checkerName,
                                        const std::set<std::string>& foundElsewhere);

// vexorin-check over a downloaded zip: the checker inside it found as in a folder, and the same
// check run over the zip's entries, with what the zip itself says apart from the verdict.
#pragma once
#include <string>

#include "md5_lanes.h"

struct ZipCheckOptions {
  bool all = false;
  bool json = false;
  bool md5sum = false;
  int jobs = 1;
  const Md5LaneKernel* lanes = nullptr;
};

// True when the file at `utf8Path` is read as a zip: a file that is not a Windows executable
// (a self-extracting one is a checker's business) and holds a zip's signature or end record.
bool LooksLikeZip(const std::string& utf8Path);

// Checks the zip at `utf8Path`; returns vexorin-check's exit status.
int CheckZip(const std::string& utf8Path, const ZipCheckOptions& options);

// Drives a build job to its end the way the progress dialog does, for the maker's tests.
#pragma once
#include <string>

#include "checker_builder.h"

struct BuildOutcome {
  bool started = false;
  int lastStep = 0;
  bool written = false;
  int steps = 0;
};

inline BuildOutcome RunBuild(TCheckerBuilder& job, const std::string& folder, const std::string& name,
                             const char* m1 = "m1", const char* m2 = "m2", const char* m3 = "m3") {
  BuildOutcome out;
  job.Clear();
  out.started = job.Start(folder.c_str(), name.c_str(), m1, m2, m3);
  if (out.started) {
    std::string state, progress;
    do {
      job.GetProgressTexts(&state, &progress);
      out.lastStep = job.Step();
      ++out.steps;
    } while (out.lastStep == kBuildMore);
    if (out.lastStep == kBuildAllDigested) out.written = job.WriteChecker();
  }
  job.CloseFile();
  return out;
}

// The --jobs option of the command-line tools and VEXORIN_LANES: how many files they read at once.
#pragma once
#include <limits.h>
#include <stdlib.h>

#include <string>

#include "md5_lanes.h"
#include "threads.h"

// What a tool says when --jobs is given no count or a wrong one.
inline std::string JobCountError() {
  return "--jobs takes a number from 1 to " + std::to_string(ThreadGroup::kMaxThreads);
}

// The number that `text` gives; false unless it is a whole number from `low` to `high`.
inline bool ParseWholeNumber(const char* text, long low, long high, long* n) {
  char* end = nullptr;
  *n = strtol(text, &end, 10);
  return *text != '\0' && *end == '\0' && *n >= low && *n <= high;
}

// The count that `text` gives; false unless it is a whole number from 1 to kMaxThreads.
inline bool ParseJobCount(const std::string& text, int* jobs) {
  long n = 0;
  if (!ParseWholeNumber(text.c_str(), 1, ThreadGroup::kMaxThreads, &n)) return false;
  *jobs = static_cast<int>(n);
  return true;
}

// The jobs to run for a count given (0: none given, as many as the processors this process
// may use).
inline int JobsToRun(int given) {
  int jobs = given > 0 ? given : ProcessorsAvailable();
  return jobs > ThreadGroup::kMaxThreads ? ThreadGroup::kMaxThreads : jobs;
}

// The lane kernel the tools digest with: the widest this CPU runs, in the form faster on this
// kind of CPU; with VEXORIN_LANES set to a number, the widest of at most that many lanes (0:
// the scalar code alone), or set to a kernel's name, that kernel. It is there to compare the
// kernels, and as a way around one should it misbehave on some machine. False when the
// variable holds anything else, or names a kernel this CPU does not run.
inline bool LanesToUse(const Md5LaneKernel** lanes) {
  *lanes = Md5WidestLaneKernel();
  const char* text = getenv("VEXORIN_LANES");
  if (text == nullptr || *text == '\0') return true;
  long most = 0;
  if (ParseWholeNumber(text, 0, LONG_MAX, &most)) {
    *lanes = Md5PreferredLaneKernel(most > kMd5MaxLanes ? kMd5MaxLanes : static_cast<int>(most));
    return true;
  }
  *lanes = Md5UsableLaneKernelNamed(text);
  return *lanes != nullptr;
}

// Names the kernels that this CPU runs.
inline std::string LanesError() {
  std::string text =
      "VEXORIN_LANES takes a number of lanes (0, 4, 8, 16 or 32) or the name of a kernel";
  int count = 0;
  const Md5LaneKernel* const* kernels = Md5UsableLaneKernels(&count);
  for (int i = 0; i < count; ++i) text += (i == 0 ? ": " : ", ") + std::string(kernels[i]->name);
  return text;
}

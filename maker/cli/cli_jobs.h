// The --jobs option of the command-line tools: how many files they read at once.
#pragma once
#include <stdlib.h>

#include <string>

#include "threads.h"

// What a tool says when --jobs is given no count or a wrong one.
inline std::string JobCountError() {
  return "--jobs takes a number from 1 to " + std::to_string(ThreadGroup::kMaxThreads);
}

// The count that `text` gives; false unless it is a whole number from 1 to kMaxThreads.
inline bool ParseJobCount(const std::string& text, int* jobs) {
  char* end = nullptr;
  long n = strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || n < 1 || n > ThreadGroup::kMaxThreads) return false;
  *jobs = static_cast<int>(n);
  return true;
}

// The jobs to run for a count given (0: none given, as many as the processors this process
// may use).
inline int JobsToRun(int given) {
  int jobs = given > 0 ? given : ProcessorsAvailable();
  return jobs > ThreadGroup::kMaxThreads ? ThreadGroup::kMaxThreads : jobs;
}

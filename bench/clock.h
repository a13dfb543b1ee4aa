// The processor's clock, measured: hardware cycle counters are often missing in virtual
// machines, and the nominal frequency says nothing about the boost clock a busy core runs at.
#pragma once
#include <stdint.h>

#include <time.h>

#include <algorithm>

// The CPU time this thread has run, in seconds. Not the wall clock: on a machine that other
// programs share, the wall clock also counts the time they had the core.
inline double ThreadCpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The clock in Hz, or 0 where it cannot be measured this way: cycles per second of CPU
// time, the same time base as Google Benchmark's rates. 64 dependent adds per round take 64
// cycles on every x86 core since the Pentium Pro, and the loop's own counting runs beside
// them. The core is first kept busy for a while so that it has reached its working
// frequency, then the best of several tries counts.
inline double MeasureClockHz() {
#if defined(__x86_64__) || defined(__i386__)
  double best = 0;
  const double begin = ThreadCpuSeconds();
  for (int attempt = 0; attempt < 10 || ThreadCpuSeconds() - begin < 0.5; ++attempt) {
    const uint64_t rounds = 2000000;
    uint32_t x = 0;
    const double start = ThreadCpuSeconds();
    for (uint64_t i = 0; i < rounds; ++i) {
      __asm__ volatile(".rept 64\n\taddl $1, %0\n\t.endr" : "+r"(x));
    }
    const double seconds = ThreadCpuSeconds() - start;
    if (attempt >= 3 && seconds > 0) best = std::max(best, static_cast<double>(rounds) * 64 / seconds);
  }
  return best;
#else
  return 0;
#endif
}

// Our MD5 against OpenSSL's on the same buffers, as bytes per second and cycles per byte.
//
// Variants of our code, all compiled from the one common/md5/md5.cpp (see CMakeLists.txt):
//   Md5Ours     with this build's optimisation flags (what the maker tools run);
//   Md5OursOs   with -Os, the flags the checker is built with;
//   Md5NoPin    with -O2 -march=native and the scheduling pin switched off, to show what
//               the pin is there for.
// Md5OpenSsl is OpenSSL's one-shot MD5(), which runs its assembly block function.
// Md5Lanes/<kernel> runs a lane kernel with every lane busy, each lane on blocks of its own,
// and counts the bytes of all lanes: the throughput of one core digesting that many files.
//
// Cycles per byte come from the clock measured at start-up (a chain of dependent adds, one
// cycle each), because hardware counters are often missing in virtual machines. Only the
// console table shows them; --benchmark_out files carry bytes per second alone.
#include <benchmark/benchmark.h>
#include <openssl/md5.h>
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../clock.h"
#include "md5.h"
#include "md5_lanes.h"

// The renamed copies of common/md5/md5.cpp.
void Md5InitOs(Md5Context* ctx);
void Md5UpdateOs(Md5Context* ctx, const void* data, size_t size);
void Md5FinalOs(Md5Context* ctx, unsigned char digest[16]);
void Md5InitNoPin(Md5Context* ctx);
void Md5UpdateNoPin(Md5Context* ctx, const void* data, size_t size);
void Md5FinalNoPin(Md5Context* ctx, unsigned char digest[16]);

namespace {

constexpr size_t kLargest = 524288;  // the checker's chunk, the largest buffer measured

// One buffer for every variant, filled with a fixed pseudo-random pattern.
const std::vector<unsigned char>& Buffer() {
  static const std::vector<unsigned char> buffer = [] {
    std::vector<unsigned char> b(kLargest);
    uint32_t x = 0x2545f491u;
    for (unsigned char& c : b) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      c = static_cast<unsigned char>(x);
    }
    return b;
  }();
  return buffer;
}

struct Md5Functions {
  void (*init)(Md5Context*);
  void (*update)(Md5Context*, const void*, size_t);
  void (*finish)(Md5Context*, unsigned char*);
};
const Md5Functions kOurs = {Md5Init, Md5Update, Md5Final};
const Md5Functions kOursOs = {Md5InitOs, Md5UpdateOs, Md5FinalOs};
const Md5Functions kNoPin = {Md5InitNoPin, Md5UpdateNoPin, Md5FinalNoPin};

void Digest(const Md5Functions& f, const unsigned char* data, size_t size, size_t piece,
            unsigned char digest[16]) {
  Md5Context ctx;
  f.init(&ctx);
  for (size_t done = 0; done < size; done += piece)
    f.update(&ctx, data + done, std::min(piece, size - done));
  f.finish(&ctx, digest);
}

double g_clockHz = 0;

void Report(benchmark::State& state, size_t size) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

// The console table with one more column: the cycles spent per byte, from each run's bytes
// per second (CPU time) and the measured clock.
class CyclesReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal: the table is also meant to be saved and compared.
  CyclesReporter() : ConsoleReporter(isatty(1) ? OO_ColorTabular : OO_Tabular) {}

  static double Rate(const Run& run) {
    auto rate = run.counters.find("bytes_per_second");
    return rate == run.counters.end() ? 0 : rate->second.value;
  }

  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> withCycles = runs;
    if (g_clockHz > 0) {
      double meanRate = 0;
      for (const Run& run : runs) {
        if (run.aggregate_name == "mean") meanRate = Rate(run);
      }
      for (Run& run : withCycles) {
        double rate = Rate(run);
        if (rate <= 0) continue;
        double cycles;
        if (run.aggregate_name == "stddev") {
          // The spread of 1/x is, to first order, the mean of 1/x times x's relative spread.
          if (meanRate <= 0) continue;
          cycles = g_clockHz / meanRate * (rate / meanRate);
        } else if (run.aggregate_unit == benchmark::kPercentage) {
          cycles = rate;  // a relative spread is the same for 1/x
        } else {
          cycles = g_clockHz / rate;
        }
        run.counters["cycles_per_byte"] = benchmark::Counter(cycles);
      }
    }
    ConsoleReporter::ReportRuns(withCycles);
  }
};

void RunOurs(benchmark::State& state, const Md5Functions& f) {
  const size_t size = static_cast<size_t>(state.range(0));
  const unsigned char* data = Buffer().data();
  unsigned char digest[16];
  for (auto _ : state) {
    Md5Context ctx;
    f.init(&ctx);
    f.update(&ctx, data, size);
    f.finish(&ctx, digest);
    benchmark::DoNotOptimize(digest);
    benchmark::ClobberMemory();
  }
  Report(state, size);
}

void Md5Ours(benchmark::State& state) { RunOurs(state, kOurs); }
void Md5OursOs(benchmark::State& state) { RunOurs(state, kOursOs); }
void Md5NoPin(benchmark::State& state) { RunOurs(state, kNoPin); }

void Md5OpenSsl(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  const unsigned char* data = Buffer().data();
  unsigned char digest[16];
  for (auto _ : state) {
    MD5(data, size, digest);
    benchmark::DoNotOptimize(digest);
    benchmark::ClobberMemory();
  }
  Report(state, size);
}

// Each lane reads `size` bytes of its own from one arena, as a lane job's lanes read their
// buffers; offsets are advanced between calls as the job does.
std::vector<unsigned char> LaneArena(size_t perLane) {
  std::vector<unsigned char> arena(perLane * kMd5MaxLanes);
  const std::vector<unsigned char>& pattern = Buffer();
  for (size_t i = 0; i < arena.size(); ++i) arena[i] = pattern[(i * 7) % pattern.size()];
  return arena;
}

void RunLanes(benchmark::State& state, const Md5LaneKernel* kernel) {
  const size_t size = static_cast<size_t>(state.range(0));
  const std::vector<unsigned char> arena = LaneArena(size);
  uint32_t lanesState[4 * kMd5MaxLanes] = {};
  uint32_t offsets[kMd5MaxLanes];
  for (auto _ : state) {
    for (int l = 0; l < kernel->width; ++l) offsets[l] = static_cast<uint32_t>(l * size);
    kernel->compress(lanesState, arena.data(), offsets, size / 64);
    benchmark::DoNotOptimize(lanesState);
    benchmark::ClobberMemory();
  }
  Report(state, size * static_cast<size_t>(kernel->width));
}

// 64 bytes shows the per-call cost, 16 KiB the top of the small files, 256 KiB and 512 KiB
// are the maker's and the checker's chunks.
void Sizes(benchmark::internal::Benchmark* b) {
  for (int64_t size : {64, 1024, 16384, 262144, 524288}) b->Arg(size);
}
BENCHMARK(Md5Ours)->Apply(Sizes);
BENCHMARK(Md5OursOs)->Apply(Sizes);
BENCHMARK(Md5OpenSsl)->Apply(Sizes);
BENCHMARK(Md5NoPin)->Arg(262144);

// One benchmark per lane kernel this CPU runs; a lane's 64 KiB is the tools' lane buffer.
void RegisterLaneBenchmarks() {
  int count = 0;
  const Md5LaneKernel* const* kernels = Md5UsableLaneKernels(&count);
  for (int k = 0; k < count; ++k) {
    benchmark::RegisterBenchmark((std::string("Md5Lanes/") + kernels[k]->name).c_str(), RunLanes,
                                 kernels[k])
        ->Arg(1024)
        ->Arg(65536);
  }
}

// Every lane kernel must leave each lane's state where the scalar code leaves it after the
// same blocks (lanes of different content, several calls in a row).
bool SameLaneStates() {
  const size_t perLane = 4096;
  const std::vector<unsigned char> arena = LaneArena(perLane);
  int count = 0;
  const Md5LaneKernel* const* kernels = Md5UsableLaneKernels(&count);
  for (int k = 0; k < count; ++k) {
    const Md5LaneKernel& kernel = *kernels[k];
    uint32_t lanes[4 * kMd5MaxLanes];
    uint32_t offsets[kMd5MaxLanes];
    for (int l = 0; l < kernel.width; ++l) {
      Md5Context init;
      Md5Init(&init);
      for (int w = 0; w < 4; ++w) lanes[w * kernel.width + l] = init.state[w];
      offsets[l] = static_cast<uint32_t>(l * perLane);
    }
    for (size_t done = 0; done < perLane; done += 1024) {
      kernel.compress(lanes, arena.data(), offsets, 1024 / 64);
      for (int l = 0; l < kernel.width; ++l) offsets[l] += 1024;
    }
    for (int l = 0; l < kernel.width; ++l) {
      Md5Context ctx;
      Md5Init(&ctx);
      Md5Update(&ctx, arena.data() + l * perLane, perLane);
      for (int w = 0; w < 4; ++w) {
        if (ctx.state[w] != lanes[w * kernel.width + l]) {
          fprintf(stderr, "lane kernel %s: lane %d differs from the scalar code\n", kernel.name, l);
          return false;
        }
      }
    }
  }
  return true;
}

// Before anything is timed: every variant must give OpenSSL's digest for every buffer
// length around the block and padding edges, fed whole and in awkward pieces. A fast
// wrong digest would make the comparison meaningless.
bool SameDigests() {
  const std::vector<unsigned char>& buffer = Buffer();
  const Md5Functions* variants[] = {&kOurs, &kOursOs, &kNoPin};
  const char* names[] = {"Md5Ours", "Md5OursOs", "Md5NoPin"};
  std::vector<size_t> sizes = {0,   1,   55,  56,   57,    63,     64,      65,
                               119, 120, 121, 1000, 16384, 262143, kLargest};
  for (size_t size : sizes) {
    unsigned char expected[16];
    MD5(buffer.data(), size, expected);
    for (size_t v = 0; v < 3; ++v) {
      for (size_t piece : {size_t{1}, size_t{63}, size_t{64}, size_t{4097}, kLargest}) {
        if (piece == 1 && size > 4096) continue;
        unsigned char got[16];
        Digest(*variants[v], buffer.data(), size, piece, got);
        if (!std::equal(got, got + 16, expected)) {
          fprintf(stderr, "%s gives another digest than OpenSSL for %zu bytes in pieces of %zu\n",
                  names[v], size, piece);
          return false;
        }
      }
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (!SameDigests() || !SameLaneStates()) return 1;
  RegisterLaneBenchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  g_clockHz = MeasureClockHz();
  benchmark::AddCustomContext("clock_ghz_measured",
                              g_clockHz > 0 ? std::to_string(g_clockHz / 1e9) : "n/a");
  CyclesReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // The clock again: one that moved during the run makes the cycle figures uncertain.
  double after = MeasureClockHz();
  if (after > 0) {
    fprintf(stderr,
            "clock measured before: %.3f GHz, after: %.3f GHz (cycles_per_byte uses before)\n",
            g_clockHz / 1e9, after / 1e9);
  }
  benchmark::Shutdown();
  return 0;
}

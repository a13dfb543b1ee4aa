// MD5 over several messages at once in SIMD lanes: the kernels, and which of them this CPU runs.
#pragma once
#include <stddef.h>
#include <stdint.h>

// One lane width's compression function. The state of lane `l` is word-major:
// state[w * width + l] holds chaining word w (A, B, C, D) of that lane. Each call runs
// `blocks` consecutive 64-byte blocks of every lane, lane `l` reading them from
// base + offsets[l]; a lane with nothing to do still reads (and its state is then
// meaningless), so every offset must name `blocks` * 64 readable bytes. Offsets are below
// 2 GiB (the gathers take signed 32-bit indices); the caller advances them itself.
struct Md5LaneKernel {
  const char* name;  // "sse2", "avx2-gather", "avx2-transpose", "avx512x2-transpose", ...
  int width;         // lanes: 4, 8, 16 or 32
  void (*compress)(uint32_t* state, const unsigned char* base, const uint32_t* offsets,
                   size_t blocks);
};

constexpr int kMd5MaxLanes = 32;

// The kernels of this build that this CPU (and its operating system, for the wider
// registers) can run, narrowest first; their number goes to *count. Empty off x86. A width
// may have several kernels: one that gathers each message word and one that loads the
// blocks and transposes them, and ones ("x2") that run two groups of a narrower kernel's
// lanes side by side: which is faster depends on the CPU.
const Md5LaneKernel* const* Md5UsableLaneKernels(int* count);

// The kernel of the most lanes up to `mostLanes` that this CPU runs, in the form that is the
// faster on this kind of CPU; nullptr when there is none (the scalar code alone).
const Md5LaneKernel* Md5PreferredLaneKernel(int mostLanes);

// The widest usable kernel in its preferred form, or nullptr: the digest then runs the
// scalar code alone.
const Md5LaneKernel* Md5WidestLaneKernel();

// The usable kernel of that name, or nullptr.
const Md5LaneKernel* Md5UsableLaneKernelNamed(const char* name);

// The kernels of an x86 build, each defined in a file compiled for its instruction set.
// Call one only when Md5UsableLaneKernels lists it.
extern const Md5LaneKernel kMd5LanesSse2;
extern const Md5LaneKernel kMd5LanesAvx2;
extern const Md5LaneKernel kMd5LanesAvx2Transpose;
extern const Md5LaneKernel kMd5LanesAvx512;
extern const Md5LaneKernel kMd5LanesAvx512Transpose;
extern const Md5LaneKernel kMd5LanesSse2Twice;
extern const Md5LaneKernel kMd5LanesAvx2TwiceGather;
extern const Md5LaneKernel kMd5LanesAvx2TwiceTranspose;
extern const Md5LaneKernel kMd5LanesAvx512TwiceGather;
extern const Md5LaneKernel kMd5LanesAvx512TwiceTranspose;

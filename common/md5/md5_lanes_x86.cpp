// Which lane kernels this x86 CPU runs, and in which form, asked once of the CPU itself.
#include <cpuid.h>
#include <string.h>

#include "md5_lanes.h"

namespace {

// Whether plain loads and a transpose beat the gathers on this CPU, and whether two groups
// of lanes in one pass beat one group, by vendor, from the figures in docs/PERFORMANCE.md:
// on AMD's Zen 5 the transposing kernels ran 1.1 x (AVX2) and 1.2-1.5 x (AVX-512) as fast
// as the gathering ones, and two groups 1.75-1.9 x (AVX2) and 1.6 x (AVX-512) as fast as
// one, since a vector addition there takes two cycles and one group's chain of steps leaves
// the vector units idle; on Zen 3, whose gathers are long microcoded sequences, the
// gathering AVX2 kernel made the lanes only 1.5 x as fast as the scalar code. Other vendors
// keep one group that gathers until a figure says otherwise.
bool IsAmd() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(0, &a, &b, &c, &d)) return false;
  char vendor[13];
  memcpy(vendor, &b, 4);
  memcpy(vendor + 4, &d, 4);
  memcpy(vendor + 8, &c, 4);
  vendor[12] = '\0';
  return strcmp(vendor, "AuthenticAMD") == 0 || strcmp(vendor, "HygonGenuine") == 0;
}

struct Usable {
  const Md5LaneKernel* kernels[10];
  int count = 0;
  bool preferTranspose = false;
  bool preferTwice = false;

  // The compiler's CPU check also asks the operating system (XGETBV) whether it saves the
  // wider registers, so a kernel is only offered where its registers survive a thread switch.
  Usable() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2")) {
      kernels[count++] = &kMd5LanesSse2;
      kernels[count++] = &kMd5LanesSse2Twice;
    }
    if (__builtin_cpu_supports("avx2")) {
      kernels[count++] = &kMd5LanesAvx2;
      kernels[count++] = &kMd5LanesAvx2Transpose;
      kernels[count++] = &kMd5LanesAvx2TwiceGather;
      kernels[count++] = &kMd5LanesAvx2TwiceTranspose;
    }
    if (__builtin_cpu_supports("avx512f")) {
      kernels[count++] = &kMd5LanesAvx512;
      kernels[count++] = &kMd5LanesAvx512Transpose;
      kernels[count++] = &kMd5LanesAvx512TwiceGather;
      kernels[count++] = &kMd5LanesAvx512TwiceTranspose;
    }
    preferTranspose = preferTwice = IsAmd();
  }
};

const Usable& TheUsable() {
  static const Usable usable;
  return usable;
}

bool IsTranspose(const Md5LaneKernel* kernel) {
  return kernel == &kMd5LanesAvx2Transpose || kernel == &kMd5LanesAvx512Transpose ||
         kernel == &kMd5LanesAvx2TwiceTranspose || kernel == &kMd5LanesAvx512TwiceTranspose;
}

bool IsTwice(const Md5LaneKernel* kernel) {
  return kernel == &kMd5LanesSse2Twice || kernel == &kMd5LanesAvx2TwiceGather ||
         kernel == &kMd5LanesAvx2TwiceTranspose || kernel == &kMd5LanesAvx512TwiceGather ||
         kernel == &kMd5LanesAvx512TwiceTranspose;
}

// How a kernel ranks among those of its width on this CPU: one group in wider registers
// before two in narrower ones (AVX-512 before twice AVX2: the same lanes in half the
// instructions), then the preferred way of loading. SSE2 has no gather, so it is
// preferred either way.
int Rank(const Usable& usable, const Md5LaneKernel* kernel) {
  return (IsTwice(kernel) ? 0 : 2) + (IsTranspose(kernel) == usable.preferTranspose ? 1 : 0);
}

}  // namespace

const Md5LaneKernel* const* Md5UsableLaneKernels(int* count) {
  *count = TheUsable().count;
  return TheUsable().kernels;
}

// Kernels of two groups are left out where they are not the faster: the widest would
// otherwise always be one of them.
const Md5LaneKernel* Md5PreferredLaneKernel(int mostLanes) {
  const Usable& usable = TheUsable();
  const Md5LaneKernel* best = nullptr;
  for (int i = 0; i < usable.count; ++i) {
    const Md5LaneKernel* k = usable.kernels[i];
    if (k->width > mostLanes || (IsTwice(k) && !usable.preferTwice)) continue;
    if (best == nullptr || k->width > best->width ||
        (k->width == best->width && Rank(usable, k) > Rank(usable, best)))
      best = k;
  }
  return best;
}

const Md5LaneKernel* Md5WidestLaneKernel() { return Md5PreferredLaneKernel(kMd5MaxLanes); }

const Md5LaneKernel* Md5UsableLaneKernelNamed(const char* name) {
  const Usable& usable = TheUsable();
  for (int i = 0; i < usable.count; ++i)
    if (strcmp(usable.kernels[i]->name, name) == 0) return usable.kernels[i];
  return nullptr;
}

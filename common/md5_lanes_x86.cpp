// Which lane kernels this x86 CPU runs, asked once of the CPU itself.
#include "md5_lanes.h"

namespace {

struct Usable {
  const Md5LaneKernel* kernels[3];
  int count = 0;

  // The compiler's CPU check also asks the operating system (XGETBV) whether it saves the
  // wider registers, so a kernel is only offered where its registers survive a thread switch.
  Usable() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2")) kernels[count++] = &kMd5LanesSse2;
    if (__builtin_cpu_supports("avx2")) kernels[count++] = &kMd5LanesAvx2;
    if (__builtin_cpu_supports("avx512f")) kernels[count++] = &kMd5LanesAvx512;
  }
};

const Usable& TheUsable() {
  static const Usable usable;
  return usable;
}

}  // namespace

const Md5LaneKernel* const* Md5UsableLaneKernels(int* count) {
  *count = TheUsable().count;
  return TheUsable().kernels;
}

const Md5LaneKernel* Md5WidestLaneKernel() {
  const Usable& usable = TheUsable();
  return usable.count > 0 ? usable.kernels[usable.count - 1] : nullptr;
}

// Off x86 this build has no lane kernels: the digest runs the scalar code alone.
#include "md5_lanes.h"

const Md5LaneKernel* const* Md5UsableLaneKernels(int* count) {
  static const Md5LaneKernel* const kNone[1] = {nullptr};
  *count = 0;
  return kNone;
}

const Md5LaneKernel* Md5PreferredLaneKernel(int) { return nullptr; }

const Md5LaneKernel* Md5WidestLaneKernel() { return nullptr; }

const Md5LaneKernel* Md5UsableLaneKernelNamed(const char*) { return nullptr; }

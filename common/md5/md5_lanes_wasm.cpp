// Four lanes in WebAssembly SIMD registers (128 bits); compiled with -msimd128 for the web
// page, whose script loads this build only where the browser validates SIMD code.
#include <wasm_simd128.h>

#include "md5_lanes_kernel.h"

namespace {

struct WasmSimd {
  typedef v128_t T;
  static constexpr int kWidth = 4;
  static T Load(const uint32_t* p) { return wasm_v128_load(p); }
  static void Store(uint32_t* p, T v) { wasm_v128_store(p, v); }
  static T Set1(uint32_t v) { return wasm_i32x4_splat(static_cast<int32_t>(v)); }
  static T Add(T x, T y) { return wasm_i32x4_add(x, y); }
  // The engine's compiler, not this one, orders the instructions here.
  static T Keep(T x) { return x; }
  // bitselect(x, y, m) takes x where m is set and y elsewhere: F and G of RFC 1321 as such.
  static T F(T b, T c, T d) { return wasm_v128_bitselect(c, d, b); }
  static T G(T b, T c, T d) { return wasm_v128_bitselect(b, c, d); }
  static T H(T b, T c, T d) { return wasm_v128_xor(wasm_v128_xor(b, c), d); }
  static T I(T b, T c, T d) { return wasm_v128_xor(c, wasm_v128_or(b, wasm_v128_not(d))); }
  template <int s>
  static T Rotl(T x) {
    return wasm_v128_or(wasm_i32x4_shl(x, s), wasm_u32x4_shr(x, 32 - s));
  }
  // No gather: four words of each lane are loaded together and transposed, as with SSE2.
  static void LoadBlock(const unsigned char* base, const uint32_t* off, T w[16]) {
    for (int q = 0; q < 4; ++q) {
      T r0 = wasm_v128_load(base + off[0] + 16 * q);
      T r1 = wasm_v128_load(base + off[1] + 16 * q);
      T r2 = wasm_v128_load(base + off[2] + 16 * q);
      T r3 = wasm_v128_load(base + off[3] + 16 * q);
      T t0 = wasm_i32x4_shuffle(r0, r1, 0, 4, 1, 5), t1 = wasm_i32x4_shuffle(r2, r3, 0, 4, 1, 5);
      T t2 = wasm_i32x4_shuffle(r0, r1, 2, 6, 3, 7), t3 = wasm_i32x4_shuffle(r2, r3, 2, 6, 3, 7);
      w[4 * q] = wasm_i64x2_shuffle(t0, t1, 0, 2);
      w[4 * q + 1] = wasm_i64x2_shuffle(t0, t1, 1, 3);
      w[4 * q + 2] = wasm_i64x2_shuffle(t2, t3, 0, 2);
      w[4 * q + 3] = wasm_i64x2_shuffle(t2, t3, 1, 3);
    }
  }
};

void Compress(uint32_t* state, const unsigned char* base, const uint32_t* offsets, size_t blocks) {
  CompressLanes<WasmSimd>(state, base, offsets, blocks);
}

const Md5LaneKernel kMd5LanesWasmSimd = {"wasm-simd128", 4, Compress};

}  // namespace

const Md5LaneKernel* const* Md5UsableLaneKernels(int* count) {
  static const Md5LaneKernel* const kKernels[1] = {&kMd5LanesWasmSimd};
  *count = 1;
  return kKernels;
}

const Md5LaneKernel* Md5WidestLaneKernel() { return &kMd5LanesWasmSimd; }

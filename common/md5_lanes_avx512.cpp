// Sixteen lanes in AVX-512 registers; compiled with -mavx512f.
#include <immintrin.h>

// GCC 12's own rotate and gather intrinsics start from a deliberately undefined register,
// which its flow analysis then reports as maybe uninitialised wherever they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "md5_lanes_kernel.h"

namespace {

// AVX-512F has a rotate and a three-input logic instruction, so each round function is one
// instruction (its truth table is the immediate) and each rotate one more.
struct Avx512 {
  typedef __m512i T;
  static constexpr int kWidth = 16;
  static T Load(const uint32_t* p) { return _mm512_loadu_si512(p); }
  static void Store(uint32_t* p, T v) { _mm512_storeu_si512(p, v); }
  static T Set1(uint32_t v) { return _mm512_set1_epi32(static_cast<int>(v)); }
  static T Add(T x, T y) { return _mm512_add_epi32(x, y); }
  static T F(T b, T c, T d) { return _mm512_ternarylogic_epi32(b, c, d, 0xca); }  // b ? c : d
  static T G(T b, T c, T d) { return _mm512_ternarylogic_epi32(d, b, c, 0xca); }  // d ? b : c
  static T H(T b, T c, T d) { return _mm512_ternarylogic_epi32(b, c, d, 0x96); }  // b ^ c ^ d
  static T I(T b, T c, T d) { return _mm512_ternarylogic_epi32(b, c, d, 0x39); }  // c ^ (b | ~d)
  template <int s>
  static T Rotl(T x) {
    return _mm512_rol_epi32(x, s);
  }
  static void LoadBlock(const unsigned char* base, const uint32_t* off, T w[16]) {
    const T index = _mm512_loadu_si512(off);
    for (int j = 0; j < 16; ++j) w[j] = _mm512_i32gather_epi32(index, base + 4 * j, 1);
  }
};

void Compress(uint32_t* state, const unsigned char* base, const uint32_t* offsets, size_t blocks) {
  CompressLanes<Avx512>(state, base, offsets, blocks);
}

}  // namespace

const Md5LaneKernel kMd5LanesAvx512 = {"avx512", 16, Compress};

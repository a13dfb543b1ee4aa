// Sixteen lanes in AVX-512 registers, two ways of loading the blocks; compiled with -mavx512f.
#include <immintrin.h>

// GCC 12's own rotate and gather intrinsics start from a deliberately undefined register,
// which its flow analysis then reports as maybe uninitialised wherever they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
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
  static T Keep(T x) {  // an empty instruction that "changes" x in a register
    __asm__("" : "+v"(x));
    return x;
  }
  // The newest of b, c, d is b, the one the previous step computed. The instruction
  // overwrites its first operand, so that operand is d: the copy the compiler makes of it
  // (d is still needed) then waits on no earlier step. Truth tables over (d, b, c).
  static T F(T b, T c, T d) { return _mm512_ternarylogic_epi32(d, b, c, 0xb8); }  // b ? c : d
  static T G(T b, T c, T d) { return _mm512_ternarylogic_epi32(d, b, c, 0xca); }  // d ? b : c
  static T H(T b, T c, T d) { return _mm512_ternarylogic_epi32(d, b, c, 0x96); }  // b ^ c ^ d
  static T I(T b, T c, T d) { return _mm512_ternarylogic_epi32(d, b, c, 0x65); }  // c ^ (b | ~d)
  template <int s>
  static T Rotl(T x) {
    return _mm512_rol_epi32(x, s);
  }
};

// Word j of every lane in one gather, over 32-bit offsets into the lanes' arena.
struct Avx512Gather : Avx512 {
  MD5_LANE_INLINE static void LoadBlock(const unsigned char* base, const uint32_t* off, T w[16]) {
    const T index = _mm512_loadu_si512(off);
    for (int j = 0; j < 16; ++j) w[j] = _mm512_i32gather_epi32(index, base + 4 * j, 1);
  }
};

// Each lane's whole block in one plain load, then a 16 x 16 transpose of words: the unpacks
// transpose 4 x 4 words within each 128-bit quarter (words 4c..4c+3 of four lanes), the two
// rounds of quarter shuffles then put quarter c of the four lane groups' registers together.
struct Avx512Transpose : Avx512 {
  MD5_LANE_INLINE static void LoadBlock(const unsigned char* base, const uint32_t* off, T w[16]) {
    T r[16], t[16], s[16];
    for (int l = 0; l < 16; ++l) r[l] = _mm512_loadu_si512(base + off[l]);
    for (int k = 0; k < 8; ++k) {
      t[2 * k] = _mm512_unpacklo_epi32(r[2 * k], r[2 * k + 1]);
      t[2 * k + 1] = _mm512_unpackhi_epi32(r[2 * k], r[2 * k + 1]);
    }
    // s[4 * g + m], quarter c: word 4c + m of lanes 4g..4g+3.
    for (int g = 0; g < 4; ++g) {
      s[4 * g] = _mm512_unpacklo_epi64(t[4 * g], t[4 * g + 2]);
      s[4 * g + 1] = _mm512_unpackhi_epi64(t[4 * g], t[4 * g + 2]);
      s[4 * g + 2] = _mm512_unpacklo_epi64(t[4 * g + 1], t[4 * g + 3]);
      s[4 * g + 3] = _mm512_unpackhi_epi64(t[4 * g + 1], t[4 * g + 3]);
    }
    for (int m = 0; m < 4; ++m) {
      const T x0 = _mm512_shuffle_i32x4(s[m], s[4 + m], 0x44);       // g0 q0 q1, g1 q0 q1
      const T x1 = _mm512_shuffle_i32x4(s[m], s[4 + m], 0xee);       // g0 q2 q3, g1 q2 q3
      const T x2 = _mm512_shuffle_i32x4(s[8 + m], s[12 + m], 0x44);  // g2 q0 q1, g3 q0 q1
      const T x3 = _mm512_shuffle_i32x4(s[8 + m], s[12 + m], 0xee);  // g2 q2 q3, g3 q2 q3
      w[m] = _mm512_shuffle_i32x4(x0, x2, 0x88);
      w[4 + m] = _mm512_shuffle_i32x4(x0, x2, 0xdd);
      w[8 + m] = _mm512_shuffle_i32x4(x1, x3, 0x88);
      w[12 + m] = _mm512_shuffle_i32x4(x1, x3, 0xdd);
    }
  }
};

void CompressGather(uint32_t* state, const unsigned char* base, const uint32_t* offsets,
                    size_t blocks) {
  CompressLanes<Avx512Gather>(state, base, offsets, blocks);
}

void CompressTranspose(uint32_t* state, const unsigned char* base, const uint32_t* offsets,
                       size_t blocks) {
  CompressLanes<Avx512Transpose>(state, base, offsets, blocks);
}

void CompressTransposeTwice(uint32_t* state, const unsigned char* base, const uint32_t* offsets,
                            size_t blocks) {
  CompressLanes<Twice<Avx512Transpose>>(state, base, offsets, blocks);
}

void CompressGatherTwice(uint32_t* state, const unsigned char* base, const uint32_t* offsets,
                         size_t blocks) {
  CompressLanes<Twice<Avx512Gather>>(state, base, offsets, blocks);
}

}  // namespace

const Md5LaneKernel kMd5LanesAvx512 = {"avx512-gather", 16, CompressGather};
const Md5LaneKernel kMd5LanesAvx512Transpose = {"avx512-transpose", 16, CompressTranspose};
const Md5LaneKernel kMd5LanesAvx512TwiceGather = {"avx512x2-gather", 32, CompressGatherTwice};
const Md5LaneKernel kMd5LanesAvx512TwiceTranspose = {"avx512x2-transpose", 32,
                                                     CompressTransposeTwice};

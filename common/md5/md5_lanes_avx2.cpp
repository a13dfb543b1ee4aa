// Eight lanes in AVX2 registers, two ways of loading the blocks; compiled with -mavx2.
#include <immintrin.h>

#include "md5_lanes_kernel.h"

namespace {

struct Avx2 {
  typedef __m256i T;
  static constexpr int kWidth = 8;
  static T Load(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const T*>(p)); }
  static void Store(uint32_t* p, T v) { _mm256_storeu_si256(reinterpret_cast<T*>(p), v); }
  static T Set1(uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
  static T Add(T x, T y) { return _mm256_add_epi32(x, y); }
  static T Keep(T x) {  // an empty instruction that "changes" x in a register
    __asm__("" : "+v"(x));
    return x;
  }
  static T F(T b, T c, T d) {
    return _mm256_xor_si256(_mm256_and_si256(_mm256_xor_si256(c, d), b), d);
  }
  static T G(T b, T c, T d) {
    return _mm256_or_si256(_mm256_and_si256(d, b), _mm256_andnot_si256(d, c));
  }
  static T H(T b, T c, T d) { return _mm256_xor_si256(_mm256_xor_si256(b, c), d); }
  static T I(T b, T c, T d) {
    return _mm256_xor_si256(c, _mm256_or_si256(b, _mm256_xor_si256(d, _mm256_set1_epi32(-1))));
  }
  template <int s>
  static T Rotl(T x) {
    return _mm256_or_si256(_mm256_slli_epi32(x, s), _mm256_srli_epi32(x, 32 - s));
  }
};

// Word j of every lane in one gather: the lanes' blocks all lie in one arena, so 32-bit
// offsets from its start reach each of them. Fast where a gather is (Intel since Skylake,
// AMD since Zen 4); a microcoded crawl on AMD's Zen 1 to Zen 3.
struct Avx2Gather : Avx2 {
  MD5_LANE_INLINE static void LoadBlock(const unsigned char* base, const uint32_t* off, T w[16]) {
    const T index = _mm256_loadu_si256(reinterpret_cast<const T*>(off));
    for (int j = 0; j < 16; ++j)
      w[j] = _mm256_i32gather_epi32(reinterpret_cast<const int*>(base + 4 * j), index, 1);
  }
};

// Plain loads and a transpose, as the SSE2 kernel does: each 256-bit register takes four
// words of lane i in its low half and the same four words of lane i + 4 in its high half,
// and the 4 x 4 transpose within each half (the unpack instructions never cross halves)
// leaves word j of lanes 0-3 below and of lanes 4-7 above: word j of all eight lanes in
// order, with no instruction crossing the halves but the loads.
struct Avx2Transpose : Avx2 {
  static T Pair(const unsigned char* low, const unsigned char* high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
  }
  MD5_LANE_INLINE static void LoadBlock(const unsigned char* base, const uint32_t* off, T w[16]) {
    for (int q = 0; q < 4; ++q) {
      const T r0 = Pair(base + off[0] + 16 * q, base + off[4] + 16 * q);
      const T r1 = Pair(base + off[1] + 16 * q, base + off[5] + 16 * q);
      const T r2 = Pair(base + off[2] + 16 * q, base + off[6] + 16 * q);
      const T r3 = Pair(base + off[3] + 16 * q, base + off[7] + 16 * q);
      const T t0 = _mm256_unpacklo_epi32(r0, r1), t1 = _mm256_unpacklo_epi32(r2, r3);
      const T t2 = _mm256_unpackhi_epi32(r0, r1), t3 = _mm256_unpackhi_epi32(r2, r3);
      w[4 * q] = _mm256_unpacklo_epi64(t0, t1);
      w[4 * q + 1] = _mm256_unpackhi_epi64(t0, t1);
      w[4 * q + 2] = _mm256_unpacklo_epi64(t2, t3);
      w[4 * q + 3] = _mm256_unpackhi_epi64(t2, t3);
    }
  }
};

void CompressGather(uint32_t* state, const unsigned char* base, const uint32_t* offsets,
                    size_t blocks) {
  CompressLanes<Avx2Gather>(state, base, offsets, blocks);
}

void CompressTranspose(uint32_t* state, const unsigned char* base, const uint32_t* offsets,
                       size_t blocks) {
  CompressLanes<Avx2Transpose>(state, base, offsets, blocks);
}

void CompressTransposeTwice(uint32_t* state, const unsigned char* base, const uint32_t* offsets,
                            size_t blocks) {
  CompressLanes<Twice<Avx2Transpose>>(state, base, offsets, blocks);
}

void CompressGatherTwice(uint32_t* state, const unsigned char* base, const uint32_t* offsets,
                         size_t blocks) {
  CompressLanes<Twice<Avx2Gather>>(state, base, offsets, blocks);
}

}  // namespace

const Md5LaneKernel kMd5LanesAvx2 = {"avx2-gather", 8, CompressGather};
const Md5LaneKernel kMd5LanesAvx2Transpose = {"avx2-transpose", 8, CompressTranspose};
const Md5LaneKernel kMd5LanesAvx2TwiceGather = {"avx2x2-gather", 16, CompressGatherTwice};
const Md5LaneKernel kMd5LanesAvx2TwiceTranspose = {"avx2x2-transpose", 16, CompressTransposeTwice};

// Four lanes in SSE2 registers; compiled with -msse2.
#include <emmintrin.h>

#include "md5_lanes_kernel.h"

namespace {

struct Sse2 {
  typedef __m128i T;
  static constexpr int kWidth = 4;
  static T Load(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const T*>(p)); }
  static void Store(uint32_t* p, T v) { _mm_storeu_si128(reinterpret_cast<T*>(p), v); }
  static T Set1(uint32_t v) { return _mm_set1_epi32(static_cast<int>(v)); }
  static T Add(T x, T y) { return _mm_add_epi32(x, y); }
  static T Keep(T x) {  // an empty instruction that "changes" x in a register
    __asm__("" : "+v"(x));
    return x;
  }
  static T F(T b, T c, T d) { return _mm_xor_si128(_mm_and_si128(_mm_xor_si128(c, d), b), d); }
  // The two halves never share a bit, so OR of RFC 1321 is an add or an OR alike.
  static T G(T b, T c, T d) { return _mm_or_si128(_mm_and_si128(d, b), _mm_andnot_si128(d, c)); }
  static T H(T b, T c, T d) { return _mm_xor_si128(_mm_xor_si128(b, c), d); }
  static T I(T b, T c, T d) {
    return _mm_xor_si128(c, _mm_or_si128(b, _mm_xor_si128(d, _mm_set1_epi32(-1))));
  }
  template <int s>
  static T Rotl(T x) {
    return _mm_or_si128(_mm_slli_epi32(x, s), _mm_srli_epi32(x, 32 - s));
  }
  // No gather in SSE2: four words of each lane are loaded together and transposed, so that
  // each register then holds one word of all four lanes.
  MD5_LANE_INLINE static void LoadBlock(const unsigned char* base, const uint32_t* off, T w[16]) {
    for (int q = 0; q < 4; ++q) {
      T r0 = _mm_loadu_si128(reinterpret_cast<const T*>(base + off[0] + 16 * q));
      T r1 = _mm_loadu_si128(reinterpret_cast<const T*>(base + off[1] + 16 * q));
      T r2 = _mm_loadu_si128(reinterpret_cast<const T*>(base + off[2] + 16 * q));
      T r3 = _mm_loadu_si128(reinterpret_cast<const T*>(base + off[3] + 16 * q));
      T t0 = _mm_unpacklo_epi32(r0, r1), t1 = _mm_unpacklo_epi32(r2, r3);
      T t2 = _mm_unpackhi_epi32(r0, r1), t3 = _mm_unpackhi_epi32(r2, r3);
      w[4 * q] = _mm_unpacklo_epi64(t0, t1);
      w[4 * q + 1] = _mm_unpackhi_epi64(t0, t1);
      w[4 * q + 2] = _mm_unpacklo_epi64(t2, t3);
      w[4 * q + 3] = _mm_unpackhi_epi64(t2, t3);
    }
  }
};

void Compress(uint32_t* state, const unsigned char* base, const uint32_t* offsets, size_t blocks) {
  CompressLanes<Sse2>(state, base, offsets, blocks);
}

void CompressTwice(uint32_t* state, const unsigned char* base, const uint32_t* offsets,
                   size_t blocks) {
  CompressLanes<Twice<Sse2>>(state, base, offsets, blocks);
}

}  // namespace

const Md5LaneKernel kMd5LanesSse2 = {"sse2", 4, Compress};
const Md5LaneKernel kMd5LanesSse2Twice = {"sse2x2", 8, CompressTwice};

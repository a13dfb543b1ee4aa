// Eight lanes in AVX2 registers; compiled with -mavx2.
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
  // Word j of every lane in one gather: the lanes' blocks all lie in one arena, so 32-bit
  // offsets from its start reach each of them.
  static void LoadBlock(const unsigned char* base, const uint32_t* off, T w[16]) {
    const T index = _mm256_loadu_si256(reinterpret_cast<const T*>(off));
    for (int j = 0; j < 16; ++j)
      w[j] = _mm256_i32gather_epi32(reinterpret_cast<const int*>(base + 4 * j), index, 1);
  }
};

void Compress(uint32_t* state, const unsigned char* base, const uint32_t* offsets, size_t blocks) {
  CompressLanes<Avx2>(state, base, offsets, blocks);
}

}  // namespace

const Md5LaneKernel kMd5LanesAvx2 = {"avx2", 8, Compress};

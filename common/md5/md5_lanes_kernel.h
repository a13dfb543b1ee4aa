// The lane kernels' one body, written once over a vector type; included by each kernel's file only.
//
// Every kernel file is compiled for its own instruction set, and everything here sits in an
// unnamed namespace: an inline function shared between two such files could otherwise be
// kept by the linker in its widest form and run on a CPU without those instructions. For
// the same reason the kernel files include no library headers beyond the intrinsics.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "md5_lanes.h"

// The kernels' small functions, each called in every step, must be inlined into the body;
// the compiler may otherwise keep a large one such as a transpose apart once it is called
// twice (by Twice below).
#define MD5_LANE_INLINE inline __attribute__((always_inline))

namespace {

// The round constants of RFC 1321, step by step, and the message word and shift of each.
constexpr uint32_t kK[64] = {
    0xd76aa478u, 0xe8c7b756u, 0x242070dbu, 0xc1bdceeeu, 0xf57c0fafu, 0x4787c62au, 0xa8304613u,
    0xfd469501u, 0x698098d8u, 0x8b44f7afu, 0xffff5bb1u, 0x895cd7beu, 0x6b901122u, 0xfd987193u,
    0xa679438eu, 0x49b40821u, 0xf61e2562u, 0xc040b340u, 0x265e5a51u, 0xe9b6c7aau, 0xd62f105du,
    0x02441453u, 0xd8a1e681u, 0xe7d3fbc8u, 0x21e1cde6u, 0xc33707d6u, 0xf4d50d87u, 0x455a14edu,
    0xa9e3e905u, 0xfcefa3f8u, 0x676f02d9u, 0x8d2a4c8au, 0xfffa3942u, 0x8771f681u, 0x6d9d6122u,
    0xfde5380cu, 0xa4beea44u, 0x4bdecfa9u, 0xf6bb4b60u, 0xbebfbc70u, 0x289b7ec6u, 0xeaa127fau,
    0xd4ef3085u, 0x04881d05u, 0xd9d4d039u, 0xe6db99e5u, 0x1fa27cf8u, 0xc4ac5665u, 0xf4292244u,
    0x432aff97u, 0xab9423a7u, 0xfc93a039u, 0x655b59c3u, 0x8f0ccc92u, 0xffeff47du, 0x85845dd1u,
    0x6fa87e4fu, 0xfe2ce6e0u, 0xa3014314u, 0x4e0811a1u, 0xf7537e82u, 0xbd3af235u, 0x2ad7d2bbu,
    0xeb86d391u};

// One step: a += f(b, c, d) + x + k; a = rotl(a, s) + b, with f chosen by the round.
// Only f depends on the previous step (b), so a + x + k is summed first and V::Keep hides
// the sum from the compiler, which would otherwise reassociate it into (a + f) + (x + k):
// one more add between one step and the next, on a chain 64 steps long per block.
#define MD5_LANE_STEP(fn, a, b, c, d, j, i, s)          \
  a = V::Keep(V::Add(a, V::Add(w[j], V::Set1(kK[i])))); \
  a = V::Add(a, V::fn(b, c, d));                        \
  a = V::Add(V::template Rotl<s>(a), b)

// Runs `blocks` blocks of every lane through the compression function. V supplies the
// vector type T and its operations: Load/Store of `V::kWidth` words, Set1, Add, the four
// round functions F G H I, Rotl<s>, and LoadBlock, which reads word j of every lane's
// current block into w[j].
template <class V>
inline __attribute__((always_inline)) void CompressLanes(uint32_t* state, const unsigned char* base,
                                                         const uint32_t* offsets, size_t blocks) {
  typedef typename V::T T;
  T a = V::Load(state), b = V::Load(state + V::kWidth), c = V::Load(state + 2 * V::kWidth),
    d = V::Load(state + 3 * V::kWidth);
  uint32_t off[V::kWidth];
  for (int l = 0; l < V::kWidth; ++l) off[l] = offsets[l];
  for (; blocks != 0; --blocks) {
    T w[16];
    V::LoadBlock(base, off, w);
    for (int l = 0; l < V::kWidth; ++l) off[l] += 64;
    const T aa = a, bb = b, cc = c, dd = d;

    MD5_LANE_STEP(F, a, b, c, d, 0, 0, 7);
    MD5_LANE_STEP(F, d, a, b, c, 1, 1, 12);
    MD5_LANE_STEP(F, c, d, a, b, 2, 2, 17);
    MD5_LANE_STEP(F, b, c, d, a, 3, 3, 22);
    MD5_LANE_STEP(F, a, b, c, d, 4, 4, 7);
    MD5_LANE_STEP(F, d, a, b, c, 5, 5, 12);
    MD5_LANE_STEP(F, c, d, a, b, 6, 6, 17);
    MD5_LANE_STEP(F, b, c, d, a, 7, 7, 22);
    MD5_LANE_STEP(F, a, b, c, d, 8, 8, 7);
    MD5_LANE_STEP(F, d, a, b, c, 9, 9, 12);
    MD5_LANE_STEP(F, c, d, a, b, 10, 10, 17);
    MD5_LANE_STEP(F, b, c, d, a, 11, 11, 22);
    MD5_LANE_STEP(F, a, b, c, d, 12, 12, 7);
    MD5_LANE_STEP(F, d, a, b, c, 13, 13, 12);
    MD5_LANE_STEP(F, c, d, a, b, 14, 14, 17);
    MD5_LANE_STEP(F, b, c, d, a, 15, 15, 22);

    MD5_LANE_STEP(G, a, b, c, d, 1, 16, 5);
    MD5_LANE_STEP(G, d, a, b, c, 6, 17, 9);
    MD5_LANE_STEP(G, c, d, a, b, 11, 18, 14);
    MD5_LANE_STEP(G, b, c, d, a, 0, 19, 20);
    MD5_LANE_STEP(G, a, b, c, d, 5, 20, 5);
    MD5_LANE_STEP(G, d, a, b, c, 10, 21, 9);
    MD5_LANE_STEP(G, c, d, a, b, 15, 22, 14);
    MD5_LANE_STEP(G, b, c, d, a, 4, 23, 20);
    MD5_LANE_STEP(G, a, b, c, d, 9, 24, 5);
    MD5_LANE_STEP(G, d, a, b, c, 14, 25, 9);
    MD5_LANE_STEP(G, c, d, a, b, 3, 26, 14);
    MD5_LANE_STEP(G, b, c, d, a, 8, 27, 20);
    MD5_LANE_STEP(G, a, b, c, d, 13, 28, 5);
    MD5_LANE_STEP(G, d, a, b, c, 2, 29, 9);
    MD5_LANE_STEP(G, c, d, a, b, 7, 30, 14);
    MD5_LANE_STEP(G, b, c, d, a, 12, 31, 20);

    MD5_LANE_STEP(H, a, b, c, d, 5, 32, 4);
    MD5_LANE_STEP(H, d, a, b, c, 8, 33, 11);
    MD5_LANE_STEP(H, c, d, a, b, 11, 34, 16);
    MD5_LANE_STEP(H, b, c, d, a, 14, 35, 23);
    MD5_LANE_STEP(H, a, b, c, d, 1, 36, 4);
    MD5_LANE_STEP(H, d, a, b, c, 4, 37, 11);
    MD5_LANE_STEP(H, c, d, a, b, 7, 38, 16);
    MD5_LANE_STEP(H, b, c, d, a, 10, 39, 23);
    MD5_LANE_STEP(H, a, b, c, d, 13, 40, 4);
    MD5_LANE_STEP(H, d, a, b, c, 0, 41, 11);
    MD5_LANE_STEP(H, c, d, a, b, 3, 42, 16);
    MD5_LANE_STEP(H, b, c, d, a, 6, 43, 23);
    MD5_LANE_STEP(H, a, b, c, d, 9, 44, 4);
    MD5_LANE_STEP(H, d, a, b, c, 12, 45, 11);
    MD5_LANE_STEP(H, c, d, a, b, 15, 46, 16);
    MD5_LANE_STEP(H, b, c, d, a, 2, 47, 23);

    MD5_LANE_STEP(I, a, b, c, d, 0, 48, 6);
    MD5_LANE_STEP(I, d, a, b, c, 7, 49, 10);
    MD5_LANE_STEP(I, c, d, a, b, 14, 50, 15);
    MD5_LANE_STEP(I, b, c, d, a, 5, 51, 21);
    MD5_LANE_STEP(I, a, b, c, d, 12, 52, 6);
    MD5_LANE_STEP(I, d, a, b, c, 3, 53, 10);
    MD5_LANE_STEP(I, c, d, a, b, 10, 54, 15);
    MD5_LANE_STEP(I, b, c, d, a, 1, 55, 21);
    MD5_LANE_STEP(I, a, b, c, d, 8, 56, 6);
    MD5_LANE_STEP(I, d, a, b, c, 15, 57, 10);
    MD5_LANE_STEP(I, c, d, a, b, 6, 58, 15);
    MD5_LANE_STEP(I, b, c, d, a, 13, 59, 21);
    MD5_LANE_STEP(I, a, b, c, d, 4, 60, 6);
    MD5_LANE_STEP(I, d, a, b, c, 11, 61, 10);
    MD5_LANE_STEP(I, c, d, a, b, 2, 62, 15);
    MD5_LANE_STEP(I, b, c, d, a, 9, 63, 21);

    a = V::Add(a, aa);
    b = V::Add(b, bb);
    c = V::Add(c, cc);
    d = V::Add(d, dd);
  }
  V::Store(state, a);
  V::Store(state + V::kWidth, b);
  V::Store(state + 2 * V::kWidth, c);
  V::Store(state + 3 * V::kWidth, d);
}

#undef MD5_LANE_STEP

// Two groups of V's lanes in one pass: lanes 0 to V::kWidth - 1 and the next V::kWidth. MD5
// of one group is a chain of 64 dependent steps per block, each a few instructions long, so
// one group leaves most of the core's vector units idle waiting on the previous step; the
// second group's steps, independent of the first's, fill them. Each operation of the body
// runs on both groups side by side, so the compiler issues the two chains interleaved.
template <class V>
struct Twice {
  typedef typename V::T Half;
  struct T {
    Half lo, hi;
  };
  static constexpr int kWidth = 2 * V::kWidth;
  static T Load(const uint32_t* p) { return T{V::Load(p), V::Load(p + V::kWidth)}; }
  static void Store(uint32_t* p, T v) {
    V::Store(p, v.lo);
    V::Store(p + V::kWidth, v.hi);
  }
  static T Set1(uint32_t v) {
    const Half h = V::Set1(v);
    return T{h, h};
  }
  static T Add(T x, T y) { return T{V::Add(x.lo, y.lo), V::Add(x.hi, y.hi)}; }
  static T Keep(T x) { return T{V::Keep(x.lo), V::Keep(x.hi)}; }
  static T F(T b, T c, T d) { return T{V::F(b.lo, c.lo, d.lo), V::F(b.hi, c.hi, d.hi)}; }
  static T G(T b, T c, T d) { return T{V::G(b.lo, c.lo, d.lo), V::G(b.hi, c.hi, d.hi)}; }
  static T H(T b, T c, T d) { return T{V::H(b.lo, c.lo, d.lo), V::H(b.hi, c.hi, d.hi)}; }
  static T I(T b, T c, T d) { return T{V::I(b.lo, c.lo, d.lo), V::I(b.hi, c.hi, d.hi)}; }
  template <int s>
  static T Rotl(T x) {
    return T{V::template Rotl<s>(x.lo), V::template Rotl<s>(x.hi)};
  }
  MD5_LANE_INLINE static void LoadBlock(const unsigned char* base, const uint32_t* off, T w[16]) {
    Half lo[16], hi[16];
    V::LoadBlock(base, off, lo);
    V::LoadBlock(base, off + V::kWidth, hi);
    for (int j = 0; j < 16; ++j) w[j] = T{lo[j], hi[j]};
  }
};

}  // namespace

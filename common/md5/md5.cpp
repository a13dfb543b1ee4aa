#include "md5.h"

#if defined(_MSC_VER) && !defined(__clang__)
#include <string.h>  // memcpy, expanded in place
#endif

namespace {

// The checker is built for size (-Os), and there GCC would call a small helper like the
// word load below for every message word instead of inlining it: sixteen calls and a copy
// of the block to the stack per 64 bytes. The hot helpers are therefore forced inline.
#if defined(__GNUC__) || defined(__clang__)
#define MD5_INLINE inline __attribute__((always_inline))
#elif defined(_MSC_VER)
#define MD5_INLINE __forceinline
#else
#define MD5_INLINE inline
#endif

// One message word, least significant byte first. A 4-byte memcpy is a single unaligned
// load (the builtin is expanded in place and never becomes a library call, which matters
// in the runtime-free checker); hosts with the other byte order swap it afterwards.
MD5_INLINE uint32_t LoadLe32(const unsigned char* p) {
#if defined(__GNUC__) || defined(__clang__)
  uint32_t v;
  __builtin_memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
#elif defined(_MSC_VER)
  // Every MSVC target is little-endian, and MSVC expands a fixed 4-byte memcpy in place.
  uint32_t v;
  memcpy(&v, p, sizeof v);
  return v;
#else
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
#endif
}

inline void StoreLe32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

MD5_INLINE uint32_t Rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

// The compression function is one long dependency chain through `a`. Compilers like to
// hoist the message-and-constant additions of later steps into it, which lengthens the
// chain; an empty asm statement pins each step's b-independent part in place. Without it
// GCC with -march=native takes about 50 % longer and clang about 17 % longer (measured on
// Zen 4). MSVC has no such statement and gets none. VX_MD5_NO_PIN leaves it out so that the benchmark can show
// what it buys; nothing else defines it.
#if (defined(__GNUC__) || defined(__clang__)) && !defined(VX_MD5_NO_PIN)
#define MD5_PIN(x) __asm__("" : "+r"(x))
#else
#define MD5_PIN(x) ((void)0)
#endif

// G is written as (~d & c) + (d & b): the two halves never share a bit, so their sum
// equals the OR of RFC 1321, and the half without b can start early.
#define MD5_F(a, b, c, d, x, k, s) \
  a += (x) + (k);                  \
  MD5_PIN(a);                      \
  a += ((c ^ d) & b) ^ d;          \
  a = Rotl(a, s) + b
#define MD5_G(a, b, c, d, x, k, s) \
  a += (x) + (k);                  \
  a += ~d & c;                     \
  MD5_PIN(a);                      \
  a += d & b;                      \
  a = Rotl(a, s) + b
#define MD5_H(a, b, c, d, x, k, s) \
  a += (x) + (k);                  \
  MD5_PIN(a);                      \
  a += b ^ c ^ d;                  \
  a = Rotl(a, s) + b
#define MD5_I(a, b, c, d, x, k, s) \
  a += (x) + (k);                  \
  MD5_PIN(a);                      \
  a += c ^ (b | ~d);               \
  a = Rotl(a, s) + b

// Runs `blocks` 64-byte blocks through the compression function with the state in locals.
void Md5Blocks(uint32_t state[4], const unsigned char* p, size_t blocks) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; blocks != 0; --blocks, p += 64) {
    const uint32_t x0 = LoadLe32(p), x1 = LoadLe32(p + 4), x2 = LoadLe32(p + 8),
                   x3 = LoadLe32(p + 12), x4 = LoadLe32(p + 16), x5 = LoadLe32(p + 20),
                   x6 = LoadLe32(p + 24), x7 = LoadLe32(p + 28), x8 = LoadLe32(p + 32),
                   x9 = LoadLe32(p + 36), x10 = LoadLe32(p + 40), x11 = LoadLe32(p + 44),
                   x12 = LoadLe32(p + 48), x13 = LoadLe32(p + 52), x14 = LoadLe32(p + 56),
                   x15 = LoadLe32(p + 60);
    const uint32_t aa = a, bb = b, cc = c, dd = d;

    MD5_F(a, b, c, d, x0, 0xd76aa478u, 7);
    MD5_F(d, a, b, c, x1, 0xe8c7b756u, 12);
    MD5_F(c, d, a, b, x2, 0x242070dbu, 17);
    MD5_F(b, c, d, a, x3, 0xc1bdceeeu, 22);
    MD5_F(a, b, c, d, x4, 0xf57c0fafu, 7);
    MD5_F(d, a, b, c, x5, 0x4787c62au, 12);
    MD5_F(c, d, a, b, x6, 0xa8304613u, 17);
    MD5_F(b, c, d, a, x7, 0xfd469501u, 22);
    MD5_F(a, b, c, d, x8, 0x698098d8u, 7);
    MD5_F(d, a, b, c, x9, 0x8b44f7afu, 12);
    MD5_F(c, d, a, b, x10, 0xffff5bb1u, 17);
    MD5_F(b, c, d, a, x11, 0x895cd7beu, 22);
    MD5_F(a, b, c, d, x12, 0x6b901122u, 7);
    MD5_F(d, a, b, c, x13, 0xfd987193u, 12);
    MD5_F(c, d, a, b, x14, 0xa679438eu, 17);
    MD5_F(b, c, d, a, x15, 0x49b40821u, 22);

    MD5_G(a, b, c, d, x1, 0xf61e2562u, 5);
    MD5_G(d, a, b, c, x6, 0xc040b340u, 9);
    MD5_G(c, d, a, b, x11, 0x265e5a51u, 14);
    MD5_G(b, c, d, a, x0, 0xe9b6c7aau, 20);
    MD5_G(a, b, c, d, x5, 0xd62f105du, 5);
    MD5_G(d, a, b, c, x10, 0x02441453u, 9);
    MD5_G(c, d, a, b, x15, 0xd8a1e681u, 14);
    MD5_G(b, c, d, a, x4, 0xe7d3fbc8u, 20);
    MD5_G(a, b, c, d, x9, 0x21e1cde6u, 5);
    MD5_G(d, a, b, c, x14, 0xc33707d6u, 9);
    MD5_G(c, d, a, b, x3, 0xf4d50d87u, 14);
    MD5_G(b, c, d, a, x8, 0x455a14edu, 20);
    MD5_G(a, b, c, d, x13, 0xa9e3e905u, 5);
    MD5_G(d, a, b, c, x2, 0xfcefa3f8u, 9);
    MD5_G(c, d, a, b, x7, 0x676f02d9u, 14);
    MD5_G(b, c, d, a, x12, 0x8d2a4c8au, 20);

    MD5_H(a, b, c, d, x5, 0xfffa3942u, 4);
    MD5_H(d, a, b, c, x8, 0x8771f681u, 11);
    MD5_H(c, d, a, b, x11, 0x6d9d6122u, 16);
    MD5_H(b, c, d, a, x14, 0xfde5380cu, 23);
    MD5_H(a, b, c, d, x1, 0xa4beea44u, 4);
    MD5_H(d, a, b, c, x4, 0x4bdecfa9u, 11);
    MD5_H(c, d, a, b, x7, 0xf6bb4b60u, 16);
    MD5_H(b, c, d, a, x10, 0xbebfbc70u, 23);
    MD5_H(a, b, c, d, x13, 0x289b7ec6u, 4);
    MD5_H(d, a, b, c, x0, 0xeaa127fau, 11);
    MD5_H(c, d, a, b, x3, 0xd4ef3085u, 16);
    MD5_H(b, c, d, a, x6, 0x04881d05u, 23);
    MD5_H(a, b, c, d, x9, 0xd9d4d039u, 4);
    MD5_H(d, a, b, c, x12, 0xe6db99e5u, 11);
    MD5_H(c, d, a, b, x15, 0x1fa27cf8u, 16);
    MD5_H(b, c, d, a, x2, 0xc4ac5665u, 23);

    MD5_I(a, b, c, d, x0, 0xf4292244u, 6);
    MD5_I(d, a, b, c, x7, 0x432aff97u, 10);
    MD5_I(c, d, a, b, x14, 0xab9423a7u, 15);
    MD5_I(b, c, d, a, x5, 0xfc93a039u, 21);
    MD5_I(a, b, c, d, x12, 0x655b59c3u, 6);
    MD5_I(d, a, b, c, x3, 0x8f0ccc92u, 10);
    MD5_I(c, d, a, b, x10, 0xffeff47du, 15);
    MD5_I(b, c, d, a, x1, 0x85845dd1u, 21);
    MD5_I(a, b, c, d, x8, 0x6fa87e4fu, 6);
    MD5_I(d, a, b, c, x15, 0xfe2ce6e0u, 10);
    MD5_I(c, d, a, b, x6, 0xa3014314u, 15);
    MD5_I(b, c, d, a, x13, 0x4e0811a1u, 21);
    MD5_I(a, b, c, d, x4, 0xf7537e82u, 6);
    MD5_I(d, a, b, c, x11, 0xbd3af235u, 10);
    MD5_I(c, d, a, b, x2, 0x2ad7d2bbu, 15);
    MD5_I(b, c, d, a, x9, 0xeb86d391u, 21);

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

void CopyBytes(unsigned char* dst, const unsigned char* src, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = src[i];
}

}  // namespace

void Md5Init(Md5Context* ctx) {
  ctx->state[0] = 0x67452301u;
  ctx->state[1] = 0xefcdab89u;
  ctx->state[2] = 0x98badcfeu;
  ctx->state[3] = 0x10325476u;
  ctx->count[0] = 0;
  ctx->count[1] = 0;
}

void Md5Update(Md5Context* ctx, const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  size_t used = (ctx->count[0] >> 3) & 63;

  uint64_t bits = (static_cast<uint64_t>(ctx->count[1]) << 32) | ctx->count[0];
  bits += static_cast<uint64_t>(size) << 3;
  ctx->count[0] = static_cast<uint32_t>(bits);
  ctx->count[1] = static_cast<uint32_t>(bits >> 32);

  if (used != 0) {
    size_t room = 64 - used;
    if (size < room) {
      CopyBytes(ctx->buffer + used, p, size);
      return;
    }
    CopyBytes(ctx->buffer + used, p, room);
    Md5Blocks(ctx->state, ctx->buffer, 1);
    p += room;
    size -= room;
  }
  // Whole blocks go straight from the caller's data; only the tail is copied.
  Md5Blocks(ctx->state, p, size / 64);
  p += size & ~static_cast<size_t>(63);
  CopyBytes(ctx->buffer, p, size & 63);
}

void Md5Final(Md5Context* ctx, unsigned char digest[16]) {
  unsigned char lengthBytes[8];
  StoreLe32(lengthBytes, ctx->count[0]);
  StoreLe32(lengthBytes + 4, ctx->count[1]);

  static const unsigned char kPadding[64] = {0x80};
  size_t used = (ctx->count[0] >> 3) & 63;
  size_t padLength = (used < 56) ? (56 - used) : (120 - used);
  Md5Update(ctx, kPadding, padLength);
  Md5Update(ctx, lengthBytes, 8);

  for (int i = 0; i < 4; ++i) StoreLe32(digest + 4 * i, ctx->state[i]);
}

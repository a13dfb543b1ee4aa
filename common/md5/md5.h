// MD5 message digest as RFC 1321 defines it, fed in pieces of any size.
#pragma once
#include <stddef.h>
#include <stdint.h>

struct Md5Context {
  uint32_t state[4];      // chaining words A, B, C, D
  uint32_t count[2];      // bits added so far: low word, high word
  unsigned char buffer[64];  // the partial block not yet compressed
};

void Md5Init(Md5Context* ctx);
void Md5Update(Md5Context* ctx, const void* data, size_t size);
// Pads, appends the length and writes the 16-byte digest.
void Md5Final(Md5Context* ctx, unsigned char digest[16]);

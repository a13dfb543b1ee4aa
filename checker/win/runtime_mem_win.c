/* The memory and string routines that the compiler may call on its own (structure copies, cleared
   arrays) and that would otherwise come from the C runtime, which the checker does not
   link. Built with -fno-builtin and without loop-to-call rewriting, so that none of them
   is turned back into a call to itself. */
#include <stddef.h>

void* memcpy(void* dst, const void* src, size_t n) {
  unsigned char* d = (unsigned char*)dst;
  const unsigned char* s = (const unsigned char*)src;
  while (n--) *d++ = *s++;
  return dst;
}

void* memmove(void* dst, const void* src, size_t n) {
  unsigned char* d = (unsigned char*)dst;
  const unsigned char* s = (const unsigned char*)src;
  if (d < s) {
    while (n--) *d++ = *s++;
  } else {
    while (n--) d[n] = s[n];
  }
  return dst;
}

void* memset(void* dst, int value, size_t n) {
  unsigned char* d = (unsigned char*)dst;
  while (n--) *d++ = (unsigned char)value;
  return dst;
}

int memcmp(const void* a, const void* b, size_t n) {
  const unsigned char* x = (const unsigned char*)a;
  const unsigned char* y = (const unsigned char*)b;
  for (; n != 0; --n, ++x, ++y) {
    if (*x != *y) return *x < *y ? -1 : 1;
  }
  return 0;
}

size_t strlen(const char* s) {
  size_t n = 0;
  while (s[n] != '\0') ++n;
  return n;
}

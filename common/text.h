// Bounded string helpers and a small formatter that need no C runtime, for both programs.
#pragma once
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

size_t TextLength(const char* s);
bool TextEqual(const char* a, const char* b);

// Copies `src` into a buffer of `capacity` bytes. Returns false, and stores a copy cut at
// a character boundary, when it does not fit; the buffer is always terminated.
bool TextCopy(char* dst, size_t capacity, const char* src);

// Appends `src` to the string in `dst`; same cutting rule as TextCopy.
bool TextAppend(char* dst, size_t capacity, const char* src);

// A printf subset for the programs' texts: %s, %d, %u and %I64d (64-bit signed), %%.
// Output that does not fit is cut at a character boundary; returns false then.
bool FormatText(char* dst, size_t capacity, const char* format, ...);
bool FormatTextV(char* dst, size_t capacity, const char* format, va_list args);

// Writes the decimal digits of a signed 64-bit number; returns the count written
// (at most 20, no terminator).
size_t FormatInt64(int64_t value, char out[20]);

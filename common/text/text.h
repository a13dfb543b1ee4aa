// Bounded string helpers, a small formatter and the UTF-8 decoder, needing no C runtime.
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

// The length (1 to 4) of the well-formed UTF-8 sequence that begins the `length` bytes at
// `text`, with its code point in `*code`; 0 when none begins there: a stray continuation byte,
// a sequence cut short, an overlong form, a surrogate or a value past U+10FFFF. Callers
// decide what a byte that begins none becomes; the one rule of well-formedness is here.
size_t DecodeUtf8(const char* text, size_t length, uint32_t* code);

// Code-page-932 (Shift-JIS) byte tests and the path helpers that depend on them.
#pragma once
#include <stddef.h>

// Lead bytes of a double-byte character in code page 932. The second byte of such a
// character can be 0x5C, the backslash code, so every separator search must skip it.
inline bool IsCp932LeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Appends a backslash unless the path already ends with a backslash or a slash (a 0x5C
// that is the second byte of a double-byte character does not count). Returns false,
// leaving the path unchanged, when the buffer of `capacity` bytes has no room for it.
bool AppendPathSeparator(char* path, size_t capacity);

// Index just past the last separator (backslash or slash, double-byte aware) of `path`,
// or 0 when there is none or the only one is the very first byte.
size_t FolderPrefixLength(const char* path);

// Compares two code-page-932 names without regard to the case of single-byte letters;
// second bytes of double-byte characters are compared exactly.
bool Cp932EqualNoCase(const char* a, const char* b);

// True when the name holds none of the characters that a Windows file name cannot hold:
// \ / : * ? " < > | (second bytes of double-byte characters are not tested).
bool CheckFileName(const char* name);

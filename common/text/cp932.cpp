#include "cp932.h"

bool AppendPathSeparator(char* path, size_t capacity) {
  bool inDouble = false;
  bool lastIsSeparator = false;
  size_t n = 0;
  for (; path[n] != '\0'; ++n) {
    unsigned char c = static_cast<unsigned char>(path[n]);
    if (inDouble) {
      inDouble = false;
      lastIsSeparator = false;
    } else if (IsCp932LeadByte(c)) {
      inDouble = true;
      lastIsSeparator = false;
    } else {
      lastIsSeparator = (c == '\\' || c == '/');
    }
  }
  if (lastIsSeparator) return true;
  if (n + 2 > capacity) return false;
  path[n] = '\\';
  path[n + 1] = '\0';
  return true;
}

size_t FolderPrefixLength(const char* path) {
  bool inDouble = false;
  size_t last = 0;
  bool found = false;
  for (size_t i = 0; path[i] != '\0'; ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (inDouble) {
      inDouble = false;
    } else if (IsCp932LeadByte(c)) {
      inDouble = true;
    } else if (c == '\\' || c == '/') {
      last = i;
      found = true;
    }
  }
  // A separator at the very first byte is the root of a relative drive path; keep the
  // whole path then, as the folder cannot be shortened to nothing.
  return (found && last > 0) ? last + 1 : 0;
}

static unsigned char UpperAscii(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

bool Cp932EqualNoCase(const char* a, const char* b) {
  bool inDouble = false;
  for (size_t i = 0;; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (inDouble) {
      if (x != y) return false;
      inDouble = false;
    } else {
      if (UpperAscii(x) != UpperAscii(y)) return false;
      inDouble = IsCp932LeadByte(x);
    }
    if (x == '\0') return true;
  }
}

bool CheckFileName(const char* name) {
  bool secondByte = false;
  for (size_t i = 0; name[i] != '\0'; ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (secondByte) {
      secondByte = false;
      continue;
    }
    if (IsCp932LeadByte(c)) {
      secondByte = true;
      continue;
    }
    switch (c) {
      case '\\':
      case '/':
      case ':':
      case '*':
      case '?':
      case '"':
      case '<':
      case '>':
      case '|':
        return false;
      default:
        break;
    }
  }
  return true;
}

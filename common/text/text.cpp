#include "text.h"

#include "cp932.h"

size_t TextLength(const char* s) {
  size_t n = 0;
  while (s[n] != '\0') ++n;
  return n;
}

bool TextEqual(const char* a, const char* b) {
  size_t i = 0;
  for (; a[i] != '\0' && a[i] == b[i]; ++i) {
  }
  return a[i] == b[i];
}

namespace {

// Collects output into a fixed buffer. When a piece does not fit, the output ends at the
// last whole character before the limit, so a cut never leaves half a double-byte character.
class Writer {
 public:
  Writer(char* dst, size_t capacity) : dst_(dst), capacity_(capacity) {}

  void Put(const char* s, size_t n) {
    for (size_t i = 0; i < n && ok_; ++i) {
      unsigned char c = static_cast<unsigned char>(s[i]);
      bool lead = !inDouble_ && IsCp932LeadByte(c);
      // A lead byte is written only when its second byte fits as well.
      size_t need = lead ? 2 : 1;
      if (length_ + need + 1 > capacity_) {
        ok_ = false;
        break;
      }
      dst_[length_++] = s[i];
      inDouble_ = lead;
    }
  }

  void PutText(const char* s) { Put(s, TextLength(s)); }

  bool Finish() {
    if (capacity_ == 0) return false;
    dst_[length_] = '\0';
    return ok_;
  }

 private:
  char* dst_;
  size_t capacity_;
  size_t length_ = 0;
  bool inDouble_ = false;
  bool ok_ = true;
};

}  // namespace

bool TextCopy(char* dst, size_t capacity, const char* src) {
  Writer w(dst, capacity);
  w.PutText(src);
  return w.Finish();
}

bool TextAppend(char* dst, size_t capacity, const char* src) {
  size_t n = TextLength(dst);
  if (n >= capacity) return false;
  return TextCopy(dst + n, capacity - n, src);
}

size_t FormatInt64(int64_t value, char out[20]) {
  // Work on the magnitude as unsigned so that the most negative value has no overflow.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  char digits[20];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  size_t k = 0;
  if (value < 0) out[k++] = '-';
  while (n > 0) out[k++] = digits[--n];
  return k;
}

bool FormatTextV(char* dst, size_t capacity, const char* format, va_list args) {
  Writer w(dst, capacity);
  char number[20];
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      w.Put(p, 1);
      continue;
    }
    ++p;
    if (*p == '\0') break;
    if (*p == 's') {
      const char* s = va_arg(args, const char*);
      w.PutText(s != nullptr ? s : "");
    } else if (*p == 'd') {
      w.Put(number, FormatInt64(va_arg(args, int), number));
    } else if (*p == 'u') {
      w.Put(number, FormatInt64(va_arg(args, unsigned int), number));
    } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4' && p[3] == 'd') {
      p += 3;
      w.Put(number, FormatInt64(va_arg(args, int64_t), number));
    } else if (*p == '%') {
      w.Put("%", 1);
    } else {
      // Unknown conversions never come from the programs' own texts; stop rather than guess.
      break;
    }
  }
  return w.Finish();
}

bool FormatText(char* dst, size_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  bool ok = FormatTextV(dst, capacity, format, args);
  va_end(args);
  return ok;
}

size_t DecodeUtf8(const char* text, size_t length, uint32_t* code) {
  if (length == 0) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  unsigned char c = p[0];
  if (c < 0x80) {
    *code = c;
    return 1;
  }
  // The lead byte gives the count of bytes and the least code point that needs that many;
  // 0xC0, 0xC1 and 0xF5 onwards can only begin overlong forms or values past U+10FFFF.
  size_t n = c >= 0xC2 && c <= 0xDF   ? 2
             : c >= 0xE0 && c <= 0xEF ? 3
             : c >= 0xF0 && c <= 0xF4 ? 4
                                      : 0;
  if (n == 0 || length < n) return 0;
  static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  uint32_t value = c & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) {
    if ((p[k] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (p[k] & 0x3F);
  }
  if (value < kLeast[n] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code = value;
  return n;
}

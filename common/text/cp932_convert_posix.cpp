#include <iconv.h>

#include "cp932_convert.h"

namespace {

// One conversion descriptor per direction and thread, closed when the thread ends: opening
// one costs more than most conversions, and every path of a build goes through here, from
// every job of a concurrent digest at once (a descriptor keeps state, so it cannot be shared).
struct Converters {
  iconv_t toUtf8 = reinterpret_cast<iconv_t>(-1);
  iconv_t fromUtf8 = reinterpret_cast<iconv_t>(-1);
  ~Converters() {
    if (toUtf8 != reinterpret_cast<iconv_t>(-1)) iconv_close(toUtf8);
    if (fromUtf8 != reinterpret_cast<iconv_t>(-1)) iconv_close(fromUtf8);
  }
};

// The descriptor of this thread for one direction, back in its initial state; -1 when the
// system has no such conversion.
iconv_t Converter(bool toUtf8) {
  static thread_local Converters converters;
  iconv_t& cd = toUtf8 ? converters.toUtf8 : converters.fromUtf8;
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    cd = toUtf8 ? iconv_open("UTF-8", "CP932") : iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return cd;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  return cd;
}

// Bytes below 0x80 are the same characters in both encodings (code page 932's 0x5C and 0x7E
// are the backslash and the tilde, as the system's converter has them), so text of those
// alone, as most paths are, is its own conversion (where the system has the conversion at
// all: without it every text fails as before).
bool IsAscii(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

bool Convert(bool toUtf8, const std::string& in, std::string* out) {
  iconv_t cd = Converter(toUtf8);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  if (IsAscii(in)) {
    *out = in;
    return true;
  }
  out->assign(in.size() * 4 + 8, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = &(*out)[0];
  size_t dstLeft = out->size();
  size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  if (r == static_cast<size_t>(-1) || r != 0) return false;  // invalid or inexact
  out->resize(out->size() - dstLeft);
  return true;
}

}  // namespace

bool Cp932ToUtf8(const std::string& in, std::string* out) { return Convert(true, in, out); }
bool Utf8ToCp932(const std::string& in, std::string* out) {
  // The system's converter takes some characters one way only: 〜 (U+301C) becomes 0x8160,
  // which reads back as ～ (U+FF5E), so the stored name would name a file that is not there.
  // Windows refuses such characters (no best fit); so does this, by converting back.
  std::string back;
  return Convert(false, in, out) && Convert(true, *out, &back) && back == in;
}

std::string Cp932ToUtf8Lenient(const std::string& cp932) {
  iconv_t cd = Converter(true);
  if (cd == reinterpret_cast<iconv_t>(-1)) return cp932;
  std::string out;
  char buffer[4096];
  char* src = const_cast<char*>(cp932.data());
  size_t srcLeft = cp932.size();
  while (srcLeft > 0) {
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buffer, sizeof buffer - dstLeft);
    if (r == static_cast<size_t>(-1) && dstLeft == sizeof buffer && srcLeft > 0) {
      out += "\xEF\xBF\xBD";
      ++src;
      --srcLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

#include "cp932_convert.h"

#include "platform.h"

namespace {

// Converts the code-page-932 pieces of `cp932` by `convert` and keeps the enclosed ones.
template <typename Convert>
bool ConvertPieces(const std::string& cp932, std::string* out, Convert convert) {
  out->clear();
  size_t from = 0;
  while (from < cp932.size()) {
    size_t begin = cp932.find(kForeignNameBegin, from);
    if (!convert(cp932.substr(from, begin - from), out)) return false;
    if (begin == std::string::npos) break;
    size_t end = cp932.find(kForeignNameEnd, begin + 1);
    *out += cp932.substr(begin + 1, end == std::string::npos ? end : end - begin - 1);
    from = end == std::string::npos ? cp932.size() : end + 1;
  }
  return true;
}

}  // namespace

std::string Cp932TextToUtf8(const std::string& cp932) {
  std::string out;
  ConvertPieces(cp932, &out, [](const std::string& piece, std::string* to) {
    *to += Cp932ToUtf8Lenient(piece);
    return true;
  });
  return out;
}

bool Cp932TextToUtf8Exact(const std::string& cp932, std::string* out) {
  return ConvertPieces(cp932, out, [](const std::string& piece, std::string* to) {
    std::string converted;
    if (!Cp932ToUtf8(piece, &converted)) return false;
    *to += converted;
    return true;
  });
}

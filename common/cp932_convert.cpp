#include "cp932_convert.h"

#include "platform.h"

std::string Cp932TextToUtf8(const std::string& cp932) {
  std::string out;
  size_t from = 0;
  while (from < cp932.size()) {
    size_t begin = cp932.find(kForeignNameBegin, from);
    out += Cp932ToUtf8Lenient(cp932.substr(from, begin - from));
    if (begin == std::string::npos) break;
    size_t end = cp932.find(kForeignNameEnd, begin + 1);
    out += cp932.substr(begin + 1, end == std::string::npos ? end : end - begin - 1);
    from = end == std::string::npos ? cp932.size() : end + 1;
  }
  return out;
}

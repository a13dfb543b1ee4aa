// Code page 932 in the web page: the browser's own decoder (its "shift_jis" is Windows's
// table, 0x8160 as U+FF5E), asked through the worker's script.
#include <stdint.h>

#include "cp932_convert.h"
#include "imports_web.h"

namespace {

bool Decode(const std::string& in, bool exact, std::string* out) {
  // A byte becomes at most three UTF-8 bytes (U+FFFD too); two bytes never more than four.
  out->assign(in.size() * 3 + 4, '\0');
  int32_t n = VxJsDecodeCp932(in.data(), static_cast<uint32_t>(in.size()), &(*out)[0],
                              static_cast<uint32_t>(out->size()), exact ? 1 : 0);
  if (n < 0) {
    out->clear();
    return false;
  }
  out->resize(static_cast<size_t>(n));
  return true;
}

}  // namespace

bool Cp932ToUtf8(const std::string& in, std::string* out) { return Decode(in, true, out); }

// The page never writes a name: a browser has no encoder to code page 932, and the check only
// reads names that the check data stores.
bool Utf8ToCp932(const std::string&, std::string* out) {
  out->clear();
  return false;
}

std::string Cp932ToUtf8Lenient(const std::string& cp932) {
  std::string out;
  Decode(cp932, false, &out);
  return out;
}

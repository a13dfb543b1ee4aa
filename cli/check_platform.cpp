#include "check_platform.h"

std::string CheckPlatform::ToUtf8(const std::string& sjis) const {
  if (!marked_) return LenientUtf8(sjis);
  // Converted piece by piece, so that the folder's own name is never taken for text.
  std::string out;
  size_t from = 0;
  for (size_t mark; (mark = sjis.find(kExecutableFolderMark, from)) != std::string::npos;
       from = mark + 1) {
    out += LenientUtf8(sjis.substr(from, mark - from)) + folder_;
  }
  return out + LenientUtf8(sjis.substr(from));
}

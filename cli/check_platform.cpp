#include "check_platform.h"

#include "check_output.h"
#include "cp932_convert.h"

std::string CheckPlatform::ToUtf8(const std::string& cp932) const {
  if (!marked_) return Cp932TextToUtf8(cp932);
  // Converted piece by piece, so that the folder's own name is never taken for text.
  std::string out;
  size_t from = 0;
  for (size_t mark; (mark = cp932.find(kExecutableFolderMark, from)) != std::string::npos;
       from = mark + 1) {
    out += Cp932TextToUtf8(cp932.substr(from, mark - from)) + EscapedUtf8(folder_);
    // The separator after the folder takes the folder's style: "/" where the system writes it.
    if (!folder_.empty() && folder_[0] == '/' && mark + 1 < cp932.size() && cp932[mark + 1] == '\\') {
      out += '/';
      ++mark;
    }
  }
  return out + Cp932TextToUtf8(cp932.substr(from));
}

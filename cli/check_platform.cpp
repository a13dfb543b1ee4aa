#include "check_platform.h"

#include "check_output.h"
#include "cp932_convert.h"

std::string TextWithFolder(const std::string& cp932, const std::string& folder, bool slashAfter) {
  // Converted piece by piece, so that the folder's own name is never taken for text.
  std::string out;
  size_t from = 0;
  for (size_t mark; (mark = cp932.find(kExecutableFolderMark, from)) != std::string::npos;
       from = mark + 1) {
    out += Cp932TextToUtf8(cp932.substr(from, mark - from)) + folder;
    if (slashAfter && mark + 1 < cp932.size() && cp932[mark + 1] == '\\') {
      out += '/';
      ++mark;
    }
  }
  return out + Cp932TextToUtf8(cp932.substr(from));
}

std::string CheckPlatform::ToUtf8(const std::string& cp932) const {
  if (!marked_) return Cp932TextToUtf8(cp932);
  // The separator after the folder takes the folder's style: "/" where the system writes it.
  return TextWithFolder(cp932, EscapedUtf8(folder_), !folder_.empty() && folder_[0] == '/');
}

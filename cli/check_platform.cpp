#include "check_platform.h"

#include "check_output.h"
#include "cp932_convert.h"

std::string CheckPlatform::ToUtf8(const std::string& cp932) const {
  if (!marked_) return Cp932TextToUtf8(cp932);
  // The separator after the folder takes the folder's style: "/" where the system writes it.
  return TextWithFolder(cp932, EscapedUtf8(folder_), !folder_.empty() && folder_[0] == '/');
}

#include "platform_web.h"

#include <stdint.h>

#include <string>

#include "cp932_convert.h"
#include "imports_web.h"
#include "text.h"

namespace {

// The checker's own path: the folder mark, a separator and a byte that no stored path holds.
const char kCheckerPath[] = {kExecutableFolderMark, '\\', '\x02', '\0'};

bool IsChecker(const char* path) { return TextEqual(path, kCheckerPath); }

FileRef AsRef(int32_t handle) { return reinterpret_cast<FileRef>(static_cast<intptr_t>(handle)); }
int32_t AsHandle(FileRef file) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(file)); }

}  // namespace

bool WebRelativePath(const char* path, std::string* out) {
  // A name found on disk under another form: the page's own path after the mark.
  if (path[0] == kNativePathMark) {
    *out = path + 1;
    return true;
  }
  if (path[0] != kExecutableFolderMark || path[1] != '\\') return false;
  if (!Cp932TextToUtf8Exact(path + 2, out)) return false;  // an enclosed name is UTF-8
  // After the conversion a backslash can only be a separator.
  for (char& c : *out) {
    if (c == '\\') c = '/';
  }
  return true;
}

FileRef WebPlatform::OpenRead(const char* path) {
  if (IsChecker(path)) return AsRef(VxJsOpen("", 0, 1));
  std::string relative;
  if (!WebRelativePath(path, &relative) || relative.empty()) return nullptr;
  int32_t handle = VxJsOpen(relative.data(), static_cast<uint32_t>(relative.size()), 0);
  return handle > 0 ? AsRef(handle) : nullptr;
}

int32_t WebPlatform::Read(FileRef file, void* buffer, uint32_t size) {
  return VxJsRead(AsHandle(file), buffer, size);
}

bool WebPlatform::Seek(FileRef file, uint64_t offset) {
  // A double holds every offset of a file a browser can hand over (below 2^53 bytes).
  return VxJsSeek(AsHandle(file), static_cast<double>(offset)) != 0;
}

void WebPlatform::Close(FileRef file) { VxJsClose(AsHandle(file)); }

bool WebPlatform::FileSize(const char* path, uint64_t* size) {
  double bytes = -1;
  if (IsChecker(path)) {
    bytes = VxJsSize("", 0, 1);
  } else {
    std::string relative;
    if (!WebRelativePath(path, &relative) || relative.empty()) return false;
    bytes = VxJsSize(relative.data(), static_cast<uint32_t>(relative.size()), 0);
  }
  if (bytes < 0) return false;
  *size = static_cast<uint64_t>(bytes);
  return true;
}

bool WebPlatform::IsFolder(const char* path) {
  std::string relative;
  if (!WebRelativePath(path, &relative)) return false;
  if (!relative.empty() && relative.back() == '/') relative.pop_back();  // folders end with one
  return VxJsIsFolder(relative.data(), static_cast<uint32_t>(relative.size())) != 0;
}

bool WebPlatform::ExecutablePath(char* buffer, size_t capacity) {
  return TextCopy(buffer, capacity, kCheckerPath);
}

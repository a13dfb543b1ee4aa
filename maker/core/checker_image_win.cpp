#include <windows.h>

#include "checker_image.h"

bool BuiltinCheckerImage(const unsigned char** data, size_t* size) {
  // The image is the RCDATA resource "CHECKER" of this executable (see maker/CMakeLists.txt).
  HRSRC info = FindResourceW(nullptr, L"CHECKER", MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (info == nullptr) return false;
  HGLOBAL loaded = LoadResource(nullptr, info);
  DWORD length = SizeofResource(nullptr, info);
  if (loaded == nullptr || length == 0) return false;
  *data = static_cast<const unsigned char*>(LockResource(loaded));
  *size = length;
  return *data != nullptr;
}

// The archive file read by offset on Windows: each read names its offset, so threads may read
// at once through the one handle.
#include <windows.h>

#include "cp932_convert_win.h"
#include "zip_platform.h"

ZipFileSource::~ZipFileSource() {
  if (handle_ != nullptr) CloseHandle(handle_);
}

bool ZipFileSource::Open(const std::string& utf8Path) {
  std::wstring wide = WideFromUtf8(utf8Path);
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return false;
  }
  handle_ = file;
  size_ = static_cast<uint64_t>(size.QuadPart);
  return true;
}

bool ZipFileSource::ReadAt(uint64_t offset, void* buffer, size_t size) {
  char* p = static_cast<char*>(buffer);
  while (size > 0) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD part = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size), got = 0;
    if (!ReadFile(handle_, p, part, &got, &at) || got == 0) return false;
    p += got;
    offset += got;
    size -= got;
  }
  return true;
}

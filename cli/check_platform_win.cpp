#include <windows.h>

#include <algorithm>

#include "check_platform.h"
#include "cp932_convert_win.h"
#include "platform_win.h"

namespace {

bool EndsWithExe(const std::wstring& name) {
  if (name.size() < 4) return false;
  return CompareStringOrdinal(name.c_str() + name.size() - 4, 4, L".exe", 4, TRUE) == CSTR_EQUAL;
}

}  // namespace

// Opens files on disk only: a stored name such as CON or COM1 opens a device, which would make
// the check wait for ever, so it counts as missing, as a folder does.
class DiskFilesPlatform : public Win32Platform {
 public:
  FileRef OpenRead(const char* path) override {
    FileRef file = Win32Platform::OpenRead(path);
    if (file != nullptr && GetFileType(static_cast<HANDLE>(file)) != FILE_TYPE_DISK) {
      Close(file);
      return nullptr;
    }
    return file;
  }
};

struct CheckPlatform::Impl {
  DiskFilesPlatform platform;
};

CheckPlatform::CheckPlatform() : impl_(new Impl) {}
CheckPlatform::~CheckPlatform() = default;

Platform& CheckPlatform::platform() { return impl_->platform; }

bool CheckPlatform::UseChecker(const std::string& utf8Path, std::string* file,
                               std::string* folder) {
  std::wstring wide = WideFromUtf8(utf8Path);
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (wide.empty() || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  wchar_t full[MAX_PATH];
  DWORD n = GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr);
  if (n == 0 || n >= MAX_PATH || !impl_->platform.SetExecutablePath(full)) return false;
  std::wstring whole(full, n);
  size_t cut = whole.find_last_of(L"\\/");
  *file = Utf8FromWide(whole);
  *folder = Utf8FromWide(whole.substr(0, cut == std::wstring::npos ? 0 : cut));
  folder_ = *folder;
  char path[MAX_PATH];
  if (!impl_->platform.ExecutablePath(path, sizeof path)) return false;
  marked_ = path[0] == kExecutableFolderMark;
  return true;
}

std::string FolderAsGiven(const std::string& utf8Path) {
  size_t cut = utf8Path.find_last_of("\\/:");
  std::string folder = cut == std::string::npos ? std::string() : utf8Path.substr(0, cut + 1);
  for (char& c : folder) {
    if (c == '\\') c = '/';
  }
  return folder;
}

std::vector<std::string> ExeFilesHere() {
  std::vector<std::string> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(L"*", &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && EndsWithExe(data.cFileName)) {
      names.push_back(Utf8FromWide(data.cFileName));
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

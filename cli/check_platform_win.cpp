#include <windows.h>

#include <algorithm>

#include "check_platform.h"
#include "check_run.h"
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
// A path that begins with kNativePathMark (a name found on disk that code page 932 cannot
// write) holds UTF-8 after the mark, opened with the wide calls here.
class DiskFilesPlatform : public Win32Platform {
 public:
  FileRef OpenRead(const char* path) override {
    FileRef file = nullptr;
    if (path[0] == kNativePathMark) {
      HANDLE h = CreateFileW(WideFromUtf8(path + 1).c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
      file = h == INVALID_HANDLE_VALUE ? nullptr : static_cast<FileRef>(h);
    } else {
      file = Win32Platform::OpenRead(path);
    }
    if (file != nullptr && GetFileType(static_cast<HANDLE>(file)) != FILE_TYPE_DISK) {
      Close(file);
      return nullptr;
    }
    return file;
  }

  bool IsFolder(const char* path) override {
    if (path[0] != kNativePathMark) return Win32Platform::IsFolder(path);
    DWORD attributes = GetFileAttributesW(WideFromUtf8(path + 1).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  // The folder as UTF-8 for the wide calls, the executable's folder put back for its mark.
  bool Utf8Folder(const std::string& folder, std::string* out) const {
    if (!folder.empty() && folder[0] == kNativePathMark) {
      *out = folder.substr(1);
      return true;
    }
    std::vector<wchar_t> wide(32768);
    if (!WidePath(folder.c_str(), wide.data(), static_cast<int>(wide.size()))) return false;
    *out = Utf8FromWide(wide.data());
    return true;
  }
};

// Names as Windows has them (UTF-16), in UTF-8.
class WinFolderNames : public FolderNames {
 public:
  explicit WinFolderNames(const DiskFilesPlatform& platform) : platform_(platform) {}

  bool List(const std::string& folder, std::vector<std::string>* names) override {
    std::string utf8;
    if (!platform_.Utf8Folder(folder, &utf8)) return false;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(WideFromUtf8(utf8 + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
      std::wstring name = data.cFileName;
      if (name != L"." && name != L"..") names->push_back(Utf8FromWide(name));
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return true;
  }

  std::string Join(const std::string& folder, const std::string& name, bool isFolder) override {
    std::string utf8;
    if (!platform_.Utf8Folder(folder, &utf8)) return std::string();
    if (!utf8.empty() && utf8.back() != '\\' && utf8.back() != '/') utf8 += '\\';
    return kNativePathMark + utf8 + name + (isFolder ? "\\" : "");
  }

 private:
  const DiskFilesPlatform& platform_;
};

struct CheckPlatform::Impl {
  DiskFilesPlatform platform;
  WinFolderNames names{platform};
};

CheckPlatform::CheckPlatform() : impl_(new Impl) {}
CheckPlatform::~CheckPlatform() = default;

Platform& CheckPlatform::platform() { return impl_->platform; }
FolderNames& CheckPlatform::names() { return impl_->names; }

bool CheckPlatform::UseChecker(const std::string& utf8Path, std::string* file,
                               std::string* folder) {
  std::wstring wide = WideFromUtf8(utf8Path);
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (wide.empty() || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  wchar_t full[kPlatformPathChars];
  DWORD n = GetFullPathNameW(wide.c_str(), kPlatformPathChars, full, nullptr);
  if (n == 0 || n >= static_cast<DWORD>(kPlatformPathChars) ||
      !impl_->platform.SetExecutablePath(full)) {
    return false;
  }
  std::wstring whole(full, n);
  size_t cut = whole.find_last_of(L"\\/");
  *file = Utf8FromWide(whole);
  *folder = Utf8FromWide(whole.substr(0, cut == std::wstring::npos ? 0 : cut));
  folder_ = *folder;
  char path[kCheckerPathSize];
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

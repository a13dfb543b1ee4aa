#include "maker_platform_win.h"

#include <string>
#include <vector>

#include "cp932_convert_win.h"

namespace {

struct Listing {
  HANDLE find;
  WIN32_FIND_DATAW data;
  bool pending;  // `data` holds an entry not handed out yet
};

HANDLE Handle(FileRef file) { return static_cast<HANDLE>(file); }

// Room for any path of the maker (at most 259 bytes) with the executable's folder put in.
constexpr int kWidePathCapacity = 2048;

}  // namespace

std::wstring Win32MakerPlatform::WidePathOf(const char* path) const {
  std::vector<wchar_t> wide(kWidePathCapacity);
  if (!reads_.WidePath(path, wide.data(), kWidePathCapacity)) return std::wstring();
  return wide.data();
}

ListingRef Win32MakerPlatform::OpenListing(const char* folder) {
  std::wstring pattern = WidePathOf(folder);
  if (pattern.empty()) return nullptr;
  pattern += L"*.*";
  Listing* l = new Listing;
  l->find = FindFirstFileW(pattern.c_str(), &l->data);
  if (l->find == INVALID_HANDLE_VALUE) {
    delete l;
    return nullptr;
  }
  l->pending = true;
  return l;
}

bool Win32MakerPlatform::NextEntry(ListingRef listing, FolderEntry* entry) {
  Listing* l = static_cast<Listing*>(listing);
  if (!l->pending && !FindNextFileW(l->find, &l->data)) return false;
  l->pending = false;
  char name[MAX_PATH * 2 + 1];
  entry->representable = WideToCp932(l->data.cFileName, name, sizeof name);
  entry->name = name;
  // The warning that names such an entry shows its name as it is.
  if (!entry->representable)
    entry->name = kForeignNameBegin + Utf8FromWide(l->data.cFileName) + kForeignNameEnd;
  entry->isFolder = (l->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

void Win32MakerPlatform::CloseListing(ListingRef listing) {
  Listing* l = static_cast<Listing*>(listing);
  FindClose(l->find);
  delete l;
}

bool Win32MakerPlatform::FolderIdentity(const char* folder, uint64_t identity[2]) {
  HANDLE h = CreateFileW(WidePathOf(folder).c_str(), 0,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool ok = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!ok) return false;
  identity[0] = info.dwVolumeSerialNumber;
  identity[1] = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

FileRef Win32MakerPlatform::CreateNew(const char* path) {
  HANDLE h = CreateFileW(WidePathOf(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

bool Win32MakerPlatform::Write(FileRef file, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(Handle(file), p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

bool Win32MakerPlatform::FinishWrite(FileRef file) {
  bool ok = FlushFileBuffers(Handle(file)) != 0;
  return CloseHandle(Handle(file)) != 0 && ok;
}

bool Win32MakerPlatform::Replace(const char* from, const char* to) {
  return MoveFileExW(WidePathOf(from).c_str(), WidePathOf(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void Win32MakerPlatform::Remove(const char* path) { DeleteFileW(WidePathOf(path).c_str()); }

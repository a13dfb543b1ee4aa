#include "platform_win.h"

#include <new>

namespace {

constexpr UINT kCodePage = 932;
// Room for any path the programs build (at most 259 bytes) and for the longest message.
constexpr int kWideCapacity = 2048;

HANDLE Handle(FileRef file) { return static_cast<HANDLE>(file); }

}  // namespace

bool Cp932ToWide(const char* text, wchar_t* out, int capacity) {
  int n = MultiByteToWideChar(kCodePage, 0, text, -1, out, capacity);
  if (n == 0) {
    if (capacity > 0) out[0] = L'\0';
    return false;
  }
  return true;
}

bool WideToCp932(const wchar_t* text, char* out, int capacity) {
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, text, -1, out, capacity, nullptr,
                              &usedDefault);
  if (n == 0) {
    if (capacity > 0) out[0] = '\0';
    return false;
  }
  return !usedDefault;
}

FileRef Win32Platform::OpenRead(const char* path) {
  wchar_t wide[kWideCapacity];
  if (!Cp932ToWide(path, wide, kWideCapacity)) return nullptr;
  HANDLE h = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

int32_t Win32Platform::Read(FileRef file, void* buffer, uint32_t size) {
  DWORD got = 0;
  if (!ReadFile(Handle(file), buffer, size, &got, nullptr)) return -1;
  return static_cast<int32_t>(got);
}

bool Win32Platform::Seek(FileRef file, uint64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(Handle(file), to, nullptr, FILE_BEGIN) != 0;
}

void Win32Platform::Close(FileRef file) { CloseHandle(Handle(file)); }

bool Win32Platform::FileSize(const char* path, uint64_t* size) {
  wchar_t wide[kWideCapacity];
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!Cp932ToWide(path, wide, kWideCapacity) ||
      !GetFileAttributesExW(wide, GetFileExInfoStandard, &info)) {
    return false;
  }
  *size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return true;
}

bool Win32Platform::IsFolder(const char* path) {
  wchar_t wide[kWideCapacity];
  if (!Cp932ToWide(path, wide, kWideCapacity)) return false;
  DWORD attributes = GetFileAttributesW(wide);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32Platform::ExecutablePath(char* buffer, size_t capacity) {
  wchar_t wide[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, wide, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  WideToCp932(wide, buffer, static_cast<int>(capacity));
  return buffer[0] != '\0';
}

bool Win32MessageSink::Show(const char* text, const char* title, MessageKind kind) {
  // User messages have no length limit, so the text's buffer is sized to fit.
  int length = MultiByteToWideChar(kCodePage, 0, text, -1, nullptr, 0);
  wchar_t* wideText = new (std::nothrow) wchar_t[length > 0 ? length : 1];
  if (wideText == nullptr) return false;
  Cp932ToWide(text, wideText, length > 0 ? length : 1);
  wchar_t wideTitle[64];
  Cp932ToWide(title, wideTitle, 64);
  UINT flags = MB_OK;
  if (kind == kMessageWarning) flags = MB_OK | MB_ICONWARNING;
  if (kind == kMessageQuestion) flags = MB_OKCANCEL | MB_ICONQUESTION;
  bool ok = MessageBoxW(owner_, wideText, wideTitle, flags) == IDOK;
  delete[] wideText;
  return ok;
}

#include "platform_win.h"

#include <new>

#include "cp932_convert_win.h"
#include "text.h"

namespace {

// Room for the longest path that vexorin-check takes (4,096 bytes; the checker's are at most
// 1,024) and the \\?\UNC prefix.
constexpr int kWideCapacity = 4104;

HANDLE Handle(FileRef file) { return static_cast<HANDLE>(file); }

// Converts `text` to UTF-16 with every mark replaced by `folder` (none when it is null) and
// returns the length without the terminator, or -1 when a piece cannot be converted. Writes
// only when `out` is given; the caller has measured first, so the result fits `capacity`.
int ExpandToWide(const char* text, const wchar_t* folder, wchar_t* out, int capacity) {
  int folderLength = 0;
  while (folder != nullptr && folder[folderLength] != L'\0') ++folderLength;
  int length = 0;
  for (const char* piece = text;;) {
    const char* end = piece;
    bool foreign = *piece == kForeignNameBegin;  // a name in UTF-8 up to kForeignNameEnd
    if (foreign) ++piece, ++end;
    while (*end != '\0' && (foreign ? *end != kForeignNameEnd
                                    : *end != kForeignNameBegin &&
                                          (folder == nullptr || *end != kExecutableFolderMark))) {
      ++end;
    }
    if (end > piece) {
      int n = foreign
                  ? MultiByteToWideChar(CP_UTF8, 0, piece, static_cast<int>(end - piece),
                                        out != nullptr ? out + length : nullptr,
                                        out != nullptr ? capacity - length : 0)
                  : Cp932PieceToWide(piece, static_cast<int>(end - piece),
                                     out != nullptr ? out + length : nullptr, capacity - length);
      if (n <= 0) return -1;
      length += n;
    }
    if (*end == '\0') break;
    if (foreign || *end == kForeignNameBegin) {
      piece = foreign ? end + 1 : end;
      continue;
    }
    for (int i = 0; out != nullptr && i < folderLength; ++i) out[length + i] = folder[i];
    length += folderLength;
    piece = end + 1;
  }
  if (out != nullptr) out[length] = L'\0';
  return length;
}

// ExpandToWide into a buffer of `capacity` characters; false when it does not fit.
bool ExpandInto(const char* text, const wchar_t* folder, wchar_t* out, int capacity) {
  int length = ExpandToWide(text, folder, nullptr, 0);
  if (length < 0 || length >= capacity) {
    if (capacity > 0) out[0] = L'\0';
    return false;
  }
  ExpandToWide(text, folder, out, capacity);
  return true;
}

// A full path near MAX_PATH characters or beyond opens only in the \\?\ form (\\?\C:\...,
// \\?\UNC\server\...), which Windows takes without its path limit; near it, so that a
// folder's path stays usable with a search pattern ("*.*") after it. Shorter paths, and
// paths that are not full ones, stay as they are. False when the longer form does not fit.
bool LongForm(wchar_t* path, int capacity) {
  int n = 0;
  while (path[n] != L'\0') ++n;
  if (n < MAX_PATH - 12) return true;
  bool drive = path[1] == L':' && path[2] == L'\\';
  bool unc = path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.';
  if (!drive && !unc) return true;
  const wchar_t* prefix = drive ? L"\\\\?\\" : L"\\\\?\\UNC";
  int shift = drive ? 4 : 6;
  if (n + shift >= capacity) return false;
  for (int i = n; i >= 0; --i) path[i + shift] = path[i];
  for (int i = 0; prefix[i] != L'\0'; ++i) path[i] = prefix[i];
  return true;
}

}  // namespace

wchar_t* NewWideText(const char* text, const wchar_t* folder) {
  int length = ExpandToWide(text, folder, nullptr, 0);
  wchar_t* wide = new (std::nothrow) wchar_t[length > 0 ? length + 1 : 1];
  if (wide == nullptr) return nullptr;
  if (length >= 0) {
    ExpandToWide(text, folder, wide, length + 1);
  } else {
    wide[0] = L'\0';  // shown empty rather than not at all
  }
  return wide;
}

bool Win32Platform::WidePath(const char* path, wchar_t* out, int capacity) const {
  if (marked_ && TextEqual(path, selfText_)) {
    int i = 0;
    for (; self_[i] != L'\0' && i + 1 < capacity; ++i) out[i] = self_[i];
    out[i] = L'\0';
    return self_[i] == L'\0';
  }
  return ExpandInto(path, MarkedFolder(), out, capacity) && LongForm(out, capacity);
}

FileRef Win32Platform::OpenRead(const char* path) {
  wchar_t wide[kWideCapacity];
  if (!WidePath(path, wide, kWideCapacity)) return nullptr;
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
  if (!WidePath(path, wide, kWideCapacity) ||
      !GetFileAttributesExW(wide, GetFileExInfoStandard, &info)) {
    return false;
  }
  *size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return true;
}

bool Win32Platform::IsFolder(const char* path) {
  wchar_t wide[kWideCapacity];
  if (!WidePath(path, wide, kWideCapacity)) return false;
  DWORD attributes = GetFileAttributesW(wide);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32Platform::SetExecutablePath(const wchar_t* path) {
  DWORD n = 0;
  for (; path[n] != L'\0'; ++n) {
    if (n + 1 >= kPlatformPathChars) return false;
    self_[n] = path[n];
  }
  self_[n] = L'\0';
  selfGiven_ = true;
  return true;
}

bool Win32Platform::ExecutablePath(char* buffer, size_t capacity) {
  DWORD n = 0;
  if (selfGiven_) {
    while (self_[n] != L'\0') ++n;
  } else {
    n = GetModuleFileNameW(nullptr, self_, kPlatformPathChars);
  }
  selfTooLong_ = selfCut_ = false;
  if (n >= static_cast<DWORD>(kPlatformPathChars) - 1) {
    // Cut by GetModuleFileNameW: what it holds is the path's beginning.
    self_[kPlatformPathChars - 1] = L'\0';
    selfTooLong_ = selfCut_ = true;
  }
  if (n == 0 || selfTooLong_) return false;
  if (WideToCp932(self_, buffer, static_cast<int>(capacity))) return true;
  if (buffer[0] == '\0') {  // too long for the buffer, not merely unwritable
    selfTooLong_ = true;
    return false;
  }
  // The folder ends at the last separator: in UTF-16 no other character holds its code.
  DWORD cut = n;
  while (cut > 0 && self_[cut - 1] != L'\\' && self_[cut - 1] != L'/') --cut;
  if (cut < 2) return false;
  for (DWORD i = 0; i + 1 < cut; ++i) folder_[i] = self_[i];
  folder_[cut - 1] = L'\0';
  // The name stays readable where code page 932 can write it; the whole text is only ever
  // compared, never converted back.
  selfText_[0] = kExecutableFolderMark;
  selfText_[1] = '\\';
  WideToCp932(self_ + cut, selfText_ + 2, kPlatformPathChars - 2);
  if (selfText_[2] == '\0') return false;
  marked_ = true;
  return TextCopy(buffer, capacity, selfText_);
}

bool Win32Platform::ExecutablePathTooLong(char* buffer, size_t capacity) {
  if (!selfTooLong_ || capacity < 8) return false;
  // In UTF-8, enclosed, so that the text names it as it is, whatever code page 932 can
  // write, as far as it fits: room is kept for the closing mark, "..." and the terminator.
  size_t at = 0, room = capacity - 5;
  buffer[at++] = kForeignNameBegin;
  bool cut = selfCut_;
  for (int i = 0; self_[i] != L'\0'; ++i) {
    uint32_t c = self_[i];
    if (c >= 0xD800 && c <= 0xDBFF && self_[i + 1] >= 0xDC00 && self_[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (self_[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    size_t length = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    if (at + length > room) {
      cut = true;
      break;
    }
    if (length == 1) {
      buffer[at++] = static_cast<char>(c);
      continue;
    }
    buffer[at++] = static_cast<char>((0xF00 >> length) | (c >> (6 * (length - 1))));
    for (size_t k = length - 1; k > 0; --k)
      buffer[at++] = static_cast<char>(0x80 | ((c >> (6 * (k - 1))) & 0x3F));
  }
  buffer[at++] = kForeignNameEnd;
  buffer[at] = '\0';
  if (cut) TextAppend(buffer, capacity, "...");
  return true;
}

bool Win32MessageSink::Show(const char* text, const char* title, MessageKind kind) {
  // User messages have no length limit, so the text's buffer is sized to fit.
  wchar_t* wideText = NewWideText(text, platform_ != nullptr ? platform_->MarkedFolder() : nullptr);
  if (wideText == nullptr) return false;
  wchar_t wideTitle[64];
  Cp932ToWide(title, wideTitle, 64);
  UINT flags = MB_OK;
  if (kind == kMessageWarning) flags = MB_OK | MB_ICONWARNING;
  if (kind == kMessageQuestion) flags = MB_OKCANCEL | MB_ICONQUESTION;
  bool ok = MessageBoxW(owner_, wideText, wideTitle, flags) == IDOK;
  delete[] wideText;
  return ok;
}

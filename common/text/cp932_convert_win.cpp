#include "cp932_convert_win.h"

namespace {

constexpr UINT kCodePage = 932;

std::wstring ToWide(UINT codePage, const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  if (n > 0)
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

// With `exact`, *exact says whether every character had a counterpart.
std::string FromWide(UINT codePage, DWORD flags, const std::wstring& wide, const char* standIn,
                     bool* exact) {
  if (wide.empty()) return std::string();
  BOOL usedDefault = FALSE;
  BOOL* used = exact != nullptr ? &usedDefault : nullptr;
  int size = static_cast<int>(wide.size());
  int n = WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, standIn, used);
  std::string out(static_cast<size_t>(n), '\0');
  if (n > 0) WideCharToMultiByte(codePage, flags, wide.data(), size, &out[0], n, standIn, used);
  if (exact != nullptr) *exact = !usedDefault;
  return out;
}

}  // namespace

bool Cp932ToWide(const char* text, wchar_t* out, int capacity) {
  int n = MultiByteToWideChar(kCodePage, 0, text, -1, out, capacity);
  if (n == 0) {
    if (capacity > 0) out[0] = L'\0';
    return false;
  }
  return true;
}

int Cp932PieceToWide(const char* text, int length, wchar_t* out, int capacity) {
  return MultiByteToWideChar(kCodePage, 0, text, length, out, out != nullptr ? capacity : 0);
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

std::wstring WideFromCp932(const std::string& cp932) { return ToWide(kCodePage, cp932); }

std::string Cp932FromWide(const std::wstring& wide) {
  return FromWide(kCodePage, WC_NO_BEST_FIT_CHARS, wide, "?", nullptr);
}

std::wstring WideFromUtf8(const std::string& utf8) { return ToWide(CP_UTF8, utf8); }

std::string Utf8FromWide(const std::wstring& wide) {
  return FromWide(CP_UTF8, 0, wide, nullptr, nullptr);
}

std::string AnsiFromWide(const std::wstring& wide) {
  return FromWide(CP_ACP, 0, wide, nullptr, nullptr);
}

bool Cp932ToUtf8(const std::string& in, std::string* out) {
  if (!in.empty() && MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, in.data(),
                                         static_cast<int>(in.size()), nullptr, 0) == 0) {
    return false;
  }
  *out = Utf8FromWide(WideFromCp932(in));
  return true;
}

bool Utf8ToCp932(const std::string& in, std::string* out) {
  bool exact = true;
  *out = FromWide(kCodePage, WC_NO_BEST_FIT_CHARS, WideFromUtf8(in), nullptr, &exact);
  return exact;
}

std::string Cp932ToUtf8Lenient(const std::string& cp932) {
  return Utf8FromWide(WideFromCp932(cp932));
}

// The platform on Windows: code-page-932 texts are converted to UTF-16 at every call.
#pragma once
#include <windows.h>

#include "platform.h"

// Converts a code-page-932 text to UTF-16; false when it does not fit `capacity` characters.
bool Cp932ToWide(const char* text, wchar_t* out, int capacity);
// Converts UTF-16 to code page 932; false when it does not fit or when a character has no
// exact counterpart there (the text then holds a stand-in).
bool WideToCp932(const wchar_t* text, char* out, int capacity);

class Win32Platform : public Platform {
 public:
  FileRef OpenRead(const char* path) override;
  int32_t Read(FileRef file, void* buffer, uint32_t size) override;
  bool Seek(FileRef file, uint64_t offset) override;
  void Close(FileRef file) override;
  bool FileSize(const char* path, uint64_t* size) override;
  bool IsFolder(const char* path) override;
  bool ExecutablePath(char* buffer, size_t capacity) override;
};

// Message boxes owned by one window (or none).
class Win32MessageSink : public MessageSink {
 public:
  explicit Win32MessageSink(HWND owner) : owner_(owner) {}
  bool Show(const char* text, const char* title, MessageKind kind) override;
  void SetOwner(HWND owner) { owner_ = owner; }

 private:
  HWND owner_;
};

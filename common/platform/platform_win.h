// The platform on Windows: code-page-932 texts are converted to UTF-16 at every call.
#pragma once
#include <windows.h>

#include "platform.h"

// Converts a code-page-932 text to UTF-16 in a buffer of its own (free it with delete[]);
// with a `folder`, every kExecutableFolderMark becomes that folder. Null without memory.
wchar_t* NewWideText(const char* text, const wchar_t* folder);

// The longest path of the executable this platform takes, in UTF-16 units with the terminator:
// beyond MAX_PATH, for a folder unpacked deep down (such paths are opened in the \\?\ form).
constexpr int kPlatformPathChars = 1024;

class Win32Platform : public Platform {
 public:
  FileRef OpenRead(const char* path) override;
  int32_t Read(FileRef file, void* buffer, uint32_t size) override;
  bool Seek(FileRef file, uint64_t offset) override;
  void Close(FileRef file) override;
  bool FileSize(const char* path, uint64_t* size) override;
  bool IsFolder(const char* path) override;
  bool ExecutablePath(char* buffer, size_t capacity) override;
  bool ExecutablePathTooLong(char* buffer, size_t capacity) override;

  // Lets a tool stand another file in for the running executable (vexorin-check reads the
  // checker file it is given and checks that file's folder); false when it does not fit.
  bool SetExecutablePath(const wchar_t* path);

  // A path of this platform in UTF-16, the executable's folder put back for its mark; false
  // when it does not fit `capacity` characters.
  bool WidePath(const char* path, wchar_t* out, int capacity) const;
  // The executable's folder that the mark stands for, or null when none was handed out.
  const wchar_t* MarkedFolder() const { return marked_ ? folder_ : nullptr; }

 private:
  // Set when ExecutablePath had to hand out the marked form: the executable's folder without
  // its last separator, its whole path, and the text that stood for that path.
  bool marked_ = false;
  bool selfGiven_ = false;  // self_ holds the path of SetExecutablePath
  // Set when ExecutablePath failed as the path did not fit: the code-page-932 buffer, or
  // self_ itself (`selfCut_`: self_ holds the path's beginning).
  bool selfTooLong_ = false;
  bool selfCut_ = false;
  wchar_t folder_[kPlatformPathChars];
  wchar_t self_[kPlatformPathChars];
  char selfText_[kPlatformPathChars];
};

// Message boxes owned by one window (or none). With a platform, the texts show the
// executable's folder where its mark stands.
class Win32MessageSink : public MessageSink {
 public:
  explicit Win32MessageSink(HWND owner, const Win32Platform* platform = nullptr)
      : owner_(owner), platform_(platform) {}
  bool Show(const char* text, const char* title, MessageKind kind) override;
  void SetOwner(HWND owner) { owner_ = owner; }

 private:
  HWND owner_;
  const Win32Platform* platform_;
};

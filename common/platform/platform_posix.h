// The platform on Linux and other POSIX systems: code-page-932 paths become UTF-8 paths.
#pragma once
#include <stdint.h>

#include <atomic>
#include <memory>
#include <string>

#include "platform.h"

// A code-page-932 path with backslash separators as a native UTF-8 path with slashes.
bool NativePath(const char* path, std::string* out);

class PosixPlatform : public Platform {
 public:
  PosixPlatform();
  FileRef OpenRead(const char* path) override;
  int32_t Read(FileRef file, void* buffer, uint32_t size) override;
  bool Seek(FileRef file, uint64_t offset) override;
  void Close(FileRef file) override;
  bool FileSize(const char* path, uint64_t* size) override;
  bool IsFolder(const char* path) override;
  bool ExecutablePath(char* buffer, size_t capacity) override;
  bool ExecutablePathTooLong(char* buffer, size_t capacity) override;

  // Lets tests and tools stand a file in for the running executable (a native process
  // cannot be a checker file itself). The path is in code page 932.
  void SetExecutablePath(const std::string& path) { executablePath_ = path; }
  // The same with a native path, which code page 932 may not be able to write: then
  // ExecutablePath hands out the marked form, as for the running executable.
  void SetExecutableNativePath(const std::string& path) { executableNativePath_ = path; }

  // A path of this platform as a native one, the executable's folder put back for its mark;
  // a path that begins with kNativePathMark is native already.
  bool Native(const char* path, std::string* out) const;
  // A text to be shown, in UTF-8, the executable's folder put back for every mark.
  bool DisplayText(const char* text, std::string* out) const;

 protected:
  // Opens a native path for reading; nullptr for a folder, and with `regularOnly` for
  // anything but a regular file (opened without waiting, so that a named pipe cannot hold
  // the caller up).
  FileRef OpenNative(const std::string& native, bool regularOnly);

 private:
  // `text` with the executable's folder put back for every mark, as a native path or as
  // UTF-8 text to be shown.
  bool Expand(const char* text, bool path, std::string* out) const;

  std::string executablePath_;
  bool givenTooLong_ = false;  // ExecutablePath failed as executablePath_ did not fit
  std::string executableNativePath_;
  // Set when ExecutablePath had to hand out the marked form: the folder it stands for
  // (without its last separator), the executable's native path and the text handed out.
  bool marked_ = false;
  std::string folder_;
  std::string self_;
  std::string selfText_;
  // What is left to read of each open file by its descriptor, as its size at opening said
  // (-1: not known), so that the read that reaches the end need not be followed by one more
  // that finds it. Each slot is used by the one thread that reads that file.
  static constexpr int kKnownFiles = 1024;
  std::unique_ptr<std::atomic<int64_t>[]> left_;
};

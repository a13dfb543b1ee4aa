// A zip archive's entries as the platform a check reads through: the checker inside the zip
// stands in for the executable, its folder inside the zip for the folder it checks, and every
// entry is inflated (zlib) as it is read, nothing written to disk.
#pragma once
#include <stdint.h>

#include <string>

#include "platform.h"
#include "zip_entries.h"

// An archive file read by offset, from any thread.
class ZipFileSource : public ByteSource {
 public:
  ~ZipFileSource();
  // False when the file cannot be opened.
  bool Open(const std::string& utf8Path);
  uint64_t Size() override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t size) override;

 private:
  void* handle_ = nullptr;
  uint64_t size_ = 0;
};

// The entries (ZipEntries) read as files: each inflated by zlib as it is read, never past its
// declared size, and what that told of the zip handed back to the entries.
class ZipPlatform : public Platform, public ZipEntries {
 public:
  // Reads the archive's directory; `status` says whether it could be.
  explicit ZipPlatform(ByteSource& source);
  ~ZipPlatform();

  FileRef OpenRead(const char* path) override;
  int32_t Read(FileRef file, void* buffer, uint32_t size) override;
  bool Seek(FileRef file, uint64_t offset) override;
  void Close(FileRef file) override;
  bool FileSize(const char* path, uint64_t* size) override {
    return ZipEntries::FileSize(path, size);
  }
  bool IsFolder(const char* path) override { return ZipEntries::IsFolder(path); }
  bool ExecutablePath(char* buffer, size_t capacity) override {
    return ZipEntries::ExecutablePath(buffer, capacity);
  }

 private:
  struct Reader;
  bool Restart(Reader* reader);

  ByteSource& source_;
};

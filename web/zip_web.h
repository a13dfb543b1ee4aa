// A downloaded zip in the page: its bytes in the pieces the page hands over, and the platform a
// check reads through over its entries (ZipEntries), the checker's own bytes inflated by the page.
#pragma once
#include <stdint.h>

#include <map>
#include <set>
#include <string>

#include "platform.h"
#include "zip_entries.h"

// The zip's bytes, read through the worker's script from the pieces the page handed it. A read
// of bytes it does not hold fails, and the script asks the page for them: the directory is then
// read again.
class WebZipSource : public ByteSource {
 public:
  uint64_t Size() override;
  bool ReadAt(uint64_t offset, void* buffer, size_t size) override;
};

// The check's platform over the entries. The check reads no entry itself but the checker: the
// page's digest workers inflate and digest the others. The checker's bytes are those the page
// inflated (Hold); an .exe whose bytes a read asked for and that are not held is kept in
// `missing`, for the page to inflate.
class WebZipPlatform final : public Platform {
 public:
  explicit WebZipPlatform(ZipEntries& entries) : entries_(entries) {}
  void Hold(size_t entry, std::string bytes) { held_[entry] = std::move(bytes); }
  const std::set<size_t>& missing() const { return missing_; }
  void ForgetMissing() { missing_.clear(); }

  FileRef OpenRead(const char* path) override;
  int32_t Read(FileRef file, void* buffer, uint32_t size) override;
  bool Seek(FileRef file, uint64_t offset) override;
  void Close(FileRef file) override;
  bool FileSize(const char* path, uint64_t* size) override;
  bool IsFolder(const char* path) override { return entries_.IsFolder(path); }
  bool ExecutablePath(char* buffer, size_t capacity) override {
    return entries_.ExecutablePath(buffer, capacity);
  }

 private:
  struct Open {
    const std::string* bytes;
    uint64_t pos;
  };
  ZipEntries& entries_;
  std::map<size_t, std::string> held_;
  std::set<size_t> missing_;
};

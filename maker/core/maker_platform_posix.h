// The maker's platform on Linux: listings with readdir, writes with POSIX files.
#pragma once
#include "maker_platform.h"
#include "platform_posix.h"

class PosixMakerPlatform : public MakerPlatform {
 public:
  FileRef OpenRead(const char* path) override { return base_.OpenRead(path); }
  int32_t Read(FileRef file, void* buffer, uint32_t size) override { return base_.Read(file, buffer, size); }
  bool Seek(FileRef file, uint64_t offset) override { return base_.Seek(file, offset); }
  void Close(FileRef file) override { base_.Close(file); }
  bool FileSize(const char* path, uint64_t* size) override { return base_.FileSize(path, size); }
  bool IsFolder(const char* path) override { return base_.IsFolder(path); }
  bool ExecutablePath(char* buffer, size_t capacity) override {
    return base_.ExecutablePath(buffer, capacity);
  }
  void SetExecutablePath(const std::string& path) { base_.SetExecutablePath(path); }

  ListingRef OpenListing(const char* folder) override;
  bool NextEntry(ListingRef listing, FolderEntry* entry) override;
  void CloseListing(ListingRef listing) override;
  bool FolderIdentity(const char* folder, uint64_t identity[2]) override;

  FileRef CreateNew(const char* path) override;
  bool Write(FileRef file, const void* data, size_t size) override;
  bool FinishWrite(FileRef file) override;
  bool Replace(const char* from, const char* to) override;
  void Remove(const char* path) override;

 private:
  PosixPlatform base_;
};

// The maker's platform on Linux: listings with readdir, writes with POSIX files.
#pragma once
#include "maker_platform.h"
#include "platform_posix.h"

class PosixMakerPlatform : public MakerPlatformOver<PosixPlatform> {
 public:
  void SetExecutablePath(const std::string& path) { reads_.SetExecutablePath(path); }

  ListingRef OpenListing(const char* folder) override;
  bool NextEntry(ListingRef listing, FolderEntry* entry) override;
  void CloseListing(ListingRef listing) override;
  bool FolderIdentity(const char* folder, uint64_t identity[2]) override;

  FileRef CreateNew(const char* path) override;
  bool Write(FileRef file, const void* data, size_t size) override;
  bool FinishWrite(FileRef file) override;
  bool Replace(const char* from, const char* to) override;
  void Remove(const char* path) override;
};

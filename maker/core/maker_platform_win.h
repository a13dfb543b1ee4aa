// The maker's platform on Windows: listings and writes through the W functions.
#pragma once
#include <string>

#include "maker_platform.h"
#include "platform_win.h"

class Win32MakerPlatform : public MakerPlatformOver<Win32Platform> {
 public:
  ListingRef OpenListing(const char* folder) override;
  bool NextEntry(ListingRef listing, FolderEntry* entry) override;
  void CloseListing(ListingRef listing) override;
  bool FolderIdentity(const char* folder, uint64_t identity[2]) override;

  FileRef CreateNew(const char* path) override;
  bool Write(FileRef file, const void* data, size_t size) override;
  bool FinishWrite(FileRef file) override;
  bool Replace(const char* from, const char* to) override;
  void Remove(const char* path) override;

  // The executable's folder that the mark in its paths stands for, or null (see Platform).
  const wchar_t* MarkedFolder() const { return reads_.MarkedFolder(); }

 private:
  // A path in UTF-16 with the executable's folder put back for its mark; empty (which names
  // nothing) when it cannot be converted.
  std::wstring WidePathOf(const char* path) const;
};

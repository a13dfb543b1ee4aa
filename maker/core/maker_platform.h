// What the maker needs of the platform beyond reading: folder listings and safe writes.
#pragma once
#include <stdint.h>

#include <string>

#include "platform.h"

typedef void* ListingRef;

// One entry of a folder listing. The name is in code page 932; `representable` is false
// when the file system's name has characters that code page 932 cannot hold.
struct FolderEntry {
  std::string name;
  bool isFolder = false;
  bool representable = true;
};

class MakerPlatform : public Platform {
 public:
  // Starts listing the folder at `folder` (ending with a separator); null when the
  // listing cannot be started. Entries come in the order the file system gives them,
  // "." and ".." included where the file system reports them.
  virtual ListingRef OpenListing(const char* folder) = 0;
  // The next entry; false at the end of the listing or on an error.
  virtual bool NextEntry(ListingRef listing, FolderEntry* entry) = 0;
  virtual void CloseListing(ListingRef listing) = 0;
  // An identity of the folder at `folder` that two paths share exactly when they lead to
  // the same folder (through links too); false when it cannot be had.
  virtual bool FolderIdentity(const char* folder, uint64_t identity[2]) = 0;

  // Creates a new file for writing; null when it exists already or cannot be created.
  virtual FileRef CreateNew(const char* path) = 0;
  // Writes all `size` bytes; false on any error (a full disk included).
  virtual bool Write(FileRef file, const void* data, size_t size) = 0;
  // Flushes and closes a file from CreateNew; false when anything could not be written.
  virtual bool FinishWrite(FileRef file) = 0;
  // Moves `from` over `to` in one step, replacing `to` if it exists.
  virtual bool Replace(const char* from, const char* to) = 0;
  virtual void Remove(const char* path) = 0;

 protected:
  ~MakerPlatform() = default;
};

// A MakerPlatform whose reading side is the program's ordinary Platform implementation.
template <class Reads>
class MakerPlatformOver : public MakerPlatform {
 public:
  FileRef OpenRead(const char* path) override { return reads_.OpenRead(path); }
  int32_t Read(FileRef file, void* buffer, uint32_t size) override { return reads_.Read(file, buffer, size); }
  bool Seek(FileRef file, uint64_t offset) override { return reads_.Seek(file, offset); }
  void Close(FileRef file) override { reads_.Close(file); }
  bool FileSize(const char* path, uint64_t* size) override { return reads_.FileSize(path, size); }
  bool IsFolder(const char* path) override { return reads_.IsFolder(path); }
  bool ExecutablePath(char* buffer, size_t capacity) override {
    return reads_.ExecutablePath(buffer, capacity);
  }

 protected:
  Reads reads_;
};

// Writes `pieces` into the file at `path` so that the file is either replaced whole or
// left exactly as it was: the bytes go to a new file beside it, which then takes its place.
struct WritePiece {
  const void* data;
  size_t size;
};
enum WriteResult {
  kWriteOk,
  kWriteCannotOpen,  // no new file could be made, or it could not take the old one's place
  kWriteFailed,      // the bytes could not all be written (a full disk, an I/O error)
};
WriteResult WriteFileReplacing(MakerPlatform& platform, const std::string& path,
                               const WritePiece* pieces, size_t count);

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(Platform& platform, const std::string& path, std::string* content);

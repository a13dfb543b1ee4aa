#include "maker_platform_posix.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cp932_convert.h"

namespace {

struct Listing {
  DIR* dir;
  std::string folder;  // native path of the listed folder, ending with '/'
};

int Fd(FileRef file) { return static_cast<int>(reinterpret_cast<intptr_t>(file)) - 1; }

}  // namespace

ListingRef PosixMakerPlatform::OpenListing(const char* folder) {
  std::string native;
  if (!NativePath(folder, &native)) return nullptr;
  DIR* dir = opendir(native.c_str());
  if (dir == nullptr) return nullptr;
  if (native.empty() || native.back() != '/') native += '/';
  return new Listing{dir, native};
}

bool PosixMakerPlatform::NextEntry(ListingRef listing, FolderEntry* entry) {
  Listing* l = static_cast<Listing*>(listing);
  errno = 0;
  struct dirent* d = readdir(l->dir);
  if (d == nullptr) return false;
  std::string name = d->d_name;
  bool isFolder = d->d_type == DT_DIR;
  if (d->d_type == DT_LNK || d->d_type == DT_UNKNOWN) {
    // A link to a folder is listed as a folder, as Windows lists a directory link.
    struct stat st;
    isFolder = stat((l->folder + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  entry->isFolder = isFolder;
  // A backslash is a separator in the stored paths, so a name holding one cannot be kept.
  entry->representable = name.find('\\') == std::string::npos && Utf8ToCp932(name, &entry->name);
  // The warning that names such an entry shows its name as it is.
  if (!entry->representable) entry->name = kForeignNameBegin + name + kForeignNameEnd;
  return true;
}

void PosixMakerPlatform::CloseListing(ListingRef listing) {
  Listing* l = static_cast<Listing*>(listing);
  closedir(l->dir);
  delete l;
}

bool PosixMakerPlatform::FolderIdentity(const char* folder, uint64_t identity[2]) {
  std::string native;
  struct stat st;
  if (!NativePath(folder, &native) || stat(native.c_str(), &st) != 0) return false;
  identity[0] = static_cast<uint64_t>(st.st_dev);
  identity[1] = static_cast<uint64_t>(st.st_ino);
  return true;
}

FileRef PosixMakerPlatform::CreateNew(const char* path) {
  std::string native;
  if (!NativePath(path, &native)) return nullptr;
  int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  return reinterpret_cast<FileRef>(static_cast<intptr_t>(fd) + 1);
}

bool PosixMakerPlatform::Write(FileRef file, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(Fd(file), p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool PosixMakerPlatform::FinishWrite(FileRef file) {
  // fsync before the rename, so that the new file is on disk before it replaces the old.
  bool ok = fsync(Fd(file)) == 0;
  return close(Fd(file)) == 0 && ok;
}

bool PosixMakerPlatform::Replace(const char* from, const char* to) {
  std::string nativeFrom, nativeTo;
  return NativePath(from, &nativeFrom) && NativePath(to, &nativeTo) &&
         rename(nativeFrom.c_str(), nativeTo.c_str()) == 0;
}

void PosixMakerPlatform::Remove(const char* path) {
  std::string native;
  if (NativePath(path, &native)) unlink(native.c_str());
}

// The archive file read by offset on Linux: pread, which threads may call at once.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "zip_platform.h"

namespace {
int Fd(void* handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)) - 1; }
}  // namespace

ZipFileSource::~ZipFileSource() {
  if (handle_ != nullptr) close(Fd(handle_));
}

bool ZipFileSource::Open(const std::string& utf8Path) {
  int fd = open(utf8Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  handle_ = reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);
  size_ = static_cast<uint64_t>(st.st_size);
  return true;
}

bool ZipFileSource::ReadAt(uint64_t offset, void* buffer, size_t size) {
  char* p = static_cast<char*>(buffer);
  while (size > 0) {
    ssize_t got = pread(Fd(handle_), p, size, static_cast<off_t>(offset));
    if (got <= 0) return false;
    p += got;
    offset += static_cast<uint64_t>(got);
    size -= static_cast<size_t>(got);
  }
  return true;
}

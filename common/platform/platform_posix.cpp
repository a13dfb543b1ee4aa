#include "platform_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "cp932_convert.h"
#include "text.h"

namespace {

// Files are handed out as their descriptor plus one, so that descriptor 0 is not null.
int Fd(FileRef file) { return static_cast<int>(reinterpret_cast<intptr_t>(file)) - 1; }

}  // namespace

bool NativePath(const char* path, std::string* out) {
  // After the conversion a 0x5C byte can only be a real backslash: the second bytes of
  // double-byte characters have become parts of multi-byte UTF-8 sequences. An enclosed name
  // is UTF-8 already.
  if (!Cp932TextToUtf8Exact(path, out)) return false;
  for (char& c : *out) {
    if (c == '\\') c = '/';
  }
  return true;
}

bool PosixPlatform::Native(const char* path, std::string* out) const {
  if (path[0] == kNativePathMark) {
    *out = path + 1;
    return true;
  }
  if (marked_ && selfText_ == path) {
    *out = self_;
    return true;
  }
  return Expand(path, true, out);
}

bool PosixPlatform::DisplayText(const char* text, std::string* out) const {
  return Expand(text, false, out);
}

bool PosixPlatform::Expand(const char* text, bool path, std::string* out) const {
  // Converted piece by piece, so that the folder's own bytes are never taken for text.
  out->clear();
  std::string piece;
  for (const char* p = text;; ++p) {
    if (*p == '\0' || (marked_ && *p == kExecutableFolderMark)) {
      std::string converted;
      if (!(path ? NativePath(piece.c_str(), &converted) : Cp932TextToUtf8Exact(piece, &converted)))
        return false;
      *out += converted;
      piece.clear();
      if (*p == '\0') return true;
      *out += folder_;
    } else {
      piece += *p;
    }
  }
}

PosixPlatform::PosixPlatform() : left_(new std::atomic<int64_t>[kKnownFiles]) {
  for (int i = 0; i < kKnownFiles; ++i) left_[i].store(-1, std::memory_order_relaxed);
}

FileRef PosixPlatform::OpenRead(const char* path) {
  std::string native;
  if (!Native(path, &native)) return nullptr;
  return OpenNative(native, false);
}

// One open and one fstat per file: the fstat refuses what is not a file to read and gives
// the size, which spares the read after the last one (see Read).
FileRef PosixPlatform::OpenNative(const std::string& native, bool regularOnly) {
  int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | (regularOnly ? O_NONBLOCK | O_NOCTTY : 0));
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || (regularOnly && !S_ISREG(st.st_mode))) {
    close(fd);
    return nullptr;
  }
  if (fd < kKnownFiles)
    left_[fd].store(S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : -1,
                    std::memory_order_relaxed);
  return reinterpret_cast<FileRef>(static_cast<intptr_t>(fd) + 1);
}

int32_t PosixPlatform::Read(FileRef file, void* buffer, uint32_t size) {
  // read() may return less than asked before the end (signals, some file systems); keep
  // reading so that a short count means the end of the file, as the callers expect. Once
  // the bytes read reach the size the file had when it was opened, that is the end too:
  // the read that would only find it is left out. A file that has grown since reads on.
  const int fd = Fd(file);
  std::atomic<int64_t>* left = fd < kKnownFiles ? &left_[fd] : nullptr;
  char* p = static_cast<char*>(buffer);
  uint32_t done = 0;
  while (done < size) {
    ssize_t n = read(fd, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
    if (left != nullptr) {
      const int64_t was = left->load(std::memory_order_relaxed);
      if (was >= 0) {
        left->store(was > n ? was - n : (was == n ? 0 : -1), std::memory_order_relaxed);
        if (was == n) break;
      }
    }
  }
  return static_cast<int32_t>(done);
}

bool PosixPlatform::Seek(FileRef file, uint64_t offset) {
  if (offset > static_cast<uint64_t>(LLONG_MAX)) return false;
  const int fd = Fd(file);
  if (fd < kKnownFiles) left_[fd].store(-1, std::memory_order_relaxed);  // reads on to the end
  return lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

void PosixPlatform::Close(FileRef file) {
  const int fd = Fd(file);
  if (fd < kKnownFiles) left_[fd].store(-1, std::memory_order_relaxed);  // the next file's own
  close(fd);
}

bool PosixPlatform::FileSize(const char* path, uint64_t* size) {
  std::string native;
  struct stat st;
  if (!Native(path, &native) || stat(native.c_str(), &st) != 0) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool PosixPlatform::IsFolder(const char* path) {
  std::string native;
  struct stat st;
  return Native(path, &native) && stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixPlatform::ExecutablePathTooLong(char* buffer, size_t capacity) {
  if (!givenTooLong_ || capacity < 4) return false;
  if (!TextCopy(buffer, capacity - 3, executablePath_.c_str())) TextAppend(buffer, capacity, "...");
  return true;
}

bool PosixPlatform::ExecutablePath(char* buffer, size_t capacity) {
  // The path given in code page 932 is handed out whole or not at all.
  givenTooLong_ = !executablePath_.empty() && !TextCopy(buffer, capacity, executablePath_.c_str());
  if (!executablePath_.empty()) return !givenTooLong_;
  std::string native = executableNativePath_;
  if (native.empty()) {
    char link[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", link, sizeof link - 1);
    if (n <= 0) return false;
    native.assign(link, static_cast<size_t>(n));
  }
  std::string path;
  if (Utf8ToCp932(native, &path)) return TextCopy(buffer, capacity, path.c_str());
  size_t cut = native.rfind('/');
  if (cut == std::string::npos || cut == 0) return false;
  std::string name;
  if (!Utf8ToCp932(native.substr(cut + 1), &name)) name = "?";  // only ever compared
  folder_ = native.substr(0, cut);
  self_ = native;
  selfText_ = std::string(1, kExecutableFolderMark) + "\\" + name;
  marked_ = true;
  return TextCopy(buffer, capacity, selfText_.c_str());
}

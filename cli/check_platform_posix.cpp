#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>

#include "check_platform.h"
#include "platform_posix.h"

namespace {

bool EndsWithExe(const std::string& name) {
  if (name.size() < 4) return false;
  std::string end = name.substr(name.size() - 4);
  for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  return end == ".exe";
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

// Opens regular files only: a named pipe or a device that an archive put in a listed file's
// place would make the check wait for ever, so it counts as missing, as a folder does. The
// open does not wait and the fstat after it refuses them, so no stat before it is needed.
class RegularFilesPlatform : public PosixPlatform {
 public:
  FileRef OpenRead(const char* path) override {
    std::string native;
    if (!Native(path, &native)) return nullptr;
    return OpenNative(native, true);
  }
};

// Names as the file system has them: bytes, whatever their encoding.
class PosixFolderNames : public FolderNames {
 public:
  explicit PosixFolderNames(const PosixPlatform& platform) : platform_(platform) {}

  bool List(const std::string& folder, std::vector<std::string>* names) override {
    std::string native;
    if (!platform_.Native(folder.c_str(), &native)) return false;
    DIR* dir = opendir(native.c_str());
    if (dir == nullptr) return false;
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names->push_back(name);
    }
    closedir(dir);
    return true;
  }

  std::string Join(const std::string& folder, const std::string& name, bool isFolder) override {
    std::string native;
    if (!platform_.Native(folder.c_str(), &native)) return std::string();
    if (!native.empty() && native.back() != '/') native += '/';
    return kNativePathMark + native + name + (isFolder ? "/" : "");
  }

 private:
  const PosixPlatform& platform_;
};

struct CheckPlatform::Impl {
  RegularFilesPlatform platform;
  PosixFolderNames names{platform};
};

CheckPlatform::CheckPlatform() : impl_(new Impl) {}
CheckPlatform::~CheckPlatform() = default;

Platform& CheckPlatform::platform() { return impl_->platform; }
FolderNames& CheckPlatform::names() { return impl_->names; }

bool CheckPlatform::UseChecker(const std::string& utf8Path, std::string* file,
                               std::string* folder) {
  if (!IsRegularFile(utf8Path)) return false;
  size_t slash = utf8Path.rfind('/');
  std::string parent = slash == std::string::npos ? "."
                       : slash == 0               ? "/"
                                                  : utf8Path.substr(0, slash);
  char resolved[PATH_MAX];
  if (realpath(parent.c_str(), resolved) == nullptr) return false;
  folder_ = resolved;
  std::string name = slash == std::string::npos ? utf8Path : utf8Path.substr(slash + 1);
  *file = folder_ + (folder_ == "/" ? "" : "/") + name;
  *folder = folder_;
  impl_->platform.SetExecutableNativePath(*file);
  char path[PATH_MAX];
  if (!impl_->platform.ExecutablePath(path, sizeof path)) return false;
  marked_ = path[0] == kExecutableFolderMark;
  return true;
}

std::string FolderAsGiven(const std::string& utf8Path) {
  size_t slash = utf8Path.rfind('/');
  return slash == std::string::npos ? std::string() : utf8Path.substr(0, slash + 1);
}

std::vector<std::string> ExeFilesHere() {
  std::vector<std::string> names;
  DIR* dir = opendir(".");
  if (dir == nullptr) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (EndsWithExe(name) && IsRegularFile(name)) names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

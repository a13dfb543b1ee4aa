#include "maker_platform.h"

#include <stdio.h>

#include "cp932.h"

WriteResult WriteFileReplacing(MakerPlatform& platform, const std::string& path,
                               const WritePiece* pieces, size_t count) {
  // A fresh name beside the target, so a crash or a full disk leaves the old file intact
  // and at worst a stray temporary file, never a truncated target.
  // The name is short so that it fits wherever the target's name fits.
  std::string folder = path.substr(0, FolderPrefixLength(path.c_str()));
  std::string temp;
  FileRef file = nullptr;
  for (int attempt = 0; attempt < 100 && file == nullptr; ++attempt) {
    char name[16];
    snprintf(name, sizeof name, "~vx%02d.tmp", attempt);
    temp = folder + name;
    file = platform.CreateNew(temp.c_str());
  }
  if (file == nullptr) return kWriteCannotOpen;

  bool written = true;
  for (size_t i = 0; i < count && written; ++i) {
    written = platform.Write(file, pieces[i].data, pieces[i].size);
  }
  written = platform.FinishWrite(file) && written;
  if (!written) {
    platform.Remove(temp.c_str());
    return kWriteFailed;
  }
  if (!platform.Replace(temp.c_str(), path.c_str())) {
    platform.Remove(temp.c_str());
    return kWriteCannotOpen;
  }
  return kWriteOk;
}

bool ReadWholeFile(Platform& platform, const std::string& path, std::string* content) {
  FileRef file = platform.OpenRead(path.c_str());
  if (file == nullptr) return false;
  content->clear();
  char buffer[65536];
  bool ok = true;
  for (;;) {
    int32_t n = platform.Read(file, buffer, sizeof buffer);
    if (n < 0) {
      ok = false;
      break;
    }
    content->append(buffer, static_cast<size_t>(n));
    if (static_cast<size_t>(n) < sizeof buffer) break;
  }
  platform.Close(file);
  return ok;
}

// Fuzzes the zip reader of vexorin-check: the input is a whole archive. Its directory is read,
// every entry is located and read through the platform a check reads by (inflated, stopped at
// its declared size), and the checker inside it, if any, is chosen as vexorin-check chooses it.
//
// Besides the sanitizers' findings, every input is held to what the reader promises: it never
// hands out more bytes of an entry than the entry declares, never claims an entry whole whose
// bytes do not give its CRC, and answers each question about a path it was not given with "no".
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "zip_platform.h"

namespace {

class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t size) override {
    if (offset > size_ || size_ - offset < size) return false;
    memcpy(buffer, data_ + offset, size);
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

void Require(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "broken promise: %s\n", what);
    abort();
  }
}

// An entry inflating to gigabytes is legitimate; the fuzzer reads only its first part.
constexpr uint64_t kReadAtMost = 1 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemorySource source(data, size);
  ZipPlatform zip(source);
  if (zip.status() != kZipOk) return 0;
  std::vector<std::string> exes = zip.ExeEntries();
  if (!exes.empty()) Require(zip.UseChecker(exes.front()), "an .exe it listed is a file entry");
  char path[1024];
  if (zip.ExecutablePath(path, sizeof path)) {
    // Every entry by the paths the check opens: the checker's folder mark, then the name.
    std::vector<ZipEntry> entries;
    ReadZipDirectory(source, &entries);
    for (const ZipEntry& entry : entries) {
      std::string alternative;
      std::string name = ZipEntryName(entry, &alternative);
      if (name.compare(0, zip.folder().size(), zip.folder()) != 0) continue;
      std::string relative = name.substr(zip.folder().size());
      std::string asked = std::string(1, kExecutableFolderMark) + "\\" + relative;
      uint64_t declared = 0;
      bool sized = zip.FileSize(asked.c_str(), &declared);
      FileRef file = zip.OpenRead(asked.c_str());
      if (file == nullptr) continue;
      Require(sized, "an entry it opens has a size");
      std::vector<unsigned char> buffer(65536);
      uint64_t got = 0;
      uint32_t crc = 0;
      int32_t n;
      while (got < kReadAtMost && (n = zip.Read(file, buffer.data(), 65536)) > 0) {
        got += static_cast<uint64_t>(n);
        crc = ZipCrc32(crc, buffer.data(), static_cast<size_t>(n));
      }
      Require(got <= declared, "no more bytes than declared");
      if (zip.StateOf(asked.c_str()) == kZipEntryWhole && got == declared) {
        // The entry read may be a later one of the same name: one of them has this CRC.
        bool matched = false;
        for (const ZipEntry& other : entries) {
          std::string otherAlternative;
          if (ZipEntryName(other, &otherAlternative) == name && other.crc == crc) matched = true;
        }
        Require(matched || !alternative.empty(), "an entry called whole gives its CRC");
      }
      zip.Seek(file, declared / 2);
      zip.Close(file);
    }
  }
  // The listing the unlisted entries and the name search walk, one level down.
  std::vector<std::string> names;
  std::string top = std::string(1, kExecutableFolderMark) + "\\";
  if (zip.List(top, &names)) {
    for (const std::string& name : names) {
      std::string below = zip.Join(top, name, true);
      std::vector<std::string> inside;
      if (zip.IsFolder(below.c_str())) zip.List(below, &inside);
    }
  }
  Require(!zip.IsFolder("no mark"), "a path without the folder mark names nothing");
  Require(zip.OpenRead("\\\\") == nullptr, "nor does a bare separator");
  return 0;
}

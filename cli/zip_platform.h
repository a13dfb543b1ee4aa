// A zip archive's entries as the platform a check reads through: the checker inside the zip
// stands in for the executable, its folder inside the zip for the folder it checks, and every
// entry is inflated (zlib) as it is read, nothing written to disk.
#pragma once
#include <stdint.h>

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "name_twins.h"
#include "platform.h"
#include "zip_directory.h"

// What reading an entry to its end told of the zip itself, apart from the check's verdict.
enum ZipEntryState : uint8_t {
  kZipEntryUnread,
  kZipEntryWhole,        // its CRC-32 holds: the zip holds what its writer put in
  kZipEntryCorrupt,      // its CRC-32 fails or its data cannot be inflated: a damaged download
  kZipEntryUnsupported,  // encrypted, or compressed other than stored or deflated
};

// An archive file read by offset, from any thread.
class ZipFileSource : public ByteSource {
 public:
  ~ZipFileSource();
  // False when the file cannot be opened.
  bool Open(const std::string& utf8Path);
  uint64_t Size() override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t size) override;

 private:
  void* handle_ = nullptr;
  uint64_t size_ = 0;
};

// Also the names a folder of the zip holds, for the search of entries under other names and
// the entries the check data does not list: each entry under the reading of its name that the
// check used (code page 932 or UTF-8), else the first.
class ZipPlatform : public Platform, public FolderNames {
 public:
  // Reads the archive's directory; `status` says whether it could be.
  explicit ZipPlatform(ByteSource& source);
  ~ZipPlatform();
  ZipStatus status() const { return status_; }

  // The entries that may be the checker: at the top, or in the one folder that holds
  // everything else: the .exe files there (by their UTF-8 names, "/" separated), sorted.
  std::vector<std::string> ExeEntries() const;
  // Makes the entry `name` (as ExeEntries gives it) the executable whose data the run reads and
  // whose folder inside the zip it checks; false when there is no such file entry.
  bool UseChecker(const std::string& name);
  // The checker's folder inside the zip, "/" separated with a final one; empty at the top.
  const std::string& folder() const { return base_; }

  // What reading the entry at this Platform path told of the zip (kZipEntryUnread when no
  // such entry was read to its end).
  ZipEntryState StateOf(const char* path) const;
  // The stored names that more than one entry carries (UTF-8): the later one is read, as an
  // unpacker leaves it.
  const std::vector<std::string>& duplicates() const { return duplicates_; }
  // An entry whose data begins or runs past the end of the file, or whose local header is
  // not where the directory says (UTF-8 names): found when it is opened.
  bool AnyEntryIncomplete() const { return incomplete_.load(); }

  FileRef OpenRead(const char* path) override;
  int32_t Read(FileRef file, void* buffer, uint32_t size) override;
  bool Seek(FileRef file, uint64_t offset) override;
  void Close(FileRef file) override;
  bool FileSize(const char* path, uint64_t* size) override;
  bool IsFolder(const char* path) override;
  bool ExecutablePath(char* buffer, size_t capacity) override;

  bool List(const std::string& folder, std::vector<std::string>* names) override;
  std::string Join(const std::string& folder, const std::string& name, bool isFolder) override;

 private:
  struct Reader;
  // The entry a Platform path names, or -1.
  long EntryOf(const char* path) const;
  bool KeyOf(const char* path, std::string* key) const;
  bool Restart(Reader* reader);

  ByteSource& source_;
  ZipStatus status_;
  std::vector<ZipEntry> entries_;
  // Each file entry by its UTF-8 path, "/" separated; the code-page-932 reading of a name
  // the archive does not declare UTF-8 comes first, its UTF-8 reading only where that finds
  // no entry of its own.
  std::map<std::string, size_t> files_;
  std::set<std::string> folders_;  // every folder an entry stands in, and empty folders' own
  std::vector<std::string> duplicates_;
  std::unique_ptr<std::atomic<uint8_t>[]> states_;  // ZipEntryState by entry
  // Each entry's name under its first reading, and under the other where there is one; which
  // of them the check asked for.
  std::vector<std::string> keys_, alternativeKeys_;
  std::unique_ptr<std::atomic<bool>[]> alternativeAsked_;
  std::map<std::string, size_t> folderAlternatives_;  // folder entries by their other reading
  // The names each folder holds, by folder key: made when first listed, and again after the
  // check asked for another reading of some name. Listing is done by one thread at a time
  // (the name search and the unlisted entries run on the thread that takes the results).
  mutable std::atomic<uint32_t> readingsAsked_{0};
  uint32_t childrenMadeAt_ = UINT32_MAX;
  std::map<std::string, std::set<std::string>> children_;
  std::atomic<bool> incomplete_{false};
  std::string base_;         // the checker's folder inside the zip
  std::string checkerText_;  // what ExecutablePath hands out
};

// The UTF-8 name of a zip entry, "/" separated: its declared UTF-8 name, else its bytes read
// as code page 932 (as Japanese Windows writes them), else, when they are not code page 932,
// the bytes themselves. `alternative` receives the bytes as UTF-8 where they are well-formed
// UTF-8 that reads otherwise (Debian's zip writes UTF-8 without saying so), else is emptied.
std::string ZipEntryName(const ZipEntry& entry, std::string* alternative);

// A zip's entries as a check names them: each entry's readings of its name, the files and
// folders they make, the checker inside the zip, and what reading each entry told of the zip.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "name_twins.h"
#include "zip_directory.h"

// What reading an entry to its end told of the zip itself, apart from the check's verdict.
enum ZipEntryState : uint8_t {
  kZipEntryUnread,
  kZipEntryWhole,        // its CRC-32 holds: the zip holds what its writer put in
  kZipEntryCorrupt,      // its CRC-32 fails or its data cannot be inflated: a damaged download
  kZipEntryUnsupported,  // encrypted, or compressed other than stored or deflated
  kZipEntryIncomplete,   // its data begins or runs past the end of the archive: cut short
};

// What a reader of an entry's data needs, wherever the reading is done (zlib natively, the
// browser's DecompressionStream in the page): where its local header stands, and what the
// central directory says of its data.
struct ZipEntryFacts {
  size_t index = 0;                // the entry's place in the directory, for SetState/Finished
  uint64_t localHeaderOffset = 0;  // already moved by the bytes that stand before the archive
  uint64_t compressedSize = 0;
  uint64_t size = 0;  // as declared: a reader hands out no more than this
  uint16_t method = 0;
  uint32_t crc = 0;
  bool encrypted = false;
  // Stored or deflated, and not encrypted: anything else is kZipEntryUnsupported unread.
  bool readable = false;
};

// The entries answer, without reading any entry's data, what a check asks of a folder: which
// files and folders are there and how large, the checker's own path, and the names each folder
// holds (for the search of entries under other names and the entries the check data does not
// list), each entry under the reading of its name that the check used (code page 932 or
// UTF-8), else the first. Paths are those of a Platform: the checker's folder mark, a
// backslash and the code-page-932 path below the checker's folder; or a path a listing handed
// out (kNativePathMark and the name from the top of the zip).
class ZipEntries : public FolderNames {
 public:
  // Reads the archive's directory; `status` says whether it could be. Nothing of `source` is
  // kept: reading entries is the caller's business.
  explicit ZipEntries(ByteSource& source);
  ~ZipEntries();
  ZipStatus status() const { return status_; }

  // The entries that may be the checker: at the top, or in the one folder that holds
  // everything else: the .exe files there (by their UTF-8 names, "/" separated), sorted.
  std::vector<std::string> ExeEntries() const;
  // Makes the entry `name` (as ExeEntries gives it) the executable whose data the run reads and
  // whose folder inside the zip it checks; false when there is no such file entry.
  bool UseChecker(const std::string& name);
  // The checker's folder inside the zip, "/" separated with a final one; empty at the top.
  const std::string& folder() const { return base_; }

  // The file entry a Platform path names, as OpenRead receives it; false when there is none.
  bool FactsOf(const char* path, ZipEntryFacts* facts) const;
  // What a reader found of the entry `index`: unsupported, corrupt or incomplete as it found
  // them; whole or corrupt by Finished.
  void SetState(size_t index, ZipEntryState state);
  // The entry `index` was read to its end or as far as it could be: `bytes` handed out, whose
  // CRC-32 is `crc`. Whole when they are the declared size and CRC, else corrupt; returned.
  ZipEntryState Finished(size_t index, uint64_t bytes, uint32_t crc);
  ZipEntryState StateAt(size_t index) const;
  // What reading the entry at this Platform path told of the zip (kZipEntryUnread when no
  // such entry was read to its end).
  ZipEntryState StateOf(const char* path) const;
  // The stored names that more than one entry carries (UTF-8): the later one is read, as an
  // unpacker leaves it.
  const std::vector<std::string>& duplicates() const { return duplicates_; }
  // Some entry was found kZipEntryIncomplete.
  bool AnyEntryIncomplete() const { return incomplete_.load(); }

  // The Platform calls that need no entry's data.
  bool FileSize(const char* path, uint64_t* size) const;
  bool IsFolder(const char* path) const;
  bool ExecutablePath(char* buffer, size_t capacity) const;

  bool List(const std::string& folder, std::vector<std::string>* names) override;
  std::string Join(const std::string& folder, const std::string& name, bool isFolder) override;

  size_t count() const { return entries_.size(); }
  const ZipEntry& entry(size_t index) const { return entries_[index]; }
  // The entry a Platform path names, or -1. Asking for an entry under its other reading makes
  // the listings name it so from then on.
  long EntryOf(const char* path) const;

 private:
  bool KeyOf(const char* path, std::string* key) const;

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

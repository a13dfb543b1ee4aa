#include "zip_platform.h"

#include <string.h>
#include <zlib.h>

#include <algorithm>

#include "checkfile.h"
#include "cp932_convert.h"

namespace {

constexpr size_t kInputSize = 64 * 1024;

void Slashes(std::string* name) { std::replace(name->begin(), name->end(), '\\', '/'); }

bool EndsWithExe(const std::string& name) {
  if (name.size() < 4) return false;
  std::string end = name.substr(name.size() - 4);
  for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  return end == ".exe";
}

}  // namespace

std::string ZipEntryName(const ZipEntry& entry, std::string* alternative) {
  alternative->clear();
  std::string name;
  if (!entry.utf8Name.empty()) {
    name = entry.utf8Name;
  } else if (Cp932ToUtf8(entry.name, &name)) {
    // Only bytes above 0x7F read differently as UTF-8.
    bool high = std::any_of(entry.name.begin(), entry.name.end(),
                            [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (high && IsStorableUtf8(entry.name.data(), entry.name.size())) {
      *alternative = entry.name;
      Slashes(alternative);
    }
  } else {
    name = entry.name;
  }
  // After the conversion a 0x5C byte is a separator: the second bytes of code-page-932
  // characters (ソ is 0x83 0x5C) have become parts of UTF-8 sequences.
  Slashes(&name);
  return name;
}

// One open entry: where its data is, how much of it is left, and the inflater.
struct ZipPlatform::Reader {
  size_t entry = 0;
  uint64_t dataOffset = 0;
  uint64_t inputLeft = 0;  // compressed bytes not yet read from the source
  uint64_t produced = 0;   // bytes handed out, at most the declared size
  uint32_t crc = 0;
  bool ended = false;  // the data ended before the declared size, or could not be inflated
  bool inflating = false;
  z_stream stream;
  unsigned char input[kInputSize];
};

ZipPlatform::ZipPlatform(ByteSource& source) : source_(source) {
  status_ = ReadZipDirectory(source, &entries_);
  states_.reset(new std::atomic<uint8_t>[entries_.size()]);
  alternativeAsked_.reset(new std::atomic<bool>[entries_.size()]);
  keys_.resize(entries_.size());
  alternativeKeys_.resize(entries_.size());
  std::map<std::string, size_t> alternatives;
  for (size_t i = 0; i < entries_.size(); ++i) {
    states_[i].store(kZipEntryUnread);
    alternativeAsked_[i].store(false);
    std::string& key = keys_[i];
    std::string& alternative = alternativeKeys_[i];
    key = ZipEntryName(entries_[i], &alternative);
    // Every folder above the entry is there, whether or not the zip has its own entry; under
    // both readings of a name that does not say which it is.
    for (const std::string* name : {&key, &alternative}) {
      for (size_t slash = name->find('/'); slash != std::string::npos && slash + 1 < name->size();
           slash = name->find('/', slash + 1))
        folders_.insert(name->substr(0, slash + 1));
      if (entries_[i].IsFolder() && !name->empty()) folders_.insert(*name);
    }
    if (entries_[i].IsFolder()) {
      if (!alternative.empty()) folderAlternatives_.emplace(alternative, i);
      continue;
    }
    auto placed = files_.emplace(key, i);
    if (!placed.second) {
      duplicates_.push_back(key);
      placed.first->second = i;  // the later one, as an unpacker leaves it
    }
    if (!alternative.empty()) alternatives.emplace(alternative, i);
  }
  for (const auto& alternative : alternatives) files_.emplace(alternative);
  std::sort(duplicates_.begin(), duplicates_.end());
  duplicates_.erase(std::unique(duplicates_.begin(), duplicates_.end()), duplicates_.end());
}

ZipPlatform::~ZipPlatform() = default;

std::vector<std::string> ZipPlatform::ExeEntries() const {
  // Everything in one top folder: the checker is looked for there.
  std::string top;
  bool oneTop = !files_.empty();
  for (const auto& file : files_) {
    size_t slash = file.first.find('/');
    std::string first =
        slash == std::string::npos ? std::string() : file.first.substr(0, slash + 1);
    if (first.empty() || (!top.empty() && first != top)) {
      oneTop = false;
      break;
    }
    top = first;
  }
  std::string folder = oneTop ? top : std::string();
  std::vector<std::string> found;
  for (const auto& file : files_) {
    const std::string& name = file.first;
    if (name.compare(0, folder.size(), folder) != 0) continue;
    if (name.find('/', folder.size()) != std::string::npos || !EndsWithExe(name)) continue;
    found.push_back(name);
  }
  return found;
}

bool ZipPlatform::UseChecker(const std::string& name) {
  if (files_.count(name) == 0) return false;
  size_t slash = name.rfind('/');
  base_ = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
  std::string file = name.substr(base_.size()), cp932;
  // The checker's own name in the form every path of the run takes: code page 932, or
  // enclosed UTF-8 where code page 932 cannot write it.
  if (Utf8ToCp932(file, &cp932))
    checkerText_ = std::string(1, kExecutableFolderMark) + "\\" + cp932;
  else
    checkerText_ =
        std::string(1, kExecutableFolderMark) + "\\" + kForeignNameBegin + file + kForeignNameEnd;
  return true;
}

bool ZipPlatform::ExecutablePath(char* buffer, size_t capacity) {
  if (checkerText_.empty() || checkerText_.size() + 1 > capacity) return false;
  memcpy(buffer, checkerText_.c_str(), checkerText_.size() + 1);
  return true;
}

bool ZipPlatform::KeyOf(const char* path, std::string* key) const {
  // A path of a listing (Join) is the key itself, from the top of the zip.
  if (path[0] == kNativePathMark) {
    *key = path + 1;
    return true;
  }
  // Every other path of the run begins with the checker's folder, which ExecutablePath handed
  // out as its mark; anything else names nothing in the zip.
  if (path[0] != kExecutableFolderMark || path[1] != '\\') return false;
  std::string rest;
  if (!Cp932TextToUtf8Exact(path + 2, &rest)) return false;
  Slashes(&rest);
  *key = base_ + rest;
  return true;
}

long ZipPlatform::EntryOf(const char* path) const {
  std::string key;
  if (!KeyOf(path, &key)) return -1;
  auto found = files_.find(key);
  if (found == files_.end()) return -1;
  if (key != keys_[found->second] && !alternativeAsked_[found->second].exchange(true))
    readingsAsked_.fetch_add(1);
  return static_cast<long>(found->second);
}

bool ZipPlatform::List(const std::string& folder, std::vector<std::string>* names) {
  std::string key;
  if (!KeyOf(folder.c_str(), &key)) return false;
  if (!key.empty() && key.back() != '/') key += '/';
  if (childrenMadeAt_ != readingsAsked_.load()) {
    // Each entry under the reading it was asked for so far.
    childrenMadeAt_ = readingsAsked_.load();
    children_.clear();
    children_[std::string()];
    for (size_t i = 0; i < entries_.size(); ++i) {
      const std::string& name = alternativeAsked_[i].load() ? alternativeKeys_[i] : keys_[i];
      for (size_t from = 0; from < name.size();) {
        size_t slash = name.find('/', from);
        size_t end = slash == std::string::npos ? name.size() : slash;
        if (end > from) children_[name.substr(0, from)].insert(name.substr(from, end - from));
        if (slash == std::string::npos) break;
        from = slash + 1;
      }
    }
  }
  auto found = children_.find(key == "/" ? std::string() : key);
  if (found == children_.end()) return key == base_;
  names->insert(names->end(), found->second.begin(), found->second.end());
  return true;
}

std::string ZipPlatform::Join(const std::string& folder, const std::string& name, bool isFolder) {
  std::string key;
  if (!KeyOf(folder.c_str(), &key)) return std::string();
  if (!key.empty() && key.back() != '/') key += '/';
  return kNativePathMark + key + name + (isFolder ? "/" : "");
}

ZipEntryState ZipPlatform::StateOf(const char* path) const {
  long entry = EntryOf(path);
  return entry < 0 ? kZipEntryUnread : static_cast<ZipEntryState>(states_[entry].load());
}

bool ZipPlatform::IsFolder(const char* path) {
  std::string key;
  if (!KeyOf(path, &key)) return false;
  if (key == base_) return true;
  if (key.empty() || key.back() != '/') key += '/';
  auto alternative = folderAlternatives_.find(key);
  if (alternative != folderAlternatives_.end() && folders_.count(key) != 0 &&
      keys_[alternative->second] != key && !alternativeAsked_[alternative->second].exchange(true))
    readingsAsked_.fetch_add(1);
  return folders_.count(key) != 0;
}

bool ZipPlatform::FileSize(const char* path, uint64_t* size) {
  long entry = EntryOf(path);
  if (entry < 0) return false;
  *size = entries_[entry].size;
  return true;
}

FileRef ZipPlatform::OpenRead(const char* path) {
  long entry = EntryOf(path);
  if (entry < 0) return nullptr;
  std::unique_ptr<Reader> reader(new Reader);
  reader->entry = static_cast<size_t>(entry);
  const ZipEntry& e = entries_[reader->entry];
  if (!e.Readable()) {
    // Opened, so that the check does not call it missing; reading it fails.
    states_[entry].store(kZipEntryUnsupported);
    reader->ended = true;
  } else {
    ZipStatus located = LocateZipData(source_, e, &reader->dataOffset);
    if (located != kZipOk) {
      if (located == kZipIncomplete) incomplete_.store(true);
      states_[entry].store(kZipEntryCorrupt);
      reader->ended = true;
    }
  }
  if (!reader->ended && !Restart(reader.get())) return nullptr;
  return reader.release();
}

bool ZipPlatform::Restart(Reader* reader) {
  if (reader->inflating) inflateEnd(&reader->stream);
  reader->inflating = false;
  const ZipEntry& e = entries_[reader->entry];
  reader->inputLeft = e.compressedSize;
  reader->produced = 0;
  reader->crc = 0;
  reader->ended = false;
  if (e.method == kZipDeflated) {
    memset(&reader->stream, 0, sizeof reader->stream);
    if (inflateInit2(&reader->stream, -MAX_WBITS) != Z_OK) return false;  // raw deflate
    reader->inflating = true;
  }
  return true;
}

int32_t ZipPlatform::Read(FileRef file, void* buffer, uint32_t size) {
  Reader* reader = static_cast<Reader*>(file);
  const ZipEntry& e = entries_[reader->entry];
  if (states_[reader->entry].load() == kZipEntryUnsupported) return -1;
  unsigned char* out = static_cast<unsigned char*>(buffer);
  uint32_t done = 0;
  // Never past the declared size: an entry that would inflate to more is stopped there, and
  // its CRC then tells that the zip is not whole.
  // A stored entry's bytes are its compressed ones: never read past them.
  const uint64_t limit = reader->inflating ? e.size : std::min(e.size, e.compressedSize);
  while (done < size && !reader->ended && reader->produced < limit) {
    uint64_t want64 = std::min<uint64_t>(size - done, limit - reader->produced);
    uint32_t want = static_cast<uint32_t>(want64);
    uint32_t got = 0;
    if (!reader->inflating) {
      if (!source_.ReadAt(reader->dataOffset + reader->produced, out + done, want)) {
        reader->ended = true;
        break;
      }
      got = want;
    } else {
      z_stream& z = reader->stream;
      if (z.avail_in == 0 && reader->inputLeft > 0) {
        uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(kInputSize, reader->inputLeft));
        uint64_t at = reader->dataOffset + (e.compressedSize - reader->inputLeft);
        if (!source_.ReadAt(at, reader->input, chunk)) {
          reader->ended = true;
          break;
        }
        reader->inputLeft -= chunk;
        z.next_in = reader->input;
        z.avail_in = chunk;
      }
      z.next_out = out + done;
      z.avail_out = want;
      int result = inflate(&z, Z_NO_FLUSH);
      got = want - z.avail_out;
      // The stream's end, data that is not deflate, or input used up with nothing more to
      // give: the entry ends here, short of its declared size.
      if (result == Z_STREAM_END || (result != Z_OK && result != Z_BUF_ERROR) ||
          (got == 0 && z.avail_in == 0 && reader->inputLeft == 0))
        reader->ended = true;
    }
    reader->crc = static_cast<uint32_t>(crc32(reader->crc, out + done, got));
    reader->produced += got;
    done += got;
  }
  if (reader->produced == limit && limit < e.size) reader->ended = true;
  if (reader->ended || reader->produced == e.size) {
    bool whole = reader->produced == e.size && reader->crc == e.crc;
    states_[reader->entry].store(whole ? kZipEntryWhole : kZipEntryCorrupt);
  }
  return static_cast<int32_t>(done);
}

bool ZipPlatform::Seek(FileRef file, uint64_t offset) {
  // Inflated data can only be read forward: a seek back begins again, a seek forward reads
  // over what lies between. The check seeks only in the checker, to its trailer and data.
  Reader* reader = static_cast<Reader*>(file);
  if (states_[reader->entry].load() == kZipEntryUnsupported) return false;
  if (offset > entries_[reader->entry].size) return false;
  if (offset < reader->produced && !Restart(reader)) return false;
  unsigned char skip[16384];
  while (reader->produced < offset) {
    uint32_t part =
        static_cast<uint32_t>(std::min<uint64_t>(sizeof skip, offset - reader->produced));
    if (Read(file, skip, part) != static_cast<int32_t>(part)) return false;
  }
  return true;
}

void ZipPlatform::Close(FileRef file) {
  Reader* reader = static_cast<Reader*>(file);
  if (reader == nullptr) return;
  if (reader->inflating) inflateEnd(&reader->stream);
  delete reader;
}

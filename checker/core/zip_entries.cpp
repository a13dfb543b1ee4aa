#include "zip_entries.h"

#include <string.h>

#include <algorithm>

#include "checkfile.h"
#include "cp932_convert.h"
#include "platform.h"

namespace {

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

ZipEntries::ZipEntries(ByteSource& source) {
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

ZipEntries::~ZipEntries() = default;

std::vector<std::string> ZipEntries::ExeEntries() const {
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

bool ZipEntries::UseChecker(const std::string& name) {
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

bool ZipEntries::ExecutablePath(char* buffer, size_t capacity) const {
  if (checkerText_.empty() || checkerText_.size() + 1 > capacity) return false;
  memcpy(buffer, checkerText_.c_str(), checkerText_.size() + 1);
  return true;
}

bool ZipEntries::KeyOf(const char* path, std::string* key) const {
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

long ZipEntries::EntryOf(const char* path) const {
  std::string key;
  if (!KeyOf(path, &key)) return -1;
  auto found = files_.find(key);
  if (found == files_.end()) return -1;
  if (key != keys_[found->second] && !alternativeAsked_[found->second].exchange(true))
    readingsAsked_.fetch_add(1);
  return static_cast<long>(found->second);
}

bool ZipEntries::List(const std::string& folder, std::vector<std::string>* names) {
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

std::string ZipEntries::Join(const std::string& folder, const std::string& name, bool isFolder) {
  std::string key;
  if (!KeyOf(folder.c_str(), &key)) return std::string();
  if (!key.empty() && key.back() != '/') key += '/';
  return kNativePathMark + key + name + (isFolder ? "/" : "");
}

ZipEntryState ZipEntries::StateOf(const char* path) const {
  long entry = EntryOf(path);
  return entry < 0 ? kZipEntryUnread : StateAt(static_cast<size_t>(entry));
}

ZipEntryState ZipEntries::StateAt(size_t index) const {
  return static_cast<ZipEntryState>(states_[index].load());
}

void ZipEntries::SetState(size_t index, ZipEntryState state) {
  states_[index].store(state);
  if (state == kZipEntryIncomplete) incomplete_.store(true);
}

ZipEntryState ZipEntries::Finished(size_t index, uint64_t bytes, uint32_t crc) {
  const ZipEntry& e = entries_[index];
  ZipEntryState state = bytes == e.size && crc == e.crc ? kZipEntryWhole : kZipEntryCorrupt;
  states_[index].store(state);
  return state;
}

bool ZipEntries::FactsOf(const char* path, ZipEntryFacts* facts) const {
  long entry = EntryOf(path);
  if (entry < 0) return false;
  const ZipEntry& e = entries_[entry];
  facts->index = static_cast<size_t>(entry);
  facts->localHeaderOffset = e.localHeaderOffset;
  facts->compressedSize = e.compressedSize;
  facts->size = e.size;
  facts->method = e.method;
  facts->crc = e.crc;
  facts->encrypted = e.Encrypted();
  facts->readable = e.Readable();
  return true;
}

bool ZipEntries::IsFolder(const char* path) const {
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

bool ZipEntries::FileSize(const char* path, uint64_t* size) const {
  long entry = EntryOf(path);
  if (entry < 0) return false;
  *size = entries_[entry].size;
  return true;
}

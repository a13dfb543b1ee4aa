#include "checkfile.h"

#include <new>

#include "text.h"

namespace {

void Store32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint32_t Load32(const unsigned char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

bool IsSeparator(const char* s) { return s[0] == kSectionSeparator[0] && s[1] == '\0'; }

size_t Length(const char* s) {
  size_t n = 0;
  while (s[n] != '\0') ++n;
  return n;
}

// Whether `name` is the one extension this reader knows; others are skipped with all after them.
bool IsKnownExtension(const char* name) {
  for (size_t i = 0;; ++i) {
    if (name[i] != kUtf8Extension[i]) return false;
    if (name[i] == '\0') return true;
  }
}

// The sections of the records, as WalkRecords hands them out.
enum Section { kFolders, kFiles, kMessages, kUtf8Folders, kUtf8Files, kAfter };

// Walks the records in order and hands each folder, file record and message, and each record
// of the UTF-8 extension, to `visit` with its section. Returns how many of the separators
// before the UTF-8 extension were met (at most 3), or -1 when `visit` refused a record or the
// extension lacks a separator.
template <typename Visit>
int WalkRecords(const char* block, uint32_t size, Visit visit) {
  int section = kFolders;
  uint32_t pos = 0;
  while (pos < size) {
    const char* s = block + pos;
    size_t length = Length(s);  // the NUL after the block ends the last string
    pos += static_cast<uint32_t>(length) + 1;
    if (IsSeparator(s)) {
      if (++section == kUtf8Folders) {
        // The extension's name; at the end of the data the block's own NUL reads as empty.
        if (pos > size || !IsKnownExtension(block + pos)) return kUtf8Folders;
        pos += static_cast<uint32_t>(sizeof kUtf8Extension);
      }
      if (section == kAfter) return kUtf8Folders;
    } else if (!visit(section, s, length)) {
      return -1;
    }
  }
  return section > kMessages ? -1 : section;
}

}  // namespace

bool IsStorableUtf8(const char* text, size_t length) {
  for (size_t i = 0; i < length;) {
    uint32_t code = 0;
    size_t n = DecodeUtf8(text + i, length - i, &code);
    // C0 and C1 control characters and DEL: a control character in any form.
    if (n == 0 || code < 0x20 || (code >= 0x7F && code < 0xA0)) return false;
    i += n;
  }
  return true;
}

void EncodeTrailer(unsigned char out[kTrailerSize], uint32_t dataSize, uint64_t byteTotal) {
  for (int i = 0; i < 4; ++i) out[i] = kTrailerMagic[i];
  Store32(out + 4, dataSize);
  Store32(out + 8, static_cast<uint32_t>(byteTotal));
  Store32(out + 12, static_cast<uint32_t>(byteTotal >> 32));
}

bool DecodeTrailer(const unsigned char in[kTrailerSize], uint32_t* dataSize, uint64_t* byteTotal) {
  if (Load32(in) != Load32(kTrailerMagic)) return false;
  *dataSize = Load32(in + 4);
  *byteTotal = (static_cast<uint64_t>(Load32(in + 12)) << 32) | Load32(in + 8);
  return true;
}

bool SplitCheckData(CheckData* data) {
  uint32_t folders = 0, files = 0;
  size_t utf8Bytes = 0;  // the enclosed copies: each record, its two marks and its NUL
  int separators =
      WalkRecords(data->block, data->size, [&](int section, const char* s, size_t length) {
        if (section == kFiles || section == kUtf8Files) {
          if (length <= kRecordPathOffset) return false;
          ++files;
        }
        if (section == kFolders || section == kUtf8Folders) ++folders;
        if (section == kUtf8Folders || section == kUtf8Files) {
          size_t path = section == kUtf8Files ? kRecordPathOffset : 0;
          if (!IsStorableUtf8(s + path, length - path)) return false;
          utf8Bytes += length + 3;
        }
        return true;
      });
  if (separators < 2) return false;

  const char** lists = new (std::nothrow) const char*[folders + files + 1];
  char* copies = utf8Bytes > 0 ? new (std::nothrow) char[utf8Bytes] : nullptr;
  if (lists == nullptr || (utf8Bytes > 0 && copies == nullptr)) {
    delete[] lists;
    delete[] copies;
    return false;
  }
  data->folders = lists;
  data->fileRecords = lists + folders;
  data->utf8Block = copies;
  data->folderCount = 0;
  data->fileCount = 0;
  int message = 0;
  // The sections come in order, so the UTF-8 extension's entries follow the others of their kind.
  WalkRecords(data->block, data->size, [&](int section, const char* s, size_t length) {
    const char* entry = s;
    if (section == kUtf8Folders || section == kUtf8Files) {
      size_t path = section == kUtf8Files ? kRecordPathOffset : 0;
      entry = copies;
      for (size_t i = 0; i < path; ++i) *copies++ = s[i];
      *copies++ = kForeignNameBegin;
      for (size_t i = path; i < length; ++i) *copies++ = s[i];
      *copies++ = kForeignNameEnd;
      *copies++ = '\0';
    }
    if (section == kFolders || section == kUtf8Folders) data->folders[data->folderCount++] = entry;
    if (section == kFiles || section == kUtf8Files) data->fileRecords[data->fileCount++] = entry;
    if (section == kMessages && message < kMessageCount) data->messages[message++] = s;
    return true;
  });
  return true;
}

bool ReadCheckData(Platform& platform, const char* path, CheckData* data) {
  uint64_t fileSize = 0;
  if (!platform.FileSize(path, &fileSize) || fileSize < kTrailerSize) return false;
  FileRef file = platform.OpenRead(path);
  if (file == nullptr) return false;

  bool ok = false;
  unsigned char trailer[kTrailerSize];
  uint32_t dataSize = 0;
  uint64_t byteTotal = 0;
  if (platform.Seek(file, fileSize - kTrailerSize) &&
      platform.Read(file, trailer, kTrailerSize) == static_cast<int32_t>(kTrailerSize) &&
      DecodeTrailer(trailer, &dataSize, &byteTotal) && dataSize <= fileSize - kTrailerSize &&
      dataSize <= 0x7FFFFFFFu) {
    data->block = new (std::nothrow) char[static_cast<size_t>(dataSize) + 1];
    if (data->block != nullptr) {
      data->size = dataSize;
      data->block[dataSize] = '\0';
      ok = platform.Seek(file, fileSize - kTrailerSize - dataSize) &&
           platform.Read(file, data->block, dataSize) == static_cast<int32_t>(dataSize);
    }
  }
  platform.Close(file);

  if (ok) {
    data->byteTotal = static_cast<int64_t>(byteTotal);
    ok = SplitCheckData(data);
  }
  if (!ok) ReleaseCheckData(data);
  return ok;
}

void ReleaseCheckData(CheckData* data) {
  delete[] data->block;
  delete[] data->folders;
  delete[] data->utf8Block;
  *data = CheckData();
}

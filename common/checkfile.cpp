#include "checkfile.h"

#include <new>

namespace {

void Store32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint32_t Load32(const unsigned char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

bool IsSeparator(const char* s) { return s[0] == '|' && s[1] == '\0'; }

size_t Length(const char* s) {
  size_t n = 0;
  while (s[n] != '\0') ++n;
  return n;
}

// Walks the records in order and hands each folder, file record and message to `visit`
// with its section (0, 1, 2). Returns how many separators were met (at most 3).
template <typename Visit>
int WalkRecords(const char* block, uint32_t size, Visit visit) {
  int section = 0;
  uint32_t pos = 0;
  while (pos < size) {
    const char* s = block + pos;
    size_t length = Length(s);  // the NUL after the block ends the last string
    if (IsSeparator(s)) {
      if (++section == 3) break;
    } else if (!visit(section, s, length)) {
      return -1;
    }
    pos += static_cast<uint32_t>(length) + 1;
  }
  return section;
}

}  // namespace

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
  int separators = WalkRecords(data->block, data->size, [&](int section, const char*, size_t length) {
    if (section == 0) ++folders;
    if (section == 1) {
      if (length <= kRecordPathOffset) return false;
      ++files;
    }
    return true;
  });
  if (separators < 2) return false;

  const char** lists = new (std::nothrow) const char*[folders + files + 1];
  if (lists == nullptr) return false;
  data->folders = lists;
  data->fileRecords = lists + folders;
  data->folderCount = 0;
  data->fileCount = 0;
  int message = 0;
  WalkRecords(data->block, data->size, [&](int section, const char* s, size_t) {
    if (section == 0) data->folders[data->folderCount++] = s;
    if (section == 1) data->fileRecords[data->fileCount++] = s;
    if (section == 2 && message < kMessageCount) data->messages[message++] = s;
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
  *data = CheckData();
}

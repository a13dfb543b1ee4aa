#include "zip_directory.h"

#include <string.h>

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;        // PK\5\6
constexpr uint32_t kEnd64Signature = 0x06064b50;      // PK\6\6
constexpr uint32_t kLocator64Signature = 0x07064b50;  // PK\6\7
constexpr uint32_t kCentralSignature = 0x02014b50;    // PK\1\2
constexpr uint32_t kLocalSignature = 0x04034b50;      // PK\3\4
constexpr size_t kEndSize = 22, kLocator64Size = 20, kEnd64Size = 56;
constexpr size_t kCentralSize = 46, kLocalSize = 30;
constexpr size_t kMaxComment = 0xFFFF;
constexpr uint16_t kUtf8Flag = 1 << 11;
constexpr uint16_t kZip64Field = 0x0001;
constexpr uint16_t kUnicodePathField = 0x7075;

uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint64_t Get64(const unsigned char* p) {
  return Get32(p) | static_cast<uint64_t>(Get32(p + 4)) << 32;
}

bool SignatureAt(ByteSource& source, uint64_t offset, uint32_t signature) {
  unsigned char bytes[4];
  return offset <= source.Size() && source.Size() - offset >= 4 &&
         source.ReadAt(offset, bytes, 4) && Get32(bytes) == signature;
}

// The end record: where it stands, found from the end backwards past a comment of up to
// 65,535 bytes. The last one whose comment fits the file is taken: a comment can hold the
// signature's bytes too, and a writer's own bytes after the comment are not ours to refuse.
bool FindEnd(ByteSource& source, uint64_t* endOffset, unsigned char record[kEndSize]) {
  uint64_t size = source.Size();
  if (size < kEndSize) return false;
  size_t tailSize =
      static_cast<size_t>(size < kEndSize + kMaxComment ? size : kEndSize + kMaxComment);
  std::vector<unsigned char> tail(tailSize);
  uint64_t tailStart = size - tailSize;
  if (!source.ReadAt(tailStart, tail.data(), tailSize)) return false;
  for (size_t p = tailSize - kEndSize + 1; p-- > 0;) {
    if (Get32(&tail[p]) != kEndSignature) continue;
    if (p + kEndSize + Get16(&tail[p + 20]) > tailSize) continue;
    *endOffset = tailStart + p;
    memcpy(record, &tail[p], kEndSize);
    return true;
  }
  return false;
}

// Reads the central directory front to back through a window, however large it is: its
// records are read one at a time, never the directory whole.
class DirectoryReader {
 public:
  DirectoryReader(ByteSource& source, uint64_t offset, uint64_t size)
      : source_(source), next_(offset), left_(size) {}

  // The next `size` bytes of the directory, or null when the directory ends before them.
  const unsigned char* Take(size_t size) {
    if (size > left_) return nullptr;
    if (end_ - pos_ < size) {
      window_.erase(window_.begin(), window_.begin() + static_cast<ptrdiff_t>(pos_));
      end_ -= pos_;
      pos_ = 0;
      uint64_t inSource = left_ - (end_ - pos_);
      size_t more = static_cast<size_t>(inSource < kWindow ? inSource : kWindow);
      if (more < size - end_) more = size - end_;
      window_.resize(end_ + more);
      if (!source_.ReadAt(next_, window_.data() + end_, more)) return nullptr;
      next_ += more;
      end_ += more;
    }
    const unsigned char* p = window_.data() + pos_;
    pos_ += size;
    left_ -= size;
    return p;
  }
  bool AtEnd() const { return left_ == 0; }

 private:
  static constexpr size_t kWindow = 256 * 1024;
  ByteSource& source_;
  uint64_t next_;  // the next byte of the source not yet in the window
  uint64_t left_;  // the directory's bytes not yet taken
  std::vector<unsigned char> window_;
  size_t pos_ = 0, end_ = 0;
};

// The fields that a ZIP64 field replaces are those the header filled with all ones, in the
// order the header has them.
bool ReadZip64Field(const unsigned char* p, size_t size, uint32_t csize32, uint32_t size32,
                    uint32_t offset32, ZipEntry* entry) {
  size_t at = 0;
  auto next = [&](uint64_t* value) {
    if (at + 8 > size) return false;
    *value = Get64(p + at);
    at += 8;
    return true;
  };
  if (size32 == 0xFFFFFFFF && !next(&entry->size)) return false;
  if (csize32 == 0xFFFFFFFF && !next(&entry->compressedSize)) return false;
  if (offset32 == 0xFFFFFFFF && !next(&entry->localHeaderOffset)) return false;
  return true;
}

// The extra fields of a directory record: ZIP64 sizes and the Info-ZIP Unicode Path.
bool ReadExtraFields(const unsigned char* p, size_t size, uint32_t csize32, uint32_t size32,
                     uint32_t offset32, ZipEntry* entry) {
  bool zip64Seen = false;
  for (size_t at = 0; at + 4 <= size;) {
    uint16_t id = Get16(p + at);
    size_t length = Get16(p + at + 2);
    const unsigned char* data = p + at + 4;
    if (at + 4 + length > size) break;  // a short last field is padding some writers leave
    if (id == kZip64Field && !zip64Seen) {
      zip64Seen = true;
      if (!ReadZip64Field(data, length, csize32, size32, offset32, entry)) return false;
    } else if (id == kUnicodePathField && length >= 5 && data[0] == 1 && entry->utf8Name.empty() &&
               Get32(data + 1) == ZipCrc32(0, entry->name.data(), entry->name.size())) {
      entry->utf8Name.assign(reinterpret_cast<const char*>(data + 5), length - 5);
    }
    at += 4 + length;
  }
  // A header that says "see the ZIP64 field" for a value without one cannot be read.
  return zip64Seen || (csize32 != 0xFFFFFFFF && size32 != 0xFFFFFFFF && offset32 != 0xFFFFFFFF);
}

}  // namespace

// Eight bytes a step through eight tables ("slicing by 8"): one table lookup a byte, as the
// plain loop makes, is a chain of dependent loads, and the page's digest workers spent more
// time on it than on the MD5 of the same bytes; eight independent lookups a step run several
// times as fast. Bytes are put together explicitly, so the result does not depend on the
// host's byte order.
uint32_t ZipCrc32(uint32_t crc, const void* data, size_t size) {
  // Made once, by the first caller, whichever thread it is on.
  struct Table {
    uint32_t entry[8][256];
    Table() {
      for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        entry[0][i] = c;
      }
      // entry[k][i]: the CRC of byte i followed by k zero bytes.
      for (int k = 1; k < 8; ++k) {
        for (uint32_t i = 0; i < 256; ++i)
          entry[k][i] = (entry[k - 1][i] >> 8) ^ entry[0][entry[k - 1][i] & 0xFF];
      }
    }
  };
  static const Table table;
  const uint32_t(&t)[8][256] = table.entry;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  crc = ~crc;
  for (; size >= 8; p += 8, size -= 8) {
    uint32_t low = crc ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
    crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
          t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
  }
  for (; size > 0; ++p, --size) crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

ZipStatus ReadZipDirectory(ByteSource& source, std::vector<ZipEntry>* entries) {
  entries->clear();
  uint64_t endOffset = 0;
  unsigned char end[kEndSize];
  if (!FindEnd(source, &endOffset, end)) {
    // A download that broke off keeps its first local header and loses its end.
    return SignatureAt(source, 0, kLocalSignature) ? kZipIncomplete : kZipNotZip;
  }
  uint64_t count = Get16(end + 10);
  uint64_t directorySize = Get32(end + 12);
  uint64_t directoryOffset = Get32(end + 16);
  uint64_t directoryEnd = endOffset;

  // ZIP64: a locator just before the end record points at the larger end record.
  unsigned char locator[kLocator64Size];
  if (endOffset >= kLocator64Size &&
      source.ReadAt(endOffset - kLocator64Size, locator, kLocator64Size) &&
      Get32(locator) == kLocator64Signature) {
    uint64_t locatorOffset = endOffset - kLocator64Size;
    uint64_t end64Offset = Get64(locator + 8);
    // Where it must stand when nothing comes between it and the locator: the declared offset
    // is moved by whatever stands before the archive, as every other offset is.
    if (!SignatureAt(source, end64Offset, kEnd64Signature)) {
      if (locatorOffset < kEnd64Size) return kZipDamaged;
      end64Offset = locatorOffset - kEnd64Size;
    }
    unsigned char end64[kEnd64Size];
    if (end64Offset > locatorOffset || locatorOffset - end64Offset < kEnd64Size ||
        !source.ReadAt(end64Offset, end64, kEnd64Size) || Get32(end64) != kEnd64Signature)
      return kZipDamaged;
    count = Get64(end64 + 32);
    directorySize = Get64(end64 + 40);
    directoryOffset = Get64(end64 + 48);
    directoryEnd = end64Offset;
  }

  // The directory ends where the end records begin. Bytes before the archive (a stub) move
  // every offset by the same amount: found by where the directory really begins.
  if (directorySize > directoryEnd) return kZipDamaged;
  uint64_t directoryStart = directoryEnd - directorySize;
  uint64_t shift = 0;
  if (directoryOffset != directoryStart) {
    if (directoryOffset < directoryStart &&
        (directorySize == 0 || SignatureAt(source, directoryStart, kCentralSignature)))
      shift = directoryStart - directoryOffset;
    else
      return kZipDamaged;
  }
  // Each record takes at least 46 bytes: a count beyond that is not believed, and a smaller
  // one (a writer that let a 16-bit count wrap) does not stop the reading early.
  if (count > directorySize / kCentralSize) count = directorySize / kCentralSize;
  entries->reserve(static_cast<size_t>(count));

  DirectoryReader reader(source, directoryStart, directorySize);
  while (!reader.AtEnd()) {
    const unsigned char* h = reader.Take(kCentralSize);
    if (h == nullptr || Get32(h) != kCentralSignature) return kZipDamaged;
    ZipEntry entry;
    entry.flags = Get16(h + 8);
    entry.method = Get16(h + 10);
    entry.crc = Get32(h + 16);
    uint32_t csize32 = Get32(h + 20), size32 = Get32(h + 24), offset32 = Get32(h + 42);
    entry.compressedSize = csize32;
    entry.size = size32;
    entry.localHeaderOffset = offset32;
    size_t nameLength = Get16(h + 28), extraLength = Get16(h + 30), commentLength = Get16(h + 32);
    const unsigned char* name = reader.Take(nameLength);
    if (name == nullptr) return kZipDamaged;
    entry.name.assign(reinterpret_cast<const char*>(name), nameLength);
    if (entry.flags & kUtf8Flag) entry.utf8Name = entry.name;
    const unsigned char* extra = reader.Take(extraLength);
    if (extra == nullptr || !ReadExtraFields(extra, extraLength, csize32, size32, offset32, &entry))
      return kZipDamaged;
    if (reader.Take(commentLength) == nullptr) return kZipDamaged;
    if (entry.localHeaderOffset > UINT64_MAX - shift) return kZipDamaged;
    entry.localHeaderOffset += shift;
    entries->push_back(std::move(entry));
  }
  return kZipOk;
}

ZipStatus LocateZipData(ByteSource& source, const ZipEntry& entry, uint64_t* dataOffset) {
  unsigned char h[kLocalSize];
  uint64_t size = source.Size();
  if (entry.localHeaderOffset > size || size - entry.localHeaderOffset < kLocalSize)
    return kZipIncomplete;
  if (!source.ReadAt(entry.localHeaderOffset, h, kLocalSize)) return kZipIncomplete;
  if (Get32(h) != kLocalSignature) return kZipDamaged;
  uint64_t start = entry.localHeaderOffset + kLocalSize + Get16(h + 26) + Get16(h + 28);
  if (start > size || size - start < entry.compressedSize) return kZipIncomplete;
  *dataOffset = start;
  return kZipOk;
}

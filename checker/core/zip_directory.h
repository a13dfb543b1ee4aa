// A zip archive's central directory, read from any source of bytes: its entries' names, sizes,
// CRCs and where their data lies. Portable and small: the inflating is the platform's (zlib
// natively, the browser's DecompressionStream in the page).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// The bytes of an archive, read by offset: a file natively, a Blob in the page.
class ByteSource {
 public:
  virtual uint64_t Size() = 0;
  // Reads exactly `size` bytes at `offset`; false when they are not all there. May be called
  // from several threads at once.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t size) = 0;

 protected:
  ~ByteSource() = default;
};

// The two compression methods an entry can be checked in without unpacking.
constexpr uint16_t kZipStored = 0;
constexpr uint16_t kZipDeflated = 8;

struct ZipEntry {
  // The name's bytes as the archive stores them, "/" or "\" separated, a folder's ending in one.
  std::string name;
  // The name in UTF-8 where the archive says which it is: the UTF-8 flag (then `name` itself)
  // or an Info-ZIP Unicode Path field whose CRC matches `name`; empty otherwise, when the
  // bytes are those of the code page of the system that wrote them.
  std::string utf8Name;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t size = 0;
  uint64_t localHeaderOffset = 0;  // already moved by the bytes that stand before the archive

  bool Encrypted() const { return (flags & 1) != 0; }
  bool IsFolder() const { return !name.empty() && (name.back() == '/' || name.back() == '\\'); }
  // Stored or deflated, and not encrypted: its bytes can be had from the archive alone.
  bool Readable() const { return !Encrypted() && (method == kZipStored || method == kZipDeflated); }
};

enum ZipStatus {
  kZipOk,
  // No end record and no zip signature at the start: not a zip at all.
  kZipNotZip,
  // A zip that ends early: no end record, or a directory or an entry that runs past the end
  // of the file. A download that broke off.
  kZipIncomplete,
  // An end record whose directory does not hold together (signatures, counts, sizes that
  // cannot be): a damaged or made-up archive.
  kZipDamaged,
};

// Reads the central directory. Sizes, CRCs and offsets come from it, never from the local
// headers (which a writer that streams leaves empty). An archive with bytes before it (a
// self-extracting stub) is read where its directory really stands. ZIP64 is read.
ZipStatus ReadZipDirectory(ByteSource& source, std::vector<ZipEntry>* entries);

// Where `entry`'s compressed bytes begin, past its local header; kZipIncomplete when they would
// run past the end of the source, kZipDamaged when no local header stands there.
ZipStatus LocateZipData(ByteSource& source, const ZipEntry& entry, uint64_t* dataOffset);

// CRC-32 as zip computes it, continued from `crc` (0 to begin).
uint32_t ZipCrc32(uint32_t crc, const void* data, size_t size);

#include "zip_platform.h"

#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <memory>

namespace {

constexpr size_t kInputSize = 64 * 1024;

}  // namespace

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

ZipPlatform::ZipPlatform(ByteSource& source) : ZipEntries(source), source_(source) {}

ZipPlatform::~ZipPlatform() = default;

FileRef ZipPlatform::OpenRead(const char* path) {
  ZipEntryFacts facts;
  if (!FactsOf(path, &facts)) return nullptr;
  std::unique_ptr<Reader> reader(new Reader);
  reader->entry = facts.index;
  if (!facts.readable) {
    // Opened, so that the check does not call it missing; reading it fails.
    SetState(facts.index, kZipEntryUnsupported);
    reader->ended = true;
  } else {
    ZipStatus located = LocateZipData(source_, entry(facts.index), &reader->dataOffset);
    if (located != kZipOk) {
      SetState(facts.index, located == kZipIncomplete ? kZipEntryIncomplete : kZipEntryCorrupt);
      reader->ended = true;
    }
  }
  if (!reader->ended && !Restart(reader.get())) return nullptr;
  return reader.release();
}

bool ZipPlatform::Restart(Reader* reader) {
  if (reader->inflating) inflateEnd(&reader->stream);
  reader->inflating = false;
  const ZipEntry& e = entry(reader->entry);
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
  const ZipEntry& e = entry(reader->entry);
  if (StateAt(reader->entry) == kZipEntryUnsupported) return -1;
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
  if (reader->ended || reader->produced == e.size)
    Finished(reader->entry, reader->produced, reader->crc);
  return static_cast<int32_t>(done);
}

bool ZipPlatform::Seek(FileRef file, uint64_t offset) {
  // Inflated data can only be read forward: a seek back begins again, a seek forward reads
  // over what lies between. The check seeks only in the checker, to its trailer and data.
  Reader* reader = static_cast<Reader*>(file);
  if (StateAt(reader->entry) == kZipEntryUnsupported) return false;
  if (offset > entry(reader->entry).size) return false;
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

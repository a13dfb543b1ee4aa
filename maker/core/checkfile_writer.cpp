#include "checkfile_writer.h"

#include "checkfile.h"

bool BuildCheckBlock(const std::vector<std::string>& records, uint64_t byteTotal, std::string* block) {
  uint64_t dataSize = 0;
  for (const std::string& r : records) dataSize += r.size() + 1;
  if (dataSize > 0xFFFFFFFFu) return false;

  block->clear();
  block->reserve(static_cast<size_t>(dataSize) + kTrailerSize);
  for (const std::string& r : records) {
    block->append(r);
    block->push_back('\0');
  }
  unsigned char trailer[kTrailerSize];
  EncodeTrailer(trailer, static_cast<uint32_t>(dataSize), byteTotal);
  block->append(reinterpret_cast<const char*>(trailer), kTrailerSize);
  return true;
}

std::string MakeFileRecord(const char digestText[33], const std::string& relativePath) {
  std::string record(digestText, kDigestDigits);
  record += ' ';
  record += relativePath;
  return record;
}

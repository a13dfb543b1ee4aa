#include "checkfile_writer.h"

#include "checkfile.h"
#include "cp932_convert.h"
#include "platform.h"

namespace {

// A path of the scan holds an enclosed name when code page 932 cannot write it.
bool NeedsUtf8(const std::string& path) {
  return path.find(kForeignNameBegin) != std::string::npos;
}

// Such a path as the UTF-8 extension stores it. The scan's code-page-932 pieces all convert.
std::string Utf8Path(const std::string& path) {
  std::string utf8;
  return Cp932TextToUtf8Exact(path, &utf8) ? utf8 : Cp932TextToUtf8(path);
}

// The records that `forEach` hands to its visitor, each with its NUL, then the trailer; sized
// first, so that the block is allocated once.
template <typename ForEach>
bool LayOut(ForEach forEach, uint64_t byteTotal, std::string* block) {
  uint64_t dataSize = 0;
  forEach([&](const std::string& record) { dataSize += record.size() + 1; });
  if (dataSize > 0xFFFFFFFFu) return false;
  block->clear();
  block->reserve(static_cast<size_t>(dataSize) + kTrailerSize);
  forEach([&](const std::string& record) {
    block->append(record);
    block->push_back('\0');
  });
  unsigned char trailer[kTrailerSize];
  EncodeTrailer(trailer, static_cast<uint32_t>(dataSize), byteTotal);
  block->append(reinterpret_cast<const char*>(trailer), kTrailerSize);
  return true;
}

}  // namespace

std::string MakeFileRecord(const char digestText[33], const std::string& relativePath) {
  std::string record(digestText, kDigestDigits);
  record += ' ';
  record += relativePath;
  return record;
}

void CheckDataWriter::Clear() { *this = CheckDataWriter(); }

void CheckDataWriter::AddFolder(const std::string& path) {
  if (NeedsUtf8(path)) {
    utf8Folders_.push_back(Utf8Path(path));
  } else {
    folders_.push_back(path);
  }
}

void CheckDataWriter::AddFile(const char digestText[33], const std::string& path) {
  if (NeedsUtf8(path)) {
    utf8FileRecords_.push_back(MakeFileRecord(digestText, Utf8Path(path)));
  } else {
    fileRecords_.push_back(MakeFileRecord(digestText, path));
  }
}

template <typename Visit>
void CheckDataWriter::ForEachRecord(const std::vector<std::string>& messages, Visit visit) const {
  const std::string separator = kSectionSeparator;
  for (const std::string& f : folders_) visit(f);
  visit(separator);
  for (const std::string& r : fileRecords_) visit(r);
  visit(separator);
  for (const std::string& m : messages) {
    // A message of "|" alone reads as a third separator, the one that begins an extension:
    // the next message would then be taken for the extension's name ("utf8" makes the rest
    // the extension's records, which the reader refuses, and the checker calls itself
    // damaged), and the messages after it are lost to every reader. A line feed after it
    // keeps it a message and shows the same line; no other message can be taken for a
    // separator. Always, whether UTF-8 records follow or not.
    visit(m == separator ? m + "\n" : m);
  }
  // Without such names the data stays as the readers made before the extension know it.
  if (utf8Folders_.empty() && utf8FileRecords_.empty()) return;
  visit(separator);
  visit(std::string(kUtf8Extension));
  for (const std::string& f : utf8Folders_) visit(f);
  visit(separator);
  for (const std::string& r : utf8FileRecords_) visit(r);
  visit(separator);
}

bool CheckDataWriter::Finish(const std::vector<std::string>& messages, uint64_t byteTotal,
                             std::string* block) const {
  return LayOut([&](auto visit) { ForEachRecord(messages, visit); }, byteTotal, block);
}

bool BuildCheckBlock(const std::vector<std::string>& records, uint64_t byteTotal,
                     std::string* block) {
  return LayOut(
      [&](auto visit) {
        for (const std::string& record : records) visit(record);
      },
      byteTotal, block);
}

// The checker file's layout (image, check data, 16-byte trailer) and its reader; the writer
// is checkfile_writer.h.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "platform.h"

// Trailer at the very end of a checker file: magic "VXR!", data size D (32-bit), byte total
// (64-bit), little-endian. The check data is the D bytes just before it.
constexpr uint32_t kTrailerSize = 16;
constexpr unsigned char kTrailerMagic[4] = {0x56, 0x58, 0x52, 0x21};
// The record that separates folders from files and files from messages.
constexpr char kSectionSeparator[] = "|";
// A file record: 32 digest digits, one space, the relative path.
constexpr uint32_t kDigestDigits = 32;
constexpr uint32_t kRecordPathOffset = 33;
constexpr int kMessageCount = 3;
// After the messages, a third separator may begin extensions, each named by its first record;
// the readers made before them stop at that separator. This one holds the entries whose names
// code page 932 cannot write: its name, their folder records, a separator, their file records,
// a separator; every path in UTF-8 with backslash separators. A reader skips an extension it
// does not know by name, and everything after it.
constexpr char kUtf8Extension[] = "utf8";

void EncodeTrailer(unsigned char out[kTrailerSize], uint32_t dataSize, uint64_t byteTotal);
// False when the magic is not there.
bool DecodeTrailer(const unsigned char in[kTrailerSize], uint32_t* dataSize, uint64_t* byteTotal);

// The check data of one checker file, split: the lists point into `block`, and for the entries
// of the UTF-8 extension into `utf8Block`, after the others of their kind. Those paths are
// enclosed in kForeignNameBegin and kForeignNameEnd (platform.h), the form in which every
// platform opens and shows a name that code page 932 cannot write.
struct CheckData {
  char* block = nullptr;  // the D bytes of check data and one NUL after them
  uint32_t size = 0;
  int64_t byteTotal = 0;
  const char** folders = nullptr;  // relative folder paths, each ending with a backslash
  uint32_t folderCount = 0;
  const char** fileRecords = nullptr;  // whole file records: digest text, space, path
  uint32_t fileCount = 0;
  char* utf8Block = nullptr;  // the enclosed copies of the UTF-8 extension's records
  // The three messages; one the data lacks is the empty text.
  const char* messages[kMessageCount] = {"", "", ""};
};

// The distributor's three messages by what each is about, in the order the data stores them.
enum UserMessage {
  kUserMessageFolderMissing = 0,
  kUserMessageFileMissing = 1,
  kUserMessageFileBroken = 2,
  kNoUserMessage = kMessageCount,  // a problem that none of them is about
};
inline const char* UserMessageText(const CheckData& data, UserMessage which) {
  return which < kMessageCount ? data.messages[which] : "";
}

// The stored digest text and relative path of a file record.
inline const char* RecordDigest(const char* record) { return record; }
inline const char* RecordPath(const char* record) { return record + kRecordPathOffset; }

// Splits `data->block` (`data->size` bytes plus a NUL) into the lists. Rejects data that
// cannot be trusted: no second separator, or a file record too short to hold a digest,
// its separator byte and a path; in the UTF-8 extension also a path that IsStorableUtf8
// refuses, or a missing separator of its two. Extensions of other names are ignored.
bool SplitCheckData(CheckData* data);

// True for `length` bytes of well-formed UTF-8 without control characters: what a path of
// the UTF-8 extension may hold (so that it cannot end its enclosure or pass for a mark).
bool IsStorableUtf8(const char* text, size_t length);

// Reads the trailer and the check data from the end of the file at `path` and splits them.
// False, with nothing kept, when the file is too short, lacks the magic, declares more data
// than it holds, cannot be read in full or holds data that SplitCheckData rejects.
bool ReadCheckData(Platform& platform, const char* path, CheckData* data);

void ReleaseCheckData(CheckData* data);

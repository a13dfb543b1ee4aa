// One file's MD5 digest, computed one chunk per step, and its 32-digit text form.
#pragma once
#include <stdint.h>

#include "md5.h"
#include "platform.h"

// Step results shared by both programs.
enum StepResult {
  kStepMore = 0,         // more of the file remains
  kStepDone = -1,        // the digest is complete and the file closed
  kStepOpenFailed = 1,   // the file cannot be opened
};

constexpr uint32_t kMakerChunkSize = 262144;   // 256 KiB per step in the maker
constexpr uint32_t kCheckerChunkSize = 524288;  // 512 KiB per step in the checker

// The digest of one file across steps: the open file, if any, and the running MD5.
struct DigestState {
  FileRef file = nullptr;
  Md5Context md5;
  // Set by a step that ended the file on a read error rather than at its end.
  bool readFailed = false;
};

// One step: opens the file at `path` if none is open, reads at most `chunkSize` bytes into
// `chunk` with one read, and on a short read finishes the digest into `digest` and closes
// the file. `bytesRead` receives the count read (not on kStepOpenFailed). A read error ends
// the file like its end does, with `readFailed` set in the state.
StepResult DigestFileStep(Platform& platform, DigestState* state, const char* path,
                          unsigned char* chunk, uint32_t chunkSize, unsigned char digest[16],
                          uint32_t* bytesRead);

// Closes the file of an unfinished digest, if one is open.
void DigestClose(Platform& platform, DigestState* state);

// Writes the digest as 32 lower-case hexadecimal digits and a terminator.
void DigestToHex(const unsigned char digest[16], char text[33]);

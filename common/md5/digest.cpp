#include "digest.h"

StepResult DigestFileStep(Platform& platform, DigestState* state, const char* path,
                          unsigned char* chunk, uint32_t chunkSize, unsigned char digest[16],
                          uint32_t* bytesRead) {
  if (state->file == nullptr) {
    FileRef file = platform.OpenRead(path);
    if (file == nullptr) return kStepOpenFailed;
    state->file = file;
    state->readFailed = false;
    Md5Init(&state->md5);
  }

  int32_t got = platform.Read(state->file, chunk, chunkSize);
  if (got < 0) {
    state->readFailed = true;
    got = 0;
  }
  *bytesRead = static_cast<uint32_t>(got);
  if (got > 0) Md5Update(&state->md5, chunk, static_cast<uint32_t>(got));
  if (static_cast<uint32_t>(got) == chunkSize) return kStepMore;

  Md5Final(&state->md5, digest);
  platform.Close(state->file);
  state->file = nullptr;
  return kStepDone;
}

void DigestClose(Platform& platform, DigestState* state) {
  if (state->file != nullptr) {
    platform.Close(state->file);
    state->file = nullptr;
  }
}

void DigestToHex(const unsigned char digest[16], char text[33]) {
  static const char kDigits[] = "0123456789abcdef";
  for (int i = 0; i < 16; ++i) {
    text[2 * i] = kDigits[digest[i] >> 4];
    text[2 * i + 1] = kDigits[digest[i] & 15];
  }
  text[32] = '\0';
}

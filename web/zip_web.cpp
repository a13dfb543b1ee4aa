#include "zip_web.h"

#include <string.h>

#include "imports_web.h"

uint64_t WebZipSource::Size() { return static_cast<uint64_t>(VxJsZipSize()); }

bool WebZipSource::ReadAt(uint64_t offset, void* buffer, size_t size) {
  // A double holds every offset of a file a browser can hand over (below 2^53 bytes).
  return VxJsZipRead(static_cast<double>(offset), buffer, static_cast<uint32_t>(size)) != 0;
}

FileRef WebZipPlatform::OpenRead(const char* path) {
  ZipEntryFacts facts;
  if (!entries_.FactsOf(path, &facts)) return nullptr;
  auto held = held_.find(facts.index);
  if (held == held_.end()) {
    missing_.insert(facts.index);
    return nullptr;
  }
  return new Open{&held->second, 0};
}

int32_t WebZipPlatform::Read(FileRef file, void* buffer, uint32_t size) {
  Open* open = static_cast<Open*>(file);
  uint64_t left = open->pos < open->bytes->size() ? open->bytes->size() - open->pos : 0;
  uint32_t n = left < size ? static_cast<uint32_t>(left) : size;
  memcpy(buffer, open->bytes->data() + open->pos, n);
  open->pos += n;
  return static_cast<int32_t>(n);
}

bool WebZipPlatform::Seek(FileRef file, uint64_t offset) {
  Open* open = static_cast<Open*>(file);
  if (offset > open->bytes->size()) return false;
  open->pos = offset;
  return true;
}

void WebZipPlatform::Close(FileRef file) { delete static_cast<Open*>(file); }

bool WebZipPlatform::FileSize(const char* path, uint64_t* size) {
  ZipEntryFacts facts;
  if (!entries_.FactsOf(path, &facts)) return false;
  auto held = held_.find(facts.index);
  // The checker's size is that of the bytes it holds; an entry's, what its directory says.
  *size = held != held_.end() ? held->second.size() : facts.size;
  return true;
}

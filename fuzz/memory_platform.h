// A platform whose files live in memory, for the fuzz targets: the fuzzed bytes stand in for
// a file on disk, so every input runs the real readers without touching the file system.
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "platform.h"
#include "text.h"

class MemoryPlatform : public Platform {
 public:
  // Files by their code-page-932 path.
  std::map<std::string, std::string> files;
  // Paths that IsFolder answers true for.
  std::map<std::string, bool> folders;
  std::string executablePath;
  int openFiles = 0;
  // Every path asked about, opened or tested, in order.
  std::vector<std::string> asked;

  FileRef OpenRead(const char* path) override {
    asked.push_back(path);
    auto it = files.find(path);
    if (it == files.end()) return nullptr;
    ++openFiles;
    return new Open{&it->second, 0};
  }

  int32_t Read(FileRef file, void* buffer, uint32_t size) override {
    Open* f = static_cast<Open*>(file);
    // Like a real file: whatever lies between the position and the end, short only at the end.
    uint64_t left = f->position < f->content->size() ? f->content->size() - f->position : 0;
    uint32_t n = left < size ? static_cast<uint32_t>(left) : size;
    if (n > 0) memcpy(buffer, f->content->data() + f->position, n);
    f->position += n;
    return static_cast<int32_t>(n);
  }

  bool Seek(FileRef file, uint64_t offset) override {
    static_cast<Open*>(file)->position = offset;
    return true;
  }

  void Close(FileRef file) override {
    --openFiles;
    delete static_cast<Open*>(file);
  }

  bool FileSize(const char* path, uint64_t* size) override {
    asked.push_back(path);
    auto it = files.find(path);
    if (it == files.end()) return false;
    *size = it->second.size();
    return true;
  }

  bool IsFolder(const char* path) override {
    asked.push_back(path);
    return folders.count(path) != 0;
  }

  bool ExecutablePath(char* buffer, size_t capacity) override {
    return !executablePath.empty() && TextCopy(buffer, capacity, executablePath.c_str());
  }

 private:
  struct Open {
    const std::string* content;
    uint64_t position;
  };
};

// Stops the fuzzer with a message when a property of the code under test does not hold.
#define FUZZ_CHECK(condition)                                                                 \
  do {                                                                                        \
    if (!(condition)) {                                                                       \
      fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__, #condition); \
      abort();                                                                                \
    }                                                                                         \
  } while (0)

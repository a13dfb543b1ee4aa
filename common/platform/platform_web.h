// The platform of the web page: the files the browser handed the page, read through its script.
#pragma once
#include <string>

#include "platform.h"

// The folder the recipient chose in the page, as the page's worker holds it: browser File
// objects by their path below the checker's folder. Every call goes to the worker's script
// (the imports of module "vx"), which reads a slice of a File synchronously. A path names
// only what the browser handed over, so nothing outside the chosen folder can be opened.
//
// The checker's folder is kExecutableFolderMark (the page knows no absolute path; its name
// goes back in when a text is shown) and the checker itself a name no stored path can be:
// the check data's reader refuses control characters.
class WebPlatform : public Platform {
 public:
  FileRef OpenRead(const char* path) override;
  int32_t Read(FileRef file, void* buffer, uint32_t size) override;
  bool Seek(FileRef file, uint64_t offset) override;
  void Close(FileRef file) override;
  bool FileSize(const char* path, uint64_t* size) override;
  bool IsFolder(const char* path) override;
  bool ExecutablePath(char* buffer, size_t capacity) override;
};

// The path of a file below the checker's folder as the page's script names it: UTF-8 with "/"
// separators. False for a path that is not below that folder or that code page 932 does not
// spell exactly: the browser handed over no such file. A path that begins with
// kNativePathMark is one the page listed itself (WebFolderNames): already the script's.
bool WebRelativePath(const char* path, std::string* out);

#include <stdio.h>
#include <windows.h>

#include "cli_files.h"
#include "cp932_convert_win.h"

bool ReadFileBytes(const std::string& utf8Path, std::vector<unsigned char>* bytes) {
  FILE* f = _wfopen(WideFromUtf8(utf8Path).c_str(), L"rb");
  if (f == nullptr) return false;
  bytes->clear();
  unsigned char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes->insert(bytes->end(), buffer, buffer + n);
  bool ok = ferror(f) == 0;
  fclose(f);
  return ok;
}

bool EnterTargetFolder(const std::string& utf8Folder, std::string* target) {
  std::wstring wide = WideFromUtf8(utf8Folder);
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return false;
  if (!SetCurrentDirectoryW(wide.c_str())) return false;
  *target = ".";
  return true;
}

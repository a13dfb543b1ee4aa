#include <unistd.h>

#include <fstream>
#include <iterator>

#include "cli_files.h"

bool ReadFileBytes(const std::string& utf8Path, std::vector<unsigned char>* bytes) {
  std::ifstream in(utf8Path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool EnterTargetFolder(const std::string& utf8Folder, std::string* target) {
  if (chdir(utf8Folder.c_str()) != 0) return false;
  *target = ".";
  return true;
}

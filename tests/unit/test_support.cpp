#include "test_support.h"

#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "cp932_convert.h"
#include "platform_posix.h"

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

std::string Parent(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void MakeFolders(const std::string& path) {
  if (path.empty()) return;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return;
  MakeFolders(Parent(path));
  mkdir(path.c_str(), 0755);
}

}  // namespace

TempDir::TempDir() {
  char pattern[] = "/tmp/vxtest-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  // Tests may leave folders read-only; make them writable so everything can go.
  std::string cmd = "chmod -R u+rwx '" + path_ + "' 2>/dev/null";
  if (system(cmd.c_str()) != 0) {
  }
  nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::CorePath() const {
  std::string core;
  if (!Utf8ToCp932(path_, &core)) throw std::runtime_error("temp path not representable");
  return core + "\\";
}

void TempDir::WriteFile(const std::string& relative, const std::string& content) const {
  std::string full = path_ + "/" + relative;
  MakeFolders(Parent(full));
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + full);
}

void TempDir::MakeFolder(const std::string& relative) const { MakeFolders(path_ + "/" + relative); }

std::string TempDir::ReadFile(const std::string& relative) const {
  std::ifstream in(path_ + "/" + relative, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool TempDir::Exists(const std::string& relative) const {
  struct stat st;
  return lstat((path_ + "/" + relative).c_str(), &st) == 0;
}

std::string TempDir::Snapshot() const {
  std::string cmd =
      "cd '" + path_ +
      "' && find . -printf '%p %s %m\\n' | sort && find . -type f -exec md5sum {} + | sort";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::string Cp932(const std::string& utf8) {
  std::string out;
  if (!Utf8ToCp932(utf8, &out)) throw std::runtime_error("not representable in code page 932");
  return out;
}

std::string SystemMd5(const std::string& nativePath) {
  std::string cmd = "md5sum '" + nativePath + "'";
  FILE* p = popen(cmd.c_str(), "r");
  char buf[33] = {0};
  size_t n = fread(buf, 1, 32, p);
  pclose(p);
  return std::string(buf, n);
}

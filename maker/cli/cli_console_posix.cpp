#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <stdio.h>
#include <unistd.h>

#include <iostream>

#include "cli_console.h"
#include "platform_posix.h"

namespace {

std::string TerminalCharset() {
  std::string codeset = nl_langinfo(CODESET);
  // The C locale cannot show Japanese at all; UTF-8 is what terminals use then.
  if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII") return "UTF-8";
  return codeset;
}

}  // namespace

void ConsoleInit() { setlocale(LC_ALL, ""); }

bool ConsoleIsTerminal() { return isatty(STDERR_FILENO) != 0; }

bool ConsoleCanAsk() { return isatty(STDIN_FILENO) != 0; }

void ConsoleWrite(const std::string& sjis) {
  std::string charset = TerminalCharset() + "//TRANSLIT";
  iconv_t cd = iconv_open(charset.c_str(), "CP932");
  std::string out = sjis;
  if (cd != reinterpret_cast<iconv_t>(-1)) {
    std::string buffer(sjis.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(sjis.data());
    size_t srcLeft = sjis.size();
    char* dst = &buffer[0];
    size_t dstLeft = buffer.size();
    // Bytes that are not valid code page 932 are passed over rather than ending the text.
    while (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1) && srcLeft > 0) {
      ++src;
      --srcLeft;
    }
    buffer.resize(buffer.size() - dstLeft);
    out = buffer;
    iconv_close(cd);
  }
  fwrite(out.data(), 1, out.size(), stderr);
  fflush(stderr);
}

bool ConsoleReadLine(std::string* line) { return static_cast<bool>(std::getline(std::cin, *line)); }

bool ArgumentToSjis(const char* argument, std::string* sjis) { return Utf8ToCp932(argument, sjis); }

bool PrepareTargetFolder(const std::string& folder, std::string* target, std::string* error) {
  // Work from inside the folder: the stored paths are relative anyway, and the folder's own
  // path may hold characters that code page 932 lacks.
  if (chdir(folder.c_str()) != 0) {
    *error = folder + " is not a folder";
    return false;
  }
  *target = ".";
  return true;
}

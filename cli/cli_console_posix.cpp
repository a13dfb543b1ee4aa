#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <iostream>

#include "cli_console.h"
#include "cp932_convert.h"

namespace {

std::atomic<bool> interrupted{false};  // lock-free, so the signal handler may set it

void NoteInterrupt(int) { interrupted.store(true); }

std::string TerminalCharset() {
  std::string codeset = nl_langinfo(CODESET);
  // The C locale cannot show Japanese at all; UTF-8 is what terminals use then.
  if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII") return "UTF-8";
  return codeset;
}

void WriteConverted(FILE* stream, const char* from, const std::string& text) {
  std::string charset = TerminalCharset() + "//TRANSLIT";
  std::string out = text;
  iconv_t cd = iconv_open(charset.c_str(), from);
  if (cd != reinterpret_cast<iconv_t>(-1)) {
    std::string buffer(text.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(text.data());
    size_t srcLeft = text.size();
    char* dst = &buffer[0];
    size_t dstLeft = buffer.size();
    // Bytes that are not valid text are passed over rather than ending the output.
    while (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1) && srcLeft > 0) {
      ++src;
      --srcLeft;
    }
    buffer.resize(buffer.size() - dstLeft);
    out = buffer;
    iconv_close(cd);
  }
  fwrite(out.data(), 1, out.size(), stream);
  fflush(stream);
}

}  // namespace

void ConsoleInit() { setlocale(LC_ALL, ""); }

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool ConsoleIsTerminal() { return isatty(STDERR_FILENO) != 0; }

bool ConsoleCanAsk() { return isatty(STDIN_FILENO) != 0; }

void ConsoleWrite(const std::string& cp932) {
  WriteConverted(stderr, "UTF-8", Cp932TextToUtf8(cp932));
}

void ConsoleWriteUtf8(const std::string& utf8) { WriteConverted(stderr, "UTF-8", utf8); }

void ConsoleWriteOutUtf8(const std::string& utf8) { WriteConverted(stdout, "UTF-8", utf8); }

void WriteOutputUtf8(const std::string& utf8) {
  fwrite(utf8.data(), 1, utf8.size(), stdout);
  fflush(stdout);
}

void ConsoleCatchInterrupt() {
  struct sigaction action = {};
  action.sa_handler = NoteInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

bool ConsoleInterrupted() { return interrupted.load(); }

bool ConsoleReadLine(std::string* line) { return static_cast<bool>(std::getline(std::cin, *line)); }

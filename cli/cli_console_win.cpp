#include <windows.h>
#include <shellapi.h>
#include <stdio.h>

#include <atomic>
#include <iostream>

#include "cli_console.h"
#include "platform_win.h"
#include "utf16_win.h"

namespace {

std::atomic<bool> interrupted{false};  // set on the thread that the console starts for the event

BOOL WINAPI NoteInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  interrupted.store(true);
  return TRUE;
}

bool IsConsole(DWORD which) {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

// Asked once: every file of a build writes a line, and under Wine each question is a round
// trip to its server, which on a tree of many files costs more than the lines themselves.
bool StderrIsConsole() {
  static const bool console = IsConsole(STD_ERROR_HANDLE);
  return console;
}

bool StdoutIsConsole() {
  static const bool console = IsConsole(STD_OUTPUT_HANDLE);
  return console;
}

void WriteWide(const std::wstring& wide, DWORD which = STD_ERROR_HANDLE) {
  HANDLE handle = GetStdHandle(which);
  DWORD written;
  if (which == STD_ERROR_HANDLE ? StderrIsConsole() : StdoutIsConsole()) {
    // A console shows UTF-16 whatever its code page.
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  // Redirected output carries the system's own ANSI code page.
  int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &bytes[0], n, nullptr, nullptr);
  WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

void ConsoleInit() {}

std::vector<std::string> CommandLineArguments(int, char**) {
  std::vector<std::string> out;
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr) return out;
  for (int i = 1; i < count; ++i) out.push_back(Utf8FromWide(args[i]));
  LocalFree(args);
  return out;
}

bool ConsoleIsTerminal() { return StderrIsConsole(); }

bool ConsoleCanAsk() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void ConsoleWrite(const std::string& sjis) {
  int n = MultiByteToWideChar(932, 0, sjis.data(), static_cast<int>(sjis.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(932, 0, sjis.data(), static_cast<int>(sjis.size()), &wide[0], n);
  WriteWide(wide);
}

void ConsoleWriteUtf8(const std::string& utf8) { WriteWide(WideFromUtf8(utf8)); }

void ConsoleWriteOutUtf8(const std::string& utf8) { WriteWide(WideFromUtf8(utf8), STD_OUTPUT_HANDLE); }

void WriteOutputUtf8(const std::string& utf8) {
  if (StdoutIsConsole()) {
    WriteWide(WideFromUtf8(utf8), STD_OUTPUT_HANDLE);
    return;
  }
  DWORD written;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void ConsoleCatchInterrupt() { SetConsoleCtrlHandler(NoteInterrupt, TRUE); }

bool ConsoleInterrupted() { return interrupted.load(); }

bool ConsoleReadLine(std::string* line) {
  if (!std::getline(std::cin, *line)) return false;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

bool Utf8ToSjis(const std::string& utf8, std::string* sjis) {
  std::wstring wide = WideFromUtf8(utf8);
  std::string out(wide.size() * 2 + 1, '\0');
  bool ok = WideToCp932(wide.c_str(), &out[0], static_cast<int>(out.size()));
  out.resize(strlen(out.c_str()));
  *sjis = out;
  return ok;
}

bool ReadFileBytes(const std::string& utf8Path, std::vector<unsigned char>* bytes) {
  FILE* f = _wfopen(WideFromUtf8(utf8Path).c_str(), L"rb");
  if (f == nullptr) return false;
  bytes->clear();
  unsigned char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes->insert(bytes->end(), buffer, buffer + n);
  bool ok = ferror(f) == 0;
  fclose(f);
  return ok;
}

bool EnterTargetFolder(const std::string& utf8Folder, std::string* target) {
  std::wstring wide = WideFromUtf8(utf8Folder);
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  if (!SetCurrentDirectoryW(wide.c_str())) return false;
  *target = ".";
  return true;
}

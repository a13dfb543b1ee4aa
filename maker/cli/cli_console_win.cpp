#include <windows.h>

#include <iostream>

#include "cli_console.h"
#include "platform_win.h"

void ConsoleInit() {}

bool ConsoleIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool ConsoleCanAsk() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void ConsoleWrite(const std::string& sjis) {
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode, written;
  if (GetConsoleMode(err, &mode)) {
    // A console shows UTF-16 whatever its code page.
    int n = MultiByteToWideChar(932, 0, sjis.data(), static_cast<int>(sjis.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(932, 0, sjis.data(), static_cast<int>(sjis.size()), &wide[0], n);
    WriteConsoleW(err, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  } else {
    // Redirected output carries the programs' own code page-932 bytes.
    WriteFile(err, sjis.data(), static_cast<DWORD>(sjis.size()), &written, nullptr);
  }
}

bool ConsoleReadLine(std::string* line) {
  if (!std::getline(std::cin, *line)) return false;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

bool ArgumentToSjis(const char* argument, std::string* sjis) {
  // The arguments arrive in the system's ANSI code page, which is 932 where the maker is used.
  *sjis = argument;
  return true;
}

bool PrepareTargetFolder(const std::string& folder, std::string* target, std::string* error) {
  Win32Platform platform;
  if (!platform.IsFolder(folder.c_str())) {
    *error = folder + " is not a folder";
    return false;
  }
  *target = folder;
  return true;
}

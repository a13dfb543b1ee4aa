#include <windows.h>

#include <shellapi.h>
#include <stdio.h>

#include <atomic>
#include <iostream>

#include "cli_console.h"
#include "cp932_convert.h"
#include "cp932_convert_win.h"

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
  std::string bytes = AnsiFromWide(wide);
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

void ConsoleWrite(const std::string& cp932) { WriteWide(WideFromUtf8(Cp932TextToUtf8(cp932))); }

void ConsoleWriteUtf8(const std::string& utf8) { WriteWide(WideFromUtf8(utf8)); }

void ConsoleWriteOutUtf8(const std::string& utf8) {
  WriteWide(WideFromUtf8(utf8), STD_OUTPUT_HANDLE);
}

void WriteOutputUtf8(const std::string& utf8) {
  if (StdoutIsConsole()) {
    WriteWide(WideFromUtf8(utf8), STD_OUTPUT_HANDLE);
    return;
  }
  DWORD written;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written,
            nullptr);
}

void ConsoleCatchInterrupt() { SetConsoleCtrlHandler(NoteInterrupt, TRUE); }

bool ConsoleInterrupted() { return interrupted.load(); }

bool ConsoleReadLine(std::string* line) {
  if (!std::getline(std::cin, *line)) return false;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

// What the command-line tools need of the console and the command line on each platform.
// Arguments and the tools' own texts are UTF-8 here; the cores' texts are code page 932.
#pragma once
#include <string>
#include <vector>

// Prepares the platform (locale, console); called first.
void ConsoleInit();
// The command-line arguments after the program name, as UTF-8 (on Windows taken from the
// UTF-16 command line, so that no character is lost to the system's code page).
std::vector<std::string> CommandLineArguments(int argc, char** argv);
// True when standard error is a terminal (progress then stays on one line).
bool ConsoleIsTerminal();
// True when a person can answer on standard input.
bool ConsoleCanAsk();
// Writes code-page-932 text to standard error in the terminal's encoding.
void ConsoleWrite(const std::string& cp932);
// Writes UTF-8 text to standard error in the terminal's encoding.
void ConsoleWriteUtf8(const std::string& utf8);
// Writes UTF-8 text to standard output in the terminal's encoding (results for people).
void ConsoleWriteOutUtf8(const std::string& utf8);
// Writes UTF-8 data (JSON, digest lists) to standard output as UTF-8 bytes, whatever the
// terminal's encoding; a Windows console shows it as text.
void WriteOutputUtf8(const std::string& utf8);
// From now on Ctrl+C (and on Windows Ctrl+Break) no longer ends the process but is noted,
// for the build to stop in an orderly way; ConsoleInterrupted then returns true.
void ConsoleCatchInterrupt();
bool ConsoleInterrupted();
// Reads one answer line from standard input; false at its end.
bool ConsoleReadLine(std::string* line);

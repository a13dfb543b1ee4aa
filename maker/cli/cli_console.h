// What vexorin-build needs of the console and the command line on each platform.
#pragma once
#include <string>

// Prepares the platform (locale, console); called first.
void ConsoleInit();
// True when standard error is a terminal (progress then stays on one line).
bool ConsoleIsTerminal();
// True when a person can answer on standard input.
bool ConsoleCanAsk();
// Writes code-page-932 text to standard error in the terminal's encoding.
void ConsoleWrite(const std::string& sjis);
// Reads one answer line from standard input; false at its end.
bool ConsoleReadLine(std::string* line);
// A command-line argument as code page 932; false when it holds a character that code page
// 932 cannot represent.
bool ArgumentToSjis(const char* argument, std::string* sjis);
// Turns the FOLDER argument into the target folder handed to the build job; false with
// `error` set when it names no folder.
bool PrepareTargetFolder(const std::string& folder, std::string* target, std::string* error);

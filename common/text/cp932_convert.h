// Text conversion between code page 932 and UTF-8 (and UTF-16 on Windows: cp932_convert_win.h):
// the one place in the programs that converts text between encodings.
#pragma once
#include <string>

// Exact conversions: false when the text holds a byte sequence or a character that has no
// exact counterpart on the other side.
bool Cp932ToUtf8(const std::string& in, std::string* out);
bool Utf8ToCp932(const std::string& in, std::string* out);

// Code page 932 as UTF-8 to be shown, going on past every byte that does not convert (it
// becomes a stand-in character): a damaged stored name is still shown, never dropped.
std::string Cp932ToUtf8Lenient(const std::string& cp932);

// A code-page-932 text of the programs as UTF-8 to be shown: the names enclosed in
// kForeignNameBegin and kForeignNameEnd (platform.h) are UTF-8 already and stay as they are.
std::string Cp932TextToUtf8(const std::string& cp932);

// The same for a path to be opened: exact, false when a code-page-932 piece does not convert.
bool Cp932TextToUtf8Exact(const std::string& cp932, std::string* out);

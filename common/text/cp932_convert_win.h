// Code page 932 and UTF-8 to and from UTF-16, the text of the Windows calls.
#pragma once
#include <windows.h>

#include <string>

#include "cp932_convert.h"

// Buffer forms, which the runtime-free checker uses too.
// A code-page-932 text as UTF-16; false when it does not fit `capacity` characters.
bool Cp932ToWide(const char* text, wchar_t* out, int capacity);
// `length` bytes of code page 932 as UTF-16: the characters written (with `out` null: the
// characters needed), 0 when they do not fit or do not convert. Writes no terminator.
int Cp932PieceToWide(const char* text, int length, wchar_t* out, int capacity);
// UTF-16 as code page 932; false when it does not fit or when a character has no exact
// counterpart there (the text then holds a stand-in).
bool WideToCp932(const wchar_t* text, char* out, int capacity);

// String forms, for the tools and the maker's windows.
std::wstring WideFromCp932(const std::string& cp932);
// Characters that code page 932 cannot hold become '?', which no path or checker name
// accepts, so they are refused further on rather than silently changed into others.
std::string Cp932FromWide(const std::wstring& wide);
std::wstring WideFromUtf8(const std::string& utf8);
std::string Utf8FromWide(const std::wstring& wide);
// UTF-16 in the system's own ANSI code page, which redirected console output carries.
std::string AnsiFromWide(const std::wstring& wide);

// Assembles the check data and trailer that follow the checker image in a checker file.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

// The records in order (folders, "|", file records, "|", three messages), each followed by
// its NUL, then the trailer with the data size and `byteTotal`. False when the data would
// not fit the trailer's 32-bit size field.
bool BuildCheckBlock(const std::vector<std::string>& records, uint64_t byteTotal, std::string* block);

// A file record: the 32 digest digits, one space, the relative path.
std::string MakeFileRecord(const char digestText[33], const std::string& relativePath);

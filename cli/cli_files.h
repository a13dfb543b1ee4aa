// The files and folders that the command-line tools name on their command line, in UTF-8.
#pragma once
#include <string>
#include <vector>

// Reads a whole file named in UTF-8.
bool ReadFileBytes(const std::string& utf8Path, std::vector<unsigned char>* bytes);
// Makes the FOLDER argument the current folder and gives the target folder to hand to the
// build job; false when it names no folder. Working from inside the folder keeps its own
// path, which may hold characters that code page 932 lacks, out of the stored data.
bool EnterTargetFolder(const std::string& utf8Folder, std::string* target);

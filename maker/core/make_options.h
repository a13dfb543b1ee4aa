// The maker's settings: the folder to check, the checker's name and its three messages,
// their defaults, and the settings file beside the maker's executable.
#pragma once
#include <string>
#include <vector>

#include "maker_platform.h"

class TMakeOptions {
 public:
  // Sets the defaults: no folder, "Vexorin.exe", and the standard messages.
  TMakeOptions();

  // Overlays the values of the settings file beside the executable. A missing file, or
  // one of fewer than 5 lines, changes nothing and counts as success. False when the file
  // is there but cannot be read (or its place cannot be found); nothing changes then.
  bool Load(Platform& platform);
  // Writes every value to the settings file, replacing it whole or not at all. False when
  // the file cannot be written; the old file then stays as it was.
  bool Save(MakerPlatform& platform);
  // The same with the settings file's path given (code page 932).
  bool LoadFrom(Platform& platform, const std::string& path);
  bool SaveTo(MakerPlatform& platform, const std::string& path) const;

  // Joins each message's lines with single line feeds into the texts handed to a build.
  void JoinMessages();

  std::string Target;
  std::string CheckerName;
  std::string FolderMessage;
  std::string NoFileMessage;
  std::string BrokenFileMessage;
  std::vector<std::string> FolderLines;
  std::vector<std::string> NoFileLines;
  std::vector<std::string> BrokenFileLines;
};

// The program's one settings object, constructed with the defaults before any window.
extern TMakeOptions MakeOptions;

// The settings file's path: the executable's path with its extension replaced by ".INI".
// False when the executable's path cannot be had.
bool SettingsFilePath(Platform& platform, std::string* path);

// `path` with the extension of its last component replaced by `extension` (which starts
// with its dot); a name without extension gets it appended. Double-byte aware.
std::string ChangeFileExtension(const std::string& path, const char* extension);

// Splits a text into lines: a line ends at CR LF, at a lone CR or at a lone LF; a last line
// without line end counts; a NUL byte ends the text; nothing else is trimmed.
std::vector<std::string> SplitLines(const std::string& text);

// The file image of the settings: every line followed by CR LF.
std::string SettingsFileImage(const TMakeOptions& options);
// Takes the values from a settings file's content. False, changing nothing, when the
// content has fewer than 5 lines.
bool ParseSettings(const std::string& content, TMakeOptions* options);

// The lines joined by single line feeds, with nothing after the last one.
std::string JoinWithLineFeeds(const std::vector<std::string>& lines);

// Fuzzes the reading of the maker's settings file. The input is the file's whole content; it
// is loaded the way the maker does at start (the file beside the executable, read whole) and
// parsed directly, and both results are held to the file's rules, read here independently:
// lines end at CR LF, a lone CR or a lone LF, a NUL ends the text, fewer than 5 lines change
// nothing, and each message runs up to a line that is exactly "--". A store loaded from any
// file must also survive its own save: saving it and reading that back gives the same values.
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "make_options.h"
#include "memory_platform.h"

namespace {

const char kMakerPath[] = "C:\\tools\\VexorinMake.exe";
const char kSettingsPath[] = "C:\\tools\\VexorinMake.INI";

// The lines of a settings file: every line end (CR LF, lone CR, lone LF) is turned into one
// LF first, then the text is cut at the LFs.
std::vector<std::string> Lines(const std::string& content) {
  std::string text;
  for (size_t i = 0; i < content.size() && content[i] != '\0'; ++i) {
    if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') continue;
    text += content[i] == '\r' ? '\n' : content[i];
  }
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool Same(const TMakeOptions& a, const TMakeOptions& b) {
  return a.Target == b.Target && a.CheckerName == b.CheckerName && a.FolderLines == b.FolderLines &&
         a.NoFileLines == b.NoFileLines && a.BrokenFileLines == b.BrokenFileLines &&
         a.FolderMessage == b.FolderMessage && a.NoFileMessage == b.NoFileMessage &&
         a.BrokenFileMessage == b.BrokenFileMessage;
}

void CheckJoined(const std::vector<std::string>& lines, const std::string& joined) {
  std::string expected;
  for (size_t i = 0; i < lines.size(); ++i) expected += (i > 0 ? "\n" : "") + lines[i];
  FUZZ_CHECK(joined == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  const TMakeOptions defaults;

  // What the file says, by the rules.
  std::vector<std::string> lines = Lines(content);
  TMakeOptions expected;
  if (lines.size() >= 5) {
    expected.Target = lines[0];
    expected.CheckerName = lines[1];
    size_t next = 2;
    for (std::vector<std::string>* list :
         {&expected.FolderLines, &expected.NoFileLines, &expected.BrokenFileLines}) {
      list->clear();
      while (next < lines.size() && lines[next] != "--") list->push_back(lines[next++]);
      if (next < lines.size()) ++next;  // the "--" itself
    }
  }

  TMakeOptions parsed;
  FUZZ_CHECK(ParseSettings(content, &parsed) == (lines.size() >= 5));
  FUZZ_CHECK(Same(parsed, expected));

  // The maker's way: the file beside its executable, read through the platform.
  MemoryPlatform platform;
  platform.executablePath = kMakerPath;
  platform.files[kSettingsPath] = content;
  TMakeOptions loaded;
  FUZZ_CHECK(loaded.Load(platform));
  FUZZ_CHECK(Same(loaded, expected));
  FUZZ_CHECK(platform.openFiles == 0);

  // No stored line can hold a line end or a NUL, and no message line can be the end mark.
  for (const std::string* text : {&loaded.Target, &loaded.CheckerName}) {
    FUZZ_CHECK(text->find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
  }
  for (const auto* list : {&loaded.FolderLines, &loaded.NoFileLines, &loaded.BrokenFileLines}) {
    for (const std::string& line : *list) {
      FUZZ_CHECK(line != "--");
      FUZZ_CHECK(line.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
    }
  }

  // What a build gets: each message's lines joined by single line feeds.
  loaded.JoinMessages();
  CheckJoined(loaded.FolderLines, loaded.FolderMessage);
  CheckJoined(loaded.NoFileLines, loaded.NoFileMessage);
  CheckJoined(loaded.BrokenFileLines, loaded.BrokenFileMessage);

  // Saved and read back, the values come back unchanged, and saving again gives the same file.
  std::string image = SettingsFileImage(parsed);
  TMakeOptions again;
  FUZZ_CHECK(ParseSettings(image, &again));
  FUZZ_CHECK(Same(again, parsed));
  FUZZ_CHECK(SettingsFileImage(again) == image);
  if (lines.size() < 5) FUZZ_CHECK(Same(parsed, defaults));
  return 0;
}

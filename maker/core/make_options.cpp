#include "make_options.h"

#include "cp932.h"
#include "scan.h"
#include "texts.h"

namespace {

constexpr char kMessageEnd[] = "--";
constexpr size_t kMinimumLines = 5;

// Collects lines from `*next` up to a line that is exactly "--", which it steps over.
void TakeMessage(const std::vector<std::string>& lines, size_t* next,
                 std::vector<std::string>* out) {
  out->clear();
  while (*next < lines.size()) {
    const std::string& line = lines[(*next)++];
    if (line == kMessageEnd) return;
    out->push_back(line);
  }
}

}  // namespace

TMakeOptions MakeOptions;

TMakeOptions::TMakeOptions()
    : CheckerName(kTextDefaultCheckerName),
      FolderLines{kTextDefaultLine1, kTextDefaultLine2},
      NoFileLines{kTextDefaultLine1, kTextDefaultLine2},
      BrokenFileLines{kTextDefaultLine1} {}

bool TMakeOptions::Load(Platform& platform) {
  std::string path;
  if (!SettingsFilePath(platform, &path)) return false;
  return LoadFrom(platform, path);
}

bool TMakeOptions::Save(MakerPlatform& platform) {
  std::string path;
  if (!SettingsFilePath(platform, &path)) return false;
  return SaveTo(platform, path);
}

bool TMakeOptions::LoadFrom(Platform& platform, const std::string& path) {
  // Only a file that is not there at all means "keep the defaults"; anything that is there
  // but cannot be read (a folder of that name, a file without read access) is a failure.
  uint64_t size = 0;
  if (!platform.FileSize(path.c_str(), &size)) return true;
  std::string content;
  if (!ReadWholeFile(platform, path, &content)) return false;
  ParseSettings(content, this);
  return true;
}

bool TMakeOptions::SaveTo(MakerPlatform& platform, const std::string& path) const {
  std::string image = SettingsFileImage(*this);
  WritePiece piece = {image.data(), image.size()};
  return WriteFileReplacing(platform, path, &piece, 1) == kWriteOk;
}

void TMakeOptions::JoinMessages() {
  FolderMessage = JoinWithLineFeeds(FolderLines);
  NoFileMessage = JoinWithLineFeeds(NoFileLines);
  BrokenFileMessage = JoinWithLineFeeds(BrokenFileLines);
}

bool SettingsFilePath(Platform& platform, std::string* path) {
  char executable[kPathCapacity];
  if (!platform.ExecutablePath(executable, sizeof executable)) return false;
  *path = ChangeFileExtension(executable, ".INI");
  return true;
}

std::string ChangeFileExtension(const std::string& path, const char* extension) {
  // The extension starts at the last dot after the last separator; a drive colon counts
  // as a separator too. The second byte of a double-byte character is never either.
  size_t dot = std::string::npos;
  bool secondByte = false;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (secondByte) {
      secondByte = false;
    } else if (IsCp932LeadByte(c)) {
      secondByte = true;
    } else if (c == '\\' || c == '/' || c == ':') {
      dot = std::string::npos;
    } else if (c == '.') {
      dot = i;
    }
  }
  return (dot == std::string::npos ? path : path.substr(0, dot)) + extension;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t end = text.find('\0');
  if (end == std::string::npos) end = text.size();
  size_t start = 0;
  size_t i = 0;
  while (i < end) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(text.substr(start, i - start));
      i += (c == '\r' && i + 1 < end && text[i + 1] == '\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < end) lines.push_back(text.substr(start, end - start));
  return lines;
}

std::string SettingsFileImage(const TMakeOptions& options) {
  std::string image;
  auto put = [&image](const std::string& line) {
    image += line;
    image += "\r\n";
  };
  put(options.Target);
  put(options.CheckerName);
  for (const auto* list : {&options.FolderLines, &options.NoFileLines, &options.BrokenFileLines}) {
    for (const std::string& line : *list) put(line);
    put(kMessageEnd);
  }
  return image;
}

bool ParseSettings(const std::string& content, TMakeOptions* options) {
  std::vector<std::string> lines = SplitLines(content);
  if (lines.size() < kMinimumLines) return false;
  options->Target = lines[0];
  options->CheckerName = lines[1];
  size_t next = 2;
  TakeMessage(lines, &next, &options->FolderLines);
  TakeMessage(lines, &next, &options->NoFileLines);
  TakeMessage(lines, &next, &options->BrokenFileLines);
  return true;
}

std::string JoinWithLineFeeds(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += '\n';
    text += lines[i];
  }
  return text;
}

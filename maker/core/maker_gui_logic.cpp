#include "maker_gui_logic.h"

#include "texts.h"

namespace {

// Puts `subject` where the template has its one "%s". No buffer is involved, so a long
// folder text is shown whole rather than cut.
std::string Fill(const char* format, const std::string& subject) {
  std::string text = format;
  size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, subject);
  return text;
}

}  // namespace

std::string MemoTextFromLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::vector<std::string> LinesFromMemoText(const std::string& text) { return SplitLines(text); }

std::vector<std::string> UsageLines() {
  return {kTextUsage1, kTextUsage2, kTextUsage3, kTextUsage4, kTextUsage5, kTextUsage6};
}

std::string TargetNotFoundText(const std::string& target) { return Fill(kTextTargetNotFound, target); }

bool FolderFromDrop(const std::vector<std::string>& items, Platform& platform,
                    std::string* folder) {
  for (const std::string& item : items) {
    if (platform.IsFolder(item.c_str())) {
      *folder = item;
      return true;
    }
  }
  return false;
}

std::string SettingsReadFailedText(const std::string& path) {
  return path.empty() ? std::string(kTextSettingsNoPlace) : Fill(kTextSettingsReadFailed, path);
}

std::string SettingsWriteFailedText(const std::string& path) {
  return path.empty() ? std::string(kTextSettingsNoPlace) : Fill(kTextSettingsWriteFailed, path);
}

bool NeedsExeEnding(const std::string& name) {
  std::string ending = name.size() > 4 ? name.substr(name.size() - 4) : name;
  for (char& c : ending) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return ending != ".exe";
}

std::string CompleteCheckerName(const std::string& name, bool* wasEmpty) {
  *wasEmpty = name.empty();
  std::string completed = name.empty() ? std::string(kTextDefaultCheckerName) : name;
  if (NeedsExeEnding(completed)) completed += ".exe";
  return completed;
}

AdvancedValues AdvancedValuesOf(const TMakeOptions& options) {
  return {options.CheckerName, options.FolderLines, options.NoFileLines, options.BrokenFileLines};
}

void StoreAdvancedValues(const AdvancedValues& values, TMakeOptions* options) {
  options->CheckerName = values.checkerName;
  options->FolderLines = values.folderLines;
  options->NoFileLines = values.noFileLines;
  options->BrokenFileLines = values.brokenFileLines;
}

AdvancedValues StandardAdvancedValues() { return AdvancedValuesOf(TMakeOptions()); }

MakeOutcome RunCheckerBuild(TMakeOptions& options, MakerPlatform& platform, MessageSink& messages,
                            const unsigned char* image, size_t imageSize, BuildMonitor& monitor) {
  options.JoinMessages();
  TCheckerBuilder job(platform, messages, image, imageSize);
  BuildRequest request;
  request.target = options.Target;
  request.checkerName = options.CheckerName;
  request.folderMessage = options.FolderMessage;
  request.noFileMessage = options.NoFileMessage;
  request.brokenFileMessage = options.BrokenFileMessage;
  return RunBuild(job, platform, messages, request, monitor);
}

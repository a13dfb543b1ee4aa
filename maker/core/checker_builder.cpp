#include "checker_builder.h"

#include "checkfile.h"
#include "cp932.h"
#include "text.h"
#include "texts.h"

TCheckerBuilder::TCheckerBuilder(MakerPlatform& platform, MessageSink& messages,
                                 const unsigned char* image, size_t imageSize)
    : platform_(platform), messageSink_(messages), image_(image), imageSize_(imageSize) {}

TCheckerBuilder::~TCheckerBuilder() { CloseFile(); }

void TCheckerBuilder::Clear() {
  folders.clear();
  files.clear();
  checkData.Clear();
  messages.clear();
  digest.file = nullptr;
  fileIndex = 0;
  bytesDone = 0;
  dataSize = 0;
}

bool TCheckerBuilder::Warn(const char* format, const std::string& subject) {
  // Sized to the subject: a path of up to kPathCapacity bytes, or a name whole in UTF-8.
  std::string text(TextLength(format) + subject.size() + 2, '\0');
  FormatText(&text[0], text.size(), format, subject.c_str());
  messageSink_.Show(text.c_str(), kTextError, kMessageWarning);
  return false;
}

void TCheckerBuilder::SelectFile() {
  currentRelPath = files[static_cast<size_t>(fileIndex)];
  currentFullPath = rootFolder + currentRelPath;
}

bool TCheckerBuilder::Start(const char* folder, const char* name, const char* folderMessage,
                            const char* noFileMessage, const char* brokenFileMessage) {
  messages.clear();
  messages.push_back(folderMessage != nullptr ? folderMessage : "");
  messages.push_back(noFileMessage != nullptr ? noFileMessage : "");
  messages.push_back(brokenFileMessage != nullptr ? brokenFileMessage : "");

  const char* folderText = folder != nullptr ? folder : "";
  char root[kPathCapacity];
  if (!TextCopy(root, sizeof root, folderText) || !AppendPathSeparator(root, sizeof root)) {
    return Warn(kTextPathTooLong, folderText);
  }
  rootFolder = root;

  checkerName = name != nullptr ? name : "";
  checkerPath = rootFolder + checkerName;
  if (checkerPath.size() >= kPathCapacity) return Warn(kTextPathTooLong, checkerName);

  FileRef existing = platform_.OpenRead(checkerPath.c_str());
  if (existing != nullptr) {
    platform_.Close(existing);
    char question[kPathCapacity + 64];
    FormatText(question, sizeof question, kTextOverwriteQuestion, checkerName.c_str());
    if (!messageSink_.Show(question, kTextOverwriteTitle, kMessageQuestion)) return false;
  }

  folders.clear();
  files.clear();
  ScanProblem problem;
  if (!ScanFolder(platform_, rootFolder, &folders, &files, checkerName.c_str(), rootFolder.size(),
                  &problem)) {
    return Warn(problem.kind == ScanProblem::kPathTooLong ? kTextPathTooLong : kTextBadName,
                problem.entry);
  }
  if (folders.empty() && files.empty()) {
    messageSink_.Show(kTextNothingToCheck, kTextError, kMessageWarning);
    return false;
  }

  checkData.Clear();
  dataSize = 0;
  for (const std::string& f : folders) checkData.AddFolder(f);

  fileIndex = 0;
  bytesDone = 0;
  if (!files.empty()) SelectFile();
  return true;
}

void TCheckerBuilder::GetProgressTexts(std::string* stateText, std::string* progressText) {
  if (static_cast<size_t>(fileIndex) >= files.size()) {
    stateText->clear();
    return;
  }
  char line[kPathCapacity + 64];
  FormatText(line, sizeof line, kTextProcessing, currentRelPath.c_str());
  *stateText = line;
  FormatText(line, sizeof line, kTextProcessedBytes, static_cast<int64_t>(bytesDone / 1024),
             fileIndex + 1, static_cast<int>(files.size()));
  *progressText = line;
}

int TCheckerBuilder::Step() {
  // A tree of folders without files has nothing to read: the check data is complete.
  if (static_cast<size_t>(fileIndex) >= files.size()) return kBuildAllDigested;

  unsigned char chunk[kMakerChunkSize];
  unsigned char md5[16];
  uint32_t got = 0;
  StepResult r = DigestFileStep(platform_, &digest, currentFullPath.c_str(), chunk, kMakerChunkSize,
                                md5, &got);
  if (r == kStepOpenFailed) return EndFile(false, false, md5);
  bytesDone += got;
  if (r == kStepMore) return kBuildMore;
  return EndFile(true, digest.readFailed, md5);
}

int TCheckerBuilder::FileDigested(bool opened, bool readFailed, const unsigned char md5[16],
                                  uint64_t bytes) {
  if (static_cast<size_t>(fileIndex) >= files.size()) return kBuildAllDigested;
  bytesDone += static_cast<int64_t>(bytes);
  return EndFile(opened, readFailed, md5);
}

int TCheckerBuilder::EndFile(bool opened, bool readFailed, const unsigned char md5[16]) {
  if (!opened) {
    Warn(kTextOpenFailed, currentRelPath);
    return kBuildStopped;
  }
  // A read error would store the digest of part of the file, and every end user would then
  // be told the file is damaged; stop the build instead.
  if (readFailed) {
    Warn(kTextReadFailed, currentRelPath);
    return kBuildStopped;
  }
  char hex[33];
  DigestToHex(md5, hex);
  checkData.AddFile(hex, currentRelPath);
  ++fileIndex;
  if (static_cast<size_t>(fileIndex) >= files.size()) return kBuildAllDigested;
  SelectFile();
  return kBuildMore;
}

bool TCheckerBuilder::WriteChecker() {
  std::string block;
  if (!checkData.Finish(messages, static_cast<uint64_t>(bytesDone), &block)) {
    return Warn(kTextWriteFailed, checkerName);
  }
  dataSize = static_cast<uint32_t>(block.size() - kTrailerSize);
  WritePiece pieces[2] = {{image_, imageSize_}, {block.data(), block.size()}};
  switch (WriteFileReplacing(platform_, checkerPath, pieces, 2)) {
    case kWriteOk:
      return true;
    case kWriteCannotOpen:
      return Warn(kTextOpenFailed, checkerName);
    case kWriteFailed:
    default:
      return Warn(kTextWriteFailed, checkerName);
  }
}

std::string TCheckerBuilder::Utf8Note() const {
  std::string note;
  auto add = [&note](const std::string& path) {
    // Only an entry whose own name needed it: the entries inside such a folder go with it.
    size_t end = path.size() - (!path.empty() && path.back() == '\\' ? 1 : 0);
    if (end == 0 || path[end - 1] != kForeignNameEnd) return;
    std::string line(TextLength(kTextStoredInUtf8) + path.size() + 2, '\0');
    FormatText(&line[0], line.size(), kTextStoredInUtf8, path.c_str());
    note += "\n";
    note += line.c_str();
  };
  for (const std::string& f : folders) add(f);
  for (const std::string& f : files) add(f);
  return note;
}

void TCheckerBuilder::CloseFile() { DigestClose(platform_, &digest); }

#include "check_run.h"

#include <new>

#include "cp932.h"
#include "text.h"
#include "texts.h"

namespace {

// Room for the checker's own path when it does not fit a path buffer: in UTF-8 (up to three
// bytes for each of the platform's characters) with its marks.
constexpr size_t kShownPathSize = 3 * kCheckerPathSize + 8;

}  // namespace

CheckRun::CheckRun(Platform& platform) : platform_(platform) {
  baseFolder[0] = '\0';
  currentFullPath[0] = '\0';
  currentRelPath[0] = '\0';
  expectedDigest[0] = '\0';
  actualDigest[0] = '\0';
}

CheckRun::~CheckRun() {
  CloseCurrentFile();
  ReleaseCheckData(&data);
}

void CheckRun::ModuleFolder(char folder[kCheckerPathSize]) {
  if (!platform_.ExecutablePath(folder, kCheckerPathSize)) {
    folder[0] = '\0';
    return;
  }
  // A path without a separator past its first byte stays whole: there is nothing to cut.
  size_t keep = FolderPrefixLength(folder);
  if (keep > 0) folder[keep] = '\0';
}

bool CheckRun::LoadCheckData(ProblemSink& problems) {
  if (!ReadOwnCheckData(problems) || !CheckFolders(problems)) return false;
  StartFileCheck();
  return true;
}

bool CheckRun::ReadOwnCheckData(ProblemSink& problems) {
  ModuleFolder(baseFolder);
  char ownPath[kCheckerPathSize];
  // ReadCheckData refuses every block it cannot vouch for (too short, no magic, a length
  // beyond the file, a missing separator, a file record without a path), so nothing later
  // reads outside the block. The user only needs to know that the checker is damaged.
  if (!platform_.ExecutablePath(ownPath, sizeof ownPath)) {
    // A checker unpacked so deep that its own path does not fit is not damaged: the user is
    // told that the path is too long, named as far as it can be, and what to do instead.
    char* shown = new (std::nothrow) char[kShownPathSize];
    if (shown != nullptr && platform_.ExecutablePathTooLong(shown, kShownPathSize)) {
      Hand(problems, kProblemPathTooLong, false, kNoEntry, shown);
    } else {
      Hand(problems, kProblemCheckerUnusable, false, kNoEntry, "");
    }
    delete[] shown;
    return false;
  }
  if (!ReadCheckData(platform_, ownPath, &data)) {
    Hand(problems, kProblemCheckerUnusable, false, kNoEntry, "");
    return false;
  }
  byteTotal = data.byteTotal;
  return true;
}

bool CheckRun::CheckFolders(ProblemSink& problems) {
  for (uint32_t i = 0; i < data.folderCount; ++i) {
    if (!CheckFolder(i, problems)) return false;
  }
  return true;
}

bool CheckRun::CheckFolder(uint32_t index, ProblemSink& problems) {
  char fullPath[kCheckerPathSize];
  const char* folder = data.folders[index];
  // A path that does not fit cannot be asked about (cutting it would test another folder),
  // and calling it missing would send the user to download again, which cannot help: they
  // are told that the path is too long, named whole, and what to do instead.
  if (!JoinPath(fullPath, folder)) {
    Hand(problems, kProblemPathTooLong, true, index, folder);
    return false;
  }
  if (!FolderExists(fullPath)) {
    Hand(problems, kProblemFolderMissing, true, index, folder);
    return false;
  }
  return true;
}

bool CheckRun::PathFits(const char* path) const {
  char fullPath[kCheckerPathSize];
  return JoinPath(fullPath, path);
}

bool CheckRun::JoinPath(char fullPath[kCheckerPathSize], const char* path) const {
  // The text helpers copy a lead byte only with room for its second byte, so "fits" is what
  // they say, not a sum of lengths.
  return TextCopy(fullPath, kCheckerPathSize, baseFolder) &&
         TextAppend(fullPath, kCheckerPathSize, path);
}

void CheckRun::StartFileCheck() {
  currentIndex = 0;
  bytesDone = 0;
  // With no file listed there is nothing to make current; the first step reports success.
  if (data.fileCount > 0) SelectFile(0);
}

bool CheckRun::FolderExists(const char* path) { return platform_.IsFolder(path); }

int CheckRun::CheckStep(ProblemSink& problems) {
  if (currentIndex >= data.fileCount) return kCheckAllIntact;

  StepResult result = kStepOpenFailed;
  uint32_t bytesRead = 0;
  unsigned char digestBytes[16];
  if (currentPathFits) {
    // The chunk lives only for this step: nothing of it is needed once it is digested.
    unsigned char chunk[kCheckerChunkSize];
    result = DigestFileStep(platform_, &digest, currentFullPath, chunk, kCheckerChunkSize,
                            digestBytes, &bytesRead);
  }
  if (result == kStepOpenFailed) return EndFile(false, digestBytes, problems);
  bytesDone += bytesRead;
  if (result == kStepMore) return kCheckMore;
  return EndFile(true, digestBytes, problems);
}

int CheckRun::FileDigested(bool opened, const unsigned char md5[16], uint64_t bytes,
                           ProblemSink& problems) {
  if (currentIndex >= data.fileCount) return kCheckAllIntact;
  bytesDone += static_cast<int64_t>(bytes);
  // A path that does not fit is too long, as CheckStep finds, whatever was read by it.
  return EndFile(opened, md5, problems);
}

int CheckRun::EndFile(bool opened, const unsigned char md5[16], ProblemSink& problems) {
  if (!currentPathFits) {
    // The line names the full path, and the advice is to unpack shallower (ProblemAdvice).
    Hand(problems, kProblemPathTooLong, false, currentIndex, CurrentStoredPath());
    return kCheckPathTooLong;
  }
  if (!opened) {
    Hand(problems, kProblemFileMissing, false, currentIndex, CurrentStoredPath());
    return kCheckFileMissing;
  }
  DigestToHex(md5, actualDigest);
  for (uint32_t i = 0; i < kDigestDigits; ++i) {
    if (actualDigest[i] != expectedDigest[i]) {
      Hand(problems, kProblemFileDamaged, false, currentIndex, CurrentStoredPath());
      return kCheckFileBroken;
    }
  }
  // The next file is opened by the next step, so that every step reads at most one chunk.
  return NextFile() ? kCheckMore : kCheckAllIntact;
}

bool CheckRun::NextFile() {
  if (currentIndex >= data.fileCount || ++currentIndex >= data.fileCount) return false;
  SelectFile(currentIndex);
  return true;
}

void CheckRun::MakeProgressTexts(char line1[kProgressTextSize], char line2[kProgressTextSize]) {
  if (currentIndex < data.fileCount) {
    // A long path is cut at a character boundary; the counter may then be cut off too.
    FormatText(line1, kProgressTextSize, kTextChecking, currentRelPath,
               static_cast<int>(currentIndex + 1), static_cast<int>(data.fileCount));
  } else {
    line1[0] = '\0';
  }
  // Every listed file may have been empty at build time: then there is no share to show.
  int64_t percent = byteTotal > 0 ? bytesDone * 100 / byteTotal : 0;
  FormatText(line2, kProgressTextSize, kTextCheckedBytes, static_cast<int64_t>(bytesDone / 1024),
             percent);
}

void CheckRun::CloseCurrentFile() { DigestClose(platform_, &digest); }

void CheckRun::SelectFile(uint32_t index) {
  const char* record = data.fileRecords[index];
  // The record holds more than the digest (the reader refuses shorter ones), so its first
  // 32 bytes are all digits or whatever the writer put there, never the terminator.
  for (uint32_t i = 0; i < kDigestDigits; ++i) expectedDigest[i] = record[i];
  expectedDigest[kDigestDigits] = '\0';
  TextCopy(currentRelPath, sizeof currentRelPath, RecordPath(record));
  currentPathFits = JoinPath(currentFullPath, RecordPath(record));
}

void CheckRun::Hand(ProblemSink& problems, ProblemKind kind, bool isFolder, uint32_t index,
                    const char* path) {
  // A line about an entry that cannot be there names its full path: the checker's folder is
  // part of what is wrong. The checker's own path is whole already.
  bool fullPath =
      (kind == kProblemFolderMissing || kind == kProblemPathTooLong) && index != kNoEntry;
  bool damaged = kind == kProblemFileDamaged;
  UserMessage message = KindMessage(kind);
  CheckProblem problem{kind,
                       isFolder,
                       index,
                       fullPath ? baseFolder : "",
                       path,
                       message,
                       UserMessageText(data, message),
                       damaged ? expectedDigest : "",
                       damaged ? actualDigest : ""};
  problems.Report(problem);
}

const char* CheckRun::CurrentStoredPath() const {
  // The message names the path as stored, whole, even when the progress line had to cut it.
  return RecordPath(data.fileRecords[currentIndex]);
}

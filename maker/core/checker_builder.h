// The build job: turns one target folder into one checker file, one file chunk per step.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "checkfile_writer.h"
#include "digest.h"
#include "maker_platform.h"
#include "scan.h"

// Step results of the build job (the digest's results, plus a read error that stops it).
enum BuildStepResult {
  kBuildMore = 0,
  kBuildAllDigested = -1,
  kBuildStopped = 1,    // a file could not be opened or read; the user has been told
  kBuildCancelled = 2,  // the owner cancelled a concurrent digest (concurrent_build.h)
};

class TCheckerBuilder {
 public:
  // `image` is the checker executable that every checker file starts with; the job only
  // reads it, and it must outlive the job.
  TCheckerBuilder(MakerPlatform& platform, MessageSink& messages, const unsigned char* image,
                  size_t imageSize);
  ~TCheckerBuilder();

  void Clear();
  // Asks before replacing an existing checker, scans the folder and begins the check data.
  // False when the build is over already (declined, nothing to check, or a path problem).
  bool Start(const char* folder, const char* checkerName, const char* folderMessage,
             const char* noFileMessage, const char* brokenFileMessage);
  // The two progress lines for the file about to be read.
  void GetProgressTexts(std::string* stateText, std::string* progressText);
  // Reads one chunk of the current file; see BuildStepResult.
  int Step();
  // Takes the result of the current file digested elsewhere (by the concurrent digest) as
  // Step takes it at the file's end: counts `bytes`, stores the record and moves on, or
  // warns and stops when the file could not be opened or read. Same results as Step.
  int FileDigested(bool opened, bool readFailed, const unsigned char md5[16], uint64_t bytes);
  // Writes image, check data and trailer; true when the checker file is complete on disk.
  bool WriteChecker();
  // One line per entry whose own name code page 932 cannot write, each saying that it was
  // stored in UTF-8 (the extension of checkfile.h), each after a line feed; empty for none.
  std::string Utf8Note() const;
  void CloseFile();

  // The state of the build, in the order the job keeps it.
  DigestState digest;  // the file being digested and its running MD5
  std::string rootFolder;
  int32_t fileIndex = 0;
  std::vector<std::string> folders;
  std::vector<std::string> files;
  CheckDataWriter checkData;  // the records so far, each in its section
  std::vector<std::string> messages;
  std::string currentFullPath;
  std::string currentRelPath;
  std::string checkerPath;
  std::string checkerName;
  int64_t bytesDone = 0;
  uint32_t dataSize = 0;  // the check data's bytes, once written

 private:
  bool Warn(const char* format, const std::string& subject);
  void SelectFile();
  int EndFile(bool opened, bool readFailed, const unsigned char md5[16]);

  MakerPlatform& platform_;
  MessageSink& messageSink_;
  const unsigned char* image_;
  size_t imageSize_;
};

// Shared helpers of the unit tests: real temporary folders and a recording message sink.
#pragma once
#include <string>
#include <vector>

#include "check_problem.h"
#include "platform.h"

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Native path of the folder (UTF-8, slashes), without a trailing slash.
  const std::string& path() const { return path_; }
  // The folder as the core sees it: code page 932, ending with a backslash.
  std::string CorePath() const;

  // Creates a file (and its folders) at a relative native path.
  void WriteFile(const std::string& relative, const std::string& content) const;
  void MakeFolder(const std::string& relative) const;
  std::string ReadFile(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  // Every entry below the folder with its content, for before/after comparisons.
  std::string Snapshot() const;

 private:
  std::string path_;
};

// Records every box and answers each question with the next of `answers` (OK when none is left).
struct RecordingSink : MessageSink {
  struct Box {
    std::string text;
    std::string title;
    MessageKind kind;
  };
  std::vector<Box> boxes;
  std::vector<bool> answers;

  bool Show(const char* text, const char* title, MessageKind kind) override {
    boxes.push_back({text, title, kind});
    if (answers.empty()) return true;
    bool answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  }
};

// Records the boxes of a check: each record it hands over, shown as the checker shows it.
struct RecordingBoxes : RecordingSink, ProblemSink {
  void Report(const CheckProblem& problem) override { ShowProblem(*this, problem); }
};

// UTF-8 text as code page 932 bytes, for comparing with what the programs show and store.
std::string Cp932(const std::string& utf8);
// Lower-case hex MD5 of the bytes, computed by the system's md5sum for an independent check.
std::string SystemMd5(const std::string& nativePath);

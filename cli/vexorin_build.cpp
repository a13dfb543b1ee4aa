// vexorin-build: builds a checker into a folder without a window, for release scripts.
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "build_run.h"
#include "checker_image.h"
#include "cli_console.h"
#include "cli_files.h"
#include "cli_jobs.h"
#include "cp932.h"
#include "cp932_convert.h"
#include "texts.h"
#include "threads.h"
#include "vexorin_version.h"
#ifdef _WIN32
#include "maker_platform_win.h"
typedef Win32MakerPlatform NativeMakerPlatform;
#else
#include "maker_platform_posix.h"
typedef PosixMakerPlatform NativeMakerPlatform;
#endif

namespace {

enum ExitCode { kExitWritten = 0, kExitRefused = 1, kExitUsage = 2, kExitInterrupted = 130 };

const char kUsage[] =
    "usage: vexorin-build [--name NAME] [--folder-message TEXT] [--nofile-message TEXT]\n"
    "                     [--broken-message TEXT] [--yes] [--image FILE] [--jobs N] FOLDER\n"
    "       vexorin-build --help | -h | --version\n"
    "Builds a checker executable into FOLDER that checks every folder and file below it.\n"
    "  --name NAME             the checker's file name (default Vexorin.exe)\n"
    "  --folder-message TEXT   shown when a folder is missing; a line feed separates lines\n"
    "  --nofile-message TEXT   shown when a file is missing\n"
    "  --broken-message TEXT   shown when a file is damaged\n"
    "  --yes, -y               replace an existing checker without asking\n"
    "  --image FILE            the checker program to write (default: the built-in one)\n"
    "  --jobs N, -j N          digest on N threads (default: the processors this process may\n"
    "                          use), each with up to 32 files at once in the CPU's vector\n"
    "                          lanes; 1: one file after another, as the maker's window reads\n"
    "VEXORIN_LANES=N in the environment uses at most N lanes per thread (0: none);\n"
    "VEXORIN_LANES=NAME the lane kernel of that name (an error names those this CPU runs).\n"
    "Ctrl+C stops the build and leaves the folder as it was (exit code 130).\n";

// Message boxes and progress of the build job, on the terminal.
class ConsoleSink : public MessageSink, public BuildMonitor {
 public:
  explicit ConsoleSink(bool yes) : yes_(yes), terminal_(ConsoleIsTerminal()) {}

  bool Show(const char* text, const char* title, MessageKind kind) override {
    EndProgressLine();
    std::string line = std::string(title) + ": " + text;
    if (kind != kMessageQuestion) {
      ConsoleWrite(line + "\n");
      return true;
    }
    if (yes_) {
      ConsoleWrite(line + " yes (--yes)\n");
      return true;
    }
    if (!ConsoleCanAsk()) {
      ConsoleWrite(line + "\nno terminal to answer on: refused (give --yes to replace it)\n");
      return false;
    }
    ConsoleWrite(line + " [y/N] ");
    std::string answer;
    if (!ConsoleReadLine(&answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
  }

  // Progress: on a terminal one line, rewritten with the live counters; otherwise one line
  // per file, so that logs are the same whatever the jobs. Those lines are written in
  // batches, at the latest with the next counters (about ten times a second): a write and a
  // conversion per file cost the concurrent build's own thread more than it spends on the
  // file otherwise.
  void ShowProgress(const std::string& state, const std::string& progress) override {
    if (terminal_)
      Progress(state, progress);
    else
      WritePending();
  }
  void ShowFileLine(const std::string& state, const std::string& progress) override {
    if (!terminal_) Progress(state, progress);
  }

  // Ctrl+C is caught only once the overwrite question is behind: until then it ends the
  // program, as it would at any prompt.
  void Started() override { ConsoleCatchInterrupt(); }
  bool Cancelled() override { return ConsoleInterrupted(); }

  // A Ctrl+C that came with the last file still stops the build: nothing is written.
  bool Digested() override {
    EndProgressLine();
    if (ConsoleInterrupted()) return false;
    ConsoleWrite(std::string(kTextBuildComplete) + "\n");
    return true;
  }

  // Also writes the lines held back, so that whatever follows comes after them.
  void EndProgressLine() {
    WritePending();
    if (onLine_) ConsoleWrite("\r\x1b[K");
    onLine_ = false;
  }

  ~ConsoleSink() { WritePending(); }

 private:
  void Progress(const std::string& state, const std::string& progress) {
    if (terminal_) {
      ConsoleWrite("\r" + state + " " + progress + "\x1b[K");
      onLine_ = true;
    } else if (state != lastState_) {
      pending_ += state;
      pending_ += ' ';
      pending_ += progress;
      pending_ += '\n';
      if (pending_.size() >= kPendingBytes) WritePending();
    }
    lastState_ = state;
  }

  void WritePending() {
    if (pending_.empty()) return;
    ConsoleWrite(pending_);
    pending_.clear();
  }

  static constexpr size_t kPendingBytes = 16384;

  bool yes_;
  bool terminal_;  // asked once: standard error does not change during a build
  bool onLine_ = false;
  std::string lastState_;
  std::string pending_;  // file lines not yet written (not on a terminal)
};

struct Options {
  std::string name = kTextDefaultCheckerName;
  std::string messages[3] = {std::string(kTextDefaultLine1) + "\n" + kTextDefaultLine2,
                             std::string(kTextDefaultLine1) + "\n" + kTextDefaultLine2,
                             kTextDefaultLine1};
  bool yes = false;
  int jobs = 0;  // 0: as many as the process has processors
  const Md5LaneKernel* lanes = nullptr;
  std::string image;
  std::string folder;
};

int UsageError(const std::string& why) {
  ConsoleWriteUtf8("vexorin-build: " + why + "\n" + kUsage);
  return kExitUsage;
}

int Refused(const std::string& why) {
  ConsoleWriteUtf8("vexorin-build: " + why + "\n");
  return kExitRefused;
}

// A message as stored: lines joined by single line feeds, never a carriage return.
std::string StoredMessage(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') continue;
      out += '\n';
    } else {
      out += text[i];
    }
  }
  return out;
}

// Parses the arguments; returns -1 when the build may go on, else the exit code.
int ParseArguments(const std::vector<std::string>& args, Options* options) {
  static const char* const kMessageFlags[3] = {"--folder-message", "--nofile-message",
                                               "--broken-message"};
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    std::string raw;
    if (arg == "--help" || arg == "-h") {
      fputs(kUsage, stdout);
      return kExitWritten;
    } else if (arg == "--version") {
      fputs("vexorin-build " VX_VERSION "\n", stdout);
      return kExitWritten;
    } else if (arg == "--yes" || arg == "-y") {
      options->yes = true;
    } else if (arg == "--jobs" || arg == "-j") {
      if (!value(&raw)) return UsageError("--jobs needs a number");
      if (!ParseJobCount(raw, &options->jobs)) return UsageError(JobCountError());
    } else if (arg == "--image") {
      if (!value(&options->image)) return UsageError("--image needs a file");
    } else if (arg == "--name") {
      if (!value(&raw)) return UsageError("--name needs a name");
      if (!Utf8ToCp932(raw, &options->name)) {
        return Refused("the name " + raw + " has characters that code page 932 cannot hold");
      }
      if (options->name.empty() || !CheckFileName(options->name.c_str())) {
        return UsageError("a checker name cannot be empty or hold \\ / : * ? \" < > |");
      }
    } else if (arg.compare(0, 2, "--") == 0 && arg.size() > 2) {
      int which = -1;
      for (int m = 0; m < 3; ++m) {
        if (arg == kMessageFlags[m]) which = m;
      }
      if (which < 0) return UsageError("unknown option " + arg);
      if (!value(&raw)) return UsageError(arg + " needs a text");
      if (!Utf8ToCp932(raw, &options->messages[which])) {
        return Refused("the text of " + arg + " has characters that code page 932 cannot hold");
      }
      options->messages[which] = StoredMessage(options->messages[which]);
    } else if (options->folder.empty() && !arg.empty()) {
      options->folder = arg;
    } else {
      return UsageError("give exactly one FOLDER");
    }
  }
  if (options->folder.empty()) return UsageError("give the FOLDER to check");
  if (!LanesToUse(&options->lanes)) return UsageError(LanesError());
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  ConsoleInit();
  Options options;
  int parsed = ParseArguments(CommandLineArguments(argc, argv), &options);
  if (parsed >= 0) return parsed;

  std::vector<unsigned char> imageFile;
  const unsigned char* image = nullptr;
  size_t imageSize = 0;
  if (!options.image.empty()) {
    if (!ReadFileBytes(options.image, &imageFile))
      return Refused("cannot read the image " + options.image);
    image = imageFile.data();
    imageSize = imageFile.size();
  } else if (!BuiltinCheckerImage(&image, &imageSize)) {
    return UsageError("this build carries no checker image: give --image");
  }

  std::string target;
  if (!EnterTargetFolder(options.folder, &target))
    return Refused(options.folder + " is not a folder");

  NativeMakerPlatform platform;
  ConsoleSink sink(options.yes);
  TCheckerBuilder job(platform, sink, image, imageSize);
  BuildRequest request;
  request.target = target;
  request.checkerName = options.name;
  request.folderMessage = options.messages[0];
  request.noFileMessage = options.messages[1];
  request.brokenFileMessage = options.messages[2];
  request.jobs = JobsToRun(options.jobs);
  request.lanes = options.lanes;
  MakeOutcome outcome = RunBuild(job, platform, sink, request, sink);
  sink.EndProgressLine();
  if (outcome == kMakeCancelled) {
    ConsoleWriteUtf8("vexorin-build: cancelled; nothing was written\n");
    return kExitInterrupted;
  }
  return outcome == kMakeWritten ? kExitWritten : kExitRefused;
}

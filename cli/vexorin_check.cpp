// vexorin-check: checks an unpacked folder against the check data of the checker file in it,
// as the checker does, without running the checker: on Linux, and on Windows for scripts.
#include <stdio.h>

#include <chrono>
#include <string>
#include <vector>

#include "check_output.h"
#include "check_platform.h"
#include "check_report.h"
#include "check_zip.h"
#include "cli_console.h"
#include "cli_jobs.h"
#include "find_checker.h"
#include "vexorin_version.h"

namespace {

enum ExitCode { kExitIntact = 0, kExitProblems = 1, kExitUsage = 2, kExitUnusable = 3 };

const char kUsage[] =
    "usage: vexorin-check [--all] [--json] [--md5sum] [--jobs N] [CHECKER | ARCHIVE.zip]\n"
    "       vexorin-check --help | -h | --version\n"
    "Checks the folder that holds the checker file CHECKER against the check data in it, as\n"
    "the checker does, without running it. CHECKER defaults to Vexorin.exe in the current\n"
    "folder, or else to the one .exe file there that carries check data. Given a zip, checks\n"
    "its entries before unpacking, against the checker inside it (Vexorin.exe, or the one\n"
    "carrying check data, at the top or in the one folder that holds everything).\n"
    "  --all      go on after a problem: every missing folder, missing file and damaged file,\n"
    "             one per line, then a summary line\n"
    "  --json     one JSON object with the counts and every problem (implies --all)\n"
    "  --md5sum   print the file list for md5sum -c instead of checking\n"
    "  --jobs N, -j N\n"
    "             read on N threads (default: the processors this process may use), each\n"
    "             with up to 32 files at once in the CPU's vector lanes; 1: one file after\n"
    "             another, as the checker reads\n"
    "VEXORIN_LANES=N in the environment uses at most N lanes per thread (0: none);\n"
    "VEXORIN_LANES=NAME the lane kernel of that name (an error names those this CPU runs).\n"
    "Exit status: 0 all intact, 1 a problem found, 2 usage error, 3 no usable check data.\n";

struct Options {
  bool all = false;
  bool json = false;
  bool md5sum = false;
  int jobs = 0;  // 0: as many as the process has processors
  const Md5LaneKernel* lanes = nullptr;
  std::string checker;
};

int UsageError(const std::string& why) {
  ConsoleWriteUtf8("vexorin-check: " + Printable(why) + "\n" + kUsage);
  return kExitUsage;
}

// Parses the arguments; returns -1 when the check may go on, else the exit code.
int ParseArguments(const std::vector<std::string>& args, Options* options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      fputs(kUsage, stdout);
      return kExitIntact;
    } else if (arg == "--version") {
      fputs("vexorin-check " VX_VERSION "\n", stdout);
      return kExitIntact;
    } else if (arg == "--all") {
      options->all = true;
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "--md5sum") {
      options->md5sum = true;
    } else if (arg == "--jobs" || arg == "-j") {
      if (i + 1 >= args.size()) return UsageError("--jobs needs a number");
      if (!ParseJobCount(args[++i], &options->jobs)) return UsageError(JobCountError());
    } else if (arg.compare(0, 2, "--") == 0) {
      return UsageError("unknown option " + arg);
    } else if (options->checker.empty() && !arg.empty()) {
      options->checker = arg;
    } else {
      return UsageError("give at most one CHECKER");
    }
  }
  if (options->md5sum && (options->all || options->json)) {
    return UsageError(
        "--md5sum lists the files and checks nothing: it takes neither --all nor --json");
  }
  if (!LanesToUse(&options->lanes)) return UsageError(LanesError());
  return -1;
}

bool CarriesData(const std::string& path) {
  CheckPlatform candidate;
  std::string file, folder;
  return candidate.UseChecker(path, &file, &folder) && CarriesCheckData(candidate.platform());
}

// Vexorin.exe in the current folder, or else the one .exe file there that carries check data.
int FindDefaultChecker(std::string* checker) {
  CheckerChoice choice = FindChecker(ExeFilesHere(), CarriesData);
  switch (choice.outcome) {
    case CheckerChoice::kFound:
      *checker = choice.name;
      return -1;
    case CheckerChoice::kSeveral: {
      std::string names;
      for (const std::string& name : choice.names) names += (names.empty() ? "" : ", ") + name;
      return UsageError("more than one .exe file here carries check data (" + names +
                        "): name the CHECKER");
    }
    case CheckerChoice::kNone:
      break;
  }
  return UsageError("no Vexorin.exe here and no other .exe file that carries check data");
}

// The checker's two progress lines as one, rewritten in place on the terminal a few times a
// second: every step would be too often for a tree of small files.
class TerminalProgress : public CheckProgress {
 public:
  explicit TerminalProgress(const CheckPlatform& platform) : platform_(platform) {}

  void Step(const char* line1, const char* line2, size_t filesDone, size_t files) override {
    auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    shown_ = true;
    ConsoleWriteUtf8("\r" + Printable(platform_.ToUtf8(std::string(line1) + "  " + line2)) + "  " +
                     std::to_string(filesDone) + "/" + std::to_string(files) + " files done\x1b[K");
  }

  void End() {
    if (shown_) ConsoleWriteUtf8("\r\x1b[K");
  }

 private:
  const CheckPlatform& platform_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace

int main(int argc, char** argv) {
  ConsoleInit();
  Options options;
  int parsed = ParseArguments(CommandLineArguments(argc, argv), &options);
  if (parsed >= 0) return parsed;
  if (!options.checker.empty() && LooksLikeZip(options.checker)) {
    ZipCheckOptions zip;
    zip.all = options.all;
    zip.json = options.json;
    zip.md5sum = options.md5sum;
    zip.jobs = JobsToRun(options.jobs);
    zip.lanes = options.lanes;
    return CheckZip(options.checker, zip);
  }
  if (options.checker.empty()) {
    int found = FindDefaultChecker(&options.checker);
    if (found >= 0) return found;
  }

  CheckPlatform platform;
  std::string file, folder;
  if (!platform.UseChecker(options.checker, &file, &folder)) {
    return UsageError(options.checker + " is not a file");
  }
  ToUtf8 toUtf8 = [&platform](const std::string& cp932) { return platform.ToUtf8(cp932); };
  CheckReport report;

  if (options.md5sum) {
    std::vector<std::pair<std::string, std::string>> list;
    if (!ReadDigestList(platform.platform(), &report, &list)) {
      ConsoleWriteUtf8(UnusableText(report, toUtf8) + "\n");
      return kExitUnusable;
    }
    WriteOutputUtf8(Md5sumList(list, FolderAsGiven(options.checker), toUtf8));
    return kExitIntact;
  }

  bool all = options.all || options.json;
  TerminalProgress progress(platform);
  bool terminal = ConsoleIsTerminal();
  RunCheck(platform.platform(), all, JobsToRun(options.jobs), terminal ? &progress : nullptr,
           &report, options.lanes, &platform.names(), true);
  progress.End();

  if (options.json)
    WriteOutputUtf8(JsonReport(report, EscapedUtf8(file), EscapedUtf8(folder), toUtf8));
  if (report.outcome == kOutcomeUnusable) {
    ConsoleWriteUtf8(UnusableText(report, toUtf8) + "\n");
    return kExitUnusable;
  }
  if (!options.json) ConsoleWriteOutUtf8(PlainReport(report, all, toUtf8));
  return report.outcome == kOutcomeIntact ? kExitIntact : kExitProblems;
}

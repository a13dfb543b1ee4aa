// vx-bench-tool: runs the checker's verification and the maker's folder scan natively, as
// fast as they go, for bench/run-e2e.sh to time.
//
//   vx-bench-tool check CHECKER   loads the check data of the checker file CHECKER, checks
//                                 the folders, then runs CheckStep until the run ends,
//                                 with no timer between the steps
//   vx-bench-tool scan FOLDER [N] scans FOLDER N times (default 1) as a build does
//   vx-bench-tool clock           measures the processor's clock (see clock.h)
//   vx-bench-tool read FOLDER N   just reads every file under FOLDER but Vexorin.exe, on N
//                                 threads: the least that any digest of the tree must do
//
// Each prints one line of figures; the exit status is 0 only when the run found every file
// intact (check) or the scan completed (scan).
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "check_run.h"
#include "clock.h"
#include "cp932_convert.h"
#include "maker_platform_posix.h"
#include "platform_posix.h"
#include "scan.h"

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The boxes the checker would show, on standard error: a benchmark run that shows one has
// not checked what it was meant to.
class PrintingSink : public MessageSink {
 public:
  bool Show(const char* text, const char* title, MessageKind) override {
    std::string utf8Title, utf8Text;
    if (!Cp932ToUtf8(title, &utf8Title)) utf8Title = title;
    if (!Cp932ToUtf8(text, &utf8Text)) utf8Text = text;
    fprintf(stderr, "%s: %s\n", utf8Title.c_str(), utf8Text.c_str());
    ++shown;
    return true;
  }
  int shown = 0;
};

// A native path as the portable code takes it: code page 932, the folder ending in a
// backslash. False when it does not exist or code page 932 cannot hold it.
bool CoreFolder(const char* nativeFolder, std::string* core) {
  char resolved[PATH_MAX];
  if (realpath(nativeFolder, resolved) == nullptr) return false;
  if (!Utf8ToCp932(resolved, core)) return false;
  *core += "\\";
  return true;
}

int Check(const char* checkerFile) {
  std::string path = checkerFile;
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string coreFolder, coreName;
  if (!CoreFolder(folder.c_str(), &coreFolder) || !Utf8ToCp932(name, &coreName)) {
    fprintf(stderr, "vx-bench-tool: cannot use %s\n", checkerFile);
    return 2;
  }

  PosixPlatform platform;
  platform.SetExecutablePath(coreFolder + coreName);
  PrintingSink printing;
  ProblemBoxes sink(printing);
  auto start = std::chrono::steady_clock::now();
  CheckRun run(platform);
  if (!run.LoadCheckData(sink)) return 1;
  double loadSeconds = SecondsSince(start);
  uint64_t steps = 0;
  int result;
  do {
    result = run.CheckStep(sink);
    ++steps;
  } while (result == kCheckMore);
  double seconds = SecondsSince(start);
  printf(
      "check: %u folders, %u files, %lld bytes, %llu steps, load %.3f s, total %.3f s, %.1f MB/s\n",
      static_cast<unsigned>(run.data.folderCount), static_cast<unsigned>(run.data.fileCount),
      static_cast<long long>(run.bytesDone), static_cast<unsigned long long>(steps), loadSeconds,
      seconds, static_cast<double>(run.bytesDone) / seconds / 1e6);
  return result == kCheckAllIntact && printing.shown == 0 ? 0 : 1;
}

int Scan(const char* nativeFolder, int rounds) {
  std::string root;
  if (!CoreFolder(nativeFolder, &root)) {
    fprintf(stderr, "vx-bench-tool: cannot use %s\n", nativeFolder);
    return 2;
  }
  PosixMakerPlatform platform;
  double best = 0;
  size_t folders = 0, files = 0;
  for (int i = 0; i < rounds; ++i) {
    std::vector<std::string> folderList, fileList;
    ScanProblem problem;
    auto start = std::chrono::steady_clock::now();
    bool complete =
        ScanFolder(platform, root, &folderList, &fileList, "Vexorin.exe", root.size(), &problem);
    double seconds = SecondsSince(start);
    if (!complete) {
      fprintf(stderr, "vx-bench-tool: the scan stopped at %s\n", problem.entry.c_str());
      return 1;
    }
    if (i == 0 || seconds < best) best = seconds;
    folders = folderList.size();
    files = fileList.size();
  }
  printf("scan: %zu folders, %zu files, best of %d: %.3f s, %.2f us per entry\n", folders, files,
         rounds, best, best * 1e6 / static_cast<double>(folders + files));
  return 0;
}

void ListFiles(const std::string& folder, std::vector<std::string>* files) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (struct dirent* d = readdir(dir)) {
    const std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    if (d->d_type == DT_DIR)
      ListFiles(folder + "/" + name, files);
    else if (d->d_type == DT_REG && name != "Vexorin.exe")
      files->push_back(folder + "/" + name);
  }
  closedir(dir);
}

// Plain reading, as cat does it but without writing: open, reads of 128 KiB (cat's buffer)
// until the end, close; each thread takes the next file of the list.
int Read(const char* folder, int jobs) {
  std::vector<std::string> files;
  ListFiles(folder, &files);
  std::atomic<size_t> next{0};
  std::atomic<uint64_t> bytes{0};
  std::atomic<int> failed{0};
  auto reader = [&] {
    std::unique_ptr<char[]> buffer(new char[131072]);
    uint64_t mine = 0;
    for (size_t i; (i = next.fetch_add(1)) < files.size();) {
      const int fd = open(files[i].c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        ++failed;
        continue;
      }
      ssize_t n;
      while ((n = read(fd, buffer.get(), 131072)) > 0) mine += static_cast<uint64_t>(n);
      if (n < 0) ++failed;
      close(fd);
    }
    bytes += mine;
  };
  std::vector<std::thread> threads;
  for (int t = 1; t < jobs; ++t) threads.emplace_back(reader);
  reader();
  for (std::thread& t : threads) t.join();
  printf("read: %zu files, %llu bytes, %d failed\n", files.size(),
         static_cast<unsigned long long>(bytes.load()), failed.load());
  return failed.load() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "check" && argc == 3) return Check(argv[2]);
  if (command == "scan" && (argc == 3 || argc == 4))
    return Scan(argv[2], argc == 4 && atoi(argv[3]) > 1 ? atoi(argv[3]) : 1);
  if (command == "read" && argc == 4 && atoi(argv[3]) >= 1) return Read(argv[2], atoi(argv[3]));
  if (command == "clock" && argc == 2) {
    double hz = MeasureClockHz();
    if (hz <= 0) return 1;
    printf("clock: %.3f GHz\n", hz / 1e9);
    return 0;
  }
  fprintf(stderr,
          "usage: vx-bench-tool check CHECKER | scan FOLDER [ROUNDS] | read FOLDER JOBS | clock\n");
  return 2;
}

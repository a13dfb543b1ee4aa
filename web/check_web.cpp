// The web page's check: what its worker calls in the WebAssembly module. It runs
// vexorin-check's own check (RunCheck, with every problem) over the folder the page was
// handed (WebPlatform) and gives back the same texts and JSON report.
#include <stdint.h>

#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "check_output.h"
#include "check_report.h"
#include "check_run.h"
#include "concurrent_digest.h"
#include "cp932.h"
#include "cp932_convert.h"
#include "md5.h"
#include "md5_lanes.h"
#include "name_twins.h"
#include "platform_web.h"

#define VX_WEB_EXPORT(name) extern "C" __attribute__((export_name(name)))
#define VX_WEB_IMPORT(name) __attribute__((import_module("vx"), import_name(name)))

extern "C" {
// The names in folder `path` (UTF-8, "/" separators, relative to the checker's folder; empty
// for that folder), each ended by a NUL: their byte count, -1 when there is no such folder.
VX_WEB_IMPORT("list") int32_t VxJsList(const char* path, uint32_t length);
// Copies the names of the last VxJsList to `out`.
VX_WEB_IMPORT("list_copy") void VxJsListCopy(char* out);
}

namespace {

WebPlatform platform;
std::string input;        // what the script wrote last through vx_input
std::string folderLabel;  // the checker's folder as the page names it, UTF-8
std::string result;       // the last answer, for the script to read

// A text of the run in UTF-8, the page's name of the checker's folder and a "/" put back for
// the platform's mark and its separator, as vexorin-check names the folder it was given.
std::string ToUtf8Here(const std::string& cp932) {
  const std::string mark = {kExecutableFolderMark, '\\'};
  std::string out;
  size_t from = 0;
  for (size_t at; (at = cp932.find(mark, from)) != std::string::npos; from = at + mark.size()) {
    out += Cp932TextToUtf8(cp932.substr(from, at - from)) + folderLabel + "/";
  }
  return out + Cp932TextToUtf8(cp932.substr(from));
}

// The names of a folder of the chosen folder as the browser gave them (UTF-16 there, UTF-8
// here), for the check's search of names that unpackers garbled. The folders it is handed are
// the checker's folder itself or those it made, which begin with kNativePathMark and go on
// with the script's own path.
class WebFolderNames : public FolderNames {
 public:
  bool List(const std::string& folder, std::vector<std::string>* names) override {
    std::string relative;
    if (!WebRelativePath(folder.c_str(), &relative)) return false;
    if (!relative.empty() && relative.back() == '/') relative.pop_back();
    int32_t size = VxJsList(relative.data(), static_cast<uint32_t>(relative.size()));
    if (size < 0) return false;
    std::string all(static_cast<size_t>(size), '\0');
    if (size > 0) VxJsListCopy(&all[0]);
    // The names, each ended by a NUL, which no name can hold.
    for (size_t from = 0, end; from < all.size(); from = end + 1) {
      end = all.find('\0', from);
      names->push_back(all.substr(from, end - from));
    }
    return true;
  }

  std::string Join(const std::string& folder, const std::string& name, bool isFolder) override {
    std::string relative;
    if (!WebRelativePath(folder.c_str(), &relative)) return std::string();
    if (!relative.empty() && relative.back() != '/') relative += '/';
    return kNativePathMark + relative + name + (isFolder ? "/" : "");
  }
};

WebFolderNames folderNames;

class Quiet : public ProblemSink {
 public:
  void Report(const CheckProblem&) override {}
};

}  // namespace

// A buffer of `size` bytes for the script to write an argument into.
VX_WEB_EXPORT("vx_input") char* Input(uint32_t size) {
  input.assign(size, '\0');
  return &input[0];
}

VX_WEB_EXPORT("vx_result") const char* Result() { return result.data(); }
VX_WEB_EXPORT("vx_result_size") uint32_t ResultSize() {
  return static_cast<uint32_t>(result.size());
}

// The last input becomes the name the texts give the checker's folder.
VX_WEB_EXPORT("vx_set_folder_label") void SetFolderLabel() { folderLabel = input; }

// 1 when the checker file the script holds carries check data that the checker would load.
VX_WEB_EXPORT("vx_carries_check_data") int32_t CarriesData() {
  return CarriesCheckData(platform) ? 1 : 0;
}

namespace {

// The length of the folder part of a stored path in code page 932, its last separator
// included (0: none); a second byte of a double-byte character is never a separator.
size_t StoredFolderLength(const std::string& path) {
  size_t end = 0;
  bool second = false;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (second) {
      second = false;
    } else if (IsCp932LeadByte(c)) {
      second = true;
    } else if (c == '\\') {
      end = i + 1;
    }
  }
  return end;
}

}  // namespace

// What the page needs of the check data before the check, from one reading of it: the file
// count and the byte total it lists (for the progress bar; the count is -1 when the checker
// carries no usable data), then every listed folder below which no file is listed (an empty
// folder, or one that holds only such folders), which a folder input cannot show, each with
// "/" separators and without the last. Each part ended by a NUL, in `result`.
VX_WEB_EXPORT("vx_listed") void Listed() {
  CheckRun run(platform);
  Quiet quiet;
  if (!run.ReadOwnCheckData(quiet)) {
    result.assign("-1\0-1\0", 6);
    return;
  }
  result = std::to_string(run.data.fileCount) + '\0' + std::to_string(run.byteTotal) + '\0';
  std::set<std::string> holding;  // the folders with a listed file somewhere below them
  // Each file's folder converted once, not each file's path: a conversion goes through the
  // script, whose garbage over 100,000 paths costs the tab tens of MB until it is collected.
  std::unordered_set<std::string> seen;
  std::string relative;
  for (uint32_t i = 0; i < run.data.fileCount; ++i) {
    std::string path = RecordPath(run.data.fileRecords[i]);
    if (path.empty() || path[0] != kForeignNameBegin) path.resize(StoredFolderLength(path));
    if (path.empty() || !seen.insert(path).second) continue;
    if (!WebRelativePath((std::string(run.baseFolder) + path).c_str(), &relative)) continue;
    for (size_t cut = relative.rfind('/'); cut != std::string::npos && cut > 0;
         cut = relative.rfind('/', cut - 1)) {
      if (!holding.insert(relative.substr(0, cut)).second) break;  // its parents are in too
    }
  }
  for (uint32_t i = 0; i < run.data.folderCount; ++i) {
    std::string path = std::string(run.baseFolder) + run.data.folders[i];
    if (!WebRelativePath(path.c_str(), &relative)) continue;
    if (!relative.empty() && relative.back() == '/') relative.pop_back();
    if (!relative.empty() && holding.count(relative) == 0) result += relative + '\0';
  }
}

// Checks the folder, going on after problems, the files read in SIMD lanes unless `lanes` is
// 0 (or the build has none). The result holds four texts, each ended by a NUL: the outcome
// ("intact", "problems", "unusable"), vexorin-check's text (the first problem with the
// distributor's message, or the success text), that of vexorin-check --all (one line per
// problem and the summary line) or, when unusable, why, and its --json report. `checker`, the
// last input, is the checker's name for the report.
VX_WEB_EXPORT("vx_check") void Check(int32_t lanes) {
  std::string checker = input;
  CheckReport report;
  // Two jobs choose the concurrent digest; with no thread to start, its first job digests
  // every file on this thread, a lane job several files at once.
  // Entries missing under their own names are looked for under the names unpackers give.
  RunCheck(platform, true, 2, nullptr, &report, lanes != 0 ? Md5WidestLaneKernel() : nullptr,
           &folderNames);
  static const char* const kOutcomes[] = {"intact", "problems", "unusable"};
  result = kOutcomes[report.outcome];
  result += '\0';
  if (report.outcome == kOutcomeUnusable) {
    result += UnusableText(report, ToUtf8Here);
    result += '\0';
    result += UnusableText(report, ToUtf8Here);
  } else {
    result += PlainReport(report, false, ToUtf8Here);
    result += '\0';
    result += PlainReport(report, true, ToUtf8Here);
  }
  result += '\0';
  result += JsonReport(report, folderLabel + "/" + checker, folderLabel, ToUtf8Here);
  result += '\0';
}

namespace {

// A digest worker's batch of files, each named by the folder mark and its index in the batch:
// the worker's script answers the platform's calls for those names from the batch it holds.
class BatchList : public DigestList {
 public:
  explicit BatchList(size_t count) : count_(count) {}
  size_t Count() const override { return count_; }
  void FullPath(size_t index, std::string* path) const override {
    path->assign({kExecutableFolderMark, '\\'});
    *path += std::to_string(index);
  }

 private:
  size_t count_;
};

// One file's digest as the script reads it: 32 bytes each.
struct BatchDigest {
  unsigned char md5[16];
  double bytes;
  int32_t outcome;  // a DigestOutcome
  int32_t unused;
};

class BatchWatcher : public DigestWatcher {
 public:
  explicit BatchWatcher(std::vector<BatchDigest>* digests) : digests_(*digests) {}
  bool FileDone(size_t index, const FileDigest& d) override {
    BatchDigest& out = digests_[index];
    for (int i = 0; i < 16; ++i) out.md5[i] = d.md5[i];
    out.bytes = static_cast<double>(d.bytes);
    out.outcome = d.outcome;
    return true;
  }
  void Progress(const DigestProgress&) override {}  // the script counts the bytes it hands over
  bool Cancelled() override { return false; }       // the page ends a worker to stop it

 private:
  std::vector<BatchDigest>& digests_;
};

std::vector<BatchDigest> batchDigests;

}  // namespace

// The page's digest workers: the `count` files of a batch digested by the check's own
// concurrent digest (with no thread to start, one lane job here: several files at once in
// the SIMD lanes, or one at a time with the scalar MD5 when `lanes` is 0 or the build has
// none). Returns the first of `count` BatchDigest, in batch order.
VX_WEB_EXPORT("vx_digest_batch") const BatchDigest* DigestBatch(uint32_t count, int32_t lanes) {
  batchDigests.assign(count, BatchDigest());
  BatchWatcher watcher(&batchDigests);
  BatchList list(count);
  DigestConcurrently(platform, list, 2, kCheckerChunkSize, watcher, kFailureGoesOn,
                     lanes != 0 ? Md5WidestLaneKernel() : nullptr);
  return batchDigests.data();
}

// The name of the lane kernel that digests, or empty: scalar.
VX_WEB_EXPORT("vx_lane_kernel") const char* LaneKernel() {
  const Md5LaneKernel* kernel = Md5WidestLaneKernel();
  return kernel != nullptr ? kernel->name : "";
}

// The MD5 of a digest worker for a file too large to read ahead whole, which it reads as a
// stream (the browser reads no faster than the scalar MD5 digests): md5.cpp's, one context
// per such file.
VX_WEB_EXPORT("vx_md5_begin") Md5Context* Md5Begin() {
  Md5Context* context = new Md5Context;
  Md5Init(context);
  return context;
}
VX_WEB_EXPORT("vx_md5_update")
void Md5Add(Md5Context* context, const unsigned char* data, uint32_t size) {
  Md5Update(context, data, size);
}
// Writes the digest to the context's first 16 bytes, where the script reads it, and keeps the
// context until vx_md5_free.
VX_WEB_EXPORT("vx_md5_end") unsigned char* Md5End(Md5Context* context) {
  unsigned char digest[16];
  Md5Final(context, digest);
  unsigned char* out = reinterpret_cast<unsigned char*>(context);
  for (int i = 0; i < 16; ++i) out[i] = digest[i];
  return out;
}
VX_WEB_EXPORT("vx_md5_free") void Md5Free(Md5Context* context) { delete context; }

// A buffer of the script's own, for the bytes it hands to vx_md5_update.
VX_WEB_EXPORT("vx_alloc") unsigned char* Alloc(uint32_t size) { return new unsigned char[size]; }

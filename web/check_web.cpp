// The web page's check: what its worker calls in the WebAssembly module. It runs vexorin-check's
// own check (a CheckSession, with every problem) over the folder the page was handed
// (WebPlatform), in one pass: the check data loaded once, the folders checked, the files the
// check wants handed out in its order, their digests (made by the page's digest workers, or
// here) taken as they come, and the same texts and JSON report given back.
#include <stdint.h>

#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "check_output.h"
#include "check_report.h"
#include "check_session.h"
#include "concurrent_digest.h"
#include "cp932.h"
#include "cp932_convert.h"
#include "find_checker.h"
#include "imports_web.h"
#include "md5.h"
#include "md5_lanes.h"
#include "platform_web.h"
#include "zip_check.h"
#include "zip_web.h"

#define VX_WEB_EXPORT(name) extern "C" __attribute__((export_name(name)))

namespace {

WebPlatform platform;
std::string input;        // what the script wrote last through vx_input
std::string folderLabel;  // the checker's folder as the page names it, UTF-8
std::string result;       // the last answer, for the script to read

// A text of the run in UTF-8, the page's name of the checker's folder and a "/" put back for
// the platform's mark and its separator, as vexorin-check names the folder it was given.
std::string ToUtf8Here(const std::string& cp932) {
  return TextWithFolder(cp932, folderLabel, true);
}

// The names of a folder of the chosen folder as the browser gave them (UTF-16 there, UTF-8
// here). The folders it is handed are the checker's folder itself or those it made, which begin
// with kNativePathMark and go on with the script's own path. The name search is offered the
// names of folders that the browser split at a backslash too (`aliases`); the walk for unlisted
// entries sees the folders as they are.
class WebFolderNames : public FolderNames {
 public:
  explicit WebFolderNames(bool aliases) : aliases_(aliases) {}

  bool List(const std::string& folder, std::vector<std::string>* names) override {
    std::string relative;
    if (!WebRelativePath(folder.c_str(), &relative)) return false;
    if (!relative.empty() && relative.back() == '/') relative.pop_back();
    int32_t size = VxJsList(relative.data(), static_cast<uint32_t>(relative.size()), aliases_);
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

  // A name the search found through an alias, as the folders the browser split it into.
  std::string AsWalked(const std::string& diskName) override {
    if (aliases_ || diskName.empty()) return diskName;
    bool folder = diskName.back() == '/';
    std::string path = folder ? diskName.substr(0, diskName.size() - 1) : diskName;
    int32_t size = VxJsRealPath(path.data(), static_cast<uint32_t>(path.size()));
    std::string real(static_cast<size_t>(size), '\0');
    if (size > 0) VxJsListCopy(&real[0]);
    return folder ? real + "/" : real;
  }

 private:
  bool aliases_;
};

WebFolderNames searchNames(true), walkNames(false);

// The check under way.
CheckReport report;
std::unique_ptr<CheckSession> session;
std::string checkerName;  // its name in the chosen folder, UTF-8

// A downloaded zip, while one is checked.
struct Zip {
  WebZipSource source;
  ZipEntries entries{source};  // the directory, read when the zip is handed over
  WebZipPlatform platform{entries};
  std::vector<long> wantedEntries;  // the entry of each wanted file, -1: none
};
std::unique_ptr<Zip> zip;
std::string zipName;  // the zip's name, as the page shows it

// A zip that cannot be checked entry by entry, as vx_finish gives its result: the outcome
// ("zip-incomplete", "zip-damaged"), two empty texts (the page says it in its own words) and the
// JSON report.
void ZipFaultResult(const ZipFacts& facts) {
  result = "zip-" + facts.status + '\0' + '\0' + '\0' + ZipFaultJson(facts, zipName) + '\0';
  session.reset();
  zip.reset();
}

// An entry's facts for the script, in one line of numbers: its index, the offset of its local
// header, its compressed and declared sizes, its method and CRC-32, and 1 when its data can be
// read from the zip alone (stored or deflated, not encrypted); then its name, from the top of
// the zip.
std::string FactsLine(size_t index) {
  const ZipEntry& e = zip->entries.entry(index);
  char line[160];
  snprintf(line, sizeof line, "%zu %.0f %.0f %.0f %u %u %d ", index,
           static_cast<double>(e.localHeaderOffset), static_cast<double>(e.compressedSize),
           static_cast<double>(e.size), e.method, static_cast<unsigned>(e.crc),
           e.Readable() ? 1 : 0);
  return line + ZipEntryName(e, nullptr);
}

// Every listed folder below which no file is listed (an empty folder, or one that holds only
// such folders), which a folder input cannot show, each with "/" separators and without the
// last, each followed by a NUL.
std::string FoldersWithoutFiles(const CheckRun& run) {
  std::string out;
  std::set<std::string> holding;  // the folders with a listed file somewhere below them
  // Each file's folder converted once, not each file's path: a conversion goes through the
  // script, whose garbage over 100,000 paths costs the tab tens of MB until it is collected.
  std::unordered_set<std::string> seen;
  std::string relative;
  for (uint32_t i = 0; i < run.data.fileCount; ++i) {
    std::string path = RecordPath(run.data.fileRecords[i]);
    if (path.empty() || path[0] != kForeignNameBegin) path.resize(FolderPrefixLength(path.c_str()));
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
    if (!relative.empty() && holding.count(relative) == 0) out += relative + '\0';
  }
  return out;
}

// The wanted files from `from` on, as the script names them (empty: none such), each followed
// by a NUL, in `result`.
// In a zip, the FactsLine of each (empty: no such entry); an entry that cannot be read from the
// zip alone is called so here, as natively when it is opened.
void WantedFrom(size_t from) {
  result.clear();
  std::string path, relative;
  for (size_t i = from; i < session->Count(); ++i) {
    session->FullPath(i, &path);
    if (zip) {
      ZipEntryFacts facts;
      bool found = !path.empty() && zip->entries.FactsOf(path.c_str(), &facts);
      zip->wantedEntries.push_back(found ? static_cast<long>(facts.index) : -1);
      if (found && !facts.readable) zip->entries.SetState(facts.index, kZipEntryUnsupported);
      result += found ? FactsLine(facts.index) : std::string();
      result += '\0';
      continue;
    }
    // A path the page cannot name opens nothing, as on every platform.
    if (path.empty() || !WebRelativePath(path.c_str(), &relative)) relative.clear();
    result += relative;
    result += '\0';
  }
}

// One file's digest as the digest workers hand it on: made by vx_digest_batch or vx_md5_end,
// taken by vx_take; the script only moves these records.
struct DigestRecord {
  unsigned char md5[16];
  double bytes;
  int32_t outcome;  // a DigestOutcome
  uint32_t crc;     // of a zip's entry: the CRC-32 of the bytes read
  int32_t zip;      // a zip's entry: 1 read as far as it could be, 2 cut short by the zip's end
  int32_t unused;
};

DigestRecord MakeRecord(const FileDigest& d) {
  DigestRecord out{};
  for (int i = 0; i < 16; ++i) out.md5[i] = d.md5[i];
  out.bytes = static_cast<double>(d.bytes);
  out.outcome = d.outcome;
  return out;
}

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

namespace {

// A choice of checker for the script: "checker", then its name; "several", then the names of
// those that carry check data; or "none". Each part followed by a NUL.
void ChoiceResult(const CheckerChoice& choice) {
  static const char* const kKinds[] = {"checker", "several", "none"};
  result = std::string(kKinds[choice.outcome]) + '\0';
  if (choice.outcome == CheckerChoice::kFound) result += choice.name + '\0';
  for (const std::string& name : choice.names) result += name + '\0';
}

}  // namespace

// The checker of a folder, as vexorin-check finds it; the input holds the names of the .exe
// files there, each followed by a NUL. The result: "checker", then its name; "several", then
// the names of those that carry check data; or "none". Each part followed by a NUL.
VX_WEB_EXPORT("vx_find_checker") void FindFolderChecker() {
  std::vector<std::string> exes;
  for (size_t from = 0, end; from < input.size(); from = end + 1) {
    end = input.find('\0', from);
    exes.push_back(input.substr(from, end - from));
  }
  ChoiceResult(FindChecker(exes, [](const std::string& name) {
    if (VxJsUseChecker(name.data(), static_cast<uint32_t>(name.size())) != 0) return true;
    return CarriesCheckData(platform);
  }));
}

// Reads the directory of the zip the script holds, named by the input; the result is its state
// ("ok", "incomplete", "damaged" or "not-zip") and a NUL. The script hands over the pieces a read
// asked for and calls this again.
VX_WEB_EXPORT("vx_zip_open") void ZipOpen() {
  zipName = input;
  zip.reset(new Zip);
  static const char* const kStates[] = {"ok", "not-zip", "incomplete", "damaged"};
  result = std::string(kStates[zip->entries.status()]) + '\0';
}

// The checker inside the zip, as ChoiceResult gives it (names from the top of the zip); or
// "need", then the FactsLine of each .exe entry the choice must read and the page has not
// inflated yet (vx_zip_hold), each part followed by a NUL.
VX_WEB_EXPORT("vx_zip_choose") void ZipChoose() {
  zip->platform.ForgetMissing();
  CheckerChoice choice = ChooseZipChecker(zip->entries, zip->platform);
  // The one chosen by its name alone is read too: its check data is loaded next.
  if (choice.outcome == CheckerChoice::kFound) CarriesCheckData(zip->platform);
  if (zip->platform.missing().empty()) {
    ChoiceResult(choice);
    return;
  }
  result = std::string("need") + '\0';
  for (size_t index : zip->platform.missing()) result += FactsLine(index) + '\0';
}

// Makes the .exe entry the input names (from the top of the zip) the checker, as the recipient
// chose it among several; 0 when there is no such entry.
VX_WEB_EXPORT("vx_zip_use") int32_t ZipUse() { return zip->entries.UseChecker(input) ? 1 : 0; }

// The input holds the inflated bytes of entry `index`, an .exe the choice of checker reads.
VX_WEB_EXPORT("vx_zip_hold") void ZipHold(uint32_t index) { zip->platform.Hold(index, input); }

// Begins the check of the folder whose name the page shows (the input, UTF-8) with the checker
// `use_checker` named last (`checker`, its name there, comes as the second part of the input
// after a NUL): loads its check data, once. With `ask`, files found under other names are
// wanted rather than read here. The result: the file count and the byte total listed (-1: the
// data cannot be used), then FoldersWithoutFiles, each part followed by a NUL.
// In a zip (after vx_zip_choose found the checker) the label is the zip's name, and the checker
// the one chosen.
VX_WEB_EXPORT("vx_load") void Load(int32_t ask) {
  size_t cut = input.find('\0');
  folderLabel = input.substr(0, cut);
  checkerName = cut == std::string::npos ? std::string() : input.substr(cut + 1);
  SessionOptions options;
  options.all = true;
  options.unlisted = true;
  options.askForOtherNames = ask != 0;
  if (zip) {
    const std::string& inside = zip->entries.folder();
    if (!inside.empty()) folderLabel += "/" + inside.substr(0, inside.size() - 1);
    options.names = &zip->entries;
    session.reset(new CheckSession(zip->platform, &report, options));
  } else {
    VxJsUseChecker(checkerName.data(), static_cast<uint32_t>(checkerName.size()));
    options.names = &searchNames;
    options.unlistedNames = &walkNames;
    options.checkerName = checkerName;
    session.reset(new CheckSession(platform, &report, options));
  }
  if (!session->Load()) {
    result.assign("-1\0-1\0", 6);
    return;
  }
  const CheckRun& run = session->run();
  result = std::to_string(run.data.fileCount) + '\0' + std::to_string(run.byteTotal) + '\0';
  if (!zip) result += FoldersWithoutFiles(run);
}

// Checks the folders and hands out the files the check wants (WantedFrom 0); returns their count,
// -1 when no file is to be checked.
VX_WEB_EXPORT("vx_begin") int32_t Begin() {
  if (!session->CheckFolders()) return -1;
  WantedFrom(0);
  return static_cast<int32_t>(session->Count());
}

// A buffer for `count` digest records, for the script to copy them into before vx_take.
VX_WEB_EXPORT("vx_records") DigestRecord* Records(uint32_t count) {
  static std::vector<DigestRecord> records;
  records.resize(count);
  return records.data();
}

// Takes the `count` records at `records`, of the wanted files `indices`. Returns the number of
// wanted files, more when the check asked for files under other names since `known` (WantedFrom
// then gives them); -1 once it wants no more.
VX_WEB_EXPORT("vx_take")
int32_t Take(const DigestRecord* records, const int32_t* indices, uint32_t count, uint32_t known) {
  bool more = true;
  for (uint32_t i = 0; i < count && more; ++i) {
    FileDigest d{};
    for (int k = 0; k < 16; ++k) d.md5[k] = records[i].md5[k];
    d.bytes = static_cast<uint64_t>(records[i].bytes);
    d.outcome = static_cast<DigestOutcome>(records[i].outcome);
    size_t wanted = static_cast<size_t>(indices[i]);
    // What reading a zip's entry told of the zip itself, before the check takes its digest.
    long entry = zip && wanted < zip->wantedEntries.size() ? zip->wantedEntries[wanted] : -1;
    if (entry >= 0 && records[i].zip == 1) zip->entries.Finished(entry, d.bytes, records[i].crc);
    if (entry >= 0 && records[i].zip == 2) zip->entries.SetState(entry, kZipEntryIncomplete);
    more = session->Take(wanted, d);
  }
  if (!more) return -1;
  if (session->Count() > known) WantedFrom(known);
  return static_cast<int32_t>(session->Count());
}

namespace {

// The check worker's own digest, where the page runs no digest workers: the files read here
// through the platform, several at once in the SIMD lanes.
class Feeder : public DigestWatcher {
 public:
  bool FileDone(size_t index, const FileDigest& d) override { return session->Take(index, d); }
  void Progress(const DigestProgress&) override {}  // the script counts the bytes it reads
  bool Cancelled() override { return false; }       // the page ends the worker to stop it
};

}  // namespace

// Digests every wanted file here, the files read in SIMD lanes unless `lanes` is 0 (or the
// build has none).
VX_WEB_EXPORT("vx_check_here") void CheckHere(int32_t lanes) {
  Feeder feeder;
  // Two jobs choose the concurrent digest; with no thread to start, its first job digests
  // every file on this thread, a lane job several files at once.
  DigestConcurrently(platform, *session, 2, kCheckerChunkSize, feeder, kFailureGoesOn,
                     lanes != 0 ? Md5WidestLaneKernel() : nullptr);
}

// Ends the check. The result holds four texts, each ended by a NUL: the outcome ("intact",
// "problems", "unusable"), vexorin-check's text (the first problem with the distributor's
// message, or the success text), that of vexorin-check --all (one line per problem and the
// summary line) or, when unusable, why, and its --json report.
VX_WEB_EXPORT("vx_finish") void Finish() {
  session->Finish();
  // A zip's own facts, apart from the verdict; or a zip cut short, which is all there is to say.
  ZipFacts facts;
  std::string zipMember;
  if (zip && report.outcome != kOutcomeUnusable) {
    if (!ZipVerdict(zip->entries, ToUtf8Here, &report, &facts)) {
      ZipFaultResult(facts);
      return;
    }
    zipMember = facts.Json(zip->entries.folder());
  }
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
    result += PlainReport(report, true, ToUtf8Here) + facts.Notes();
  }
  result += '\0';
  if (zip) {
    result += JsonReport(report, zipName, zip->entries.folder(), ToUtf8Here, zipMember);
  } else {
    result += JsonReport(report, folderLabel + "/" + checkerName, folderLabel, ToUtf8Here);
  }
  result += '\0';
  session.reset();
  zip.reset();
}

// The result of vx_finish for a zip whose directory could not be read (`state`, as vx_zip_open
// gave it: "incomplete" or "damaged").
VX_WEB_EXPORT("vx_zip_fault") void ZipFault() {
  ZipFacts facts;
  facts.status = zip->entries.status() == kZipIncomplete ? "incomplete" : "damaged";
  ZipFaultResult(facts);
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

class BatchWatcher : public DigestWatcher {
 public:
  explicit BatchWatcher(std::vector<DigestRecord>* records) : records_(*records) {}
  bool FileDone(size_t index, const FileDigest& d) override {
    records_[index] = MakeRecord(d);
    return true;
  }
  void Progress(const DigestProgress&) override {}  // the script counts the bytes it hands over
  bool Cancelled() override { return false; }       // the page ends a worker to stop it

 private:
  std::vector<DigestRecord>& records_;
};

std::vector<DigestRecord> batchRecords;

}  // namespace

// The page's digest workers: the `count` files of a batch digested by the check's own
// concurrent digest (with no thread to start, one lane job here: several files at once in
// the SIMD lanes, or one at a time with the scalar MD5 when `lanes` is 0 or the build has
// none). Returns the first of `count` records, in batch order.
VX_WEB_EXPORT("vx_digest_batch") const DigestRecord* DigestBatch(uint32_t count, int32_t lanes) {
  batchRecords.assign(count, DigestRecord());
  BatchWatcher watcher(&batchRecords);
  BatchList list(count);
  DigestConcurrently(platform, list, 2, kCheckerChunkSize, watcher, kFailureGoesOn,
                     lanes != 0 ? Md5WidestLaneKernel() : nullptr);
  return batchRecords.data();
}

// The bytes of a digest record, which the script moves without reading.
VX_WEB_EXPORT("vx_record_size") uint32_t RecordSize() { return sizeof(DigestRecord); }

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
// Ends the stream's digest, `bytes` read and `outcome` a DigestOutcome, and lets the context
// go; returns its record, valid until the next call.
// In a zip's entry, `crc` is the CRC-32 of the bytes read and `zip` says how it was read
// (DigestRecord).
VX_WEB_EXPORT("vx_md5_end")
const DigestRecord* Md5End(Md5Context* context, double bytes, int32_t outcome, uint32_t crc,
                           int32_t zip) {
  static DigestRecord record;
  FileDigest d{};
  Md5Final(context, d.md5);
  delete context;
  d.bytes = static_cast<uint64_t>(bytes);
  d.outcome = static_cast<DigestOutcome>(outcome);
  record = MakeRecord(d);
  record.crc = crc;
  record.zip = zip;
  return &record;
}

// The CRC-32 of a zip's entry as it is read, continued from `crc` (0 to begin).
VX_WEB_EXPORT("vx_crc32") uint32_t Crc32(uint32_t crc, const unsigned char* data, uint32_t size) {
  return ZipCrc32(crc, data, size);
}

// A buffer of the script's own, for the bytes it hands to vx_md5_update.
VX_WEB_EXPORT("vx_alloc") unsigned char* Alloc(uint32_t size) { return new unsigned char[size]; }

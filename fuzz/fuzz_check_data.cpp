// Fuzzes the checker's start and first steps. The input is the checker's whole file (image,
// check data, trailer); the run loads it as its own executable, checks the folders it lists
// and steps through the files it lists. The folder beside the checker is made to match the
// data: every listed folder exists and every listed file holds its own stored relative path
// as content, unless the path contains "gone", which makes it missing. So real checker
// files built over such a tree pass, and any change of the data leads into the missing,
// damaged and refused paths.
//
// Besides the sanitizers' findings, every input is held to what the checker promises: it
// loads exactly the data that an independent reading of the format finds (and refuses what
// that reading refuses), names the first missing folder or file or the first damaged file
// with the right text, counts the bytes it read, keeps its progress lines inside their
// buffers and leaves no file open.
//
// The same bytes then go through vexorin-check's run and reports: it refuses data whose
// stored paths leave the folder before it asks about any of them, otherwise finds what the
// checker finds first, goes on to the end with every problem listed, and prints valid UTF-8
// without control characters whatever the data holds.
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "check_output.h"
#include "check_platform.h"
#include "check_report.h"
#include "check_run.h"
#include "checkfile.h"
#include "cp932.h"
#include "cp932_convert.h"
#include "digest.h"
#include "md5.h"
#include "memory_platform.h"
#include "texts.h"

namespace {

const std::string kBase = "C:\\pack\\";
const std::string kExecutable = kBase + "Vexorin.exe";
// Enough steps to pass a few files and to leave a file open mid-way; the run also ends once
// a few chunks have been read, so that inputs listing big files many times stay quick.
constexpr int kMaxSteps = 12;
constexpr int64_t kMaxBytesRead = 2 * static_cast<int64_t>(kCheckerChunkSize);
// A listed file whose path ends like this is made longer than one checker chunk, so that it
// takes more than one step and may be left open when the run ends.
const std::string kBigSuffix = ".big";

// Shows the run's records as the checker's boxes do, and keeps their texts.
struct Sink : MessageSink, ProblemSink {
  std::vector<std::string> texts;
  void Report(const CheckProblem& problem) override { ShowProblem(*this, problem); }
  bool Show(const char* text, const char* title, MessageKind kind) override {
    FUZZ_CHECK(std::string(title) == kTextError);
    FUZZ_CHECK(kind == kMessageWarning);
    texts.push_back(text);
    return true;
  }
};

// The format read the simple way, with std::string, to compare the checker's lists with.
struct Expected {
  bool valid = false;
  uint64_t byteTotal = 0;
  std::vector<std::string> folders, records, messages;
};

uint64_t LittleEndian(const std::string& bytes, size_t offset, int width) {
  uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return v;
}

// Well-formed UTF-8 without control characters (C0, DEL, C1), worked out apart from the reader.
bool StorableUtf8(const std::string& text) {
  if (ValidUtf8(text) != text) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return false;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) return false;
  }
  return true;
}

Expected ReadIndependently(const std::string& file) {
  Expected e;
  if (file.size() < 16 || file.compare(file.size() - 16, 4, "VXR!") != 0) return e;
  uint64_t dataSize = LittleEndian(file, file.size() - 12, 4);
  if (dataSize > file.size() - 16 || dataSize > 0x7FFFFFFF) return e;
  e.byteTotal = LittleEndian(file, file.size() - 8, 8);
  std::string block = file.substr(file.size() - 16 - dataSize, dataSize);

  std::vector<std::string> strings;
  for (size_t pos = 0; pos < block.size();) {
    size_t end = block.find('\0', pos);
    if (end == std::string::npos) end = block.size();  // an unterminated last string ends here
    strings.push_back(block.substr(pos, end - pos));
    pos = end + 1;
  }
  int section = 0;
  size_t at = 0;
  for (; at < strings.size(); ++at) {
    const std::string& s = strings[at];
    if (s == "|") {
      if (++section == 3) break;
      continue;
    }
    if (section == 0) e.folders.push_back(s);
    if (section == 1) {
      if (s.size() < 34) return e;  // digest, its separator byte and at least one path byte
      e.records.push_back(s);
    }
    if (section == 2) e.messages.push_back(s);
  }
  if (section < 2) return e;
  // The UTF-8 extension: its name, folders, a separator, file records, a separator. Its paths
  // come after the others of their kind, enclosed as names the platforms take in UTF-8.
  if (section == 3 && at + 1 < strings.size() && strings[at + 1] == "utf8") {
    std::vector<std::string>* list = &e.folders;
    for (at += 2;; ++at) {
      if (at == strings.size()) return e;  // a separator missing
      const std::string& s = strings[at];
      if (s == "|") {
        if (list == &e.records) break;
        list = &e.records;
        continue;
      }
      size_t path = list == &e.records ? 33 : 0;
      if (path != 0 && s.size() < 34) return e;
      std::string name = s.substr(path);
      if (!StorableUtf8(name)) return e;
      list->push_back(s.substr(0, path) + kForeignNameBegin + name + kForeignNameEnd);
    }
  }
  e.messages.resize(3);  // a message the data lacks is empty; one beyond the third is ignored
  e.valid = true;
  return e;
}

bool Contains(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

// Whether a path fits a path buffer whole. The text helpers copy a double-byte character's
// lead byte only together with room for its second byte, so a path of 259 bytes that ends in
// a lead byte alone does not fit either.
bool FitsPathBuffer(const std::string& path) {
  if (path.size() >= kCheckerPathSize) return false;
  bool secondByte = false;
  for (unsigned char c : path) secondByte = !secondByte && IsCp932LeadByte(c);
  return !(secondByte && path.size() + 1 == kCheckerPathSize);
}

std::string Replace(const char* format, const std::string& subject) {
  std::string f = format;
  return f.replace(f.find("%s"), 2, subject);
}

std::string Md5HexOnce(const std::string& content) {
  Md5Context md5;
  Md5Init(&md5);
  Md5Update(&md5, content.data(), content.size());
  unsigned char digest[16];
  Md5Final(&md5, digest);
  char hex[33];
  DigestToHex(digest, hex);
  return hex;
}

// The digest text of a served file's content, worked out once per file and input.
std::map<const std::string*, std::string> digests;
const std::string& Md5Hex(const std::string& content) {
  auto it = digests.find(&content);
  if (it == digests.end()) it = digests.emplace(&content, Md5HexOnce(content)).first;
  return it->second;
}

// The progress line 2 as it must read for the given figures.
std::string Line2(int64_t bytesDone, int64_t byteTotal) {
  int64_t percent = byteTotal > 0 ? bytesDone * 100 / byteTotal : 0;
  char text[kProgressTextSize];
  FormatText(text, sizeof text, kTextCheckedBytes, static_cast<int64_t>(bytesDone / 1024), percent);
  char expected[128];
  snprintf(expected, sizeof expected, "%lld KByte Checked. (%lld\x81\x93)",
           static_cast<long long>(bytesDone / 1024), static_cast<long long>(percent));
  FUZZ_CHECK(std::string(text) == expected);
  return expected;
}

void RunSteps(CheckRun& run, MemoryPlatform& platform, const Expected& e, Sink& sink) {
  size_t index = 0;
  int64_t bytesRead = 0;      // by the whole run
  uint64_t filePosition = 0;  // in the current file
  for (int step = 0; step < kMaxSteps && bytesRead <= kMaxBytesRead; ++step) {
    char line1[kProgressTextSize], line2[kProgressTextSize];
    run.MakeProgressTexts(line1, line2);
    FUZZ_CHECK(TextLength(line1) < kProgressTextSize && TextLength(line2) < kProgressTextSize);
    FUZZ_CHECK(std::string(line2) == Line2(bytesRead, static_cast<int64_t>(e.byteTotal)));
    if (index < e.records.size()) {
      // The stored path, cut to the path buffer, then the rest of the line; the whole line
      // cut to its buffer at a character boundary.
      std::string path = e.records[index].substr(33);
      std::string rel = run.currentRelPath;
      FUZZ_CHECK(path.compare(0, rel.size(), rel) == 0);
      FUZZ_CHECK(rel.size() == path.size() || rel.size() + 2 >= kCheckerPathSize);
      char rest[128];
      snprintf(rest, sizeof rest, std::string(kTextChecking).substr(2).c_str(),
               static_cast<int>(index + 1), static_cast<int>(e.records.size()));
      std::string whole = rel + rest;
      std::string shown = line1;
      if (whole.size() < kProgressTextSize) {
        FUZZ_CHECK(shown == whole);
      } else {
        FUZZ_CHECK(whole.compare(0, shown.size(), shown) == 0 &&
                   shown.size() + 2 >= kProgressTextSize);
      }
    } else {
      FUZZ_CHECK(line1[0] == '\0');
    }

    size_t boxes = sink.texts.size();
    int result = run.CheckStep(sink);
    if (index >= e.records.size()) {
      FUZZ_CHECK(result == kCheckAllIntact && sink.texts.size() == boxes);
      return;
    }
    const std::string& record = e.records[index];
    std::string path = record.substr(33);
    std::string full = kBase + path;
    auto file = platform.files.find(full);
    bool reachable =
        FitsPathBuffer(full) && !Contains(path, "gone") && file != platform.files.end();
    if (!FitsPathBuffer(full)) {
      FUZZ_CHECK(result == kCheckPathTooLong);
      FUZZ_CHECK(sink.texts.size() == boxes + 1);
      FUZZ_CHECK(sink.texts.back() == Replace(kTextPathTooLongLine, full) + kTextUnpackShallower);
      return;
    }
    if (!reachable) {
      FUZZ_CHECK(result == kCheckFileMissing);
      FUZZ_CHECK(sink.texts.size() == boxes + 1);
      FUZZ_CHECK(sink.texts.back() == Replace(kTextFileMissing, path) + e.messages[1]);
      return;
    }
    const std::string& content = file->second;
    uint64_t chunk = content.size() - filePosition < kCheckerChunkSize
                         ? content.size() - filePosition
                         : kCheckerChunkSize;
    bytesRead += static_cast<int64_t>(chunk);
    filePosition += chunk;
    FUZZ_CHECK(run.bytesDone == bytesRead);
    if (chunk == kCheckerChunkSize) {
      FUZZ_CHECK(result == kCheckMore && sink.texts.size() == boxes);
      continue;
    }
    filePosition = 0;
    if (Md5Hex(content) != record.substr(0, 32)) {
      FUZZ_CHECK(result == kCheckFileBroken);
      FUZZ_CHECK(sink.texts.size() == boxes + 1);
      FUZZ_CHECK(sink.texts.back() == Replace(kTextFileBroken, path) + e.messages[2]);
      return;
    }
    FUZZ_CHECK(sink.texts.size() == boxes);
    ++index;
    if (index == e.records.size()) {
      FUZZ_CHECK(result == kCheckAllIntact);
      return;
    }
    FUZZ_CHECK(result == kCheckMore);
    FUZZ_CHECK(run.currentIndex == index);
  }
}

// Whether `text` is valid UTF-8 holding no control character but those in `allowed`.
bool CleanText(const std::string& text, const char* allowed) {
  if (ValidUtf8(text) != text) return false;
  for (unsigned char c : text) {
    if ((c < 0x20 || c == 0x7F) &&
        std::string(allowed).find(static_cast<char>(c)) == std::string::npos) {
      return false;
    }
  }
  return true;
}

// vexorin-check over the same file and folder, after the checker's own run.
void RunTool(MemoryPlatform& platform, const Expected& e, const Sink& checker, bool checkerEnded) {
  ToUtf8 toUtf8 = [](const std::string& cp932) { return Cp932TextToUtf8(cp932); };
  // The first stored path that leaves the folder, folders first as the data holds them.
  std::vector<std::string> paths = e.folders;
  for (const std::string& record : e.records) paths.push_back(record.substr(33));
  std::string escaping;
  for (const std::string& path : paths) {
    if (e.valid && !PathStaysInside(path.c_str())) {
      escaping = path;
      break;
    }
  }
  bool trusted = e.valid && escaping.empty();

  for (bool all : {false, true}) {
    platform.asked.clear();
    CheckReport report;
    RunCheck(platform, all, 1, nullptr, &report);
    FUZZ_CHECK(platform.openFiles == 0);
    if (!trusted) {
      FUZZ_CHECK(report.outcome == kOutcomeUnusable && report.escapingPath == escaping);
      // Nothing but the checker file itself was looked at.
      for (const std::string& path : platform.asked) FUZZ_CHECK(path == kExecutable);
    } else {
      FUZZ_CHECK(report.outcome != kOutcomeUnusable);
      FUZZ_CHECK(report.folders == e.folders.size() && report.files == e.records.size());
      FUZZ_CHECK(report.problems.size() <= (all ? e.folders.size() + e.records.size() : 1));
      for (const Problem& problem : report.problems) FUZZ_CHECK(problem.kind != kProblemReadFailed);
      if (!all && checkerEnded) {
        // What the checker showed first, or its success.
        FUZZ_CHECK(report.problems.size() == checker.texts.size());
        if (!checker.texts.empty()) FUZZ_CHECK(CheckerText(report.problems[0]) == checker.texts[0]);
      }
      if (all) {
        FUZZ_CHECK(report.foldersChecked == e.folders.size() &&
                   report.filesChecked == e.records.size());
        if (!report.problems.empty() && !checker.texts.empty()) {
          FUZZ_CHECK(CheckerText(report.problems[0]) == checker.texts[0]);
        }
      }
    }
    FUZZ_CHECK(CleanText(PlainReport(report, all, toUtf8), "\n\t"));
    FUZZ_CHECK(CleanText(UnusableText(report, toUtf8), "\n\t"));
    std::string json = JsonReport(report, "C:\\pack\\Vexorin.exe", "C:\\pack", toUtf8);
    FUZZ_CHECK(CleanText(json, "\n") && json.find('\n') == json.size() - 1);
  }

  CheckReport report;
  std::vector<std::pair<std::string, std::string>> list;
  bool listed = ReadDigestList(platform, &report, &list);
  FUZZ_CHECK(listed == trusted);
  if (listed) {
    FUZZ_CHECK(list.size() == e.records.size());
    std::string lines = Md5sumList(list, "", toUtf8);
    FUZZ_CHECK(CleanText(lines, "\n"));
    FUZZ_CHECK(static_cast<size_t>(std::count(lines.begin(), lines.end(), '\n')) == list.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  digests.clear();
  MemoryPlatform platform;
  platform.executablePath = kExecutable;
  platform.files[kExecutable] = std::string(reinterpret_cast<const char*>(data), size);
  Expected e = ReadIndependently(platform.files[kExecutable]);

  // The folder beside the checker, as the data describes it.
  for (const std::string& folder : e.folders) {
    if (!Contains(folder, "gone")) platform.folders[kBase + folder] = true;
  }
  for (const std::string& record : e.records) {
    std::string path = record.substr(33);
    if (Contains(path, "gone")) continue;
    if (platform.files.count(kBase + path) != 0) continue;  // never replaces the checker itself
    std::string content = path;
    if (path.size() >= kBigSuffix.size() &&
        path.compare(path.size() - kBigSuffix.size(), kBigSuffix.size(), kBigSuffix) == 0) {
      content.reserve(kCheckerChunkSize + 2 * path.size());
      while (content.size() <= kCheckerChunkSize) content += path;
    }
    platform.files.emplace(kBase + path, std::move(content));
  }

  Sink sink;
  bool checkerEnded = false;  // the checker's run got to its end within the steps it was given
  {
    CheckRun run(platform);
    bool loaded = run.LoadCheckData(sink);
    if (!e.valid) {
      FUZZ_CHECK(!loaded);
      FUZZ_CHECK(sink.texts.size() == 1 && sink.texts[0] == kTextCheckerLoadFailed);
    } else {
      // The lists are exactly what the format holds.
      FUZZ_CHECK(run.data.folderCount == e.folders.size());
      for (size_t i = 0; i < e.folders.size(); ++i) FUZZ_CHECK(e.folders[i] == run.data.folders[i]);
      FUZZ_CHECK(run.data.fileCount == e.records.size());
      for (size_t i = 0; i < e.records.size(); ++i)
        FUZZ_CHECK(e.records[i] == run.data.fileRecords[i]);
      for (int i = 0; i < kMessageCount; ++i) FUZZ_CHECK(e.messages[i] == run.data.messages[i]);
      FUZZ_CHECK(run.byteTotal == static_cast<int64_t>(e.byteTotal));
      FUZZ_CHECK(std::string(run.baseFolder) == kBase);

      // The first folder that is not there (or whose path is too long to ask about) stops it.
      std::string missing;
      bool anyMissing = false;
      for (const std::string& folder : e.folders) {
        if (Contains(folder, "gone") || !FitsPathBuffer(kBase + folder)) {
          missing = folder;
          anyMissing = true;
          break;
        }
      }
      FUZZ_CHECK(loaded == !anyMissing);
      if (anyMissing) {
        FUZZ_CHECK(sink.texts.size() == 1);
        FUZZ_CHECK(sink.texts[0] == (FitsPathBuffer(kBase + missing)
                                         ? Replace(kTextFolderMissing, kBase + missing) + e.messages[0]
                                         : Replace(kTextPathTooLongLine, kBase + missing) +
                                               kTextUnpackShallower));
      } else {
        FUZZ_CHECK(sink.texts.empty());
        FUZZ_CHECK(run.currentIndex == 0 && run.bytesDone == 0 && run.digest.file == nullptr);
        if (!e.records.empty()) {
          FUZZ_CHECK(std::string(run.expectedDigest) == e.records[0].substr(0, 32));
        }
        RunSteps(run, platform, e, sink);
      }
    }
    // Nothing but the open file of an unfinished digest may outlive the run's steps.
    FUZZ_CHECK(platform.openFiles == (run.digest.file != nullptr ? 1 : 0));
    checkerEnded = !loaded || (run.digest.file == nullptr &&
                               (run.currentIndex >= run.data.fileCount || !sink.texts.empty()));
  }
  FUZZ_CHECK(platform.openFiles == 0);
  RunTool(platform, e, sink, checkerEnded);
  return 0;
}

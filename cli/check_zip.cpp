#include "check_zip.h"

#include <vector>

#include "check_output.h"
#include "check_report.h"
#include "cli_console.h"
#include "find_checker.h"
#include "zip_platform.h"

namespace {

enum ExitCode { kExitIntact = 0, kExitProblems = 1, kExitUsage = 2, kExitUnusable = 3 };

const char kIncomplete[] = "the zip is incomplete: download it again\n";
const char kDamaged[] =
    "the zip's directory is damaged: it cannot be read as a zip; download it again\n";

// A text of the run in UTF-8: the checker's folder mark becomes the zip's path and the folder
// inside it, as the folder of a checker on disk does.
std::string ZipText(const std::string& cp932, const std::string& zip, const std::string& folder) {
  std::string place =
      EscapedUtf8(zip) + (folder.empty() ? "" : "/" + folder.substr(0, folder.size() - 1));
  return TextWithFolder(cp932, place, true);
}

// The checker inside the zip, as in a folder: Vexorin.exe, else the one .exe that carries check
// data. The candidates all lie in one folder of the zip, at the top or in the one that holds
// everything.
bool ChooseChecker(ZipPlatform& zip, std::string* why) {
  std::vector<std::string> exes = zip.ExeEntries();
  std::string folder = exes.empty() ? std::string() : exes[0].substr(0, exes[0].rfind('/') + 1);
  for (std::string& name : exes) name.erase(0, folder.size());
  CheckerChoice choice = FindChecker(exes, [&](const std::string& name) {
    return zip.UseChecker(folder + name) && CarriesCheckData(zip);
  });
  switch (choice.outcome) {
    case CheckerChoice::kFound:
      return zip.UseChecker(folder + choice.name);
    case CheckerChoice::kSeveral:
      *why = "more than one .exe in the zip carries check data (";
      for (size_t i = 0; i < choice.names.size(); ++i)
        *why += (i ? ", " : "") + folder + choice.names[i];
      *why += ")";
      return false;
    case CheckerChoice::kNone:
      break;
  }
  *why = "the zip holds no Vexorin.exe and no other .exe that carries check data";
  return false;
}

}  // namespace

bool LooksLikeZip(const std::string& utf8Path) {
  ZipFileSource source;
  if (!source.Open(utf8Path)) return false;
  unsigned char head[2] = {0, 0};
  if (source.Size() >= 2 && source.ReadAt(0, head, 2) && head[0] == 'M' && head[1] == 'Z')
    return false;
  std::vector<ZipEntry> entries;
  return ReadZipDirectory(source, &entries) != kZipNotZip;
}

namespace {

// What the zip says of itself, apart from the distributor's verdict.
struct ZipFacts {
  const char* status = "whole";                // "incomplete" or "damaged": not a list of problems
  std::vector<std::string> uncheckable;        // encrypted, or compressed another way
  std::vector<std::string> wholeButDifferent;  // damaged, though the zip's CRC holds
  std::vector<std::string> duplicates;         // names stored more than once

  // Lines for people, after the report.
  std::string Notes() const {
    std::string notes;
    for (const std::string& name : uncheckable)
      notes += "file " + Printable(name) +
               " cannot be checked without unpacking: it is encrypted or compressed in a way "
               "other than stored or deflated\n";
    for (const std::string& name : wholeButDifferent)
      notes += "file " + Printable(name) +
               ": the zip itself is whole (its CRC-32 holds), so downloading it again will not "
               "help: the zip was made from other files than the checker lists\n";
    for (const std::string& name : duplicates)
      notes += "the zip holds " + Printable(name) +
               " more than once: the last one was checked, as an unpacker leaves it\n";
    return notes;
  }

  // The JSON report's member "zip".
  std::string Json(const std::string& folder) const {
    auto list = [](const std::vector<std::string>& names) {
      std::string out = "[";
      for (size_t i = 0; i < names.size(); ++i) out += (i ? ", " : "") + JsonString(names[i]);
      return out + "]";
    };
    return std::string(", \"zip\": {\"status\": \"") + status +
           "\", \"folderInZip\": " + JsonString(folder) +
           ", \"uncheckable\": " + list(uncheckable) +
           ", \"wholeButDifferent\": " + list(wholeButDifferent) +
           ", \"duplicates\": " + list(duplicates) + "}";
  }
};

// A zip that cannot be checked entry by entry: one line, or a JSON report that says why.
int ZipFault(const ZipFacts& facts, bool json, const std::string& zipPath) {
  if (json) {
    WriteOutputUtf8(
        "{\"checker\": null, \"folder\": null, \"outcome\": \"zip-" + std::string(facts.status) +
        "\", \"zipPath\": " + JsonString(EscapedUtf8(zipPath)) + facts.Json("") + "}\n");
  } else {
    ConsoleWriteOutUtf8(std::string(facts.status) == "incomplete" ? kIncomplete : kDamaged);
  }
  return kExitProblems;
}

}  // namespace

int CheckZip(const std::string& utf8Path, const ZipCheckOptions& options) {
  ZipFileSource source;
  if (!source.Open(utf8Path)) {
    ConsoleWriteUtf8("vexorin-check: " + Printable(utf8Path) + " cannot be read\n");
    return kExitUsage;
  }
  ZipPlatform zip(source);
  ZipFacts facts;
  if (zip.status() == kZipIncomplete || zip.status() == kZipDamaged) {
    facts.status = zip.status() == kZipIncomplete ? "incomplete" : "damaged";
    return ZipFault(facts, options.json, utf8Path);
  }
  std::string why;
  if (!ChooseChecker(zip, &why)) {
    ConsoleWriteUtf8("vexorin-check: " + Printable(why) + "\n");
    return kExitUsage;
  }
  const std::string folder = zip.folder();
  ToUtf8 toUtf8 = [&](const std::string& cp932) { return ZipText(cp932, utf8Path, folder); };
  CheckReport report;

  if (options.md5sum) {
    std::vector<std::pair<std::string, std::string>> list;
    if (!ReadDigestList(zip, &report, &list)) {
      ConsoleWriteUtf8(UnusableText(report, toUtf8) + "\n");
      return kExitUnusable;
    }
    WriteOutputUtf8(Md5sumList(list, folder, toUtf8));
    return kExitIntact;
  }

  // Every entry is read, whatever comes first: an entry that cannot be checked without
  // unpacking is said apart and does not end the check of the others.
  RunCheck(zip, true, options.jobs, nullptr, &report, options.lanes, &zip, true);
  if (report.outcome == kOutcomeUnusable) {
    if (options.json)
      WriteOutputUtf8(JsonReport(report, EscapedUtf8(utf8Path), EscapedUtf8(folder), toUtf8));
    ConsoleWriteUtf8(UnusableText(report, toUtf8) + "\n");
    return kExitUnusable;
  }
  // An entry whose data runs past the end of the file: the download broke off.
  if (zip.AnyEntryIncomplete()) {
    facts.status = "incomplete";
    return ZipFault(facts, options.json, utf8Path);
  }

  std::vector<Problem> kept;
  for (const Problem& problem : report.problems) {
    std::string stored = std::string(1, kExecutableFolderMark) + "\\" + problem.path;
    ZipEntryState state = zip.StateOf(stored.c_str());
    std::string name = SlashPath(problem.path, toUtf8);
    if (problem.kind == kProblemReadFailed && state == kZipEntryUnsupported) {
      facts.uncheckable.push_back(name);
      continue;
    }
    kept.push_back(problem);
    if (problem.kind == kProblemFileDamaged && state == kZipEntryWhole)
      facts.wholeButDifferent.push_back(name);
  }
  facts.duplicates = zip.duplicates();
  bool problems = !kept.empty();
  if (!options.all && !options.json && kept.size() > 1) kept.resize(1);
  report.problems = kept;
  report.outcome = problems ? kOutcomeProblems : kOutcomeIntact;

  if (options.json) {
    WriteOutputUtf8(
        JsonReport(report, EscapedUtf8(utf8Path), EscapedUtf8(folder), toUtf8, facts.Json(folder)));
  } else {
    ConsoleWriteOutUtf8(PlainReport(report, options.all, toUtf8));
    ConsoleWriteUtf8(facts.Notes());
  }
  return problems ? kExitProblems : kExitIntact;
}

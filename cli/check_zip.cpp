#include "check_zip.h"

#include <vector>

#include "check_output.h"
#include "check_report.h"
#include "cli_console.h"
#include "zip_check.h"
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

// A zip that cannot be checked entry by entry: one line, or a JSON report that says why.
int ZipFault(const ZipFacts& facts, bool json, const std::string& zipPath) {
  if (json) {
    WriteOutputUtf8(ZipFaultJson(facts, EscapedUtf8(zipPath)));
  } else {
    ConsoleWriteOutUtf8(facts.status == "incomplete" ? kIncomplete : kDamaged);
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
  CheckerChoice choice = ChooseZipChecker(zip, zip);
  if (choice.outcome != CheckerChoice::kFound) {
    std::string why = "the zip holds no Vexorin.exe and no other .exe that carries check data";
    if (choice.outcome == CheckerChoice::kSeveral) {
      why = "more than one .exe in the zip carries check data (";
      for (size_t i = 0; i < choice.names.size(); ++i) why += (i ? ", " : "") + choice.names[i];
      why += ")";
    }
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
  if (!ZipVerdict(zip, toUtf8, &report, &facts)) return ZipFault(facts, options.json, utf8Path);
  bool problems = report.outcome == kOutcomeProblems;
  if (!options.all && !options.json && report.problems.size() > 1) report.problems.resize(1);

  if (options.json) {
    WriteOutputUtf8(
        JsonReport(report, EscapedUtf8(utf8Path), EscapedUtf8(folder), toUtf8, facts.Json(folder)));
  } else {
    ConsoleWriteOutUtf8(PlainReport(report, options.all, toUtf8));
    ConsoleWriteUtf8(facts.Notes());
  }
  return problems ? kExitProblems : kExitIntact;
}

#include "zip_check.h"

#include "cp932.h"

std::string ZipFacts::Notes() const {
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

std::string ZipFacts::Json(const std::string& folder) const {
  auto list = [](const std::vector<std::string>& names) {
    std::string out = "[";
    for (size_t i = 0; i < names.size(); ++i) out += (i ? ", " : "") + JsonString(names[i]);
    return out + "]";
  };
  return ", \"zip\": {\"status\": \"" + status + "\", \"folderInZip\": " + JsonString(folder) +
         ", \"uncheckable\": " + list(uncheckable) +
         ", \"wholeButDifferent\": " + list(wholeButDifferent) +
         ", \"duplicates\": " + list(duplicates) + "}";
}

CheckerChoice ChooseZipChecker(ZipEntries& entries, Platform& platform) {
  // The candidates all lie in one folder of the zip, at the top or in the one that holds
  // everything.
  std::vector<std::string> exes = entries.ExeEntries();
  std::string folder = exes.empty() ? std::string() : exes[0].substr(0, exes[0].rfind('/') + 1);
  for (std::string& name : exes) name.erase(0, folder.size());
  CheckerChoice choice = FindChecker(exes, [&](const std::string& name) {
    return entries.UseChecker(folder + name) && CarriesCheckData(platform);
  });
  if (choice.outcome == CheckerChoice::kFound) {
    entries.UseChecker(folder + choice.name);
    choice.name = folder + choice.name;
  }
  for (std::string& name : choice.names) name = folder + name;
  return choice;
}

bool ZipVerdict(const ZipEntries& entries, const ToUtf8& toUtf8, CheckReport* report,
                ZipFacts* facts) {
  // An entry whose data runs past the end of the file: the download broke off.
  if (entries.AnyEntryIncomplete()) {
    facts->status = "incomplete";
    return false;
  }
  std::vector<Problem> kept;
  for (const Problem& problem : report->problems) {
    std::string stored = std::string(1, kExecutableFolderMark) + "\\" + problem.path;
    ZipEntryState state = entries.StateOf(stored.c_str());
    std::string name = SlashPath(problem.path, toUtf8);
    if (problem.kind == kProblemReadFailed && state == kZipEntryUnsupported) {
      facts->uncheckable.push_back(name);
      continue;
    }
    kept.push_back(problem);
    if (problem.kind == kProblemFileDamaged && state == kZipEntryWhole)
      facts->wholeButDifferent.push_back(name);
  }
  facts->duplicates = entries.duplicates();
  report->problems = kept;
  report->outcome = kept.empty() ? kOutcomeIntact : kOutcomeProblems;
  return true;
}

std::string ZipFaultJson(const ZipFacts& facts, const std::string& zipPath) {
  return "{\"checker\": null, \"folder\": null, \"outcome\": \"zip-" + facts.status +
         "\", \"zipPath\": " + JsonString(zipPath) + facts.Json("") + "}\n";
}

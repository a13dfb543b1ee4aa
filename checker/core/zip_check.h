// What a check of a downloaded zip adds to the check of a folder: the checker found among the
// zip's entries, and what the zip says of itself apart from the distributor's verdict. Shared by
// vexorin-check and the page, which read and inflate the entries each their own way.
#pragma once
#include <string>
#include <vector>

#include "check_output.h"
#include "check_report.h"
#include "find_checker.h"
#include "platform.h"
#include "zip_entries.h"

// What the zip says of itself.
struct ZipFacts {
  std::string status = "whole";                // "incomplete" or "damaged": not a list of problems
  std::vector<std::string> uncheckable;        // encrypted, or compressed another way
  std::vector<std::string> wholeButDifferent;  // damaged, though the zip's CRC holds
  std::vector<std::string> duplicates;         // names stored more than once

  // vexorin-check's lines for people, after the report.
  std::string Notes() const;
  // The JSON report's member "zip", with the checker's folder inside the zip.
  std::string Json(const std::string& folder) const;
};

// The checker among the entries, as in a folder (FindChecker): at the top of the zip or in its
// one top folder. `platform` reads the entries' data (CarriesCheckData). Found: the entries
// use it (ZipEntries::UseChecker). The names of kSeveral are those from the top of the zip.
CheckerChoice ChooseZipChecker(ZipEntries& entries, Platform& platform);

// After the check of the entries (every problem wanted): the zip's own facts, and the report
// without the entries that cannot be checked without unpacking (said apart), its outcome again.
// False when an entry proved the zip cut short: `facts` then says "incomplete" and the report
// means nothing.
bool ZipVerdict(const ZipEntries& entries, const ToUtf8& toUtf8, CheckReport* report,
                ZipFacts* facts);

// The JSON report of a zip that cannot be checked entry by entry (`facts.status`).
std::string ZipFaultJson(const ZipFacts& facts, const std::string& zipPath);

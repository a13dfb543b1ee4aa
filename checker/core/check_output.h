// What vexorin-check prints from a CheckReport: the checker's texts, the summary line, the
// JSON report and the list in md5sum's format. All of it UTF-8, safe to show on a terminal
// and valid whatever bytes the check data holds.
#pragma once
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "check_report.h"

// Converts a text of the run (code page 932, with the platform's folder mark) to UTF-8.
typedef std::function<std::string(const std::string& cp932)> ToUtf8;

// A text of a run (code page 932) in UTF-8, `folder` (UTF-8, shown as it is) put back for
// every kExecutableFolderMark; with `slashAfter` the separator that follows the mark becomes
// "/". The one way vexorin-check, over a folder or a zip, and the page name the checker's
// folder in their texts.
std::string TextWithFolder(const std::string& cp932, const std::string& folder, bool slashAfter);

// `text` with every invalid UTF-8 sequence replaced by U+FFFD.
std::string ValidUtf8(const std::string& text);
// `text` (UTF-8) with control characters other than line feed and tab shown as \xNN, so that
// bytes from a checker file cannot drive the terminal.
std::string Printable(const std::string& text);

// A name as found on disk (any bytes) for people and JSON: UTF-8 as it is, every other byte
// and every backslash (which is no separator in such a name) as \xNN.
std::string DiskNameText(const std::string& name);
// `text` with every byte that is not part of valid UTF-8 as \xNN: a folder's name on disk,
// shown so that bytes of another encoding can still be told apart (not as U+FFFD).
std::string EscapedUtf8(const std::string& text);

// The checker's text for the first problem, or its success text; with `all`, the fixed line
// of every problem, one per line, then a summary line with the counts. Entries found under
// other names come with what gave them those names: said once, first, for a cause that
// several share, else on the entry's own line.
std::string PlainReport(const CheckReport& report, bool all, const ToUtf8& toUtf8);
// Why the check data is unusable: the checker's load failure, or the first escaping path.
std::string UnusableText(const CheckReport& report, const ToUtf8& toUtf8);
// One JSON object: the checker file and its folder (UTF-8), the outcome, the counts and every
// problem with its kind, its relative path and for a damaged file both digests; then
// `members`, the caller's own (each after a comma), such as what a zip says of itself.
std::string JsonReport(const CheckReport& report, const std::string& checker,
                       const std::string& folder, const ToUtf8& toUtf8,
                       const std::string& members = std::string());
// A stored relative path for people and scripts: UTF-8 with "/" separators.
std::string SlashPath(const std::string& cp932, const ToUtf8& toUtf8);
// `text` (UTF-8) as a JSON string, quotes included.
std::string JsonString(const std::string& text);
// One line per file in md5sum's format: digest, two spaces, `prefix` and the relative path
// with "/" separators.
std::string Md5sumList(const std::vector<std::pair<std::string, std::string>>& list,
                       const std::string& prefix, const ToUtf8& toUtf8);

#include "check_output.h"

#include <stdio.h>

#include "cp932_convert.h"
#include "platform.h"
#include "text.h"
#include "texts.h"

namespace {

// The length of the valid UTF-8 sequence at `s[i]`, or 0 when none starts there.
size_t SequenceLength(const std::string& s, size_t i) {
  uint32_t code;
  return DecodeUtf8(s.data() + i, s.size() - i, &code);
}

std::string Hex(unsigned char c) {
  char text[8];
  snprintf(text, sizeof text, "\\x%02x", c);
  return text;
}

std::string WithoutFinalLineFeed(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace

std::string TextWithFolder(const std::string& cp932, const std::string& folder, bool slashAfter) {
  // Converted piece by piece, so that the folder's own name is never taken for text.
  std::string out;
  size_t from = 0;
  for (size_t mark; (mark = cp932.find(kExecutableFolderMark, from)) != std::string::npos;
       from = mark + 1) {
    out += Cp932TextToUtf8(cp932.substr(from, mark - from)) + folder;
    if (slashAfter && mark + 1 < cp932.size() && cp932[mark + 1] == '\\') {
      out += '/';
      ++mark;
    }
  }
  return out + Cp932TextToUtf8(cp932.substr(from));
}

// After the conversion a backslash can only be a separator: second bytes of double-byte
// characters have become parts of longer UTF-8 sequences.
std::string SlashPath(const std::string& cp932, const ToUtf8& toUtf8) {
  std::string path = toUtf8(cp932);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

std::string JsonString(const std::string& text) {
  std::string valid = ValidUtf8(text);
  std::string out = "\"";
  for (char ch : valid) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

namespace {

const char* KindName(ProblemKind kind) {
  switch (kind) {
    case kProblemFolderMissing:
      return "missing-folder";
    case kProblemFileMissing:
      return "missing-file";
    case kProblemFileDamaged:
      return "damaged-file";
    case kProblemReadFailed:
      return "read-error";
    case kProblemFolderRenamed:
      return "folder-under-other-name";
    case kProblemFileRenamed:
      return "file-under-other-name";
    case kProblemPathTooLong:
      return "path-too-long";
    case kProblemNameAmbiguous:
      return "ambiguous-name";
    case kProblemCheckerUnusable:
      break;  // the outcome "unusable", never a problem of the list
  }
  return "";
}

const char* OutcomeName(CheckOutcome outcome) {
  switch (outcome) {
    case kOutcomeIntact:
      return "intact";
    case kOutcomeProblems:
      return "problems";
    case kOutcomeUnusable:
      return "unusable";
  }
  return "";
}

// The English line of an entry that several names on disk, or several entries, could be.
std::string AmbiguousLine(const Problem& problem, const ToUtf8& toUtf8) {
  std::string line = (problem.path.empty() || problem.path.back() != '\\' ? "file " : "folder ") +
                     SlashPath(problem.path, toUtf8) +
                     " is not there under its own name, and which name on disk it has cannot be "
                     "told (" +
                     NameFormId(problem.form) + "): ";
  for (size_t i = 0; i < problem.candidates.size(); ++i)
    line += (i > 0 ? ", " : "") + DiskNameText(problem.candidates[i]);
  if (!problem.rivals.empty()) {
    line += problem.candidates.size() > 1 ? ", names that " : ", a name that ";
    for (size_t i = 0; i < problem.rivals.size(); ++i)
      line += (i > 0 ? ", " : "") + DiskNameText(problem.rivals[i]);
    line += " could have as well";
  }
  return line + ". Rename the right one to the listed name.";
}

// The checker's fixed line for the problem in UTF-8, with its line feed where it has one, and
// with one separator style: a line that names the checker's folder as the system writes it
// ("/" on Linux) names the stored path after it with the same separators rather than the
// stored backslashes.
std::string LineWithFeed(const Problem& problem, const ToUtf8& toUtf8) {
  std::string subject = toUtf8(problem.folder);
  bool slashes = !subject.empty() && subject.back() == '/';
  subject += slashes ? SlashPath(problem.path, toUtf8) : toUtf8(problem.path);
  std::string line = toUtf8(ProblemLineFormat(problem.kind, problem.isFolder));
  size_t at = line.find("%s");
  if (at != std::string::npos) line.replace(at, 2, subject);
  return line;
}

std::string FixedLine(const Problem& problem, const ToUtf8& toUtf8) {
  return WithoutFinalLineFeed(LineWithFeed(problem, toUtf8));
}

// The problem's whole text in UTF-8: what the checker shows for it (its fixed line, then the
// advice), and for an ambiguous name what vexorin-check adds.
std::string ShownText(const Problem& problem, const ToUtf8& toUtf8) {
  if (problem.kind == kProblemNameAmbiguous)
    return FixedLine(problem, toUtf8) + "\n" + AmbiguousLine(problem, toUtf8);
  return LineWithFeed(problem, toUtf8) +
         toUtf8(ProblemAdvice(problem.kind, problem.messageText.c_str()));
}

bool Renamed(const Problem& problem) {
  return problem.kind == kProblemFolderRenamed || problem.kind == kProblemFileRenamed;
}

// Found under another form: a name that form gave, not several.
bool UnderOtherName(const Problem& problem) {
  return problem.form != kFormOwn && problem.kind != kProblemNameAmbiguous;
}

// How many problems were found under each form, and the forms in the order first found.
struct FormCounts {
  size_t count[kNameFormCount] = {};
  std::vector<NameForm> order;
  size_t total = 0;
  explicit FormCounts(const CheckReport& report) {
    for (const Problem& problem : report.problems) {
      if (!UnderOtherName(problem)) continue;
      if (count[problem.form]++ == 0) order.push_back(problem.form);
      ++total;
    }
  }
};

// The cause of every form that several entries share, said once for all of them.
std::string CauseLine(NameForm form, size_t count) {
  return std::to_string(count) +
         " listed entries are there under other names: " + NameFormCause(form) + ".";
}

// The line of one problem found under another name; it says the cause itself unless a
// CauseLine said it for several entries.
std::string RenamedLine(const Problem& problem, const FormCounts& counts, const ToUtf8& toUtf8) {
  std::string subject = problem.kind == kProblemFolderRenamed ? "folder " : "file ";
  std::string line =
      subject + SlashPath(problem.path, toUtf8) + " is there as " + DiskNameText(problem.diskName);
  if (problem.kind == kProblemFileRenamed) {
    line += ", its content intact";
  } else if (problem.kind == kProblemFileDamaged) {
    line += ", but damaged";
  } else if (problem.kind == kProblemReadFailed) {
    line += ", but could not be read";
  }
  if (counts.count[problem.form] < 2) line += std::string(": ") + NameFormCause(problem.form);
  return line + ".";
}

// The cause lines of the forms that several entries share.
std::string CauseLines(const FormCounts& counts) {
  std::string out;
  for (NameForm form : counts.order) {
    if (counts.count[form] >= 2) out += CauseLine(form, counts.count[form]) + "\n";
  }
  return out;
}

// `text` with every byte outside valid UTF-8, and with `backslash` every backslash, as \xNN.
std::string Escaped(const std::string& text, bool backslash) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    size_t n = SequenceLength(text, i);
    if (n == 0 || (backslash && text[i] == '\\')) {
      out += Hex(static_cast<unsigned char>(text[i]));
      ++i;
    } else {
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

}  // namespace

std::string DiskNameText(const std::string& name) { return Escaped(name, true); }

std::string EscapedUtf8(const std::string& text) { return Escaped(text, false); }

std::string ValidUtf8(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    size_t n = SequenceLength(text, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

std::string Printable(const std::string& text) {
  std::string out;
  for (char ch : ValidUtf8(text)) {
    unsigned char c = static_cast<unsigned char>(ch);
    out += (c < 0x20 && c != '\n' && c != '\t') || c == 0x7F ? Hex(c) : std::string(1, ch);
  }
  return out;
}

std::string PlainReport(const CheckReport& report, bool all, const ToUtf8& toUtf8) {
  FormCounts counts(report);
  std::string out = CauseLines(counts);
  if (report.problems.empty()) out = toUtf8(kTextAllIntact) + "\n";
  if (!all) {
    if (!out.empty() && !report.problems.empty())
      out += "vexorin-check --all names every such entry and its name on disk.\n";
    // Entries under other names do not end the run: a cause said once, or the entry's own
    // line, then the first problem that did end it, if any.
    // The first such problem: a report made with every problem (the web page's) is shown
    // the same way, with the problem the checker would have stopped at.
    const Problem* ending = nullptr;
    for (const Problem& problem : report.problems) {
      if (UnderOtherName(problem) && counts.count[problem.form] < 2)
        out += RenamedLine(problem, counts, toUtf8) + "\n";
      if (!Renamed(problem) && ending == nullptr) ending = &problem;
    }
    if (ending != nullptr && UnderOtherName(*ending) && counts.count[ending->form] >= 2)
      out += RenamedLine(*ending, counts, toUtf8) + "\n";
    if (ending != nullptr) {
      out += WithoutFinalLineFeed(ShownText(*ending, toUtf8)) + "\n";
    } else if (counts.total > 0) {
      out += "Every listed file's content is intact; only names differ.\n";
    }

    return Printable(out);
  }
  for (const Problem& problem : report.problems) {
    if (UnderOtherName(problem)) out += RenamedLine(problem, counts, toUtf8) + "\n";
    if (problem.kind == kProblemNameAmbiguous) {
      out += ShownText(problem, toUtf8) + "\n";
    } else if (!Renamed(problem)) {
      out += FixedLine(problem, toUtf8) + "\n";
    }
  }
  char summary[160];
  snprintf(summary, sizeof summary, "%u folders and %u files checked, %u problems found",
           static_cast<unsigned>(report.foldersChecked), static_cast<unsigned>(report.filesChecked),
           static_cast<unsigned>(report.problems.size()));
  out += summary;
  if (counts.total > 0) out += ", " + std::to_string(counts.total) + " of them under other names";
  out += "\n";
  // After the verdict, apart from it: what the folder holds beyond the list.
  for (const UnlistedEntry& entry : report.unlisted)
    out += std::string("not listed: ") + DiskNameText(entry.path) + "\n";
  return Printable(out);
}

std::string UnusableText(const CheckReport& report, const ToUtf8& toUtf8) {
  if (report.escapingPath.empty()) return Printable(toUtf8(kTextCheckerLoadFailed));
  return Printable("the stored path " + toUtf8(report.escapingPath) +
                   " leads out of the checker's folder: the check data is not trusted and nothing "
                   "was checked");
}

std::string JsonReport(const CheckReport& report, const std::string& checker,
                       const std::string& folder, const ToUtf8& toUtf8,
                       const std::string& members) {
  std::string out = "{\"checker\": " + JsonString(checker) + ", \"folder\": " + JsonString(folder) +
                    ", \"outcome\": \"" + OutcomeName(report.outcome) + "\"";
  if (report.outcome == kOutcomeUnusable) {
    out += ", \"error\": " + JsonString(UnusableText(report, toUtf8));
    if (!report.escapingPath.empty())
      out += ", \"escapingPath\": " + JsonString(toUtf8(report.escapingPath));
    return out + members + "}\n";
  }
  out += ", \"folders\": " + std::to_string(report.folders) +
         ", \"files\": " + std::to_string(report.files) +
         ", \"foldersChecked\": " + std::to_string(report.foldersChecked) +
         ", \"filesChecked\": " + std::to_string(report.filesChecked) +
         ", \"problemCount\": " + std::to_string(report.problems.size()) + ", \"problems\": [";
  FormCounts counts(report);
  for (size_t i = 0; i < report.problems.size(); ++i) {
    const Problem& problem = report.problems[i];
    out += std::string(i > 0 ? ", " : "") + "{\"kind\": \"" + KindName(problem.kind) +
           "\", \"path\": " + JsonString(SlashPath(problem.path, toUtf8));
    if (problem.kind == kProblemFileDamaged) {
      out += ", \"expected\": " + JsonString(problem.expected) +
             ", \"actual\": " + JsonString(problem.actual);
    }
    std::string text = ShownText(problem, toUtf8);
    if (problem.kind == kProblemNameAmbiguous) {
      out += std::string(", \"foundAs\": \"") + NameFormId(problem.form) + "\", \"candidates\": [";
      for (size_t k = 0; k < problem.candidates.size(); ++k)
        out += (k > 0 ? ", " : "") + JsonString(DiskNameText(problem.candidates[k]));
      out += "], \"otherEntries\": [";
      for (size_t k = 0; k < problem.rivals.size(); ++k)
        out += (k > 0 ? ", " : "") + JsonString(DiskNameText(problem.rivals[k]));
      out += "]";
    } else if (problem.form != kFormOwn) {
      out += std::string(", \"foundAs\": \"") + NameFormId(problem.form) +
             "\", \"nameOnDisk\": " + JsonString(DiskNameText(problem.diskName));
      std::string line = RenamedLine(problem, counts, toUtf8);
      text = text.empty() ? line : line + "\n" + text;
    }
    out += ", \"text\": " + JsonString(text) + "}";
  }
  out += "], \"nameCauses\": [";
  for (size_t i = 0; i < counts.order.size(); ++i) {
    NameForm form = counts.order[i];
    out += std::string(i > 0 ? ", " : "") + "{\"foundAs\": \"" + NameFormId(form) +
           "\", \"entries\": " + std::to_string(counts.count[form]) +
           ", \"cause\": " + JsonString(NameFormCause(form)) + "}";
  }
  out += "], \"unlisted\": [";
  for (size_t i = 0; i < report.unlisted.size(); ++i) {
    const UnlistedEntry& entry = report.unlisted[i];
    out += std::string(i > 0 ? ", " : "") + "{\"path\": " + JsonString(DiskNameText(entry.path)) +
           ", \"folder\": " + (entry.isFolder ? "true" : "false") + "}";
  }
  return out + "]" + members + "}\n";
}

std::string Md5sumList(const std::vector<std::pair<std::string, std::string>>& list,
                       const std::string& prefix, const ToUtf8& toUtf8) {
  std::string out;
  for (const auto& entry : list) {
    // md5sum reads 32 hexadecimal digits of either case; the checker compares lower case
    // only, so a digest it would never accept is written so that md5sum refuses it too.
    std::string digest = entry.first;
    for (char& c : digest) {
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) c = '-';
    }
    std::string name = ValidUtf8(prefix + SlashPath(entry.second, toUtf8));
    // md5sum's own escape for names holding a backslash or a line feed.
    std::string escaped;
    for (char c : name) escaped += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
    out += (escaped != name ? "\\" : "") + digest + "  " + escaped + "\n";
  }
  return out;
}

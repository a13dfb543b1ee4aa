#include "check_report.h"

#include "check_run.h"
#include "check_session.h"
#include "concurrent_digest.h"
#include "cp932.h"
#include "text.h"

namespace {

bool IsSeparator(unsigned char c) { return c == '\\' || c == '/'; }

// A component that reaches the parent folder: "..", and on Windows also a name of dots and
// spaces only, since Windows drops a name's trailing dots and spaces (".. " is "..").
bool LeadsUp(const std::string& component) {
  int dots = 0;
  for (char c : component) {
    if (c == '.') {
      ++dots;
    } else if (c != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

// Whether any component of `path` leads up, with the components cut at `separator` bytes.
// The caller asks twice: once at the separators that code page 932 sees, once at every
// separator byte, because a platform that converts a damaged double-byte character leniently
// can take its second byte (0x5C) for a separator after all.
bool AnyComponentLeadsUp(const char* path, bool byteWise) {
  std::string component;
  bool inDouble = false;
  for (const char* p = path;; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    bool separator = c == '\0' || (IsSeparator(c) && (byteWise || !inDouble));
    if (separator) {
      if (LeadsUp(component)) return true;
      if (c == '\0') return false;
      component.clear();
      inDouble = false;
      continue;
    }
    component += static_cast<char>(c);
    inDouble = !inDouble && IsCp932LeadByte(c);
  }
}

void ShowProgress(CheckRun& run, CheckProgress* progress, size_t filesDone) {
  if (progress == nullptr) return;
  char line1[kProgressTextSize], line2[kProgressTextSize];
  run.MakeProgressTexts(line1, line2);
  progress->Step(line1, line2, filesDone, run.data.fileCount);
}

// Hands the session the digests of the jobs, which come in stored order; the progress lines
// count the bytes read by every job.
class CheckFeeder : public DigestWatcher {
 public:
  CheckFeeder(CheckSession& session, CheckProgress* progress)
      : session_(session), run_(session.run()), progress_(progress) {}

  bool FileDone(size_t index, const FileDigest& d) override { return session_.Take(index, d); }

  void Progress(const DigestProgress& p) override {
    // The run counts the bytes of the files taken so far; the line shows those of the files
    // still in the jobs' hands too.
    int64_t taken = run_.bytesDone;
    run_.bytesDone = static_cast<int64_t>(p.bytesRead);
    ShowProgress(run_, progress_, p.filesDone);
    run_.bytesDone = taken;
  }

  bool Cancelled() override { return false; }  // vexorin-check ends on Ctrl+C as it is

 private:
  CheckSession& session_;
  CheckRun& run_;
  CheckProgress* progress_;
};

}  // namespace

std::string CheckerText(const Problem& problem) {
  CheckProblem record{problem.kind,
                      problem.isFolder,
                      problem.index,
                      problem.folder.c_str(),
                      problem.path.c_str(),
                      problem.message,
                      problem.messageText.c_str(),
                      problem.expected.c_str(),
                      problem.actual.c_str()};
  std::string text(ProblemTextSize(record), '\0');
  WordProblem(record, &text[0], text.size());
  return text.c_str();
}

bool PathStaysInside(const char* path) {
  // A path of the UTF-8 extension comes enclosed (checkfile.h); its inside is held to the same
  // rules, and a mark anywhere else is a control character.
  size_t n = TextLength(path);
  if (n >= 2 && path[0] == kForeignNameBegin && path[n - 1] == kForeignNameEnd)
    return PathStaysInside(std::string(path + 1, n - 2).c_str());
  const unsigned char* p = reinterpret_cast<const unsigned char*>(path);
  if (IsSeparator(p[0])) return false;
  bool letter = (p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z');
  if (letter && p[1] == ':') return false;
  // No second byte of a double-byte character is below 0x40, so every such byte is a control
  // character; 0x01 would moreover stand for the checker's own folder on some platforms.
  for (size_t i = 0; p[i] != '\0'; ++i) {
    if (p[i] < 0x20 || p[i] == 0x7F) return false;
  }
  return !AnyComponentLeadsUp(path, false) && !AnyComponentLeadsUp(path, true);
}

void RunCheck(Platform& platform, bool all, int jobs, CheckProgress* progress, CheckReport* report,
              const Md5LaneKernel* lanes, FolderNames* names, bool unlisted) {
  SessionOptions options;
  options.all = all;
  options.names = names;
  options.unlisted = unlisted;
  CheckSession session(platform, report, options);
  if (session.Load() && session.CheckFolders()) {
    if (jobs > 1) {
      ShowProgress(session.run(), progress, 0);
      CheckFeeder feeder(session, progress);
      // A file that cannot be opened may be there under another name, which does not end
      // the run.
      bool goOn = all || names != nullptr;
      DigestConcurrently(platform, session, jobs, kCheckerChunkSize, feeder,
                         goOn ? kFailureGoesOn : kFailureEndsRun, lanes);
    } else {
      do {
        ShowProgress(session.run(), progress, session.run().currentIndex);
      } while (session.Step());
    }
  }
  session.Finish();
}

bool ReadDigestList(Platform& platform, CheckReport* report,
                    std::vector<std::pair<std::string, std::string>>* list) {
  CheckSession session(platform, report, SessionOptions());
  if (!session.Load()) return false;
  list->clear();
  for (uint32_t i = 0; i < session.data().fileCount; ++i) {
    const char* record = session.data().fileRecords[i];
    list->emplace_back(std::string(record, kDigestDigits), RecordPath(record));
  }
  report->outcome = kOutcomeIntact;
  return true;
}

bool CarriesCheckData(Platform& platform) {
  CheckReport report;
  CheckSession session(platform, &report, SessionOptions());
  return session.Load() || !report.escapingPath.empty();
}

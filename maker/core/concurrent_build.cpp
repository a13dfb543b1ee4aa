#include "concurrent_build.h"

#include "concurrent_digest.h"
#include "digest.h"
#include "text.h"
#include "texts.h"

namespace {

// Feeds the digests to the job in order and turns the run's counters into progress lines.
class JobFeeder : public DigestWatcher {
 public:
  JobFeeder(TCheckerBuilder& job, BuildView& view) : job_(job), view_(view) {}

  bool FileDone(size_t, const FileDigest& d) override {
    std::string state, progress;
    job_.GetProgressTexts(&state, &progress);
    view_.ShowFileLine(state, progress);
    result_ = job_.FileDigested(d.outcome != kDigestOpenFailed, d.outcome == kDigestReadFailed,
                                d.md5, d.bytes);
    return result_ == kBuildMore;
  }

  void Progress(const DigestProgress& p) override {
    std::string state, progress;
    job_.GetProgressTexts(&state, &progress);  // the state line names the file waited for
    char line[kPathCapacity + 64];
    FormatText(line, sizeof line, kTextProcessedBytes, static_cast<int64_t>(p.bytesRead / 1024),
               static_cast<int>(p.filesDone), static_cast<int>(job_.files.size()));
    view_.ShowProgress(state, line);
  }

  bool Cancelled() override { return view_.Cancelled(); }

  int result() const { return result_; }

 private:
  TCheckerBuilder& job_;
  BuildView& view_;
  int result_ = kBuildMore;
};

}  // namespace

int DigestJobFiles(TCheckerBuilder& job, MakerPlatform& platform, int jobs, BuildView& view,
                   const Md5LaneKernel* lanes) {
  if (job.files.empty()) return kBuildAllDigested;
  PrefixedDigestList list(job.rootFolder, job.files);
  JobFeeder feeder(job, view);
  switch (
      DigestConcurrently(platform, list, jobs, kMakerChunkSize, feeder, kFailureEndsRun, lanes)) {
    case kRunCancelled:
      return kBuildCancelled;
    case kRunComplete:
    case kRunStopped:
    default:
      return feeder.result();
  }
}

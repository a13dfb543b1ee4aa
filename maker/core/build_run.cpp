#include "build_run.h"

#include "texts.h"

bool BuildMonitor::Digested() {
  ShowProgress(kTextBuildComplete, "");
  return true;
}

namespace {

// Steps the job one chunk at a time until it ends or a stop is asked for; the stop is seen
// after the step's messages have run. Returns the last step's result.
int StepThrough(TCheckerBuilder& job, BuildMonitor& monitor) {
  std::string state;
  std::string progress;
  for (;;) {
    job.GetProgressTexts(&state, &progress);
    monitor.ShowProgress(state, progress);
    monitor.ShowFileLine(state, progress);
    int last = job.Step();
    monitor.AfterStep();
    if (monitor.Cancelled() || last != kBuildMore) return last;
  }
}

}  // namespace

MakeOutcome RunBuild(TCheckerBuilder& job, MakerPlatform& platform, MessageSink& messages,
                     const BuildRequest& request, BuildMonitor& monitor) {
  job.Clear();
  MakeOutcome outcome = kMakeNotStarted;
  if (job.Start(request.target.c_str(), request.checkerName.c_str(), request.folderMessage.c_str(),
                request.noFileMessage.c_str(), request.brokenFileMessage.c_str())) {
    monitor.Started();
    int last = request.jobs <= 1
                   ? StepThrough(job, monitor)
                   : DigestJobFiles(job, platform, request.jobs, monitor, request.lanes);
    // Only the last step's result counts: kBuildMore means the loop was stopped.
    if (last == kBuildAllDigested && monitor.Digested()) {
      if (job.WriteChecker()) {
        // The names stored in UTF-8 are named below the success line.
        std::string text = kTextBuildSucceeded + job.Utf8Note();
        messages.Show(text.c_str(), kTextSuccessTitle, kMessagePlain);
        outcome = kMakeWritten;
      } else {
        outcome = kMakeWriteFailed;
      }
    } else {
      outcome = last == kBuildStopped ? kMakeStopped : kMakeCancelled;
    }
  }
  job.CloseFile();
  return outcome;
}

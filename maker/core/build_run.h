// The one loop that drives a build job from its start to the written checker, for the maker's
// progress dialog and for vexorin-build alike: each front end only shows what it is told.
#pragma once
#include <string>

#include "checker_builder.h"
#include "concurrent_build.h"
#include "md5_lanes.h"

// What a front end gives a running build. From BuildView: ShowProgress (before every step;
// about ten times a second in a concurrent build), ShowFileLine and Cancelled.
class BuildMonitor : public BuildView {
 public:
  // The lines of one file: once per file in a concurrent build; before every step of a
  // step-by-step build, where a file's lines repeat while it is read.
  void ShowFileLine(const std::string&, const std::string&) override {}
  // The job has started (the overwrite question, if any, is answered): from here on a
  // request to stop ends the build in order.
  virtual void Started() {}
  // After every step of a step-by-step build: a window runs its pending messages here.
  virtual void AfterStep() {}
  // Every file is digested; the checker is written next unless this returns false (then
  // nothing is written and the build counts as cancelled). By default it shows the
  // completion text as progress and goes on: a stop asked for while the last step's
  // messages ran comes too late to stop a checker that is complete.
  virtual bool Digested();

 protected:
  ~BuildMonitor() = default;
};

enum MakeOutcome {
  kMakeNotStarted,   // overwrite declined, nothing to check, or a path problem
  kMakeCancelled,    // the user stopped it; nothing was written
  kMakeStopped,      // a file could not be read; nothing was written
  kMakeWritten,      // the checker is on disk and the success box was shown
  kMakeWriteFailed,  // every file was read but the checker could not be written
};

// What to build: the Start arguments of the job, and how many threads digest.
struct BuildRequest {
  std::string target;
  std::string checkerName;
  std::string folderMessage;
  std::string noFileMessage;
  std::string brokenFileMessage;
  int jobs = 1;  // 1: one file after another, one chunk per step, as the maker's window reads
  const Md5LaneKernel* lanes = nullptr;  // with more jobs: the lane kernel (null: none)
};

// One whole build: clear and start the job, digest every file (step by step, or with
// request.jobs threads), write the checker and show the success box through `messages`,
// where the job also shows its own warnings. The job's file is closed on return.
MakeOutcome RunBuild(TCheckerBuilder& job, MakerPlatform& platform, MessageSink& messages,
                     const BuildRequest& request, BuildMonitor& monitor);

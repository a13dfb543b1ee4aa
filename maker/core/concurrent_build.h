// The build job's files digested on several threads, for the command-line tools.
#pragma once
#include <string>

#include "checker_builder.h"
#include "md5_lanes.h"

// Where a concurrent build shows its progress and learns of a cancel, on the caller's thread.
class BuildView {
 public:
  // The two progress lines: the file that the records wait for ("%s を処理中...") and the
  // bytes read from all files with the count of files finished. About ten times a second.
  virtual void ShowProgress(const std::string& stateText, const std::string& progressText) = 0;
  // Once per file, in scan order, just before its record is stored: the lines that
  // GetProgressTexts gives for it, as the step-by-step build shows them (for logs).
  virtual void ShowFileLine(const std::string& stateText, const std::string& progressText) = 0;
  // True once the user has asked to stop.
  virtual bool Cancelled() = 0;

 protected:
  ~BuildView() = default;
};

// Digests every file of a started job with `jobs` threads and hands the digests to the job
// in its file order, so that its records, byte total and warnings are those that Step would
// have given one file after another: the first file in scan order that cannot be opened or
// read is the one reported. Returns kBuildAllDigested (WriteChecker may follow),
// kBuildStopped (the user has been told why) or kBuildCancelled. Each job holds one reading
// buffer of kMakerChunkSize bytes and at most one open file, or with `lanes` digests up to
// `lanes->width` files at once (see DigestConcurrently); all are closed on return.
int DigestJobFiles(TCheckerBuilder& job, MakerPlatform& platform, int jobs, BuildView& view,
                   const Md5LaneKernel* lanes = Md5WidestLaneKernel());

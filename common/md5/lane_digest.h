// One job that digests several files at once, one file per SIMD lane, refilling lanes as files end.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "concurrent_digest.h"
#include "md5_lanes.h"
#include "platform.h"

// What a lane job asks of the run it works for. Called on the job's own thread.
class LaneFeed {
 public:
  // The next file for a free lane, when this job should take one now: `busy` is how many
  // of its lanes hold a file. False leaves the lane free for now.
  virtual bool Take(int busy, size_t* index, std::string* path) = 0;
  // True when file `index` need not be read any further.
  virtual bool Pointless(size_t index) = 0;
  // `bytes` more were read, of some file.
  virtual void Read(uint32_t bytes) = 0;
  // File `index` is finished (or could not be opened); its lane is free again.
  virtual void Done(size_t index, const FileDigest& digest) = 0;
  // A file taken was given up because Pointless said so.
  virtual void GaveUp(size_t index) = 0;

 protected:
  ~LaneFeed() = default;
};

// A job of `kernel.width` lanes. Each lane reads its file through a buffer of its own of
// `laneChunk` bytes (a multiple of 64), so a job holds at most `width` files open and
// `width` buffers, all in one arena made here, before the job starts. A digest equals that
// of DigestFileStep over the same file; the file's reads are those of DigestFileStep with
// a chunk of `laneChunk` bytes, a short read ending the file.
class LaneJob {
 public:
  LaneJob(const Md5LaneKernel& kernel, uint32_t laneChunk);
  LaneJob(const LaneJob&) = delete;
  LaneJob& operator=(const LaneJob&) = delete;

  // Digests files until Take gives no more and every lane is free. Every file it opened
  // is closed on return.
  void Run(Platform& platform, LaneFeed& feed);

 private:
  enum Phase : uint8_t { kFree, kReading, kLastChunk, kTail };
  struct Lane {
    FileRef file = nullptr;
    size_t index = 0;
    uint64_t bytes = 0;
    uint32_t blocks = 0;  // whole blocks waiting at offsets_[lane]
    uint8_t tailBlocks = 0;
    Phase phase = kFree;
    bool readFailed = false;
  };

  bool Refill(Platform& platform, LaneFeed& feed, int lane, int* busy);
  bool Start(Platform& platform, LaneFeed& feed, int lane, int* busy);
  void MakeTail(int lane, uint32_t got);
  void Finish(LaneFeed& feed, int lane, int* busy);
  void Free(int lane, int* busy);
  void CompressOne(int lane, uint32_t blocks);
  unsigned char* Buffer(int lane) const;
  unsigned char* TailArea(int lane) const;
  unsigned char* IdleArea() const;
  uint32_t IdleOffset() const;

  const Md5LaneKernel& kernel_;
  const uint32_t laneChunk_;
  std::unique_ptr<unsigned char[]> arena_;  // the lanes' buffers, their tail areas, the idle area
  Lane lanes_[kMd5MaxLanes];
  uint32_t offsets_[kMd5MaxLanes];
  uint32_t state_[4 * kMd5MaxLanes];
  std::string path_;
};

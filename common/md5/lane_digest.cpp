#include "lane_digest.h"

#include <string.h>

#include "md5.h"

namespace {

// Each lane's padded end: its last partial block, the 0x80 byte and the bit length, in one
// or two blocks.
constexpr uint32_t kTailArea = 128;

void StoreLe32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace

// A free lane's kernel reads the zeroed area after the tail areas, which keeps those reads
// of defined memory; a lane's buffer is read only as far as a read filled it. The buffers
// are left as they come: zeroing them all would touch every page of a job's 2 MiB, where
// small files use a few of each.
LaneJob::LaneJob(const Md5LaneKernel& kernel, uint32_t laneChunk)
    : kernel_(kernel),
      laneChunk_(laneChunk),
      arena_(new unsigned char[static_cast<size_t>(kernel.width) * (laneChunk + kTailArea) +
                               laneChunk]) {
  memset(IdleArea(), 0, laneChunk_);
  for (int l = 0; l < kMd5MaxLanes; ++l) offsets_[l] = IdleOffset();
  for (uint32_t& word : state_) word = 0;
}

unsigned char* LaneJob::IdleArea() const {
  return arena_.get() + static_cast<size_t>(kernel_.width) * (laneChunk_ + kTailArea);
}

uint32_t LaneJob::IdleOffset() const { return static_cast<uint32_t>(IdleArea() - arena_.get()); }

unsigned char* LaneJob::Buffer(int lane) const {
  return arena_.get() + static_cast<size_t>(lane) * laneChunk_;
}

unsigned char* LaneJob::TailArea(int lane) const {
  return arena_.get() + static_cast<size_t>(kernel_.width) * laneChunk_ +
         static_cast<size_t>(lane) * kTailArea;
}

// Every round runs as many blocks as the lane with the fewest waiting has, so each call
// keeps all busy lanes going; a lane whose data runs out is refilled before the next round:
// its next chunk, its padded end, or a new file. With one busy lane the scalar code does
// the work, which is faster than a kernel carrying empty lanes.
void LaneJob::Run(Platform& platform, LaneFeed& feed) {
  int busy = 0;
  for (;;) {
    int active = 0, only = 0;
    uint32_t blocks = ~0u;
    for (int l = 0; l < kernel_.width; ++l) {
      if (lanes_[l].blocks == 0 && !Refill(platform, feed, l, &busy)) continue;
      ++active;
      only = l;
      if (lanes_[l].blocks < blocks) blocks = lanes_[l].blocks;
    }
    // A lane that ends a round free asked Take after it became free, so the last Take of
    // a round with no lane active was asked with every lane free (busy 0); Take refuses an
    // idle job only when no file is left.
    if (active == 0) return;
    if (active == 1)
      CompressOne(only, blocks);
    else
      kernel_.compress(state_, arena_.get(), offsets_, blocks);
    for (int l = 0; l < kernel_.width; ++l) {
      if (lanes_[l].blocks == 0) continue;
      lanes_[l].blocks -= blocks;
      offsets_[l] += 64 * blocks;
    }
  }
}

// Brings lane `lane` to a state with blocks waiting; false when it stays free.
bool LaneJob::Refill(Platform& platform, LaneFeed& feed, int lane, int* busy) {
  Lane& l = lanes_[lane];
  for (;;) {
    switch (l.phase) {
      case kFree:
        if (!Start(platform, feed, lane, busy)) return false;
        break;
      case kReading: {
        if (feed.Pointless(l.index)) {
          platform.Close(l.file);
          feed.GaveUp(l.index);
          Free(lane, busy);
          break;
        }
        unsigned char* buffer = Buffer(lane);
        int32_t got = platform.Read(l.file, buffer, laneChunk_);
        if (got < 0) {
          l.readFailed = true;
          got = 0;
        }
        const uint32_t read = static_cast<uint32_t>(got);
        if (read > 0) feed.Read(read);
        l.bytes += read;
        offsets_[lane] = static_cast<uint32_t>(buffer - arena_.get());
        l.blocks = read / 64;
        if (read == laneChunk_) return true;
        platform.Close(l.file);
        l.file = nullptr;
        MakeTail(lane, read);
        l.phase = kLastChunk;
        if (l.blocks > 0) return true;
        break;
      }
      case kLastChunk:
        offsets_[lane] = static_cast<uint32_t>(TailArea(lane) - arena_.get());
        l.blocks = l.tailBlocks;
        l.phase = kTail;
        return true;
      case kTail:
        Finish(feed, lane, busy);
        break;
    }
  }
}

// Takes files for the lane until one opens; a file that cannot be opened is done at once.
bool LaneJob::Start(Platform& platform, LaneFeed& feed, int lane, int* busy) {
  for (;;) {
    size_t index = 0;
    if (!feed.Take(*busy, &index, &path_)) return false;
    FileRef file = platform.OpenRead(path_.c_str());
    if (file == nullptr) {
      FileDigest failed = {};
      failed.outcome = kDigestOpenFailed;
      feed.Done(index, failed);
      continue;
    }
    Lane& l = lanes_[lane];
    l = Lane();
    l.file = file;
    l.index = index;
    l.phase = kReading;
    Md5Context initial;
    Md5Init(&initial);
    for (int w = 0; w < 4; ++w) state_[w * kernel_.width + lane] = initial.state[w];
    ++*busy;
    return true;
  }
}

// Copies the bytes after the last whole block of the final chunk (`got` bytes) into the
// lane's tail area and pads them as RFC 1321 does.
void LaneJob::MakeTail(int lane, uint32_t got) {
  Lane& l = lanes_[lane];
  const uint32_t rest = got % 64;
  unsigned char* tail = TailArea(lane);
  memset(tail, 0, kTailArea);
  memcpy(tail, Buffer(lane) + (got - rest), rest);
  tail[rest] = 0x80;
  l.tailBlocks = rest < 56 ? 1 : 2;
  const uint64_t bits = l.bytes * 8;
  unsigned char* length = tail + 64 * l.tailBlocks - 8;
  StoreLe32(length, static_cast<uint32_t>(bits));
  StoreLe32(length + 4, static_cast<uint32_t>(bits >> 32));
}

void LaneJob::Finish(LaneFeed& feed, int lane, int* busy) {
  Lane& l = lanes_[lane];
  FileDigest digest;
  for (int w = 0; w < 4; ++w) StoreLe32(digest.md5 + 4 * w, state_[w * kernel_.width + lane]);
  digest.bytes = l.bytes;
  digest.outcome = l.readFailed ? kDigestReadFailed : kDigestOk;
  const size_t index = l.index;
  Free(lane, busy);
  feed.Done(index, digest);
}

void LaneJob::Free(int lane, int* busy) {
  lanes_[lane] = Lane();
  offsets_[lane] = IdleOffset();
  --*busy;
}

// The scalar compression function on one lane's state, through a context whose buffer is
// empty: Md5Update then runs whole blocks straight from the data.
void LaneJob::CompressOne(int lane, uint32_t blocks) {
  Md5Context ctx;
  for (int w = 0; w < 4; ++w) ctx.state[w] = state_[w * kernel_.width + lane];
  ctx.count[0] = ctx.count[1] = 0;
  Md5Update(&ctx, arena_.get() + offsets_[lane], static_cast<size_t>(blocks) * 64);
  for (int w = 0; w < 4; ++w) state_[w * kernel_.width + lane] = ctx.state[w];
}

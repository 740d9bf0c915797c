// Photos in flight: while the run stores one photo, the next ones are
// already being copied, read, decoded and shrunk, each by a pipeline of its
// own on a thread of its own. Storing, and everything the console shows,
// keeps the arguments' order: the console reads as a run of one photo after
// another would, and a photo that cannot be decoded ends the run at its own
// turn. With band_shrinker.h this is all of the program's concurrency.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "photo_pipeline.h"

namespace shrinkwell {

// What a photo in flight is counted at for how many may be in flight: the
// share of a progressive 50-megapixel photo (its coefficients, 3 bytes a
// pixel at 4:2:0, and kPhotoShareBytes). A larger photo waits for its own
// share (TMemoryBudget).
inline constexpr uint64_t kPhotoInFlightBytes = uint64_t{192} << 20;

// The processors a run uses: the ones the process may run on
// (`available`), or what the setting SHRINKWELL_THREADS names, a whole
// number from 1; anything else is ignored.
int ProcessorsToUse(int available, const char* threadsSetting);

// How many photos of a run are in flight at once: one per processor used,
// never more than there are photos, and never more than a quarter of the
// physical memory holds at kPhotoInFlightBytes each (0: unknown); at least
// one.
size_t PhotosInFlight(size_t photos, int processors, uint64_t physicalMemory);

// The memory the photos in flight may take together while they decode: a
// quarter of what the run may use. Each photo takes its share before its
// decode (kPhotoShareBytes, and what libjpeg keeps of a photo of several
// scans) and gives it back after; a photo whose share is not free waits
// until other photos' decodes end, and one larger than the whole budget
// goes alone. No photo waits for one that waits itself: shares are given
// back when a decode ends, not when its copy is stored.
class TMemoryBudget {
 public:
  // 0: unbounded.
  explicit TMemoryBudget(uint64_t bytes) : budget_(bytes) {}
  TMemoryBudget(const TMemoryBudget&) = delete;
  TMemoryBudget& operator=(const TMemoryBudget&) = delete;

  class TShare {
   public:
    TShare(TShare&& other) noexcept;
    TShare& operator=(TShare&&) = delete;
    ~TShare();

   private:
    friend class TMemoryBudget;
    TShare(TMemoryBudget* budget, uint64_t bytes) : budget_(budget), bytes_(bytes) {}
    TMemoryBudget* budget_;
    uint64_t bytes_;
  };
  TShare Take(uint64_t bytes);

  // The run's budget.
  static TMemoryBudget& ForTheRun();

 private:
  void GiveBack(uint64_t bytes);
  const uint64_t budget_;
  std::mutex mutex_;
  std::condition_variable given_;
  uint64_t taken_ = 0;
};

// The processors of a run, shared by its photos in flight: each decode
// takes one, and one more while one is free, to decode a photo in two
// parts (a single photo, or the last ones of a run).
class TProcessorShare {
 public:
  explicit TProcessorShare(int processors) : processors_(processors) {}
  TProcessorShare(const TProcessorShare&) = delete;
  TProcessorShare& operator=(const TProcessorShare&) = delete;

  // Processors held until the claim ends.
  class TClaim {
   public:
    TClaim() = default;
    TClaim(TClaim&& other) noexcept;
    TClaim& operator=(TClaim&&) = delete;
    ~TClaim();
    int Count() const { return count_; }

   private:
    friend class TProcessorShare;
    TClaim(TProcessorShare* share, int count) : share_(share), count_(count) {}
    TProcessorShare* share_ = nullptr;
    int count_ = 0;
  };
  // One processor for a decode, whether free or not, and up to `more`
  // besides of those that are free; never waits.
  TClaim Claim(int more);
  int Count() const { return processors_; }

 private:
  const int processors_;
  std::mutex mutex_;
  int busy_ = 0;
};

// What any photo's decode takes besides the whole picture: its bands, its
// copy, its scratch file's pages.
inline constexpr uint64_t kPhotoShareBytes = uint64_t{32} << 20;

// A photo of the run: its name and its copy's. An empty source is no photo
// (a missing file, another kind of argument): it is never prepared.
struct TPhotoJob {
  std::u16string source;
  std::u16string output;
};

class TPhotoQueue {
 public:
  // One photo in flight for each pipeline; with one, every photo is
  // prepared on the caller's thread.
  // A run that ends early waits for the photos still in flight.
  TPhotoQueue(std::vector<std::unique_ptr<TPhotoPipeline>>& pipelines, std::vector<TPhotoJob> jobs);

  // The prepared photo of job `index` (a photo), starting the next photos
  // meanwhile. Raises what its preparation raised.
  TPreparedPhoto Take(size_t index);

 private:
  struct TInFlight {
    size_t index;
    std::future<TPreparedPhoto> prepared;  // empty: prepared here, when taken
  };
  // Starts photos from index on until every pipeline has one.
  void Fill(size_t index);

  std::vector<std::unique_ptr<TPhotoPipeline>>& pipelines_;
  std::vector<TPhotoJob> jobs_;
  std::deque<TInFlight> inFlight_;
  size_t next_ = 0;
  size_t started_ = 0;
};

}  // namespace shrinkwell

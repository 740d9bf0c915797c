// Photos in flight: while the run stores one photo, the next ones are
// already being copied, read, decoded and shrunk, each by a pipeline of its
// own on a thread of its own. Storing, and everything the console shows,
// keeps the arguments' order: the console reads as a run of one photo after
// another would, and a photo that cannot be decoded ends the run at its own
// turn. With band_shrinker.h this is all of the program's concurrency.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "photo_pipeline.h"

namespace shrinkwell {

// What a photo in flight may take at most, for the memory bound: the
// coefficients libjpeg keeps of a progressive 50-megapixel photo (3 bytes
// a pixel at 4:2:0), its bands, its copy and the scratch file's pages.
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

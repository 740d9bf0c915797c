// The decoder's bands fed to the row shrinker: the receiver that lets the
// batch shrink while decoding, the full-size picture never existing.
//
// With a worker, the halving and turning run on a second thread: the
// decoder fills a band, puts it on a bounded queue and takes a free one;
// the worker halves the queued bands in order and blocks while there is
// none (within a picture it naps instead: BandWorkerNap). When no band is
// free and the worker is not halving one, the decoder halves the next band
// itself rather than wait. Without a worker everything runs on the
// decoder's thread. The bytes are the same either way. This and the
// photos in flight (photo_queue.h) are all of the program's concurrency.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "jpeg.h"
#include "jpeg_split.h"
#include "orientation.h"
#include "row_shrinker.h"

namespace shrinkwell {

// Where the bands are halved: on the decoder's own thread, or on a worker
// beside it.
enum class THalvingThread { Decoder, Worker };

class TBandShrinker final : public TRowReceiver {
 public:
  // A band holds at least kBandRows rows, more for narrower pictures, so
  // that it holds about kBandPixels pixels: enough that handing a band over
  // costs little, and the same share of the work at every size; few enough
  // that bands stay in the cache.
  static constexpr int32_t kBandRows = 16;
  static constexpr int32_t kBandPixels = 65536;

  // THalvingThread::Worker: a worker thread that lives as long as this
  // object (everything on the decoder's thread when none can be had).
  explicit TBandShrinker(THalvingThread thread);
  ~TBandShrinker() override;
  TBandShrinker(const TBandShrinker&) = delete;
  TBandShrinker& operator=(const TBandShrinker&) = delete;

  // The next picture is turned this way; its upright rows go to the sink
  // when there is one (see TRowShrinker::Begin), for an unturned picture
  // on the thread that halves the band.
  void Start(TTurn turn, TUprightRowSink* sink = nullptr);

  // Four bytes a pixel let the halving loops run as vector instructions.
  int32_t BytesPerPixel() const override { return 4; }
  void Begin(int32_t width, int32_t height) override;
  uint8_t* const* BandToFill(int32_t& capacity) override;
  void BandFilled(int32_t count) override;

  // The quarter-size upright raster of the picture decoded, or nullptr when
  // the sink took its rows. An error of the halving or of the sink comes
  // out here.
  std::unique_ptr<TBitmap> Finish();

  // Drops the bands of a picture whose decoding failed, once the band
  // being halved is done. Whoever abandons the picture calls it before the
  // sink or the decoder's picture goes; Start calls it too.
  void Abandon();

 private:
  struct TBand {
    uint8_t* bytes = nullptr;  // its part of memory_
    std::vector<uint8_t*> rows;
    int32_t count = 0;
  };
  // With the mutex held, a band queued and none being halved: halves the
  // next band, the mutex released meanwhile.
  void HalveNext(std::unique_lock<std::mutex>& lock);
  bool CanHalve() const { return !halving_ && !queued_.empty(); }
  void Work();

  bool withWorker_;
  TTurn turn_ = TTurn::None;
  TUprightRowSink* sink_ = nullptr;
  TRowShrinker shrinker_;
  int32_t bandRows_ = kBandRows;
  std::vector<TBand> bands_;
  // All bands in one block, kept from picture to picture.
  std::unique_ptr<uint8_t[]> memory_;
  size_t bandCapacity_ = 0;  // bytes a band
  size_t lent_ = 0;          // the band the decoder fills

  // Everything below is shared with the worker and guarded by mutex_.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<size_t> queued_;  // filled bands, in order
  std::deque<size_t> free_;    // bands for the decoder
  bool halving_ = false;       // a band is being halved
  bool quit_ = false;
  bool picture_ = false;  // between Begin and Finish or Abandon
  bool napping_ = false;  // the worker naps by its own timer
  std::exception_ptr error_;  // of the halving or the sink
  std::thread worker_;
};

// A thread beside the caller's for one job at a time, asleep between jobs
// and there from the start, so that no job waits for a new thread to be
// given a processor of its own.
class TJobThread {
 public:
  TJobThread();
  ~TJobThread();
  TJobThread(const TJobThread&) = delete;
  TJobThread& operator=(const TJobThread&) = delete;

  // Runs the job, which must not throw, on the thread; on the caller's
  // when no thread could be had. One job at a time: Wait comes between.
  void Start(std::function<void()> job);
  // Until the job started last has ended.
  void Wait();

 private:
  void Work();
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> job_;  // while a job runs
  bool quit_ = false;
};

// Decodes a photo cut at its restart markers (jpeg_split.h) into the
// sink's upright quarter-size rows, as TBandShrinker gives them for the
// whole photo: `jpeg` decodes the photo's bytes here up to the cut, while
// the bottom part is made and decoded beside, each halved on the thread
// that decodes it. width and height are the picture's. The sink begins
// here and gets every row on this thread. Raises what a part's decode
// raised, the top's first, once both have ended.
void DecodeInTwo(TJPEGImage& jpeg, std::string_view photo, const TJpegCut& cut, int32_t width, int32_t height,
                 TTurn turn, TUprightRowSink& sink, TJobThread& beside);

}  // namespace shrinkwell

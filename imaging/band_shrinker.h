// The decoder's bands fed to the row shrinker: the receiver that lets the
// batch halve while decoding, the full-size picture never existing. With a
// worker thread the halving and turning of one band runs on a second core
// while the decoder fills the next; the bytes are the same either way.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "jpeg.h"
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
  // costs little, and the same share of the work at every size (at 16 rows
  // of a 3 MP photo the handovers cost it twice the share they cost a 12 MP
  // one); few enough that bands stay in the cache.
  static constexpr int32_t kBandRows = 16;
  static constexpr int32_t kBandPixels = 65536;

  // THalvingThread::Worker: halve on a second thread (when a second core is
  // free), which lives as long as this object and rests between pictures.
  explicit TBandShrinker(THalvingThread thread);
  ~TBandShrinker() override;
  TBandShrinker(const TBandShrinker&) = delete;
  TBandShrinker& operator=(const TBandShrinker&) = delete;

  // The next picture is turned this way; its upright rows go to the sink
  // when there is one (see TRowShrinker::Begin), for an unturned picture on
  // the thread that halves the band: mostly the worker's, the decoder's
  // when the worker is away. Bands are halved one at a time, in order.
  void Start(TTurn turn, TUprightRowSink* sink = nullptr);

  // Four bytes a pixel let the halving loops run as vector instructions.
  int32_t BytesPerPixel() const override { return 4; }
  void Begin(int32_t width, int32_t height) override;
  uint8_t* const* BandToFill(int32_t& capacity) override;
  void BandFilled(int32_t count) override;

  // The quarter-size upright raster of the picture decoded, or nullptr when
  // the sink took its rows. An error of the worker or of the sink comes
  // out here.
  std::unique_ptr<TBitmap> Finish();

  // Drops the bands of a picture whose decoding failed, once the worker is
  // done with the one under way. Whoever abandons the picture calls it
  // before the sink or the decoder's picture goes; Start calls it too.
  void Abandon();

 private:
  struct TBand {
    uint8_t* bytes = nullptr;  // its part of memory_
    bool touched = false;  // its pages are in memory
    std::vector<uint8_t*> rows;
    int32_t count = 0;
  };
  struct TLargeBlock {
    uint8_t* bytes;
    size_t size;
    size_t done;  // bytes from the start brought in, or being brought in
  };
  void Touch(TBand& band) const;
  void Work();
  // A step of the decoder's large blocks, with the mutex held.
  void PopulateStep(std::unique_lock<std::mutex>& lock);
  // A step is the shrinker's next piece of work: getting ready for the
  // picture, then each band handed over, in order. Both with the mutex
  // held.
  bool StepWaiting() const;
  void TakeStep(std::unique_lock<std::mutex>& lock);
  // With the mutex held, once no step or touch is under way: the bands rest
  // until the next Begin. Returns the error of a step, if there was one.
  std::exception_ptr EndPicture();

  bool withWorker_;
  TTurn turn_ = TTurn::None;
  TUprightRowSink* sink_ = nullptr;
  TRowShrinker shrinker_;
  int32_t width_ = 0, height_ = 0;  // of the picture begun
  int32_t bandRows_ = kBandRows;
  std::vector<TBand> bands_;
  // All bands in one block, kept from picture to picture: one mapping to
  // make and give back, not one a band (giving one back costs 50 us here).
  std::unique_ptr<uint8_t[]> memory_;
  size_t bandCapacity_ = 0;  // bytes a band
  size_t lent_ = 0;  // the band the decoder fills

  // Between the decoder and the worker.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<size_t> filled_;  // bands to halve, in order
  std::deque<size_t> free_;    // bands for the decoder
  std::vector<size_t> untouched_;  // new bands, touched by whoever takes them
  bool begun_ = false;     // the bands are ready for this picture
  bool prepared_ = false;  // the shrinker has begun this picture
  bool busy_ = false;      // a step is under way
  int touching_ = 0;       // bands the worker is touching
  bool quit_ = false;
  std::exception_ptr error_;  // of a step: the shrinker's or the sink's
  uint64_t pictures_ = 0;  // begun so far
  std::atomic<int> decoderProcessor_{-1};  // where the decoder last ran
  // When the next band is due: the decoder's time for the last one.
  std::chrono::steady_clock::time_point lastFilled_;
  std::chrono::nanoseconds bandTime_{0};
  bool napping_ = false;  // the worker sleeps by its own timer
  std::vector<TLargeBlock> largeBlocks_;  // the decoder's, pages to bring in
  bool populating_ = false;  // a step of them is under way
  std::thread worker_;
};

}  // namespace shrinkwell

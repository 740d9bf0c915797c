#include "band_shrinker.h"

#include <utility>

#include "pixel_memory.h"

namespace shrinkwell {

namespace {

// Bands in flight with a worker: one being filled, one being halved, and
// one ready for each, so that neither side waits for the other's handover.
constexpr size_t kBandsWithWorker = 4;

}  // namespace

TBandShrinker::~TBandShrinker() { StopWorker(); }

void TBandShrinker::Start(TTurn turn, TUprightRowSink* sink) {
  StopWorker();  // of a picture whose decoding failed
  turn_ = turn;
  sink_ = sink;
  if (!withWorker_) return;
  // A new thread takes 0.1 to 1 ms to run here: started now, it mostly is
  // by the time the decoder has read the headers.
  filled_.clear();
  free_.clear();
  untouched_.clear();
  begun_ = false;
  stop_ = false;
  workerError_ = nullptr;
  worker_ = std::thread(&TBandShrinker::Work, this);
}

void TBandShrinker::Touch(TBand& band) const {
  PrefaultMemory(band.bytes, bandCapacity_);
  band.touched = true;
}

void TBandShrinker::Begin(int32_t width, int32_t height) {
  // With a worker, the shrinker and the sink get ready on its thread while
  // the decoder makes its first band.
  if (!withWorker_) shrinker_.Begin(width, height, turn_, sink_);
  width_ = width;
  height_ = height;
  const size_t rowBytes = 4 * static_cast<size_t>(width);
  const size_t bandBytes = rowBytes * kBandRows;
  bands_.resize(withWorker_ ? kBandsWithWorker : 1);
  if (bandCapacity_ < bandBytes) {
    memory_.reset();  // the old block goes first
    memory_.reset(new uint8_t[bandBytes * bands_.size()]);
    bandCapacity_ = bandBytes;
    for (size_t i = 0; i < bands_.size(); ++i) {
      bands_[i].bytes = memory_.get() + bandBytes * i;
      bands_[i].touched = false;
    }
  }
  for (TBand& band : bands_) {
    band.rows.resize(kBandRows);
    for (size_t i = 0; i < kBandRows; ++i) band.rows[i] = band.bytes + rowBytes * i;
  }
  // The first touch of new memory costs more than filling it: only the
  // first band is touched here, the others by the worker while the decoder
  // fills that one, or by the decoder when the worker has not got to them.
  if (!bands_[0].touched) Touch(bands_[0]);
  if (!withWorker_) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < bands_.size(); ++i) {
      if (bands_[i].touched) {
        free_.push_back(i);
      } else {
        untouched_.push_back(i);
      }
    }
    begun_ = true;
  }
  changed_.notify_all();
}

uint8_t* const* TBandShrinker::BandToFill(int32_t& capacity) {
  capacity = kBandRows;
  if (withWorker_) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !free_.empty() || !untouched_.empty(); });
    if (free_.empty()) {
      // A worker slow to start must not hold up the decoder.
      lent_ = untouched_.back();
      untouched_.pop_back();
      lock.unlock();
      Touch(bands_[lent_]);
    } else {
      lent_ = free_.front();
      free_.pop_front();
    }
  }
  return bands_[lent_].rows.data();
}

void TBandShrinker::BandFilled(int32_t count) {
  TBand& band = bands_[lent_];
  if (!withWorker_) {
    shrinker_.TakeRows(band.rows.data(), count);
    return;
  }
  band.count = count;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    filled_.push_back(lent_);
  }
  changed_.notify_all();
}

void TBandShrinker::Work() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stop_ || begun_; });
    if (!begun_) return;  // the decoding failed before its first row
  }
  for (;;) {
    size_t next;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (untouched_.empty()) break;
      next = untouched_.back();
      untouched_.pop_back();
    }
    Touch(bands_[next]);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      free_.push_back(next);
    }
    changed_.notify_all();
  }
  try {
    shrinker_.Begin(width_, height_, turn_, sink_);
  } catch (...) {
    workerError_ = std::current_exception();
  }
  for (;;) {
    size_t next;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stop_ || !filled_.empty(); });
      if (filled_.empty()) return;  // stopped, and nothing left to do
      next = filled_.front();
      filled_.pop_front();
    }
    // After an error the bands are only passed back, so that the decoder
    // never waits forever.
    if (!workerError_) {
      try {
        shrinker_.TakeRows(bands_[next].rows.data(), bands_[next].count);
      } catch (...) {
        workerError_ = std::current_exception();
      }
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      free_.push_back(next);
    }
    changed_.notify_all();
  }
}

void TBandShrinker::StopWorker() {
  if (!worker_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  worker_.join();  // after the bands handed over are done
}

std::unique_ptr<TBitmap> TBandShrinker::Finish() {
  StopWorker();
  if (workerError_) std::rethrow_exception(std::exchange(workerError_, nullptr));
  return shrinker_.Finish();
}

}  // namespace shrinkwell

#include "band_shrinker.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

#include "scheduling_policy.h"

namespace shrinkwell {

namespace {

// Bands with a worker: one being filled, one being halved, and one queued
// for each, so that neither side waits for the other's handover.
constexpr size_t kBandsWithWorker = 4;

// A worker whose naps find no band this many times running sleeps until
// the decoder wakes it.
constexpr int kEmptyNapsBeforeSleep = 3;

}  // namespace

TBandShrinker::TBandShrinker(THalvingThread thread) : withWorker_(thread == THalvingThread::Worker) {
  if (!withWorker_) return;
  try {
    worker_ = std::thread(&TBandShrinker::Work, this);
  } catch (const std::system_error&) {
    withWorker_ = false;  // no thread to be had: everything on the decoder's
  }
}

TBandShrinker::~TBandShrinker() {
  if (!worker_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    queued_.clear();
    quit_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void TBandShrinker::Start(TTurn turn, TUprightRowSink* sink) {
  Abandon();  // a picture whose decoding failed
  turn_ = turn;
  sink_ = sink;
}

void TBandShrinker::Abandon() {
  if (!withWorker_) return;
  std::unique_lock<std::mutex> lock(mutex_);
  queued_.clear();
  changed_.wait(lock, [this] { return !halving_; });
  free_.clear();
  picture_ = false;
  error_ = nullptr;
}

void TBandShrinker::Begin(int32_t width, int32_t height) {
  // No band of this picture is queued yet: the worker is idle.
  shrinker_.Begin(width, height, turn_, sink_);
  const size_t rowBytes = 4 * static_cast<size_t>(width);
  // In steps of 8 rows, the nearest to kBandPixels; never more than the
  // picture has, nor than a very narrow one needs.
  constexpr int32_t kStep = 8;
  const int32_t wanted = (kBandPixels / std::max(width, 1) + kStep / 2) / kStep;
  const int32_t most = std::min(32, (std::max(height, 1) + kStep - 1) / kStep);
  bandRows_ = std::max(kBandRows, kStep * std::min(wanted, most));
  const size_t bandBytes = rowBytes * static_cast<size_t>(bandRows_);
  bands_.resize(withWorker_ ? kBandsWithWorker : 1);
  if (bandCapacity_ < bandBytes) {
    // The old block goes first; until the new one is there no band has any.
    memory_.reset();
    bandCapacity_ = 0;
    for (TBand& band : bands_) band.bytes = nullptr;
    memory_.reset(new uint8_t[bandBytes * bands_.size()]);
    bandCapacity_ = bandBytes;
    for (size_t i = 0; i < bands_.size(); ++i) bands_[i].bytes = memory_.get() + bandBytes * i;
  }
  for (TBand& band : bands_) {
    band.rows.resize(static_cast<size_t>(bandRows_));
    for (size_t i = 0; i < band.rows.size(); ++i) band.rows[i] = band.bytes + rowBytes * i;
  }
  if (!withWorker_) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  picture_ = true;
  free_.clear();
  for (size_t i = 0; i < bands_.size(); ++i) free_.push_back(i);
}

uint8_t* const* TBandShrinker::BandToFill(int32_t& capacity) {
  capacity = bandRows_;
  if (!withWorker_) return bands_[0].rows.data();
  std::unique_lock<std::mutex> lock(mutex_);
  while (free_.empty()) {
    if (CanHalve()) {
      HalveNext(lock);
    } else {
      changed_.wait(lock);
    }
  }
  lent_ = free_.front();
  free_.pop_front();
  return bands_[lent_].rows.data();
}

void TBandShrinker::BandFilled(int32_t count) {
  TBand& band = bands_[lent_];
  band.count = count;
  if (!withWorker_) {
    shrinker_.TakeRows(band.rows.data(), count);
    return;
  }
  bool wake = true;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    queued_.push_back(lent_);
    // A napping worker comes for the band by itself; it is woken only when
    // the decoder is about to run out of bands.
    wake = !napping_ || free_.empty();
  }
  if (wake) changed_.notify_all();
}

void TBandShrinker::HalveNext(std::unique_lock<std::mutex>& lock) {
  const size_t band = queued_.front();
  queued_.pop_front();
  halving_ = true;
  // After an error the bands are only passed back, so that the decoder
  // never waits forever.
  const bool failed = error_ != nullptr;
  lock.unlock();
  std::exception_ptr error;
  if (!failed) {
    try {
      shrinker_.TakeRows(bands_[band].rows.data(), bands_[band].count);
    } catch (...) {
      error = std::current_exception();
    }
  }
  lock.lock();
  if (error) error_ = error;
  free_.push_back(band);
  halving_ = false;
  changed_.notify_all();
}

void TBandShrinker::Work() {
  const std::chrono::microseconds nap = BandWorkerNap();
  const auto ready = [this] { return quit_ || CanHalve(); };
  int emptyNaps = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // Within a picture, naps by its own timer; after a few that find
    // nothing (the decoder stalls on a slow disk or a busy processor), or
    // between pictures, sleeps until woken.
    if (nap.count() > 0 && picture_ && emptyNaps < kEmptyNapsBeforeSleep && !ready()) {
      napping_ = true;
      const bool found = changed_.wait_for(lock, nap, ready);
      napping_ = false;
      emptyNaps = found ? 0 : emptyNaps + 1;
      if (!found) continue;
    }
    changed_.wait(lock, ready);
    emptyNaps = 0;
    if (quit_) return;
    HalveNext(lock);
  }
}

std::unique_ptr<TBitmap> TBandShrinker::Finish() {
  if (withWorker_) {
    std::unique_lock<std::mutex> lock(mutex_);
    // The bands still queued are halved by whoever is free first: the
    // decoder does not wait for a worker that is away.
    for (;;) {
      if (CanHalve()) {
        HalveNext(lock);
      } else if (halving_) {
        changed_.wait(lock);
      } else {
        break;
      }
    }
    free_.clear();
    picture_ = false;
    const std::exception_ptr error = std::exchange(error_, nullptr);
    lock.unlock();
    if (error) std::rethrow_exception(error);
  }
  return shrinker_.Finish();
}

}  // namespace shrinkwell

#include "band_shrinker.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
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

namespace {

// One part's rows from..to - 1 (counted in the part) halved on the thread
// that decodes it.
class TPartHalving final : public TRowReceiver {
 public:
  TPartHalving(TRowShrinker& shrinker, int32_t from, int32_t to) : shrinker_(shrinker), from_(from), to_(to) {}
  int32_t BytesPerPixel() const override { return 4; }
  void Begin(int32_t width, int32_t) override {
    const size_t rowBytes = 4 * static_cast<size_t>(width);
    memory_.reset(new uint8_t[rowBytes * TBandShrinker::kBandRows]);
    for (int32_t i = 0; i < TBandShrinker::kBandRows; ++i) rows_[i] = memory_.get() + rowBytes * static_cast<size_t>(i);
    next_ = 0;
  }
  // No rows once the last one wanted is in: the decode stops there.
  uint8_t* const* BandToFill(int32_t& capacity) override {
    capacity = std::clamp(to_ - next_, 0, TBandShrinker::kBandRows);
    return rows_;
  }
  void BandFilled(int32_t count) override {
    const int32_t begin = std::max(next_, from_), end = std::min(next_ + count, to_);
    if (begin < end) shrinker_.TakeRows(rows_ + (begin - next_), end - begin);
    next_ += count;
  }

 private:
  TRowShrinker& shrinker_;
  const int32_t from_, to_;
  std::unique_ptr<uint8_t[]> memory_;
  uint8_t* rows_[TBandShrinker::kBandRows] = {};
  int32_t next_ = 0;
};

// The lower shrinker's upright rows, made on the bottom part's thread and
// handed to the sink on the top part's, as soon as that one is free.
class TRowsBelow final : public TUprightRowSink {
 public:
  // Its memory is first touched on the bottom part's thread.
  TRowsBelow(int32_t width, int32_t rows)
      : rowBytes_(3 * static_cast<size_t>(std::max(width, 0))),
        bytes_(new uint8_t[std::max<size_t>(rowBytes_ * static_cast<size_t>(std::max(rows, 0)), 1)]) {}
  void Begin(int32_t, int32_t) override {}
  void TakeRow(const uint8_t* row) override {
    std::memcpy(bytes_.get() + rowBytes_ * made_, row, rowBytes_);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      ++made_;
    }
    changed_.notify_one();
  }
  // No more rows will come.
  void End() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
    }
    changed_.notify_one();
  }
  // Hands every row to the sink as it comes, until End.
  void HandOn(TUprightRowSink& sink) {
    size_t handed = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return made_ > handed || ended_; });
      const size_t made = made_;
      if (made == handed) return;
      lock.unlock();
      for (; handed < made; ++handed) sink.TakeRow(bytes_.get() + rowBytes_ * handed);
      lock.lock();
    }
  }

 private:
  const size_t rowBytes_;
  std::unique_ptr<uint8_t[]> bytes_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t made_ = 0;  // rows in bytes_; written only by the bottom's thread
  bool ended_ = false;
};

}  // namespace

TJobThread::TJobThread() {
  try {
    thread_ = std::thread(&TJobThread::Work, this);
  } catch (const std::system_error&) {
    // No thread to be had: the jobs run on the caller's.
  }
}

TJobThread::~TJobThread() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void TJobThread::Start(std::function<void()> job) {
  if (!thread_.joinable()) {
    job();
    return;
  }
  WakeOnAnotherProcessor(thread_);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    job_ = std::move(job);
  }
  changed_.notify_all();
}

void TJobThread::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !job_; });
}

void TJobThread::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return quit_ || job_; });
    if (quit_) return;
    lock.unlock();
    RunOnAnyProcessor(thread_);
    job_();  // never throws: the job keeps its own errors
    lock.lock();
    job_ = nullptr;
    changed_.notify_all();
  }
}

void DecodeInTwo(TJPEGImage& jpeg, std::string_view photo, const TJpegCut& cut, int32_t width, int32_t height,
                 TTurn turn, TUprightRowSink& sink, TJobThread& beside) {
  const int32_t firstBelow = cut.topRows / 4;
  TRowsBelow rowsBelow(width / 4, height / 4 - firstBelow);
  TRowShrinker upper, lower;
  upper.Begin(width, height, turn, &sink);
  // The upper shrinker's last quarter-size row needs input rows up to the
  // cut; the lower one's first reaches three rows above it, into the
  // bottom part's first MCU row, whose rows but its first are exact.
  lower.BeginBelow(upper, firstBelow, &rowsBelow);
  TPartHalving upperRows(upper, 0, cut.topRows);
  const int32_t bottomStart = cut.topRows - cut.bottomSkip;  // the picture's row of the bottom part's first
  TPartHalving lowerRows(lower, lower.FirstInputRow() - bottomStart, std::numeric_limits<int32_t>::max());
  TJPEGImage bottom;
  std::exception_ptr bottomError;
  const auto decodeBottom = [&] {
    try {
      bottom.TakeCompressed(BottomPart(photo, cut));
      bottom.DecodeRows(lowerRows);
    } catch (...) {
      bottomError = std::current_exception();
    }
    rowsBelow.End();
  };
  beside.Start(decodeBottom);
  std::exception_ptr topError;
  try {
    // The photo's own decode, stopped at the cut: its end is never read.
    TMemoryStream stream(photo.data(), photo.size());
    jpeg.DecodeRowsLeavingEnd(stream, upperRows);
  } catch (...) {
    topError = std::current_exception();
  }
  try {
    // An unturned picture's bottom rows follow the top's while they are
    // still being made.
    if (!topError) rowsBelow.HandOn(sink);
  } catch (...) {
    topError = std::current_exception();
  }
  beside.Wait();
  if (topError) std::rethrow_exception(topError);
  if (bottomError) std::rethrow_exception(bottomError);
  // A turned picture's rows, from the raster both filled.
  upper.Finish();
  lower.Finish();
}

}  // namespace shrinkwell

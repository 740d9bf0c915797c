#include "band_shrinker.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "pixel_memory.h"
#include "system.h"

namespace shrinkwell {

namespace {

// Bands in flight with a worker: one being filled, one being halved, and
// one ready for each, so that neither side waits for the other's handover.
constexpr size_t kBandsWithWorker = 4;

// A worker that naps and finds no band this many times running sleeps until
// the decoder wakes it: the decoder has stalled (a slow disk, a busy core).
constexpr int kEmptyNapsBeforeSleep = 3;
constexpr std::chrono::microseconds kShortestNap{10};
constexpr std::chrono::microseconds kLongestNap{2000};

// A verdict that other work needs a processor is asked again after this,
// then after twice as long each time: the thread closing the last photo's
// copy, or a kernel worker, is often ready just when a picture begins, and
// a verdict held for the whole picture cost 12 MP photos 8 % on average,
// and up to 45 % while such threads were slow.
constexpr std::chrono::microseconds kFirstRejudge{500};

// The decoder writes all its large blocks a row at a time, each at the
// same pace from its start: the worker brings them in alike, a slice of
// each in turn, ahead of the decoder.
constexpr size_t kPopulateSteps = 64;
constexpr uintptr_t kPageSize = 4096;  // where larger, a few pages fall to the decoder

}  // namespace

TBandShrinker::TBandShrinker(THalvingThread thread) : withWorker_(thread == THalvingThread::Worker) {
  if (!withWorker_) return;
  // Started with the pipeline, the worker is running long before the first
  // band: a new thread takes 0.1 to 1 ms to run on this machine.
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
    begun_ = false;
    filled_.clear();
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
  // No step or touch starts after this; the one under way ends first.
  begun_ = false;
  filled_.clear();
  changed_.wait(lock, [this] { return !busy_ && touching_ == 0; });
  EndPicture();
}

std::exception_ptr TBandShrinker::EndPicture() {
  begun_ = false;
  free_.clear();
  untouched_.clear();
  prepared_ = false;
  return std::exchange(error_, nullptr);
}

void TBandShrinker::Touch(TBand& band) const {
  PrefaultMemory(band.bytes, bandCapacity_);
  band.touched = true;
}

void TBandShrinker::Begin(int32_t width, int32_t height) {
  // With a worker, the shrinker and the sink get ready in the first step,
  // mostly the worker's, while the decoder makes its first band.
  if (!withWorker_) shrinker_.Begin(width, height, turn_, sink_);
  width_ = width;
  height_ = height;
  const size_t rowBytes = 4 * static_cast<size_t>(width);
  // In steps of 8 rows, the nearest to kBandPixels; never more than the
  // picture has, nor than a very narrow one needs.
  constexpr int32_t kStep = 8;
  const int32_t wanted = (kBandPixels / std::max(width, 1) + kStep / 2) / kStep;
  const int32_t most = std::min(32, (std::max(height, 1) + kStep - 1) / kStep);
  bandRows_ = std::max(kBandRows, kStep * std::min(wanted, most));
  const size_t bandBytes = rowBytes * static_cast<size_t>(bandRows_);
  bands_.resize(withWorker_ ? kBandsWithWorker : 1);
  // No band is touched now: the last picture was finished or abandoned.
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
    band.rows.resize(static_cast<size_t>(bandRows_));
    for (size_t i = 0; i < band.rows.size(); ++i) band.rows[i] = band.bytes + rowBytes * i;
  }
  // The first touch of new memory costs more than filling it: only the
  // first band is touched here, the others by the worker while the decoder
  // fills that one, or by the decoder when the worker has not got to them.
  if (!bands_[0].touched) Touch(bands_[0]);
  if (!withWorker_) return;
  decoderProcessor_.store(CurrentProcessor(), std::memory_order_relaxed);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++pictures_;
    for (size_t i = 0; i < bands_.size(); ++i) {
      if (bands_[i].touched) {
        free_.push_back(i);
      } else {
        untouched_.push_back(i);
      }
    }
    begun_ = true;
    lastFilled_ = std::chrono::steady_clock::now();
    bandTime_ = std::chrono::nanoseconds::zero();
  }
  changed_.notify_all();
}

bool TBandShrinker::StepWaiting() const { return !busy_ && (!prepared_ || !filled_.empty()); }

void TBandShrinker::TakeStep(std::unique_lock<std::mutex>& lock) {
  busy_ = true;
  const bool prepare = !prepared_;
  size_t band = 0;
  if (!prepare) {
    band = filled_.front();
    filled_.pop_front();
  }
  lock.unlock();
  // After an error the bands are only passed back, so that the decoder
  // never waits forever.
  if (!error_) {
    try {
      if (prepare) {
        shrinker_.Begin(width_, height_, turn_, sink_);
      } else {
        shrinker_.TakeRows(bands_[band].rows.data(), bands_[band].count);
      }
    } catch (...) {
      error_ = std::current_exception();
    }
  }
  lock.lock();
  if (prepare) {
    prepared_ = true;
  } else {
    free_.push_back(band);
  }
  busy_ = false;
  changed_.notify_all();
}

uint8_t* const* TBandShrinker::BandToFill(int32_t& capacity) {
  capacity = bandRows_;
  if (!withWorker_) return bands_[0].rows.data();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (!free_.empty()) {
      lent_ = free_.front();
      free_.pop_front();
      break;
    }
    if (!untouched_.empty()) {
      // A worker slow to start must not hold up the decoder.
      lent_ = untouched_.back();
      untouched_.pop_back();
      lock.unlock();
      Touch(bands_[lent_]);
      break;
    }
    // Every band is filled and the worker is not at one: it has not woken,
    // or its core is taken. The decoder takes the step rather than wait.
    if (StepWaiting()) {
      TakeStep(lock);
    } else {
      changed_.wait(lock);
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
  decoderProcessor_.store(CurrentProcessor(), std::memory_order_relaxed);
  const auto now = std::chrono::steady_clock::now();
  bool wake = true;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    filled_.push_back(lent_);
    bandTime_ = now - lastFilled_;
    lastFilled_ = now;
    // A napping worker comes for the band by itself; it is woken only when
    // the decoder is about to run out of bands.
    wake = !napping_ || free_.empty();
  }
  if (wake) changed_.notify_all();
}

void TBandShrinker::Work() {
  uint64_t judged = 0;  // the picture for which the load was last judged
  auto rejudgeAt = std::chrono::steady_clock::time_point::max();
  auto rejudgeAfter = kFirstRejudge;
  bool keepOff = false;  // the decoder's processor
  int avoided = -1;      // the processor this thread keeps off now
  int emptyNaps = 0;
  const auto bandWork = [this] { return begun_ && (!untouched_.empty() || StepWaiting()); };
  const auto ready = [this, &bandWork] { return quit_ || bandWork() || !largeBlocks_.empty(); };
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (!ready() && keepOff && prepared_ && bandTime_.count() > 0 && emptyNaps < kEmptyNapsBeforeSleep) {
      // Waking a sleeping thread costs the decoder a system call and the
      // other processor's wake-up, at every band. With a processor to itself
      // the worker instead naps until the next band is due, by its own
      // timer (a 3 MP photo: 148 futex calls a run, now 108).
      const auto due = lastFilled_ + bandTime_ - std::chrono::steady_clock::now();
      const auto nap = std::clamp<std::chrono::nanoseconds>(due > due.zero() ? due : bandTime_ / 4,
                                                            kShortestNap, kLongestNap);
      napping_ = true;
      const bool found = changed_.wait_for(lock, nap, ready);
      napping_ = false;
      emptyNaps = found ? 0 : emptyNaps + 1;
      continue;
    }
    changed_.wait(lock, ready);
    emptyNaps = 0;
    if (quit_) return;
    // A virtual machine's scheduler often wakes this thread onto the
    // decoder's processor while the other one idles, taking one its host
    // has set aside for busy: then it takes the decoder's time instead of
    // running beside it (3 MP photos took 5 % longer). So while the system
    // has a processor for every ready thread, it keeps off the decoder's;
    // when other work needs the rest, kept off it would only queue behind
    // that work. Judged again for every picture, and within one while
    // other work seems to need a processor (kFirstRejudge).
    const bool judge = judged != pictures_ || (!keepOff && std::chrono::steady_clock::now() >= rejudgeAt);
    const int decoder = decoderProcessor_.load(std::memory_order_relaxed);
    if (judge || (keepOff ? decoder : -1) != avoided) {
      if (judged != pictures_) rejudgeAfter = kFirstRejudge;
      judged = pictures_;
      lock.unlock();
      if (judge) {
        keepOff = ProcessorsForEveryReadyThread();
        rejudgeAt = std::chrono::steady_clock::now() + rejudgeAfter;
        rejudgeAfter *= 2;
      }
      const int avoid = keepOff ? decoder : -1;
      if (avoid != avoided) AvoidProcessor(avoid);
      avoided = avoid;
      lock.lock();
      continue;  // what was waiting may have been taken meanwhile
    }
    if (!bandWork()) {
      PopulateStep(lock);
    } else if (!untouched_.empty()) {
      const size_t next = untouched_.back();
      untouched_.pop_back();
      ++touching_;
      lock.unlock();
      Touch(bands_[next]);
      lock.lock();
      --touching_;
      free_.push_back(next);
      changed_.notify_all();
    } else {
      TakeStep(lock);
    }
  }
}

void TBandShrinker::PopulateStep(std::unique_lock<std::mutex>& lock) {
  // The block least far along.
  auto block = std::min_element(largeBlocks_.begin(), largeBlocks_.end(), [](const TLargeBlock& a, const TLargeBlock& b) {
    return static_cast<double>(a.done) / static_cast<double>(a.size) <
           static_cast<double>(b.done) / static_cast<double>(b.size);
  });
  uint8_t* const from = block->bytes + block->done;
  // Steps end on page boundaries: a page cut between two would be left out
  // of both.
  const uintptr_t end = (reinterpret_cast<uintptr_t>(from) + block->size / kPopulateSteps + kPageSize) / kPageSize * kPageSize;
  const size_t count = std::min(block->size - block->done, static_cast<size_t>(end - reinterpret_cast<uintptr_t>(from)));
  block->done += count;
  if (block->done == block->size) largeBlocks_.erase(block);
  populating_ = true;
  lock.unlock();
  PopulateMemory(from, count);
  lock.lock();
  populating_ = false;
  changed_.notify_all();
}

std::unique_ptr<TBitmap> TBandShrinker::Finish() {
  if (withWorker_) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (begun_) {
      // The bands still handed over are halved by whoever is free first:
      // the decoder does not wait for a worker that is away.
      for (;;) {
        if (StepWaiting()) {
          TakeStep(lock);
        } else if (busy_ || touching_ > 0) {
          changed_.wait(lock);
        } else {
          break;
        }
      }
    }
    const std::exception_ptr error = EndPicture();
    lock.unlock();
    if (error) std::rethrow_exception(error);
  }
  return shrinker_.Finish();
}

}  // namespace shrinkwell

#include "photo_queue.h"

#include <algorithm>
#include <utility>

#include "system.h"

namespace shrinkwell {

int ProcessorsToUse(int available, const char* threadsSetting) {
  if (threadsSetting == nullptr || *threadsSetting == '\0') return std::max(available, 1);
  long value = 0;
  for (const char* c = threadsSetting; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return std::max(available, 1);
    value = std::min(value * 10 + (*c - '0'), 4096l);
  }
  return value >= 1 ? static_cast<int>(value) : std::max(available, 1);
}

size_t PhotosInFlight(size_t photos, int processors, uint64_t physicalMemory) {
  size_t count = std::min(static_cast<size_t>(std::max(processors, 1)), photos);
  if (physicalMemory > 0) count = std::min<uint64_t>(count, physicalMemory / 4 / kPhotoInFlightBytes);
  return std::max<size_t>(count, 1);
}

TMemoryBudget::TShare::TShare(TShare&& other) noexcept
    : budget_(std::exchange(other.budget_, nullptr)), bytes_(other.bytes_) {}

TMemoryBudget::TShare::~TShare() {
  if (budget_ != nullptr) budget_->GiveBack(bytes_);
}

TMemoryBudget::TShare TMemoryBudget::Take(uint64_t bytes) {
  if (budget_ == 0) return TShare(nullptr, 0);
  std::unique_lock<std::mutex> lock(mutex_);
  given_.wait(lock, [&] { return taken_ == 0 || (taken_ <= budget_ && bytes <= budget_ - taken_); });
  taken_ += bytes;
  return TShare(this, bytes);
}

void TMemoryBudget::GiveBack(uint64_t bytes) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    taken_ -= bytes;
  }
  given_.notify_all();
}

TMemoryBudget& TMemoryBudget::ForTheRun() {
  static TMemoryBudget budget(MemoryForTheRun() / 4);
  return budget;
}

TProcessorShare::TClaim::TClaim(TClaim&& other) noexcept
    : share_(std::exchange(other.share_, nullptr)), count_(std::exchange(other.count_, 0)) {}

TProcessorShare::TClaim::~TClaim() {
  if (share_ == nullptr) return;
  const std::lock_guard<std::mutex> lock(share_->mutex_);
  share_->busy_ -= count_;
}

TProcessorShare::TClaim TProcessorShare::Claim(int more) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const int count = 1 + std::clamp(processors_ - busy_ - 1, 0, std::max(more, 0));
  busy_ += count;
  return TClaim(this, count);
}

TPhotoQueue::TPhotoQueue(std::vector<std::unique_ptr<TPhotoPipeline>>& pipelines, std::vector<TPhotoJob> jobs)
    : pipelines_(pipelines), jobs_(std::move(jobs)) {}

TPreparedPhoto TPhotoQueue::Take(size_t index) {
  Fill(index);
  TInFlight entry = std::move(inFlight_.front());
  inFlight_.pop_front();
  const TPhotoJob& job = jobs_[index];
  // One pipeline: prepared here, on this thread.
  TPreparedPhoto photo =
      entry.prepared.valid() ? entry.prepared.get() : pipelines_.front()->Prepare(job.source, job.output);
  Fill(index + 1);  // its pipeline is free again: the next photo works while this one is stored
  return photo;
}

void TPhotoQueue::Fill(size_t index) {
  next_ = std::max(next_, index);
  while (inFlight_.size() < pipelines_.size() && next_ < jobs_.size()) {
    const size_t photo = next_++;
    if (jobs_[photo].source.empty()) continue;
    // Round the pipelines in turn: a pipeline's last photo was taken before
    // its next one starts, since no more photos than pipelines are in flight.
    TPhotoPipeline& pipeline = *pipelines_[started_++ % pipelines_.size()];
    TInFlight entry{photo, {}};
    if (pipelines_.size() > 1) {
      const TPhotoJob& job = jobs_[photo];
      entry.prepared =
          std::async(std::launch::async, [&pipeline, &job] { return pipeline.Prepare(job.source, job.output); });
    }
    inFlight_.push_back(std::move(entry));
  }
}

}  // namespace shrinkwell

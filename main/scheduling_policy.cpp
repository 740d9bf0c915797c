#include "scheduling_policy.h"

#include <algorithm>
#include <memory>
#include <system_error>
#include <utility>

#include "pixel_memory.h"
#include "system.h"

namespace shrinkwell {

std::future<void> FinishBeside(TJPEGDecodeEnd end) {
  // Only a photo of several scans holds enough to be worth a thread.
  if (!end.HoldsWholePicture()) {
    end.Finish();
    return {};
  }
  auto shared = std::make_shared<TJPEGDecodeEnd>(std::move(end));
  try {
    return std::async(std::launch::async, [shared] { shared->Finish(); });
  } catch (const std::system_error&) {
    shared->Finish();
    return {};
  }
}

TPagesBroughtIn::~TPagesBroughtIn() {
  if (helper_.valid()) helper_.wait();
}

TJPEGImage::TCoefficientObserver TPagesBroughtIn::Observer() {
  if (!MemoryCanBePopulated()) return {};
  return [this](uint8_t* block, size_t size) {
    if (block == nullptr) {
      // The blocks are going: the helper stops after its slice under way.
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        blocks_.clear();
      }
      if (helper_.valid()) helper_.wait();
      return;
    }
    if (!beside_) {
      PopulateMemory(block, size);
      return;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    blocks_.push_back({block, size, 0});
    if (running_) return;
    if (helper_.valid()) helper_.wait();  // done already: it found no block left
    try {
      helper_ = std::async(std::launch::async, [this] { BringIn(); });
      running_ = true;
    } catch (const std::system_error&) {
      blocks_.clear();  // no thread to be had: the decoder's faults bring them in
    }
  };
}

void TPagesBroughtIn::BringIn() {
  constexpr size_t kSlices = 64;
  constexpr uintptr_t kPage = 4096;  // where pages are larger, a few fall to the decoder
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    const auto block = std::min_element(blocks_.begin(), blocks_.end(), [](const TBlock& a, const TBlock& b) {
      return static_cast<double>(a.done) / static_cast<double>(a.size) <
             static_cast<double>(b.done) / static_cast<double>(b.size);
    });
    if (block == blocks_.end()) {
      running_ = false;
      return;
    }
    uint8_t* const from = block->bytes + block->done;
    // Slices end on page boundaries: a page cut between two would be left
    // out of both.
    const uintptr_t end = (reinterpret_cast<uintptr_t>(from) + block->size / kSlices + kPage) / kPage * kPage;
    const size_t count = std::min(block->size - block->done, static_cast<size_t>(end - reinterpret_cast<uintptr_t>(from)));
    block->done += count;
    if (block->done == block->size) blocks_.erase(block);
    lock.unlock();
    PopulateMemory(from, count);
    lock.lock();
  }
}

std::chrono::microseconds BandWorkerNap() { return std::chrono::microseconds(50); }

void WakeOnAnotherProcessor(std::thread& sleeper) { KeepThreadOff(sleeper, CurrentProcessor()); }

void RunOnAnyProcessor(std::thread& self) { KeepThreadOff(self, -1); }

}  // namespace shrinkwell

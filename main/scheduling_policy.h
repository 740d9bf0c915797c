// What only makes a run faster. Each piece is one call from the pipeline
// or the band worker; removing the piece and its call leaves the plain
// version, which gives the same bytes. docs/PERFORMANCE.md gives what each
// was measured to gain, and the pieces measured and dropped.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "jpeg.h"

namespace shrinkwell {

// Finishes the decode on a thread of its own while the caller encodes:
// giving back a progressive photo's coefficients takes milliseconds. The
// result raises what the end raised. Plain version: end.Finish().
std::future<void> FinishBeside(TJPEGDecodeEnd end);

// Brings the pages of a progressive photo's coefficients in
// (TJPEGImage::SetCoefficientObserver) instead of a fault a page while the
// decoder writes them: with a processor to spare on a thread of its own, a
// slice at a time ahead of the decoder; otherwise on the decoder's thread,
// one call a block. Waits for its thread when it goes. Plain version: no
// observer.
class TPagesBroughtIn {
 public:
  explicit TPagesBroughtIn(bool processorToSpare) : beside_(processorToSpare) {}
  TPagesBroughtIn(const TPagesBroughtIn&) = delete;
  TPagesBroughtIn& operator=(const TPagesBroughtIn&) = delete;
  ~TPagesBroughtIn();
  // The observer to give the photo; it lives as long as this object.
  TJPEGImage::TCoefficientObserver Observer();

 private:
  struct TBlock {
    uint8_t* bytes;
    size_t size;
    size_t done;  // bytes from the start brought in
  };
  // On the helper thread: a slice of the block least far along at a time,
  // since the decoder writes all of them at the same pace, until none is
  // left.
  void BringIn();

  const bool beside_;
  std::mutex mutex_;
  std::vector<TBlock> blocks_;
  bool running_ = false;
  std::future<void> helper_;
};

// How long the band worker naps between the bands of a picture, by its own
// timer, before it sleeps until the decoder wakes it: waking a sleeping
// thread costs the decoder a system call and the other processor's wake-up
// at every band. Plain version: zero, no naps.
std::chrono::microseconds BandWorkerNap();

// A sleeping helper woken on the waker's own processor takes it from the
// waker for milliseconds before the scheduler moves one of them; so it is
// woken on another (call before waking it) and, once awake, may run
// anywhere again (it calls the second with its own thread). Plain version:
// neither call.
void WakeOnAnotherProcessor(std::thread& sleeper);
void RunOnAnyProcessor(std::thread& self);

}  // namespace shrinkwell

// Within the POSIX platform layer: holding back the signals that interrupt
// a run, so that a file and its registration for removal come about
// together on this thread.
#pragma once

#include <signal.h>

namespace shrinkwell {

class TInterruptsHeld {
 public:
  TInterruptsHeld();
  ~TInterruptsHeld();
  TInterruptsHeld(const TInterruptsHeld&) = delete;
  TInterruptsHeld& operator=(const TInterruptsHeld&) = delete;

 private:
  sigset_t saved_;
};

// Whether an interruption has begun to remove this run's files: a file
// registered after that may have been missed, and goes at once.
bool InterruptionEnding();

}  // namespace shrinkwell

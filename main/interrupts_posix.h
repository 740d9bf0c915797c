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

}  // namespace shrinkwell

// What takes this run's files away when a signal ends it, and keeps an
// interruption from meeting a file half made. Platform layer (POSIX and
// Win32).
#pragma once

#include <cstdint>
#include <string>

namespace shrinkwell {

// Which file a name stood for when we made it: a removal by name checks it
// first, so that it never takes an entry someone else put there since.
struct TFileIdentity {
  uint64_t device = 0;
  uint64_t index = 0;
  bool operator==(const TFileIdentity& other) const { return device == other.device && index == other.index; }
};

// Makes Ctrl+C, SIGTERM and SIGHUP (on Windows Ctrl+C, Ctrl+Break and the
// console window closing) remove every file registered below and then end
// the process as the signal would (the shell shows 130 for Ctrl+C). Called
// once at program start.
void InstallInterruptCleanup();

// While it lives an interruption waits before it removes this run's files,
// so that it never meets a file in use (Windows cannot remove an open file)
// nor one that another thread is still making. It may be nested. Every
// scratch file is made and removed while one lives.
class TScratchInUse {
 public:
  TScratchInUse();
  ~TScratchInUse();
  TScratchInUse(const TScratchInUse&) = delete;
  TScratchInUse& operator=(const TScratchInUse&) = delete;
};

// Registers a file's name for removal on interruption while this object
// lives, if the name then still names that file. It does not remove the
// file.
class TRemovedOnInterrupt {
 public:
  TRemovedOnInterrupt(const std::u16string& name, const TFileIdentity& identity);
  ~TRemovedOnInterrupt();
  TRemovedOnInterrupt(const TRemovedOnInterrupt&) = delete;
  TRemovedOnInterrupt& operator=(const TRemovedOnInterrupt&) = delete;

 private:
  int slot_ = -1;
};

}  // namespace shrinkwell

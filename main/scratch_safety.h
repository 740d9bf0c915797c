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
// once at program start, before any other thread: on POSIX the signals are
// then taken by a thread of their own, never by a handler.
void InstallInterruptCleanup();

// Held while a file of ours is made and registered, or removed and let go:
// an interruption removes this run's files only when none is half made or
// half gone. Held for microseconds; it may be nested.
class TFilesChanging {
 public:
  TFilesChanging();
  ~TFilesChanging();
  TFilesChanging(const TFilesChanging&) = delete;
  TFilesChanging& operator=(const TFilesChanging&) = delete;
};

// Held while a scratch file is in use. Windows cannot remove an open file,
// so there an interruption waits for it too; elsewhere it holds nothing.
class TScratchInUse {
 public:
  TScratchInUse();
  ~TScratchInUse();
  TScratchInUse(const TScratchInUse&) = delete;
  TScratchInUse& operator=(const TScratchInUse&) = delete;
};

// Registers a file's name for removal on interruption while this object
// lives, if the name then still names that file. It does not remove the
// file. Made and dropped with TFilesChanging held.
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

// What keeps the scratch files of one run apart from every other run and
// from an interruption: a lock on the working directory's scratch names and
// the removal of this run's files when a signal ends it. Platform layer
// (POSIX here).
#pragma once

#include <cstdint>
#include <string>

namespace shrinkwell {

// An exclusive lock on the scratch names of the working directory, held
// while it lives. A second run in the same folder waits in the constructor
// until the first lets go. It is a kernel lock on the folder itself: no
// lock file exists, and a run that crashes releases it with its process.
class TScratchLock {
 public:
  TScratchLock();
  ~TScratchLock();
  TScratchLock(const TScratchLock&) = delete;
  TScratchLock& operator=(const TScratchLock&) = delete;

 private:
  intptr_t handle_ = -1;  // a descriptor of the folder, or a Windows mutex
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

// Registers a file name (8-bit, as the file functions take it) for removal
// on interruption while this object lives. It does not remove the file.
class TRemovedOnInterrupt {
 public:
  explicit TRemovedOnInterrupt(const std::string& name);
  ~TRemovedOnInterrupt();
  TRemovedOnInterrupt(const TRemovedOnInterrupt&) = delete;
  TRemovedOnInterrupt& operator=(const TRemovedOnInterrupt&) = delete;

 private:
  int slot_ = -1;
};

}  // namespace shrinkwell

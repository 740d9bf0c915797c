// Win32 interruption: Ctrl+C, Ctrl+Break and a closed console window remove
// this run's files and end the process with the status a POSIX shell would
// show. The console control handler runs on a thread of its own, and waits
// for the files in use (Windows cannot remove an open file).
#include <windows.h>

#include <map>
#include <string>

#include "scratch_safety.h"
#include "wide_names.h"

namespace shrinkwell {

namespace {

// The files an interruption removes, under the lock below.
std::map<int, std::u16string>& Registered() {
  static std::map<int, std::u16string> files;
  return files;
}

// Held while a scratch file is in use or comes into being together with its
// registration, and by the handler while it removes the files. A critical
// section, since the two may nest on one thread.
CRITICAL_SECTION& CleanupLock() {
  // Made where it stays: a critical section must never be copied.
  struct TLock {
    TLock() { InitializeCriticalSection(&section); }
    CRITICAL_SECTION section;
  };
  static TLock lock;
  return lock.section;
}

BOOL WINAPI RemoveFilesAndEnd(DWORD event) {
  EnterCriticalSection(&CleanupLock());
  for (const auto& [key, name] : Registered()) {
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(name.c_str());
    SetFileAttributesW(wide, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(wide);
  }
  // The statuses a POSIX shell shows for the same interruptions: 130 for
  // Ctrl+C (and Ctrl+Break), 129 when the console goes away.
  ExitProcess(event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 130 : 129);
  return TRUE;
}

}  // namespace

TScratchInUse::TScratchInUse() { EnterCriticalSection(&CleanupLock()); }
TScratchInUse::~TScratchInUse() { LeaveCriticalSection(&CleanupLock()); }
TFilesChanging::TFilesChanging() { EnterCriticalSection(&CleanupLock()); }
TFilesChanging::~TFilesChanging() { LeaveCriticalSection(&CleanupLock()); }

void InstallInterruptCleanup() {
  CleanupLock();  // made before any handler can want it
  SetConsoleCtrlHandler(RemoveFilesAndEnd, TRUE);
}

// Removed by name: while the run makes or uses a file, the handler waits
// (TScratchInUse), and our files are removed when that work ends.
TRemovedOnInterrupt::TRemovedOnInterrupt(const std::u16string& name, const TFileIdentity&) {
  const TFilesChanging changing;
  static int next = 0;
  slot_ = next++;
  Registered()[slot_] = name;
}

TRemovedOnInterrupt::~TRemovedOnInterrupt() {
  const TFilesChanging changing;
  Registered().erase(slot_);
}

}  // namespace shrinkwell

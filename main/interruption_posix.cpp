// POSIX interruption: SIGINT, SIGTERM and SIGHUP remove this run's files
// (each only while its name still names the file we made) and end the
// process as the signal would.
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <iterator>

#include "interrupts_posix.h"
#include "scratch_safety.h"
#include "wide_names.h"

namespace shrinkwell {

namespace {

// The signals that end a run and take its files with them.
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The files an interruption removes. Written by the run, read by the signal
// handler: a slot is claimed, its name and identity written, and only then
// marked in use.
enum : int { kSlotFree, kSlotClaimed, kSlotInUse };
struct TCleanupSlot {
  std::atomic<int> state{kSlotFree};
  char name[PATH_MAX];
  dev_t device;
  ino_t inode;
};
TCleanupSlot cleanupSlots[8];
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slots");

// The scratch work under way on all threads (TScratchInUse), and whether an
// interruption has begun to remove the files.
std::atomic<int> scratchInUse{0};
std::atomic<bool> ending{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler writes it");
thread_local int inUseDepth = 0;

void RemoveFilesAndEnd(int signal) {
  // The handler may run on any thread while another makes a scratch file:
  // removed before it exists, that file would stay behind. So it waits for
  // the scratch work of other threads (its own thread's stands still), and
  // none starts after this. Not forever: a thread that waits for a lock
  // this one holds would never get there.
  ending.store(true);
  const int own = inUseDepth > 0 ? 1 : 0;
  for (int waited = 0; scratchInUse.load() > own && waited < 2000; ++waited) {
    const timespec pause{0, 1000000};
    ::nanosleep(&pause, nullptr);
  }
  for (TCleanupSlot& slot : cleanupSlots) {
    if (slot.state.load() != kSlotInUse) continue;
    // Only our own file: whatever took its name since stays.
    struct stat info;
    if (::fstatat(AT_FDCWD, slot.name, &info, AT_SYMLINK_NOFOLLOW) == 0 && info.st_dev == slot.device &&
        info.st_ino == slot.inode) {
      ::unlink(slot.name);
    }
  }
  // End as the signal would have ended the process, so that the shell and
  // any caller see the interruption for what it was.
  ::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);
}

}  // namespace

bool InterruptionEnding() { return ending.load(); }

TInterruptsHeld::TInterruptsHeld() {
  sigset_t interrupting;
  sigemptyset(&interrupting);
  for (int signal : kInterruptSignals) sigaddset(&interrupting, signal);
  ::pthread_sigmask(SIG_BLOCK, &interrupting, &saved_);
}

TInterruptsHeld::~TInterruptsHeld() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

TScratchInUse::TScratchInUse() {
  if (inUseDepth++ > 0) return;
  scratchInUse.fetch_add(1);
  if (ending.load()) {
    // An interruption on another thread is removing this run's files and
    // ends the run: nothing new may be made now.
    scratchInUse.fetch_sub(1);
    --inUseDepth;
    for (;;) ::pause();
  }
}

TScratchInUse::~TScratchInUse() {
  if (--inUseDepth == 0) scratchInUse.fetch_sub(1);
}

void InstallInterruptCleanup() {
  struct sigaction action {};
  action.sa_handler = RemoveFilesAndEnd;
  sigemptyset(&action.sa_mask);
  for (int signal : kInterruptSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kInterruptSignals) {
    // A signal ignored at start (a run under nohup) stays ignored.
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

TRemovedOnInterrupt::TRemovedOnInterrupt(const std::u16string& wideName, const TFileIdentity& identity) {
  const std::string name = ToNarrow(wideName);
  if (name.size() >= PATH_MAX) return;  // cannot be named to unlink either
  for (int i = 0; i < static_cast<int>(std::size(cleanupSlots)); ++i) {
    TCleanupSlot& slot = cleanupSlots[i];
    int expected = kSlotFree;
    if (!slot.state.compare_exchange_strong(expected, kSlotClaimed)) continue;
    std::memcpy(slot.name, name.c_str(), name.size() + 1);
    slot.device = static_cast<dev_t>(identity.device);
    slot.inode = static_cast<ino_t>(identity.index);
    slot.state.store(kSlotInUse);
    slot_ = i;
    return;
  }
}

TRemovedOnInterrupt::~TRemovedOnInterrupt() {
  if (slot_ >= 0) cleanupSlots[slot_].state.store(kSlotFree);
}

}  // namespace shrinkwell

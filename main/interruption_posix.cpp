// POSIX interruption: SIGINT, SIGTERM and SIGHUP are taken by a thread of
// their own (sigwait), not by a handler, so that removing this run's files
// is ordinary code. It removes each file only while its name still names
// it, and ends the process as the signal would.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "scratch_safety.h"
#include "wide_names.h"

namespace shrinkwell {

namespace {

// The signals that end a run and take its files with them.
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

struct TRegistered {
  std::string name;
  TFileIdentity identity;
};

// The files an interruption removes, and the lock that files are made and
// removed under: the interruption takes it and keeps it to the end.
std::recursive_mutex& Lock() {
  static std::recursive_mutex lock;
  return lock;
}
std::map<int, TRegistered>& Registered() {
  static std::map<int, TRegistered> files;
  return files;
}

void RemoveFilesAndEnd(sigset_t signals) {
  int signal = 0;
  while (::sigwait(&signals, &signal) != 0) {
  }
  // Waits for a file half made or half gone; nothing is made after this.
  Lock().lock();
  for (const auto& [key, file] : Registered()) {
    struct stat info;
    if (::fstatat(AT_FDCWD, file.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        static_cast<uint64_t>(info.st_dev) == file.identity.device &&
        static_cast<uint64_t>(info.st_ino) == file.identity.index) {
      ::unlink(file.name.c_str());
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

void InstallInterruptCleanup() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : kInterruptSignals) {
    // A signal ignored at start (a run under nohup) stays ignored.
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaddset(&signals, signal);
  }
  // Blocked here, and so in every thread started after: only sigwait takes
  // them.
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread(RemoveFilesAndEnd, signals).detach();
}

TFilesChanging::TFilesChanging() { Lock().lock(); }
TFilesChanging::~TFilesChanging() { Lock().unlock(); }

// POSIX removes an open file's name as well as a closed one's.
TScratchInUse::TScratchInUse() = default;
TScratchInUse::~TScratchInUse() = default;

TRemovedOnInterrupt::TRemovedOnInterrupt(const std::u16string& name, const TFileIdentity& identity) {
  const std::lock_guard<std::recursive_mutex> lock(Lock());
  static int next = 0;
  slot_ = next++;
  Registered()[slot_] = {ToNarrow(name), identity};
}

TRemovedOnInterrupt::~TRemovedOnInterrupt() {
  const std::lock_guard<std::recursive_mutex> lock(Lock());
  Registered().erase(slot_);
}

}  // namespace shrinkwell

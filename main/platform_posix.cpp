// POSIX implementation of the command line and the file operations, keeping
// the results the driver relies on from the Windows functions: a move never
// replaces a file and works across file systems, a copy may overwrite, the
// existence test is false for directories and honours wildcards.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "errors.h"
#include "scratch_safety.h"
#include "system.h"
#include "wide_names.h"

namespace shrinkwell {

namespace {

std::vector<std::u16string>& Arguments() {
  static std::vector<std::u16string> arguments;
  return arguments;
}

// The signals that end a run and take its files with them.
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The files an interruption removes. Written by the run, read by the signal
// handler: a slot is claimed, its name written, and only then marked in use.
enum : int { kSlotFree, kSlotClaimed, kSlotInUse };
struct TCleanupSlot {
  std::atomic<int> state{kSlotFree};
  char name[PATH_MAX];
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
    if (slot.state.load() == kSlotInUse) ::unlink(slot.name);
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

TFileResult Failure(int code) {
  TFileResult result;
  result.error = code != 0 ? code : EIO;
  result.targetExists = code == EEXIST;
  return result;
}

// Keeps errno across clean-up calls that may change it.
class ErrnoKeeper {
 public:
  ErrnoKeeper() : saved_(errno) {}
  ~ErrnoKeeper() { errno = saved_; }

 private:
  int saved_;
};

bool CopyBytes(int in, int out) {
  // In the kernel where the file systems allow it (no trip through user
  // memory, a clone on copy-on-write file systems), else through a buffer.
  for (;;) {
    const ssize_t done = ::copy_file_range(in, nullptr, out, nullptr, size_t{1} << 30, 0);
    if (done > 0) continue;
    if (done == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF) return false;
    break;
  }
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    ssize_t done = 0;
    while (done < got) {
      const ssize_t put = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return false;
      if (put == 0) {
        errno = ENOSPC;
        return false;
      }
      done += put;
    }
  }
}

// A file descriptor closed when it goes; errno survives the close.
class TDescriptor {
 public:
  explicit TDescriptor(int fd = -1) : fd_(fd) {}
  ~TDescriptor() {
    if (fd_ >= 0) {
      ErrnoKeeper keep;
      ::close(fd_);
    }
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  int Get() const { return fd_; }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and reports a failure to write back (a full network share).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 || errno == EINTR;
  }

 private:
  int fd_;
};

// Opens a regular file for copying; false (errno set) for anything else.
bool OpenCopySource(const std::string& source, TDescriptor& in, struct stat& info) {
  // Non-blocking so that a named pipe given as a photo cannot hang the run.
  in.Reset(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (in.Get() < 0 || ::fstat(in.Get(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  return true;
}

// Signals that interrupt a run are held back while it lives.
class TInterruptsHeld {
 public:
  TInterruptsHeld() {
    sigset_t interrupting;
    sigemptyset(&interrupting);
    for (int signal : kInterruptSignals) sigaddset(&interrupting, signal);
    ::pthread_sigmask(SIG_BLOCK, &interrupting, &saved_);
  }
  ~TInterruptsHeld() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  TInterruptsHeld(const TInterruptsHeld&) = delete;
  TInterruptsHeld& operator=(const TInterruptsHeld&) = delete;

 private:
  sigset_t saved_;
};

// A new file of our own under name (or, for a name ending in XXXXXX, a new
// unique name): created exclusively, never through a link, owner-only, and
// removed by an interruption from the moment it exists.
int CreateOwnFile(std::string& name, std::unique_ptr<TRemovedOnInterrupt>& registration) {
  TInterruptsHeld held;
  const bool unique = name.size() >= 6 && name.compare(name.size() - 6, 6, "XXXXXX") == 0;
  const int fd = unique ? ::mkostemp(&name[0], O_CLOEXEC)
                        : ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) registration = std::make_unique<TRemovedOnInterrupt>(name);
  return fd;
}

// Copies source onto target, never through a link. exclusive: the target
// must not exist and is created atomically; otherwise an existing target is
// emptied and rewritten, unless it is the source itself. A target the copy
// creates is readable and writable by the owner only. On failure errno
// tells why and no partial target is left.
bool CopyFileBytes(const std::string& source, const std::string& target, bool exclusive) {
  TDescriptor in;
  struct stat sourceInfo;
  if (!OpenCopySource(source, in, sourceInfo)) return false;
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (exclusive ? O_EXCL : 0);
  TDescriptor out(::open(target.c_str(), flags, 0600));
  if (out.Get() < 0) return false;
  struct stat targetInfo;
  if (::fstat(out.Get(), &targetInfo) != 0) return false;
  if (targetInfo.st_dev == sourceInfo.st_dev && targetInfo.st_ino == sourceInfo.st_ino) {
    // Emptying the target would destroy the source: refuse, leave both.
    errno = EINVAL;
    return false;
  }
  // A file made here is empty already; emptying it anyway would mark it on
  // ext4 as rewritten in place, and its close would then force the whole
  // copy to disk (only to be removed a moment later).
  if ((exclusive || ::ftruncate(out.Get(), 0) == 0) && CopyBytes(in.Get(), out.Get()) && out.Close()) return true;
  ErrnoKeeper keep;
  ::unlink(target.c_str());
  return false;
}

// Gives source's file the name target when no entry has that name; atomic
// where the file system allows. EEXIST when the name is taken.
bool RenameWithoutReplacing(const std::string& source, const std::string& target) {
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // The file system cannot rename without replacing: a hard link can.
  if (::link(source.c_str(), target.c_str()) != 0) return false;
  if (::unlink(source.c_str()) == 0) return true;
  ErrnoKeeper keep;
  ::unlink(target.c_str());
  return false;
}

// The errors of a file system that has no hard links.
bool IsNoLinkError(int error) { return error == EPERM || error == EOPNOTSUPP || error == EMLINK; }

// Copies source to target when a rename cannot do it: to a temporary file of
// our own in the target's folder, which then takes the target's name
// without replacing it, so that an interruption or a full disk leaves no
// partial file under the target's name. Only a file system that can neither
// rename without replacing nor link gets the copy straight under the
// target's name, created exclusively. The copy has the source's
// permissions, as a rename would give it, and its data is on the disk
// before it carries the name.
bool CopyToNewName(const std::string& source, const std::string& target, bool throughTemporary) {
  TDescriptor in;
  struct stat sourceInfo;
  if (!OpenCopySource(source, in, sourceInfo)) return false;
  const size_t slash = target.rfind('/');
  std::string name = throughTemporary
                         ? (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + ".shrinkwell-XXXXXX"
                         : target;
  std::unique_ptr<TRemovedOnInterrupt> registration;
  TDescriptor out(CreateOwnFile(name, registration));
  if (out.Get() < 0) return false;
  if (CopyBytes(in.Get(), out.Get()) && ::fchmod(out.Get(), sourceInfo.st_mode & 07777) == 0 &&
      ::fsync(out.Get()) == 0 && out.Close() && (!throughTemporary || RenameWithoutReplacing(name, target))) {
    return true;
  }
  ErrnoKeeper keep;
  ::unlink(name.c_str());
  return false;
}

bool HasWildcard(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

}  // namespace

void SetCommandLine(int argc, const char* const* argv) {
  auto& arguments = Arguments();
  arguments.clear();
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr && argv[i][0] != '\0') arguments.push_back(ToWide(argv[i]));
  }
}

int ArgumentCount() { return static_cast<int>(Arguments().size()); }

std::u16string ArgumentAt(int index) {
  if (index == 0) {
    std::vector<char> path(4096);
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0 || static_cast<size_t>(length) >= path.size()) {
      throw EOSError(SystemErrorMessage(length < 0 ? errno : ENAMETOOLONG));
    }
    return ToWide(std::string(path.data(), static_cast<size_t>(length)));
  }
  const auto& arguments = Arguments();
  if (index < 0 || static_cast<size_t>(index) > arguments.size()) return std::u16string();
  return arguments[static_cast<size_t>(index) - 1];
}

bool IsExistingFile(const std::u16string& name) {
  const std::string path = ToNarrow(name);
  struct stat info;
  if (::stat(path.c_str(), &info) == 0) return !S_ISDIR(info.st_mode);
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string pattern = slash == std::string::npos ? path : path.substr(slash + 1);
  if (!HasWildcard(pattern) || HasWildcard(folder)) return false;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool isFile = false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string entryName = entry->d_name;
    if (entryName == "." || entryName == "..") continue;
    if (::fnmatch(pattern.c_str(), entryName.c_str(), 0) != 0) continue;
    const std::string full = slash == std::string::npos ? entryName : folder + entryName;
    isFile = ::stat(full.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
    break;
  }
  ::closedir(dir);
  return isFile;
}

TScratchLock::TScratchLock() {
  const int folder = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return;  // making the scratch files fails and says why
  while (::flock(folder, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    // A file system without locks (some network shares): the run goes on
    // unprotected rather than not at all.
    ::close(folder);
    return;
  }
  handle_ = folder;
}

TScratchLock::~TScratchLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // closing lets go of the lock
}

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

TRemovedOnInterrupt::TRemovedOnInterrupt(const std::string& name) {
  if (name.size() >= PATH_MAX) return;  // cannot be named to unlink either
  for (int i = 0; i < static_cast<int>(std::size(cleanupSlots)); ++i) {
    TCleanupSlot& slot = cleanupSlots[i];
    int expected = kSlotFree;
    if (!slot.state.compare_exchange_strong(expected, kSlotClaimed)) continue;
    std::memcpy(slot.name, name.c_str(), name.size() + 1);
    slot.state.store(kSlotInUse);
    slot_ = i;
    return;
  }
}

TRemovedOnInterrupt::~TRemovedOnInterrupt() {
  if (slot_ >= 0) cleanupSlots[slot_].state.store(kSlotFree);
}

bool EntryExists(const std::u16string& name) {
  struct stat info;
  return ::lstat(ToNarrow(name).c_str(), &info) == 0;
}

TFileResult CopyFileTo(const std::u16string& source, const std::u16string& target, bool failIfExists) {
  if (!CopyFileBytes(ToNarrow(source), ToNarrow(target), failIfExists)) return Failure(errno);
  return TFileResult::Success();
}

TFileResult RemoveFile(const std::u16string& name) {
  if (::unlink(ToNarrow(name).c_str()) != 0) return Failure(errno);
  return TFileResult::Success();
}

bool OpenFilesCanBeRemoved() { return true; }

TFileResult MoveFileTo(const std::u16string& source, const std::u16string& target) {
  const std::string from = ToNarrow(source);
  const std::string to = ToNarrow(target);
  if (RenameWithoutReplacing(from, to)) return TFileResult::Success();
  const bool otherFileSystem = errno == EXDEV;
  if (!otherFileSystem && !IsNoLinkError(errno)) return Failure(errno);
  bool copied = otherFileSystem && CopyToNewName(from, to, true);
  if (!copied && IsNoLinkError(errno)) copied = CopyToNewName(from, to, false);
  if (!copied) return Failure(errno);
  if (::unlink(from.c_str()) != 0) {
    // Take the copy back, so that nothing is doubled.
    ErrnoKeeper keep;
    ::unlink(to.c_str());
    return Failure(errno);
  }
  return TFileResult::Success();
}

// File names on POSIX are byte strings that need not be valid UTF-8. Bytes
// that do not form a valid sequence become the lone surrogates U+DC80 to
// U+DCFF and turn back into the same bytes, so every name survives the trip.
std::u16string ToWide(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
      out += static_cast<char16_t>(b0);
      ++i;
      continue;
    }
    int length = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2, code = b0 & 0x1F, minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3, code = b0 & 0x0F, minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4, code = b0 & 0x07, minimum = 0x10000;
    }
    bool valid = length > 0 && i + length <= n;
    for (int k = 1; valid && k < length; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80) valid = false;
      code = (code << 6) | (b & 0x3F);
    }
    if (valid && (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) valid = false;
    if (!valid) {
      out += static_cast<char16_t>(0xDC00 + b0);
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
    i += static_cast<size_t>(length);
  }
  return out;
}

std::string ToNarrow(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  auto put = [&out](char32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      put(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      out += static_cast<char>(c - 0xDC00);  // a byte kept from an undecodable name
    } else {
      put(c);
    }
  }
  return out;
}

}  // namespace shrinkwell

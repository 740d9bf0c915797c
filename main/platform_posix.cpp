// POSIX implementation of the command line and the file operations, keeping
// the results the driver relies on from the Windows functions: a move never
// replaces a file and works across file systems, a copy may overwrite, the
// existence test is false for directories and honours wildcards.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "errors.h"
#include "system.h"
#include "wide_names.h"

namespace shrinkwell {

namespace {

std::vector<std::u16string>& Arguments() {
  static std::vector<std::u16string> arguments;
  return arguments;
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

// Copies source onto target. exclusive: the target must not exist (it is
// created atomically); otherwise an existing target is emptied and
// rewritten, unless it is the source itself. On failure errno tells why and
// no partial target is left.
bool CopyFileBytes(const std::string& source, const std::string& target, bool exclusive) {
  // Non-blocking so that a named pipe given as a photo cannot hang the run.
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) return false;
  struct stat sourceInfo;
  if (::fstat(in, &sourceInfo) != 0) {
    ErrnoKeeper keep;
    ::close(in);
    return false;
  }
  if (!S_ISREG(sourceInfo.st_mode)) {
    ::close(in);
    errno = S_ISDIR(sourceInfo.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : 0);
  const int out = ::open(target.c_str(), flags, sourceInfo.st_mode & 0777);
  if (out < 0) {
    ErrnoKeeper keep;
    ::close(in);
    return false;
  }
  struct stat targetInfo;
  bool ok = ::fstat(out, &targetInfo) == 0;
  if (ok && targetInfo.st_dev == sourceInfo.st_dev && targetInfo.st_ino == sourceInfo.st_ino) {
    // Emptying the target would destroy the source: refuse, leave both.
    ::close(out);
    ::close(in);
    errno = EINVAL;
    return false;
  }
  ok = ok && ::ftruncate(out, 0) == 0 && CopyBytes(in, out);
  if (!ok) {
    ErrnoKeeper keep;
    ::close(out);
    ::close(in);
    ::unlink(target.c_str());
    return false;
  }
  ::close(in);
  if (::close(out) != 0) {
    ErrnoKeeper keep;
    ::unlink(target.c_str());
    return false;
  }
  return true;
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

TFileResult MoveFileTo(const std::u16string& source, const std::u16string& target) {
  const std::string from = ToNarrow(source);
  const std::string to = ToNarrow(target);
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return TFileResult::Success();
  if (errno != EINVAL && errno != ENOSYS && errno != EXDEV) return Failure(errno);
  if (errno != EXDEV) {
    // The file system cannot rename without replacing: a hard link can.
    if (::link(from.c_str(), to.c_str()) == 0) {
      if (::unlink(from.c_str()) == 0) return TFileResult::Success();
      ErrnoKeeper keep;
      ::unlink(to.c_str());
      return Failure(errno);
    }
    if (errno != EXDEV && errno != EPERM && errno != ENOTSUP && errno != EMLINK) return Failure(errno);
  }
  // Another file system: copy onto a name that must not exist, then remove
  // the source; if that fails, take the copy back so nothing is doubled.
  if (!CopyFileBytes(from, to, true)) return Failure(errno);
  if (::unlink(from.c_str()) != 0) {
    ErrnoKeeper keep;
    ::unlink(to.c_str());
    return Failure(errno);
  }
  return TFileResult::Success();
}

}  // namespace shrinkwell

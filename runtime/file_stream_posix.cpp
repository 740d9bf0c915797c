// The file stream over POSIX file descriptors.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <utility>

#include "errors.h"
#include "file_stream.h"
#include "system.h"

namespace shrinkwell {

namespace {

// The user's file creation mask, read once before any thread could create
// a file meanwhile.
mode_t ReadCreationMask() {
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}
const mode_t creationMask = ReadCreationMask();

int Fd(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

std::unique_ptr<TFileStream> TFileStream::OpenForReading(const std::string& name, int& error) {
  // First a reference that opens nothing (opening a device or a pipe can
  // do things, or wait), and only a regular file is then opened through it:
  // the same file, whatever happens to the name meanwhile.
  const int reference = ::open(name.c_str(), O_PATH | O_CLOEXEC);
  if (reference < 0) {
    error = errno;
    return nullptr;
  }
  const TFileStream referenceHeld{TOwnedHandle{reference}};
  struct stat info;
  if (::fstat(reference, &info) != 0) {
    error = errno;
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    error = S_ISDIR(info.st_mode) ? EISDIR : kNotARegularFile;
    return nullptr;
  }
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", reference);
  const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = ::open(path, flags);
  if (fd < 0 && errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0) {
    // No /proc (a bare chroot): the name once more, and the file it gives
    // must be the one looked at.
    fd = ::open(name.c_str(), flags);
    struct stat opened;
    if (fd >= 0 && (::fstat(fd, &opened) != 0 || opened.st_dev != info.st_dev || opened.st_ino != info.st_ino)) {
      ::close(fd);
      fd = -1;
      errno = EAGAIN;
    }
  }
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  error = 0;
  return std::make_unique<TFileStream>(TOwnedHandle{fd});
}

TFileStream::TFileStream(const std::string& name, Mode mode) {
  if (mode == Mode::OpenRead) {
    int error = 0;
    std::unique_ptr<TFileStream> file = OpenForReading(name, error);
    if (!file) {
      throw EFOpenError(Format("Datei %s kann nicht geöffnet werden. %s", ExpandFileName(name).c_str(),
                               SystemErrorMessage(error).c_str()));
    }
    std::swap(handle_, file->handle_);
  } else {
    handle_ = mode == Mode::CreateNew ? ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)
                                      : ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (handle_ < 0) {
      throw EFCreateError(Format("Datei \"%s\" kann nicht erstellt werden. %s", ExpandFileName(name).c_str(),
                                 SystemErrorMessage(errno).c_str()));
    }
  }
}

TFileStream::~TFileStream() {
  if (handle_ >= 0) ::close(Fd(handle_));
}

int64_t TFileStream::Size() const {
  struct stat info;
  if (::fstat(Fd(handle_), &info) != 0) return 0;
  return static_cast<int64_t>(info.st_size);
}

TFileFacts TFileStream::Facts() const {
  TFileFacts facts;
  struct stat info;
  if (::fstat(Fd(handle_), &info) != 0) return facts;
  facts.size = static_cast<int64_t>(info.st_size);
  struct tm local;
  const time_t seconds = info.st_mtime;
  localtime_r(&seconds, &local);
  facts.modifiedDays = (static_cast<double>(seconds) + static_cast<double>(local.tm_gmtoff)) / 86400.0 + 25569.0;
  return facts;
}

size_t TFileStream::Read(void* buffer, size_t count) {
  size_t done = 0;
  char* out = static_cast<char*>(buffer);
  while (done < count) {
    const ssize_t got = ::pread(Fd(handle_), out + done, count - done, position_);
    if (got < 0 && errno == EINTR) continue;
    // A failing disk is no end of the file: what follows would be missing.
    if (got < 0) throw EReadError("Stream-Lesefehler");
    if (got == 0) break;
    done += static_cast<size_t>(got);
    position_ += got;
  }
  return done;
}

void TFileStream::WriteBuffer(const void* buffer, size_t count) {
  const char* in = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const ssize_t put = ::pwrite(Fd(handle_), in + done, count - done, position_);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) throw EWriteError("Stream-Schreibfehler");
    done += static_cast<size_t>(put);
    position_ += put;
  }
}

uint32_t TFileStream::AccessBits() const {
  struct stat info;
  return ::fstat(Fd(handle_), &info) == 0 ? static_cast<uint32_t>(info.st_mode & 07777) : 0;
}

void TFileStream::ShareLike(uint32_t accessBits) {
  ::fchmod(Fd(handle_), (0666 & ~creationMask) & (static_cast<mode_t>(accessBits) | 0600));
}

void TFileStream::Flush() {
  // A network file system writes back, and reports what failed, whenever
  // a descriptor of the file is closed: this one stays open.
  const int other = ::fcntl(Fd(handle_), F_DUPFD_CLOEXEC, 0);
  if (other < 0 || (::close(other) != 0 && errno != EINTR)) throw EWriteError("Stream-Schreibfehler");
}

void TFileStream::Close() {
  if (handle_ < 0) return;
  const int fd = Fd(handle_);
  handle_ = -1;
  if (::close(fd) != 0 && errno != EINTR) throw EWriteError("Stream-Schreibfehler");
}

}  // namespace shrinkwell

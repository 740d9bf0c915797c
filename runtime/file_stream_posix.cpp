// The file stream over POSIX file descriptors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

TFileStream::TFileStream(const std::string& name, Mode mode) {
  if (mode == Mode::OpenRead) {
    handle_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (handle_ >= 0 && ::fstat(Fd(handle_), &info) == 0 && S_ISDIR(info.st_mode)) {
      ::close(Fd(handle_));
      handle_ = -1;
      errno = EISDIR;
    }
    if (handle_ < 0) {
      throw EFOpenError(Format("Datei %s kann nicht geöffnet werden. %s", ExpandFileName(name).c_str(),
                               SystemErrorMessage(errno).c_str()));
    }
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

size_t TFileStream::Read(void* buffer, size_t count) {
  size_t done = 0;
  char* out = static_cast<char*>(buffer);
  while (done < count) {
    const ssize_t got = ::pread(Fd(handle_), out + done, count - done, position_);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
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

void TFileStream::ShareLike(const std::string& like) {
  struct stat info;
  if (::stat(like.c_str(), &info) != 0) return;  // stays private
  ::fchmod(Fd(handle_), (0666 & ~creationMask) & (info.st_mode | 0600));
}

void TFileStream::Close() {
  if (handle_ < 0) return;
  const int fd = Fd(handle_);
  handle_ = -1;
  if (::close(fd) != 0 && errno != EINTR) throw EWriteError("Stream-Schreibfehler");
}

}  // namespace shrinkwell

// POSIX implementation of the photo's files, each used through its
// descriptor: made with O_EXCL and O_NOFOLLOW, named with linkat of the
// open descriptor (which never replaces an entry), removed by name only
// while the name still names the file we made.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>
#include <vector>

#include "photo_files.h"
#include "system.h"

namespace shrinkwell {

namespace {

int Fd(const TFileStream& stream) { return static_cast<int>(stream.Handle()); }

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

TFileIdentity IdentityOf(const struct stat& info) {
  return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

// Whether `name` names, without following a link, the file `identity`.
bool StillNames(const std::string& name, const TFileIdentity& identity) {
  struct stat info;
  return ::fstatat(AT_FDCWD, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && IdentityOf(info) == identity;
}

// The folder part of a name, with its slash; empty for a name in the
// working folder.
std::string FolderOf(const std::string& name) {
  const size_t slash = name.rfind('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// The errors of a file system that has no hard links. (EMLINK, a file
// with too many links, says only that someone else linked it.)
bool IsNoLinkError(int error) { return error == EPERM || error == EOPNOTSUPP; }

// Gives the open file the name `target` as a further link, never replacing
// an entry. 0 on success, else why not: EEXIST for a taken name, EXDEV for
// another file system, ENOLINK when the file has lost its own name (it can
// be linked no more), EOPNOTSUPP where open files cannot be linked.
int LinkOpenFile(int fd, const std::string& target) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  if (::linkat(AT_FDCWD, path, AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  const int error = errno;
  if (error != ENOENT) return IsNoLinkError(error) ? EOPNOTSUPP : error;
  struct stat info;
  if (::fstat(fd, &info) == 0 && info.st_nlink == 0) return ENOLINK;
  if (::access("/proc/self/fd", F_OK) == 0) return ENOENT;  // the target's folder is gone
  // No /proc (a bare chroot): linking by the descriptor itself needs a
  // privilege that a user may not have.
  if (::linkat(fd, "", AT_FDCWD, target.c_str(), AT_EMPTY_PATH) == 0) return 0;
  return errno == EEXIST || errno == EXDEV ? errno : EOPNOTSUPP;
}

// Makes a new file of our own and registers it, both under TFilesChanging,
// so that an interruption removes it or finds it not yet made; -1 and errno
// on failure. unique: `name` ends in XXXXXX, which becomes a private
// unique name.
int CreateOwn(std::string& name, bool unique, TFileIdentity& identity,
              std::unique_ptr<TRemovedOnInterrupt>& registration) {
  const TFilesChanging changing;
  const int fd = unique ? ::mkostemp(&name[0], O_CLOEXEC)
                        : ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    ErrnoKeeper keep;
    ::unlink(name.c_str());
    ::close(fd);
    return -1;
  }
  identity = IdentityOf(info);
  registration = std::make_unique<TRemovedOnInterrupt>(ToWide(name), identity);
  return fd;
}

}  // namespace

// What the platform layer does with a file of our own beyond its public
// operations.
struct TOwnFilePlatform {
  // Makes a file of our own: under `path` exactly, or under a private
  // unique name when `path` ends in XXXXXX.
  static TFileResult Create(std::string path, bool unique, std::unique_ptr<TOwnFile>& file) {
    TFileIdentity identity;
    std::unique_ptr<TRemovedOnInterrupt> registration;
    const int fd = CreateOwn(path, unique, identity, registration);
    if (fd < 0) return Failure(errno);
    file.reset(new TOwnFile(std::make_unique<TFileStream>(TOwnedHandle{fd}), ToWide(path), identity,
                            std::move(registration), unique));
    TellFileEvent(&TFileEvents::made, ToWide(path));
    return TFileResult::Success();
  }

  static TFileResult Publish(TOwnFile& file, const std::u16string& target, int copiesLeft) {
    const std::string to = ToNarrow(target);
    TellFileEvent(&TFileEvents::naming, file.Name());
    const int linked = LinkOpenFile(Fd(file.Stream()), to);
    if (linked == 0) {
      file.RemoveName();
      return TFileResult::Success();
    }
    // A copy in the target's folder goes instead: on another file system;
    // when its name was taken from the file, which can then be linked no
    // more (a few times only, against someone who takes every name we
    // make); and from a scratch file on a file system without hard links
    // (FAT, some network shares), where only a file under a private
    // unique name is renamed below. Such file systems have no links that
    // could be planted.
    if (linked == EXDEV || linked == ENOLINK || (linked == EOPNOTSUPP && !file.unique_)) {
      const TFileResult copied = CopyToNewFile(file.Stream(), target, copiesLeft);
      if (copied) file.RemoveName();
      return copied;
    }
    if (linked != EOPNOTSUPP) return Failure(linked);
    if (::renameat2(AT_FDCWD, ToNarrow(file.Name()).c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
      file.NameGone();
      // Renamed by name: whatever the name held went. Something else than
      // our file (a link planted meanwhile) is taken out again.
      if (StillNames(to, file.identity_)) return TFileResult::Success();
      ::unlink(to.c_str());
      return Failure(EAGAIN);
    }
    if (errno != EINVAL && errno != ENOSYS) return Failure(errno);
    // Neither links nor a rename that never replaces: the bytes go straight
    // under the target's name, made exclusively, so that the name is never
    // taken from anyone; an interruption removes them until they are whole.
    std::unique_ptr<TOwnFile> direct;
    const TFileResult made = Create(to, false, direct);
    if (!made) return made;
    const TFileResult copied = CopyWhole(file.Stream(), direct->Stream());
    if (!copied) return copied;
    direct->NameGone();
    file.RemoveName();
    return TFileResult::Success();
  }

  // Gives a new file of our own in the target's folder the bytes of `from`
  // and then the target's name, never replacing an entry.
  static TFileResult CopyToNewFile(TFileStream& from, const std::u16string& target, int copiesLeft) {
    if (copiesLeft == 0) return Failure(EAGAIN);
    std::unique_ptr<TOwnFile> copy;
    const TFileResult made = Create(FolderOf(ToNarrow(target)) + ".shrinkwell-XXXXXX", true, copy);
    if (!made) return made;
    const TFileResult copied = CopyWhole(from, copy->Stream());
    if (!copied) return copied;
    return Publish(*copy, target, copiesLeft - 1);
  }

  // All of `from`, with its access bits, and on the disk before it is
  // named: a crash must not leave an empty file under a final name.
  static TFileResult CopyWhole(TFileStream& from, TFileStream& to) {
    const TFileResult copied = CopyFileTo(from, to, INT64_MAX);
    if (!copied) return copied;
    if (::fchmod(Fd(to), from.AccessBits()) != 0 || ::fsync(Fd(to)) != 0) return Failure(errno);
    return TFileResult::Success();
  }
};

TOpenedPhoto OpenPhoto(const std::u16string& name, int64_t sizeLimit) {
  TOpenedPhoto photo;
  std::unique_ptr<TFileStream> file = TFileStream::OpenForReading(ToNarrow(name), photo.error);
  if (!file) {
    photo.kind = photo.error == ENOENT || photo.error == ENOTDIR                  ? TOpenedPhoto::TKind::NotFound
                 : photo.error == kNotARegularFile || photo.error == EISDIR ? TOpenedPhoto::TKind::NotAFile
                                                                            : TOpenedPhoto::TKind::Failed;
    return photo;
  }
  struct stat info;
  if (::fstat(Fd(*file), &info) != 0) {
    photo.error = errno;
    return photo;
  }
  photo.size = static_cast<int64_t>(info.st_size);
  photo.stored = std::min<int64_t>(photo.size, static_cast<int64_t>(info.st_blocks) * 512);
  photo.kind = CheckedSize(photo, sizeLimit);
  if (photo.kind == TOpenedPhoto::TKind::Opened) photo.file = std::move(file);
  return photo;
}

TFileResult TOwnFile::Make(const std::u16string& name, std::unique_ptr<TOwnFile>& file) {
  const std::string path = ToNarrow(name);
  // Whatever has the name goes: a stale scratch file, a planted link.
  ::unlink(path.c_str());
  const TFileResult made = TOwnFilePlatform::Create(path, false, file);
  // Still taken: another user's file in a shared folder, a folder.
  if (made.targetExists) return MakeUnique(ToWide(FolderOf(path)), file);
  return made;
}

TFileResult TOwnFile::MakeUnique(const std::u16string& folder, std::unique_ptr<TOwnFile>& file) {
  return TOwnFilePlatform::Create(ToNarrow(folder) + ".shrinkwell-XXXXXX", true, file);
}

void TOwnFile::RemoveName() {
  const TFilesChanging changing;
  if (named_) {
    const std::string path = ToNarrow(name_);
    if (StillNames(path, identity_)) ::unlink(path.c_str());
  }
  NameGone();
}

bool OpenFilesCanBeRemoved() { return true; }

TFileResult CopyFileTo(TFileStream& source, TFileStream& target, int64_t limit) {
  const int in = Fd(source), out = Fd(target);
  off_t read = 0, written = 0;
  // In the kernel where the file systems allow it (no trip through user
  // memory, a clone on copy-on-write file systems), else through a buffer.
  // One byte past the limit tells a file that grew.
  const int64_t most = limit == INT64_MAX ? limit : limit + 1;
  for (;;) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(int64_t{1} << 30, most - read));
    const ssize_t done = want == 0 ? 0 : ::copy_file_range(in, &read, out, &written, want, 0);
    if (done > 0) continue;
    if (done == 0) return read > limit ? Failure(EFBIG) : TFileResult::Success();
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF) {
      return Failure(errno);
    }
    break;
  }
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(buffer.size()), most - read));
    const ssize_t got = want == 0 ? 0 : ::pread(in, buffer.data(), want, read);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Failure(errno);
    if (got == 0) return read > limit ? Failure(EFBIG) : TFileResult::Success();
    read += got;
    for (ssize_t put = 0; put < got;) {
      const ssize_t done = ::pwrite(out, buffer.data() + put, static_cast<size_t>(got - put), written);
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) return Failure(done < 0 ? errno : ENOSPC);
      put += done;
      written += done;
    }
  }
}

TFileResult MoveFileTo(TOwnFile& file, const std::u16string& target) {
  return TOwnFilePlatform::Publish(file, target, 3);
}

}  // namespace shrinkwell

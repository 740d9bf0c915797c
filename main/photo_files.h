// The files of one photo's work, each used through the handle that opened
// or made it. A name is used only to open the photo, to make a file of our
// own, to remove that file while the name still names it, or to give the
// finished file its final name: whoever swaps a name for a link in the
// moment between two calls decides nothing. Platform layer (POSIX and
// Win32).
//
// A file of our own goes through these states:
//   made      under its name, new (never an entry that was there), private
//             to the user, registered for removal by an interruption;
//   written   through its handle only;
//   named     given its final name through the handle (MoveFileTo), which
//             never replaces an entry; or
//   removed   its name removed while it still names this file (an entry
//             someone else put under the name stays), the handle closed.
// An interruption removes a made or written file's name while it still
// names the file; a named one is left.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "file_stream.h"
#include "scratch_safety.h"
#include "wide_names.h"

namespace shrinkwell {

// What opening a photo found.
struct TOpenedPhoto {
  enum class TKind {
    Opened,    // `file` is open for reading
    NotFound,  // no entry of that name, or a link to nothing
    NotAFile,  // a folder, a pipe, a device or a socket: never opened
    TooLarge,  // more bytes than the size limit
    Hollow,    // mostly holes: far more bytes than lie on the disk
    Failed,    // could not be opened; `error` says why
  };
  TKind kind = TKind::Failed;
  int error = 0;
  int64_t size = 0;
  int64_t stored = 0;  // the bytes that lie on the disk
  std::unique_ptr<TFileStream> file;
};

// Opens the photo once, following the user's links, for reading: a regular
// file of at most sizeLimit bytes, and no more than 64 MiB of them holes
// (which cost nothing to make, and all the more to copy and decode).
// Anything else is looked at, not opened.
TOpenedPhoto OpenPhoto(const std::u16string& name, int64_t sizeLimit);

// Within the platform layer: the kind a photo of that size and stored
// bytes is, Opened when it is fit to read.
TOpenedPhoto::TKind CheckedSize(const TOpenedPhoto& photo, int64_t sizeLimit);

// A file of this run's own (see the states above).
class TOwnFile {
 public:
  // Makes the file under `name`, removing whatever had the name first.
  // When the name cannot be had (another user's file in a shared folder,
  // a folder of that name), the file is made under a private unique name
  // ".shrinkwell-XXXXXX" in the same folder instead. On failure `file`
  // stays empty and the result tells why.
  static TFileResult Make(const std::u16string& name, std::unique_ptr<TOwnFile>& file);
  // Makes the file under a private unique name in `folder` (empty: the
  // working folder).
  static TFileResult MakeUnique(const std::u16string& folder, std::unique_ptr<TOwnFile>& file);
  // Removes the name while it still names this file, and closes it.
  ~TOwnFile();
  TOwnFile(const TOwnFile&) = delete;
  TOwnFile& operator=(const TOwnFile&) = delete;

  TFileStream& Stream() { return *stream_; }
  // The name the file was made under.
  const std::u16string& Name() const { return name_; }
  // Removes the name now, while it still names this file. On POSIX the
  // file stays readable through the handle; on Windows the name goes when
  // the handle is closed.
  void RemoveName();
  // The handle, for reading on once the name is removed.
  std::unique_ptr<TFileStream> ReleaseStream();

 private:
  friend struct TOwnFilePlatform;  // the platform layer's helpers
  TOwnFile(std::unique_ptr<TFileStream> stream, std::u16string name, const TFileIdentity& identity,
           std::unique_ptr<TRemovedOnInterrupt> interruption, bool unique);
  // The name went with a rename: nothing left to remove.
  void NameGone();

  std::unique_ptr<TFileStream> stream_;
  std::u16string name_;
  TFileIdentity identity_;
  std::unique_ptr<TRemovedOnInterrupt> interruption_;
  bool unique_;  // under a private unique name
  bool named_ = true;
};

// True where a file may be removed while it is open, its bytes staying
// readable through the open file until it is closed (POSIX); Windows
// removes it only when it is closed.
bool OpenFilesCanBeRemoved();

// Copies the whole of `source`, from its first byte, into the new file
// `target`: at most `limit` bytes, else EFBIG.
TFileResult CopyFileTo(TFileStream& source, TFileStream& target, int64_t limit);

// Gives the finished file the name `target` without ever replacing an
// entry (a taken name fails with targetExists), through its handle. When
// the file cannot be linked there (another file system, a file system
// without hard links, or its name taken from it meanwhile), its bytes are
// copied into a new file of our own in the target's folder, with the
// same access bits and on the disk before it is named. The file's own
// name goes when it is named; else with the file.
TFileResult MoveFileTo(TOwnFile& file, const std::u16string& target);

// For tests: told the 8-bit name of every file of our own right after it
// is made, and of every finished file right before it is given its final
// name, so that a test can swap that name as a hostile user would.
struct TFileEvents {
  std::function<void(const std::string& name)> made;
  std::function<void(const std::string& name)> naming;
};
void SetFileEvents(TFileEvents events);
// Within the platform layer: tells the listeners of `made` or `naming`.
void TellFileEvent(std::function<void(const std::string&)> TFileEvents::*which, const std::u16string& name);

}  // namespace shrinkwell

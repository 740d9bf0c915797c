// A file opened by its 8-bit name, read or written whole-buffer at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace shrinkwell {

class TFileStream {
 public:
  enum class Mode {
    OpenRead,   // existing file, read only; others may read it too
    Create,     // new or emptied file, write only
    CreateNew,  // a new file of our own: fails when the name is taken (a
                // link included), readable and writable by the owner only
  };

  // Raises EFOpenError (OpenRead) or EFCreateError (the others) with the
  // expanded name and the system's text when the file cannot be opened.
  TFileStream(const std::string& name, Mode mode);
  ~TFileStream();
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Size() const;
  int64_t Position() const { return position_; }

  // Reads up to count bytes; returns how many arrived (0 at the end).
  size_t Read(void* buffer, size_t count);
  // Reads exactly count bytes or raises EReadError "Stream-Lesefehler".
  void ReadBuffer(void* buffer, size_t count);
  // Writes all count bytes or raises EWriteError "Stream-Schreibfehler".
  void WriteBuffer(const void* buffer, size_t count);
  // Opens the file to the access a new file of the user's would have, but
  // to no more than the file `like` grants: the copy of a private photo
  // stays private.
  void ShareLike(const std::string& like);
  // Closes the file; a failure to flush it (a full disk on a network share)
  // raises EWriteError. The destructor closes silently.
  void Close();

 private:
  int fd_ = -1;
  int64_t position_ = 0;
};

}  // namespace shrinkwell

// Byte streams read or written whole-buffer at a time: a file opened by its
// 8-bit name or adopted as an open handle, or bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "system.h"

namespace shrinkwell {

class TStream {
 public:
  virtual ~TStream() = default;

  virtual int64_t Size() const = 0;
  int64_t Position() const { return position_; }
  // Reads up to count bytes; returns how many arrived (0 at the end). A
  // file that cannot be read raises EReadError.
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Reads exactly count bytes or raises EReadError "Stream-Lesefehler".
  void ReadBuffer(void* buffer, size_t count);
  // Writes all count bytes or raises EWriteError "Stream-Schreibfehler".
  virtual void WriteBuffer(const void* buffer, size_t count) = 0;

 protected:
  int64_t position_ = 0;
};

// Bytes in memory, borrowed for the stream's life and only read: the fuzz
// targets give the readers their input this way, without a file.
class TMemoryStream final : public TStream {
 public:
  TMemoryStream(const void* data, size_t size) : data_(static_cast<const char*>(data)), size_(size) {}

  int64_t Size() const override { return static_cast<int64_t>(size_); }
  size_t Read(void* buffer, size_t count) override;
  // Always EWriteError.
  void WriteBuffer(const void* buffer, size_t count) override;

 private:
  const char* data_;
  size_t size_;
};

// Reads another stream ahead in blocks, for readers that take a few bytes
// at a time: a JPEG file's markers would otherwise cost a system call per
// byte. Reads as large as a block go straight through.
class TReadAheadStream final : public TStream {
 public:
  explicit TReadAheadStream(TStream& source, size_t blockSize = 16384)
      : source_(source), block_(blockSize) {}

  int64_t Size() const override { return source_.Size(); }
  size_t Read(void* buffer, size_t count) override;
  // Always EWriteError.
  void WriteBuffer(const void* buffer, size_t count) override;

 private:
  TStream& source_;
  std::vector<char> block_;
  size_t at_ = 0;   // the next unread byte in block_
  size_t end_ = 0;  // the end of what block_ holds
};

// An open file's handle (a descriptor, or a Windows file handle) handed
// over to a TFileStream, which closes it.
struct TOwnedHandle {
  intptr_t value;
};

class TFileStream final : public TStream {
 public:
  enum class Mode {
    OpenRead,   // an existing regular file, read only; others may read it
                // too. Never waits: a pipe or a device is refused at once.
    Create,     // new or emptied file, write only
    CreateNew,  // a new file of our own: fails when the name is taken (a
                // link included), readable and writable by the owner only
  };

  // Raises EFOpenError (OpenRead) or EFCreateError (the others) with the
  // expanded name and the system's text when the file cannot be opened.
  TFileStream(const std::string& name, Mode mode);
  explicit TFileStream(TOwnedHandle handle) : handle_(handle.value) {}
  ~TFileStream();
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  // OpenRead without raising: nullptr, and the platform's error code in
  // `error` (kNotARegularFile for a pipe, a device or a folder).
  static std::unique_ptr<TFileStream> OpenForReading(const std::string& name, int& error);

  intptr_t Handle() const { return handle_; }
  int64_t Size() const override;
  // The file's size and time of last writing.
  TFileFacts Facts() const;
  // The next Read or write starts here.
  void Seek(int64_t position) { position_ = position; }
  size_t Read(void* buffer, size_t count) override;
  void WriteBuffer(const void* buffer, size_t count) override;
  // Who may read the file, as ShareLike takes it: the POSIX mode bits; 0
  // on Windows, where a new file takes its folder's permissions.
  uint32_t AccessBits() const;
  // Opens the file to the access a new file of the user's would have, but
  // to no more than `accessBits` (another file's AccessBits) grant: the
  // copy of a private photo stays private.
  void ShareLike(uint32_t accessBits);
  // Hands what was written to the file system, as closing would, and
  // raises EWriteError when that fails (a full disk on a network share).
  void Flush();
  // Closes the file; a failure to flush it raises EWriteError. The
  // destructor closes silently.
  void Close();

 private:
  intptr_t handle_ = -1;  // a file descriptor, or a Windows file handle
};

}  // namespace shrinkwell

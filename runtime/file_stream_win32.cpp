// The file stream over Windows file handles, by 8-bit (ANSI) names.
#include <windows.h>

#include <algorithm>

#include "errors.h"
#include "file_stream.h"
#include "system.h"

namespace shrinkwell {

namespace {

HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
intptr_t Stored(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(handle); }

// Reads and writes name their position, as pread and pwrite do.
OVERLAPPED At(int64_t position) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(position);
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(position) >> 32);
  return at;
}

// One call moves at most this much.
DWORD ChunkOf(size_t left) { return static_cast<DWORD>(std::min<size_t>(left, 1u << 30)); }

}  // namespace

TFileStream::TFileStream(const std::string& name, Mode mode) {
  if (mode == Mode::OpenRead) {
    // Others may read it; and remove it (an interruption may have to).
    handle_ = Stored(CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handle_ < 0) {
      throw EFOpenError(Format("Datei %s kann nicht geöffnet werden. %s", ExpandFileName(name).c_str(),
                               SystemErrorMessage(static_cast<int>(GetLastError())).c_str()));
    }
  } else {
    // A new file of our own fails on any entry of that name, a link or a
    // junction included: CREATE_NEW never opens what is there.
    handle_ = Stored(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr,
                                 mode == Mode::CreateNew ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handle_ < 0) {
      throw EFCreateError(Format("Datei \"%s\" kann nicht erstellt werden. %s", ExpandFileName(name).c_str(),
                                 SystemErrorMessage(static_cast<int>(GetLastError())).c_str()));
    }
  }
}

TFileStream::~TFileStream() {
  if (handle_ >= 0) CloseHandle(Handle(handle_));
}

int64_t TFileStream::Size() const {
  LARGE_INTEGER size;
  return GetFileSizeEx(Handle(handle_), &size) ? static_cast<int64_t>(size.QuadPart) : 0;
}

size_t TFileStream::Read(void* buffer, size_t count) {
  size_t done = 0;
  char* out = static_cast<char*>(buffer);
  while (done < count) {
    OVERLAPPED at = At(position_);
    DWORD got = 0;
    if (!ReadFile(Handle(handle_), out + done, ChunkOf(count - done), &got, &at) || got == 0) break;
    done += got;
    position_ += got;
  }
  return done;
}

void TFileStream::WriteBuffer(const void* buffer, size_t count) {
  const char* in = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < count) {
    OVERLAPPED at = At(position_);
    DWORD put = 0;
    if (!WriteFile(Handle(handle_), in + done, ChunkOf(count - done), &put, &at) || put == 0) {
      throw EWriteError("Stream-Schreibfehler");
    }
    done += put;
    position_ += put;
  }
}

// Windows gives a new file the folder's inherited permissions; there is
// nothing to widen.
void TFileStream::ShareLike(const std::string&) {}

void TFileStream::Close() {
  if (handle_ < 0) return;
  const HANDLE handle = Handle(handle_);
  handle_ = -1;
  if (!CloseHandle(handle)) throw EWriteError("Stream-Schreibfehler");
}

}  // namespace shrinkwell

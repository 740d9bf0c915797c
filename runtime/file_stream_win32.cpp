// The file stream over Windows file handles, by 8-bit (ANSI) names.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "errors.h"
#include "file_stream.h"
#include "system.h"

namespace shrinkwell {

namespace {

HANDLE Native(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
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

std::unique_ptr<TFileStream> TFileStream::OpenForReading(const std::string& name, int& error) {
  // Others may read it; and remove it (an interruption may have to).
  const HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = static_cast<int>(GetLastError());
    return nullptr;
  }
  auto file = std::make_unique<TFileStream>(TOwnedHandle{reinterpret_cast<intptr_t>(handle)});
  // A device or a pipe under a file's name is no file to read.
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = kNotARegularFile;
    return nullptr;
  }
  error = 0;
  return file;
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
  if (handle_ >= 0) CloseHandle(Native(handle_));
}

int64_t TFileStream::Size() const {
  LARGE_INTEGER size;
  return GetFileSizeEx(Native(handle_), &size) ? static_cast<int64_t>(size.QuadPart) : 0;
}

size_t TFileStream::Read(void* buffer, size_t count) {
  size_t done = 0;
  char* out = static_cast<char*>(buffer);
  while (done < count) {
    OVERLAPPED at = At(position_);
    DWORD got = 0;
    if (!ReadFile(Native(handle_), out + done, ChunkOf(count - done), &got, &at)) {
      // A failing disk is no end of the file: what follows would be missing.
      if (GetLastError() != ERROR_HANDLE_EOF) throw EReadError("Stream-Lesefehler");
      break;
    }
    if (got == 0) break;
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
    if (!WriteFile(Native(handle_), in + done, ChunkOf(count - done), &put, &at) || put == 0) {
      throw EWriteError("Stream-Schreibfehler");
    }
    done += put;
    position_ += put;
  }
}

TFileFacts TFileStream::Facts() const {
  TFileFacts facts;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(Native(handle_), &info)) return facts;
  facts.size = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  FILETIME local;
  if (FileTimeToLocalFileTime(&info.ftLastWriteTime, &local)) {
    // 100-nanosecond steps since 1601-01-01; 1899-12-30 is 109205 days later.
    const uint64_t steps = (static_cast<uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
    facts.modifiedDays = static_cast<double>(steps) / 864000000000.0 - 109205.0;
  }
  return facts;
}

// Windows gives a new file the folder's inherited permissions; there is
// nothing to widen, nor to narrow.
uint32_t TFileStream::AccessBits() const { return 0; }
void TFileStream::ShareLike(uint32_t) {}

// WriteFile reports a full disk itself; FlushFileBuffers would force
// every byte to the disk, which a file that is renamed next does not need.
void TFileStream::Flush() {}

void TFileStream::Close() {
  if (handle_ < 0) return;
  const HANDLE handle = Native(handle_);
  handle_ = -1;
  if (!CloseHandle(handle)) throw EWriteError("Stream-Schreibfehler");
}

}  // namespace shrinkwell

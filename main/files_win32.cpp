// Win32 implementation of the photo's files, each used through its handle.
// A file of our own is held open without delete or write sharing while it
// is in use, so that no one can remove, rename or replace it meanwhile;
// it is named by renaming that handle (never replacing an entry) and
// removed by marking that handle's file for deletion.
#define _CRT_RAND_S
#include <stdlib.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "photo_files.h"
#include "system.h"

namespace shrinkwell {

namespace {

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
HANDLE H(const TFileStream& stream) { return reinterpret_cast<HANDLE>(stream.Handle()); }

TFileResult Failure(DWORD code) {
  TFileResult result;
  result.error = code != 0 ? static_cast<int>(code) : ERROR_GEN_FAILURE;
  result.targetExists = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
  return result;
}

// The folder part of a name, with its separator; empty for a name in the
// working folder.
std::u16string FolderOf(const std::u16string& name) {
  const size_t slash = name.find_last_of(u"\\/:");
  return slash == std::u16string::npos ? std::u16string() : name.substr(0, slash + 1);
}

bool IsNotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
}

// Opened for reading and writing, shared for reading only, and open to
// deletion and renaming through this handle.
HANDLE CreateExclusive(const std::u16string& name) {
  return CreateFileW(W(name), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A name nobody can guess: 64 bits from the system's random source.
std::u16string UniqueName(const std::u16string& folder) {
  unsigned int high = 0, low = 0;
  if (rand_s(&high) != 0 || rand_s(&low) != 0) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    high ^= static_cast<unsigned int>(now.QuadPart >> 32) ^ GetCurrentProcessId();
    low ^= static_cast<unsigned int>(now.QuadPart);
  }
  wchar_t suffix[24];
  wsprintfW(suffix, L"%08lx%08lx", static_cast<unsigned long>(high), static_cast<unsigned long>(low));
  return folder + u".shrinkwell-" + std::u16string(reinterpret_cast<const char16_t*>(suffix));
}

// The full path of a name in the form that renaming a handle takes on
// every Windows: "\\?\C:\dir\name" or "\\?\UNC\server\share\name".
std::u16string VerbatimPath(const std::u16string& name) {
  std::vector<wchar_t> full(MAX_PATH);
  for (;;) {
    const DWORD length = GetFullPathNameW(W(name), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return name;
    if (length < full.size()) {
      const std::u16string path(reinterpret_cast<const char16_t*>(full.data()), length);
      if (path.compare(0, 4, u"\\\\?\\") == 0) return path;
      if (path.compare(0, 2, u"\\\\") == 0) return u"\\\\?\\UNC\\" + path.substr(2);
      return u"\\\\?\\" + path;
    }
    full.resize(length + 1);
  }
}

TFileIdentity IdentityOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  GetFileInformationByHandle(handle, &info);
  return {info.dwVolumeSerialNumber, (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

}  // namespace

// What the platform layer does with a file of our own beyond its public
// operations.
struct TOwnFilePlatform {
  static TFileResult Create(const std::u16string& name, bool unique, std::unique_ptr<TOwnFile>& file) {
    const TFilesChanging changing;
    const HANDLE handle = CreateExclusive(name);
    if (handle == INVALID_HANDLE_VALUE) return Failure(GetLastError());
    const TFileIdentity identity = IdentityOf(handle);
    auto registration = std::make_unique<TRemovedOnInterrupt>(name, identity);
    file.reset(new TOwnFile(std::make_unique<TFileStream>(TOwnedHandle{reinterpret_cast<intptr_t>(handle)}), name,
                            identity, std::move(registration), unique));
    TellFileEvent(&TFileEvents::made, name);
    return TFileResult::Success();
  }

  // Renames the file through its handle; never replaces an entry.
  static DWORD Rename(TOwnFile& file, const std::u16string& name) {
    const std::u16string target = VerbatimPath(name);
    const size_t bytes = target.size() * sizeof(char16_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(bytes);
    std::memcpy(rename->FileName, target.c_str(), bytes);
    if (SetFileInformationByHandle(H(file.Stream()), FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) {
      file.NameGone();
      return 0;
    }
    return GetLastError();
  }

  static TFileResult Publish(TOwnFile& file, const std::u16string& target, bool mayCopy) {
    TellFileEvent(&TFileEvents::naming, file.Name());
    const DWORD renamed = Rename(file, target);
    if (renamed == 0) return TFileResult::Success();
    if (renamed != ERROR_NOT_SAME_DEVICE || !mayCopy) return Failure(renamed);
    // Another drive: a new file of our own beside the target takes the
    // bytes, and then the name.
    std::unique_ptr<TOwnFile> copy;
    TFileResult done = TOwnFile::MakeUnique(FolderOf(target), copy);
    if (!done) return done;
    done = CopyFileTo(file.Stream(), copy->Stream(), INT64_MAX);
    if (!done) return done;
    if (!FlushFileBuffers(H(copy->Stream()))) return Failure(GetLastError());
    done = Publish(*copy, target, false);
    if (done) file.RemoveName();
    return done;
  }
};

TOpenedPhoto OpenPhoto(const std::u16string& name, int64_t sizeLimit) {
  TOpenedPhoto photo;
  // Looked at before it is opened: opening a device can do things.
  const DWORD attributes = GetFileAttributesW(W(name));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    photo.error = static_cast<int>(GetLastError());
    photo.kind = IsNotFound(static_cast<DWORD>(photo.error)) ? TOpenedPhoto::TKind::NotFound
                                                             : TOpenedPhoto::TKind::Failed;
    return photo;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    photo.kind = TOpenedPhoto::TKind::NotAFile;
    return photo;
  }
  // Others may read it meanwhile, not change it.
  const HANDLE handle = CreateFileW(W(name), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    photo.error = static_cast<int>(GetLastError());
    photo.kind = IsNotFound(static_cast<DWORD>(photo.error)) ? TOpenedPhoto::TKind::NotFound
                                                             : TOpenedPhoto::TKind::Failed;
    return photo;
  }
  auto file = std::make_unique<TFileStream>(TOwnedHandle{reinterpret_cast<intptr_t>(handle)});
  // A device or a pipe under a file's name (CON.jpg) is no photo.
  BY_HANDLE_FILE_INFORMATION info;
  FILE_STANDARD_INFO standard{};
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) {
    photo.kind = TOpenedPhoto::TKind::NotAFile;
    return photo;
  }
  photo.size = standard.EndOfFile.QuadPart;
  photo.stored = std::min<int64_t>(photo.size, standard.AllocationSize.QuadPart);
  photo.kind = CheckedSize(photo, sizeLimit);
  if (photo.kind == TOpenedPhoto::TKind::Opened) photo.file = std::move(file);
  return photo;
}

TFileResult TOwnFile::Make(const std::u16string& name, std::unique_ptr<TOwnFile>& file) {
  // Whatever has the name goes, a stale read-only copy included.
  RemoveFile(name);
  const TFileResult made = TOwnFilePlatform::Create(name, false, file);
  // Still there: a file in use by another run, another user's file, a
  // folder.
  if (!made && (made.targetExists || made.error == ERROR_ACCESS_DENIED || made.error == ERROR_SHARING_VIOLATION)) {
    return MakeUnique(FolderOf(name), file);
  }
  return made;
}

TFileResult TOwnFile::MakeUnique(const std::u16string& folder, std::unique_ptr<TOwnFile>& file) {
  for (int attempt = 0;; ++attempt) {
    const TFileResult made = TOwnFilePlatform::Create(UniqueName(folder), true, file);
    if (made || !made.targetExists || attempt == 100) return made;
  }
}

void TOwnFile::RemoveName() {
  if (named_ && stream_) {
    // Through the handle: certainly our own file. It goes when closed.
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    const HANDLE handle = H(*stream_);
    if (!SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition)) {
      // Made read-only meanwhile by someone the folder lets do that: back
      // to a plain file through the same handle, then removed.
      FILE_BASIC_INFO basic{};
      basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
      SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
      SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
    }
  }
  NameGone();
}

bool OpenFilesCanBeRemoved() { return false; }

TFileResult CopyFileTo(TFileStream& source, TFileStream& target, int64_t limit) {
  std::vector<char> buffer(1 << 20);
  int64_t copied = 0;
  for (;;) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(copied);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(copied) >> 32);
    DWORD got = 0;
    if (!ReadFile(H(source), buffer.data(), static_cast<DWORD>(buffer.size()), &got, &at)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) return TFileResult::Success();
      return Failure(error);
    }
    if (got == 0) return TFileResult::Success();
    if (copied + got > limit) return Failure(ERROR_FILE_TOO_LARGE);
    DWORD put = 0;
    if (!WriteFile(H(target), buffer.data(), got, &put, &at)) return Failure(GetLastError());
    if (put != got) return Failure(ERROR_DISK_FULL);
    copied += got;
  }
}

TFileResult MoveFileTo(TOwnFile& file, const std::u16string& target) {
  return TOwnFilePlatform::Publish(file, target, true);
}

}  // namespace shrinkwell

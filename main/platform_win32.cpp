// Win32 implementation of the command line and the file operations by
// name: the Windows functions the driver was written for (FindFirstFileW,
// DeleteFileW), with their 8-bit variants outside the NT family; a stale
// read-only scratch file goes too. (The photo's own files:
// files_win32.cpp; interruption: interruption_win32.cpp; text:
// text_win32.cpp.)
#include <windows.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "errors.h"
#include "scratch_safety.h"
#include "system.h"
#include "wide_names.h"

namespace shrinkwell {

namespace {

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// Outside the NT family there are no UTF-16 file functions.
bool NtPlatform() {
  static const bool nt = [] {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return !GetVersionExA(&version) || version.dwPlatformId == VER_PLATFORM_WIN32_NT;
#pragma GCC diagnostic pop
  }();
  return nt;
}

TFileResult Failure(DWORD code) {
  TFileResult result;
  result.error = code != 0 ? static_cast<int>(code) : ERROR_GEN_FAILURE;
  result.targetExists = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
  return result;
}

DWORD AttributesOf(const std::u16string& name) {
  return NtPlatform() ? GetFileAttributesW(W(name)) : GetFileAttributesA(ToNarrow(name).c_str());
}

bool SetAttributes(const std::u16string& name, DWORD attributes) {
  return NtPlatform() ? SetFileAttributesW(W(name), attributes) : SetFileAttributesA(ToNarrow(name).c_str(), attributes);
}

bool DeleteEntry(const std::u16string& name) {
  return NtPlatform() ? DeleteFileW(W(name)) : DeleteFileA(ToNarrow(name).c_str());
}

}  // namespace

// ---------------------------------------------------------------------------
// Command line

void SetCommandLine(int, const char* const*) {
  // Windows keeps the command line itself: GetCommandLineW and
  // GetCommandLineA give it as it was written.
}

int ArgumentCount() {
  const std::string line = GetCommandLineA();
  size_t next = 0;
  SplitNextArgument(line, 0, next);  // the program's name
  int count = 0;
  while (!SplitNextArgument(line, next, next).empty()) ++count;
  return count;
}

std::u16string ArgumentAt(int index) {
  if (index == 0) {
    if (NtPlatform()) {
      wchar_t path[MAX_PATH];
      const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
      if (length == 0) throw EOSError(SystemErrorMessage(static_cast<int>(GetLastError())));
      return std::u16string(reinterpret_cast<const char16_t*>(path), length);
    }
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0) throw EOSError(SystemErrorMessage(static_cast<int>(GetLastError())));
    return ToWide(std::string(path, length));
  }
  const std::u16string line(reinterpret_cast<const char16_t*>(GetCommandLineW()));
  size_t next = 0;
  std::u16string argument;
  for (int i = 0; i <= index; ++i) {
    argument = SplitNextArgument(line, next, next);
    if (argument.empty()) return std::u16string();
  }
  return argument;
}

// ---------------------------------------------------------------------------
// File operations

bool IsExistingFile(const std::u16string& name) {
  if (NtPlatform()) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(W(name), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(ToNarrow(name).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsExistingEntry(const std::u16string& name) { return AttributesOf(name) != INVALID_FILE_ATTRIBUTES; }

bool EntryExists(const std::u16string& name) { return AttributesOf(name) != INVALID_FILE_ATTRIBUTES; }

TFileResult RemoveFile(const std::u16string& name) {
  if (DeleteEntry(name)) return TFileResult::Success();
  DWORD error = GetLastError();
  // A read-only file (a stale copy of a read-only photo) is ours to remove.
  if (error == ERROR_ACCESS_DENIED) {
    const DWORD attributes = AttributesOf(name);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && SetAttributes(name, attributes & ~FILE_ATTRIBUTE_READONLY)) {
      if (DeleteEntry(name)) return TFileResult::Success();
      error = GetLastError();
    }
  }
  return Failure(error);
}

}  // namespace shrinkwell

// Win32 implementation of the command line, the file operations by name
// and the interruption. The file operations are the Windows functions the
// driver was written for (FindFirstFileW, DeleteFileW), with their 8-bit
// variants outside the NT family; stale read-only scratch files go, and
// Ctrl+C or a closed console window takes this run's files along.
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

// ---------------------------------------------------------------------------
// Interruption

// The files an interruption removes. Written by the run, read by the
// console control handler, which runs on a thread of its own: a slot is
// claimed, its name written, and only then marked in use.
enum : int { kSlotFree, kSlotClaimed, kSlotInUse };
struct TCleanupSlot {
  std::atomic<int> state{kSlotFree};
  char16_t name[MAX_PATH * 4];
};
TCleanupSlot cleanupSlots[8];

// Held while a scratch file is in use or comes into being together with its
// registration, and by the handler while it removes the files. A critical
// section, since the two may nest on one thread.
CRITICAL_SECTION& CleanupLock() {
  // Made where it stays: a critical section must never be copied.
  struct TLock {
    TLock() { InitializeCriticalSection(&section); }
    CRITICAL_SECTION section;
  };
  static TLock lock;
  return lock.section;
}

BOOL WINAPI RemoveFilesAndEnd(DWORD event) {
  EnterCriticalSection(&CleanupLock());
  for (TCleanupSlot& slot : cleanupSlots) {
    if (slot.state.load() == kSlotInUse) {
      SetFileAttributesW(reinterpret_cast<const wchar_t*>(slot.name), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(reinterpret_cast<const wchar_t*>(slot.name));
    }
  }
  // The statuses a POSIX shell shows for the same interruptions: 130 for
  // Ctrl+C (and Ctrl+Break), 129 when the console goes away.
  ExitProcess(event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 130 : 129);
  return TRUE;
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

// ---------------------------------------------------------------------------
// Names

std::string ToNarrow(const std::u16string& text) {
  if (text.empty()) return std::string();
  const wchar_t* wide = W(text);
  const int length = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), &out[0], length, nullptr, nullptr);
  return out;
}

std::u16string ToWide(const std::string& text) {
  if (text.empty()) return std::u16string();
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(length), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(&out[0]),
                      length);
  return out;
}

// ---------------------------------------------------------------------------
// Scratch safety

TScratchInUse::TScratchInUse() { EnterCriticalSection(&CleanupLock()); }
TScratchInUse::~TScratchInUse() { LeaveCriticalSection(&CleanupLock()); }

void InstallInterruptCleanup() {
  CleanupLock();  // made before any handler can want it
  SetConsoleCtrlHandler(RemoveFilesAndEnd, TRUE);
}

// Removed by name: while the run makes or uses a file, the handler waits
// (TScratchInUse), and our files are removed when that work ends.
TRemovedOnInterrupt::TRemovedOnInterrupt(const std::u16string& wide, const TFileIdentity&) {
  if (wide.size() >= MAX_PATH * 4) return;
  for (int i = 0; i < static_cast<int>(std::size(cleanupSlots)); ++i) {
    TCleanupSlot& slot = cleanupSlots[i];
    int expected = kSlotFree;
    if (!slot.state.compare_exchange_strong(expected, kSlotClaimed)) continue;
    std::memcpy(slot.name, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
    slot.state.store(kSlotInUse);
    slot_ = i;
    return;
  }
}

TRemovedOnInterrupt::~TRemovedOnInterrupt() {
  if (slot_ >= 0) cleanupSlots[slot_].state.store(kSlotFree);
}

}  // namespace shrinkwell

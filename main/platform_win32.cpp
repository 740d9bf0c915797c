// Win32 implementation of the command line, the file operations and the
// scratch-file safety. The file operations are the Windows functions the
// driver was written for (FindFirstFileW, CopyFileW, DeleteFileW,
// MoveFileW), with their 8-bit variants outside the NT family, plus what
// makes a run safe: no copy ever replaces a file or leaves a partial one
// under a final name, stale read-only scratch files go, a named mutex keeps
// two runs in one folder apart, and Ctrl+C or a closed console window takes
// this run's files along.
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

bool CopyEntry(const std::u16string& source, const std::u16string& target, bool failIfExists) {
  return NtPlatform() ? CopyFileW(W(source), W(target), failIfExists)
                      : CopyFileA(ToNarrow(source).c_str(), ToNarrow(target).c_str(), failIfExists);
}

// Renames without replacing and without copying: across drives it fails.
bool RenameWithoutReplacing(const std::u16string& source, const std::u16string& target) {
  return NtPlatform() ? MoveFileExW(W(source), W(target), 0) : MoveFileA(ToNarrow(source).c_str(), ToNarrow(target).c_str());
}

// A read-only copy would make every later run fail to replace it.
void ClearReadOnly(const std::u16string& name) {
  const DWORD attributes = AttributesOf(name);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetAttributes(name, attributes & ~FILE_ATTRIBUTE_READONLY);
  }
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

// A temporary file of our own in the folder of target, for a copy that
// takes target's name only when it is whole; registered for interruption
// from the moment it exists.
std::u16string TemporaryBeside(const std::u16string& target, std::unique_ptr<TRemovedOnInterrupt>& registration) {
  const size_t slash = target.find_last_of(u"\\/:");
  std::u16string folder = slash == std::u16string::npos ? u"." : target.substr(0, slash + 1);
  wchar_t name[MAX_PATH];
  const TScratchInUse held;
  if (!GetTempFileNameW(W(folder), L"shw", 0, name)) return std::u16string();
  const std::u16string temporary(reinterpret_cast<const char16_t*>(name));
  registration = std::make_unique<TRemovedOnInterrupt>(ToNarrow(temporary));
  return temporary;
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

bool EntryExists(const std::u16string& name) { return AttributesOf(name) != INVALID_FILE_ATTRIBUTES; }

TFileResult CopyFileTo(const std::u16string& source, const std::u16string& target, bool failIfExists) {
  if (!CopyEntry(source, target, failIfExists)) {
    const DWORD error = GetLastError();
    // What the copy made of the target goes; an existing target that made
    // it fail stays.
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      ClearReadOnly(target);
      DeleteEntry(target);
    }
    return Failure(error);
  }
  ClearReadOnly(target);
  return TFileResult::Success();
}

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

bool OpenFilesCanBeRemoved() { return false; }

TFileResult MoveFileTo(const std::u16string& source, const std::u16string& target) {
  if (RenameWithoutReplacing(source, target)) return TFileResult::Success();
  const DWORD error = GetLastError();
  if (error != ERROR_NOT_SAME_DEVICE) return Failure(error);
  // Another drive: the copy goes to a temporary file of our own beside the
  // target, which takes the target's name only when whole.
  std::unique_ptr<TRemovedOnInterrupt> registration;
  const std::u16string temporary = TemporaryBeside(target, registration);
  if (temporary.empty()) return Failure(GetLastError());
  if (!CopyEntry(source, temporary, false) || !RenameWithoutReplacing(temporary, target)) {
    const DWORD failure = GetLastError();
    DeleteEntry(temporary);
    return Failure(failure);
  }
  if (!DeleteEntry(source)) {
    // Take the copy back, so that nothing is doubled.
    const DWORD failure = GetLastError();
    DeleteEntry(target);
    return Failure(failure);
  }
  return TFileResult::Success();
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

TScratchLock::TScratchLock() {
  // A named mutex for the working folder, named after its final path (the
  // same folder by any name or link): the kernel releases it with the
  // process, and no file is left behind.
  const HANDLE folder = CreateFileW(L".", 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return;  // making the scratch files fails and says why
  wchar_t path[32768];
  const DWORD length = GetFinalPathNameByHandleW(folder, path, 32768, FILE_NAME_NORMALIZED);
  CloseHandle(folder);
  if (length == 0 || length >= 32768) return;
  // Folder names compare without letter case on Windows.
  CharUpperBuffW(path, length);
  uint64_t hash = 14695981039346656037ull;  // FNV-1a over the path's UTF-16 units
  for (DWORD i = 0; i < length; ++i) hash = (hash ^ path[i]) * 1099511628211ull;
  wchar_t name[64];
  wsprintfW(name, L"Local\\shrinkwell-scratch-%08lx%08lx", static_cast<unsigned long>(hash >> 32),
            static_cast<unsigned long>(hash & 0xFFFFFFFFu));
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
  if (mutex == nullptr) return;  // the run goes on unprotected rather than not at all
  const DWORD waited = WaitForSingleObject(mutex, INFINITE);
  // An abandoned mutex (a run that died holding it) is ours now as well.
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return;
  }
  handle_ = reinterpret_cast<intptr_t>(mutex);
}

TScratchLock::~TScratchLock() {
  if (handle_ == -1) return;
  const HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

TScratchInUse::TScratchInUse() { EnterCriticalSection(&CleanupLock()); }
TScratchInUse::~TScratchInUse() { LeaveCriticalSection(&CleanupLock()); }

void InstallInterruptCleanup() {
  CleanupLock();  // made before any handler can want it
  SetConsoleCtrlHandler(RemoveFilesAndEnd, TRUE);
}

TRemovedOnInterrupt::TRemovedOnInterrupt(const std::string& name) {
  const std::u16string wide = ToWide(name);
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

// The system helpers on Windows.
#include <windows.h>

#include <clocale>
#include <string>
#include <vector>

#include "system.h"

namespace shrinkwell {

// Windows gives its error texts in the user's language without a locale.
void UseUserLocale() {
  std::setlocale(LC_CTYPE, "");
  std::setlocale(LC_NUMERIC, "");
}

std::string SystemErrorMessage(int code) {
  if (code == kNotARegularFile) return "Not a regular file";
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 && text != nullptr ? std::string(text, length) : std::string();
  if (text != nullptr) LocalFree(text);
  // The system's texts end in a full stop and a line end; the reports add
  // their own.
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) message.pop_back();
  if (!message.empty() && message.back() == '.') message.pop_back();
  return message;
}

int AvailableProcessors() {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return 1;
  int count = 0;
  for (; process != 0; process &= process - 1) ++count;
  return count > 0 ? count : 1;
}

int CurrentProcessor() { return static_cast<int>(GetCurrentProcessorNumber()); }

// The MinGW thread library does not hand out the Win32 handle portably.
void KeepThreadOff(std::thread&, int) {}

uint64_t MemoryForTheRun() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

bool ProcessorHasAvx2() {
#if defined(__x86_64__) && defined(__GNUC__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}


std::string ExpandFileName(const std::string& name) {
  std::vector<char> full(MAX_PATH);
  for (;;) {
    const DWORD length = GetFullPathNameA(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return name;
    if (length < full.size()) return std::string(full.data(), length);
    full.resize(length + 1);
  }
}

}  // namespace shrinkwell

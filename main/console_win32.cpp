// The console on Windows: the standard handles, text in the ANSI code page
// (the error report in the OEM code page), and the module of an address.
#include <windows.h>

#include <cstdint>
#include <string>

#include "console_platform.h"

namespace shrinkwell {
namespace console {

namespace {

// The code of a failed console read or write as the report shows it: the
// platform's own error code (2 to 5 are the well-known file codes), else
// read or write failure.
int InOutCode(DWORD error, bool writing) {
  if (error != 0) return static_cast<int>(error);
  return writing ? 101 : 100;
}

}  // namespace

int WriteAll(bool toError, const char* data, size_t size) {
  const HANDLE handle = GetStdHandle(toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  while (size > 0) {
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
    if (!WriteFile(handle, data, want, &put, nullptr) || put == 0) return InOutCode(GetLastError(), true);
    data += put;
    size -= put;
  }
  return 0;
}

int ReadUntilLineEnd() {
  const HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
  char c;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(handle, &c, 1, &got, nullptr)) {
      const DWORD error = GetLastError();
      // A closed pipe is the end of the input.
      return error == ERROR_BROKEN_PIPE ? 0 : InOutCode(error, false);
    }
    if (got == 0 || c == '\n') return 0;
  }
}

std::string ReportText(const std::string& text) {
  // From the program's 8-bit text (the ANSI code page) to the console's.
  const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring utf16(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &utf16[0], wide);
  const int narrow = WideCharToMultiByte(CP_OEMCP, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string oem(static_cast<size_t>(narrow), '\0');
  WideCharToMultiByte(CP_OEMCP, 0, utf16.data(), wide, &oem[0], narrow, nullptr, nullptr);
  return oem;
}

namespace {

HMODULE ModuleOf(const void* address) {
  HMODULE module = nullptr;
  if (address == nullptr ||
      !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<const char*>(address), &module)) {
    return GetModuleHandleA(nullptr);
  }
  return module;
}

}  // namespace

std::string ModuleNameOf(const void* address) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(ModuleOf(address), path, MAX_PATH);
  const std::string full(path, length);
  const size_t slash = full.find_last_of("\\/");
  return slash == std::string::npos ? full : full.substr(slash + 1);
}

unsigned long ModuleOffsetOf(const void* address) {
  if (address == nullptr) return 0;
  return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address) -
                                    reinterpret_cast<uintptr_t>(ModuleOf(address)));
}

}  // namespace console
}  // namespace shrinkwell

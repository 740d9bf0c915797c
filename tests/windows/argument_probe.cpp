// Shows how the Windows program reads its command line, for the tests that
// run under Wine: the argument count (from the 8-bit line) and every
// argument (from the UTF-16 line), in UTF-8, one per line between brackets.
// With --spawn HEX it starts itself with exactly the command line that HEX
// spells (UTF-16 units, four hex digits each), as a shell or the desktop
// would write it, and passes on what that copy prints.
#include <windows.h>

#include <cstdio>
#include <string>

#include "wide_names.h"

namespace {

std::string Utf8(const std::u16string& text) {
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.c_str());
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), &out[0], length, nullptr, nullptr);
  return out;
}

int Spawn(const char* hex) {
  std::wstring line;
  for (const char* p = hex; p[0] && p[1] && p[2] && p[3]; p += 4) {
    line += static_cast<wchar_t>(std::stoul(std::string(p, 4), nullptr, 16));
  }
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(self, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) return 3;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--spawn") return Spawn(argv[2]);
  const int count = shrinkwell::ArgumentCount();
  std::printf("count=%d\n", count);
  for (int i = 1; i <= count; ++i) std::printf("[%s]\n", Utf8(shrinkwell::ArgumentAt(i)).c_str());
  return 0;
}

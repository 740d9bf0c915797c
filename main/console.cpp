#include "console.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "errors.h"

namespace shrinkwell {
namespace console {

namespace {

std::string& Pending() {
  static std::string pending;
  return pending;
}

// Error codes of console reads and writes as the report shows them: the
// well-known file codes where the cause matches one, else read or write
// failure.
int InOutCode(int error, bool writing) {
  switch (error) {
    case ENOENT: return 2;
    case ENOTDIR: return 3;
    case EMFILE:
    case ENFILE: return 4;
    case EACCES:
    case EPERM: return 5;
    default: return writing ? 101 : 100;
  }
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

}  // namespace

void Write(const std::string& text) { Pending() += text; }

void WriteLine(const std::string& text) { Pending() += text + "\r\n"; }

void Flush() {
  std::string& pending = Pending();
  if (pending.empty()) return;
  const std::string text = std::move(pending);
  pending.clear();
  if (!WriteAll(STDOUT_FILENO, text.data(), text.size())) throw EInOutError(InOutCode(errno, true));
}

void ReadLine() {
  Flush();
  char c;
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw EInOutError(InOutCode(errno, false));
    if (got == 0 || c == '\n') return;
  }
}

std::string ModuleNameOf(const void* address) {
  Dl_info info;
  std::string path;
  if (address != nullptr && ::dladdr(address, &info) != 0 && info.dli_fname != nullptr) path = info.dli_fname;
  if (path.empty()) {
    char buffer[4096];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length > 0) path.assign(buffer, static_cast<size_t>(length));
  }
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

unsigned long ModuleOffsetOf(const void* address) {
  Dl_info info;
  if (address == nullptr || ::dladdr(address, &info) == 0 || info.dli_fbase == nullptr) return 0;
  return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address) -
                                    reinterpret_cast<uintptr_t>(info.dli_fbase));
}

void WriteErrorReport(const std::string& className, const void* address, const std::string& message) {
  try {
    Flush();
  } catch (const Exception&) {
    // Standard output is gone; the report still goes to standard error.
  }
  const char* fullStop = (!message.empty() && message.back() != '.') ? "." : "";
  const std::string report =
      Format("Exception %s in Modul %s bei %08lX.\r\n%s%s\r\n", className.c_str(), ModuleNameOf(address).c_str(),
             ModuleOffsetOf(address), message.c_str(), fullStop) +
      "\r\n";
  WriteAll(STDERR_FILENO, report.data(), report.size());
}

}  // namespace console
}  // namespace shrinkwell

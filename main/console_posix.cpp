// The console on POSIX: file descriptors 0, 1 and 2, UTF-8 text, and the
// module of an address through the dynamic loader.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "console_platform.h"

namespace shrinkwell {
namespace console {

namespace {

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

}  // namespace

int WriteAll(bool toError, const char* data, size_t size) {
  const int fd = toError ? STDERR_FILENO : STDOUT_FILENO;
  while (size > 0) {
    const ssize_t put = ::write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return InOutCode(put < 0 ? errno : EIO, true);
    data += put;
    size -= static_cast<size_t>(put);
  }
  return 0;
}

int ReadUntilLineEnd() {
  char c;
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return InOutCode(errno, false);
    if (got == 0 || c == '\n') return 0;
  }
}

std::string ReportText(const std::string& text) { return text; }

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

}  // namespace console
}  // namespace shrinkwell

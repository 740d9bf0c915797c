#include "system.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#if defined(__x86_64__) && __has_include(<sys/platform/x86.h>)
// The C library's header spells its result type the C way, which only
// GCC takes in C++.
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#define SHRINKWELL_GLIBC_CPU_FEATURES 1
#endif

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace shrinkwell {

namespace {

// The locale the environment names for a category, as setlocale would
// take it: LC_ALL, then the category's own variable, then LANG.
std::string LocaleNamedFor(const char* variable) {
  for (const char* name : {"LC_ALL", variable, "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

// C and POSIX, and C with UTF-8: for these programs the same as the start-up
// locale, which is "C": the same decimal point, the same English error
// texts, and no text of theirs is converted between character sets.
bool IsCLocale(const std::string& name) {
  return name == "C" || name == "POSIX" || name.compare(0, 2, "C.") == 0;
}

}  // namespace

void UseUserLocale() {
  // Loading a locale costs a run up to a quarter of a millisecond, here
  // mostly for one that changes nothing these programs show.
  const std::pair<int, const char*> categories[] = {
      {LC_CTYPE, "LC_CTYPE"}, {LC_NUMERIC, "LC_NUMERIC"}, {LC_MESSAGES, "LC_MESSAGES"}};
  for (const auto& [category, variable] : categories) {
    if (!IsCLocale(LocaleNamedFor(variable))) std::setlocale(category, "");
  }
}

std::string SystemErrorMessage(int code) {
  if (code == kNotARegularFile) return "Not a regular file";
  char buffer[256];
  // GNU strerror_r may return a static text instead of filling the buffer.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  return text ? std::string(text) : std::string();
}

int AvailableProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? count : 1;
}

namespace {

// A small text file's first line; empty when it cannot be read.
std::string FirstLineOf(const std::string& path) {
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return std::string();
  char text[512];
  const ssize_t got = ::read(file, text, sizeof text - 1);
  ::close(file);
  if (got <= 0) return std::string();
  const std::string line(text, static_cast<size_t>(got));
  return line.substr(0, line.find('\n'));
}

// The limit of the process's control group (version 2: "0::/path" in
// /proc/self/cgroup); 0 when there is none.
uint64_t ControlGroupLimit() {
  const std::string group = FirstLineOf("/proc/self/cgroup");
  if (group.rfind("0::", 0) != 0) return 0;
  const std::string limit = FirstLineOf("/sys/fs/cgroup" + group.substr(3) + "/memory.max");
  if (limit.empty() || limit.find_first_not_of("0123456789") != std::string::npos) return 0;  // "max"
  return std::strtoull(limit.c_str(), nullptr, 10);
}

}  // namespace

int CurrentProcessor() { return sched_getcpu(); }

void KeepThreadOff(std::thread& thread, int processor) {
  cpu_set_t set;
  CPU_ZERO(&set);
  // The main thread's processors are the process's.
  if (sched_getaffinity(getpid(), sizeof set, &set) != 0) return;
  if (processor >= 0 && processor < CPU_SETSIZE && CPU_ISSET(processor, &set) && CPU_COUNT(&set) >= 2) {
    CPU_CLR(processor, &set);
  }
  pthread_setaffinity_np(thread.native_handle(), sizeof set, &set);
}

uint64_t MemoryForTheRun() {
  const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGE_SIZE);
  const uint64_t physical = pages > 0 && size > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(size) : 0;
  const uint64_t group = ControlGroupLimit();
  return group > 0 && (physical == 0 || group < physical) ? group : physical;
}

bool ProcessorHasAvx2() {
#if defined(SHRINKWELL_GLIBC_CPU_FEATURES)
  // What the C library found at start: asking the processor again costs a
  // trap to the host per question in a virtual machine, about 0.06 ms of
  // every run in all.
  return CPU_FEATURE_ACTIVE(AVX2);
#elif defined(__x86_64__) && defined(__GNUC__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

std::string ExpandFileName(const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  std::vector<char> cwd(4096);
  while (getcwd(cwd.data(), cwd.size()) == nullptr) {
    if (errno != ERANGE) return name;
    cwd.resize(cwd.size() * 2);
  }
  std::string full(cwd.data());
  if (full.empty() || full.back() != '/') full += '/';
  return full + name;
}

}  // namespace shrinkwell

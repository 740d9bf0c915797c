#include "system.h"

#include <sched.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

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

TFileFacts FileFactsOf(const std::string& name) {
  TFileFacts facts;
  struct stat info;
  if (::stat(name.c_str(), &info) != 0) return facts;
  facts.exists = true;
  facts.directory = S_ISDIR(info.st_mode);
  facts.size = static_cast<int64_t>(info.st_size);
  struct tm local;
  const time_t seconds = info.st_mtime;
  localtime_r(&seconds, &local);
  facts.modifiedDays = (static_cast<double>(seconds) + static_cast<double>(local.tm_gmtoff)) / 86400.0 + 25569.0;
  return facts;
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

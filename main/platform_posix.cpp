// POSIX implementation of the command line and the file operations by
// name: the existence test is false for directories and honours wildcards.
// (The photo's own files: files_posix.cpp; interruption:
// interruption_posix.cpp; text: text_posix.cpp.)
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "errors.h"
#include "system.h"
#include "wide_names.h"

namespace shrinkwell {

namespace {

std::vector<std::u16string>& Arguments() {
  static std::vector<std::u16string> arguments;
  return arguments;
}

TFileResult Failure(int code) {
  TFileResult result;
  result.error = code != 0 ? code : EIO;
  result.targetExists = code == EEXIST;
  return result;
}

bool HasWildcard(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

}  // namespace

void SetCommandLine(int argc, const char* const* argv) {
  auto& arguments = Arguments();
  arguments.clear();
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr && argv[i][0] != '\0') arguments.push_back(ToWide(argv[i]));
  }
}

int ArgumentCount() { return static_cast<int>(Arguments().size()); }

std::u16string ArgumentAt(int index) {
  if (index == 0) {
    std::vector<char> path(4096);
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0 || static_cast<size_t>(length) >= path.size()) {
      throw EOSError(SystemErrorMessage(length < 0 ? errno : ENAMETOOLONG));
    }
    return ToWide(std::string(path.data(), static_cast<size_t>(length)));
  }
  const auto& arguments = Arguments();
  if (index < 0 || static_cast<size_t>(index) > arguments.size()) return std::u16string();
  return arguments[static_cast<size_t>(index) - 1];
}

bool IsExistingFile(const std::u16string& name) {
  const std::string path = ToNarrow(name);
  struct stat info;
  if (::stat(path.c_str(), &info) == 0) return !S_ISDIR(info.st_mode);
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string pattern = slash == std::string::npos ? path : path.substr(slash + 1);
  if (!HasWildcard(pattern) || HasWildcard(folder)) return false;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool isFile = false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string entryName = entry->d_name;
    if (entryName == "." || entryName == "..") continue;
    if (::fnmatch(pattern.c_str(), entryName.c_str(), 0) != 0) continue;
    const std::string full = slash == std::string::npos ? entryName : folder + entryName;
    isFile = ::stat(full.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
    break;
  }
  ::closedir(dir);
  return isFile;
}

bool IsExistingEntry(const std::u16string& name) {
  struct stat info;
  return ::stat(ToNarrow(name).c_str(), &info) == 0;
}

bool EntryExists(const std::u16string& name) {
  struct stat info;
  return ::lstat(ToNarrow(name).c_str(), &info) == 0;
}

TFileResult RemoveFile(const std::u16string& name) {
  if (::unlink(ToNarrow(name).c_str()) != 0) return Failure(errno);
  return TFileResult::Success();
}

}  // namespace shrinkwell

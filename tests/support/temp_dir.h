// A fresh directory under the system's temporary folder, removed with all
// its contents when the test ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "fixtures.h"

namespace testing_support {

class TempDir {
 public:
  explicit TempDir(const std::string& base = std::filesystem::temp_directory_path().string()) {
    std::string pattern = base + "/shrinkwell-test-XXXXXX";
    if (::mkdtemp(&pattern[0]) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Writes a file into the folder and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string path = *this / name;
    fixtures::WriteFile(path, bytes);
    return path;
  }

 private:
  std::string path_;
};

// Every entry below a folder with its bytes ("<dir>", "<link> target"): what
// a run may or may not touch.
inline std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    const std::string relative = std::filesystem::relative(entry.path(), folder).string();
    if (entry.is_symlink()) {
      entries[relative] = "<link> " + std::filesystem::read_symlink(entry.path()).string();
    } else {
      entries[relative] = entry.is_regular_file() ? fixtures::ReadFile(entry.path().string()) : "<dir>";
    }
  }
  return entries;
}

}  // namespace testing_support

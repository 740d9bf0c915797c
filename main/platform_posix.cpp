// POSIX implementation of the command line and the file operations by
// name: the existence test is false for directories and honours wildcards.
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

// File names on POSIX are byte strings that need not be valid UTF-8. Bytes
// that do not form a valid sequence become the lone surrogates U+DC80 to
// U+DCFF and turn back into the same bytes, so every name survives the trip.
std::u16string ToWide(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
      out += static_cast<char16_t>(b0);
      ++i;
      continue;
    }
    int length = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2, code = b0 & 0x1F, minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3, code = b0 & 0x0F, minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4, code = b0 & 0x07, minimum = 0x10000;
    }
    bool valid = length > 0 && i + length <= n;
    for (int k = 1; valid && k < length; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80) valid = false;
      code = (code << 6) | (b & 0x3F);
    }
    if (valid && (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) valid = false;
    if (!valid) {
      out += static_cast<char16_t>(0xDC00 + b0);
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
    i += static_cast<size_t>(length);
  }
  return out;
}

std::string ToNarrow(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  auto put = [&out](char32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      put(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      out += static_cast<char>(c - 0xDC00);  // a byte kept from an undecodable name
    } else {
      put(c);
    }
  }
  return out;
}

}  // namespace shrinkwell

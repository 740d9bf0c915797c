// The part of the command-line handling that is the same on every platform:
// the splitting rule.
#include "wide_names.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#endif

namespace shrinkwell {

namespace {

template <typename Char>
bool IsSeparator(Char c) {
  const auto code = static_cast<std::make_unsigned_t<Char>>(c);
  return code >= 1 && code <= 32;
}

// The position of the character after the one at pos: one unit, but for
// the 8-bit line on Windows, whose code page may have two-byte characters.
size_t NextCharacter(const std::u16string&, size_t pos) { return pos + 1; }
size_t NextCharacter(const std::string& line, size_t pos) {
#ifdef _WIN32
  const size_t next = static_cast<size_t>(CharNextA(line.c_str() + pos) - line.c_str());
  return next > pos ? next : pos + 1;
#else
  (void)line;
  return pos + 1;
#endif
}

template <typename Char>
std::basic_string<Char> SplitNext(const std::basic_string<Char>& line, size_t from, size_t& next) {
  const Char quote = static_cast<Char>('"');
  size_t pos = from;
  for (;;) {
    while (pos < line.size() && IsSeparator(line[pos])) ++pos;
    if (pos + 1 < line.size() && line[pos] == quote && line[pos + 1] == quote) {
      pos += 2;
      continue;
    }
    break;
  }
  std::basic_string<Char> argument;
  bool quoted = false;
  while (pos < line.size()) {
    const Char c = line[pos];
    if (c == quote) {
      quoted = !quoted;
    } else if (!quoted && IsSeparator(c)) {
      break;
    } else {
      const size_t after = std::min(NextCharacter(line, pos), line.size());
      argument.append(line, pos, after - pos);
      pos = after;
      continue;
    }
    ++pos;
  }
  next = pos;
  return argument;
}

}  // namespace

std::string SplitNextArgument(const std::string& line, size_t from, size_t& next) {
  return SplitNext(line, from, next);
}

std::u16string SplitNextArgument(const std::u16string& line, size_t from, size_t& next) {
  return SplitNext(line, from, next);
}

}  // namespace shrinkwell

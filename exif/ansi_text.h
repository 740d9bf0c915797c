// Conversion of the reader's single-byte texts for a UTF-8 console.
#pragma once

#include <string>

namespace shrinkwell {

// Windows-1252 (Latin-1 with printable characters in 0x80-0x9F) to UTF-8.
// The five bytes that code page leaves unassigned come out as U+FFFD.
std::string AnsiToUtf8(const std::string& text);

}  // namespace shrinkwell

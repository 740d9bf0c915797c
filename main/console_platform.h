// What the console needs of the platform (POSIX or Win32).
#pragma once

#include <cstddef>
#include <string>

namespace shrinkwell {
namespace console {

// Writes all bytes to standard output, or to standard error; returns 0, or
// the code of the failure as the error report shows it.
int WriteAll(bool toError, const char* data, size_t size);
// Reads standard input up to a line end or its end; 0, or the failure's code.
int ReadUntilLineEnd();
// The error report's text as the console takes it (the OEM code page on
// Windows).
std::string ReportText(const std::string& text);

}  // namespace console
}  // namespace shrinkwell

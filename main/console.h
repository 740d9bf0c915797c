// Console text: 8-bit text to standard output with CR LF line ends, one line
// read from standard input, and the error report on standard error. A failed
// write or read raises EInOutError.
#pragma once

#include <string>

namespace shrinkwell {

class Exception;

namespace console {

void Write(const std::string& text);
void WriteLine(const std::string& text = std::string());
// Makes everything written so far visible.
void Flush();
// Waits for one line; the end of the input ends the wait as well.
void ReadLine();

// Flushes standard output, then writes the report of the error that ends the
// run to standard error. Never raises.
void WriteErrorReport(const std::string& className, const void* address, const std::string& message);

// The report's fields for an error address: the module's file name and the
// address counted from the start of that module.
std::string ModuleNameOf(const void* address);
unsigned long ModuleOffsetOf(const void* address);

}  // namespace console
}  // namespace shrinkwell

// Small platform layer for what every subsystem needs from the system:
// error texts and absolute file names.
#pragma once

#include <string>

namespace shrinkwell {

// The system's text for an error code (errno on POSIX).
std::string SystemErrorMessage(int code);

// How many processors this process may run on (at least 1).
int AvailableProcessors();

// The absolute form of a file name: relative names are taken from the current
// working directory. Nothing else is resolved.
std::string ExpandFileName(const std::string& name);

}  // namespace shrinkwell

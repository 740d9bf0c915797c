// Runs the built program as a user would: in a given working directory,
// with given arguments and standard input, capturing everything it writes.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct RunResult {
  int status = -1;     // exit status, or -1 when it did not exit normally
  std::string out;     // standard output
  std::string err;     // standard error
};

struct RunOptions {
  std::string input;              // standard input, then end of file
  std::string stdoutPath;         // redirect standard output here instead (e.g. /dev/full)
};

RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& workingDirectory, const RunOptions& options = {});

// Splits console output into lines at CR LF; a trailing unfinished line is
// kept as the last element.
std::vector<std::string> ConsoleLines(const std::string& text);

}  // namespace testing_support

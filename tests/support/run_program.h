// Runs the built program as a user would: in a given working directory,
// with given arguments and standard input, capturing everything it writes.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

class TempDir;

struct RunResult {
  int status = -1;     // exit status, or -1 when it did not exit normally
  int signal = 0;      // the signal that ended it, if one did
  long peakKiB = 0;    // its largest resident memory
  std::string out;     // standard output
  std::string err;     // standard error
  bool timedOut = false;  // killed when its time was up
};

struct RunOptions {
  std::string input;              // standard input, then end of file
  std::string stdoutPath;         // redirect standard output here instead (e.g. /dev/full)
  bool asOtherUser = false;       // run as "nobody" when the tests run as root
  bool oneProcessor = false;      // let it run on one processor only
  int timeoutSeconds = 0;         // killed after this long; 0: waited for
  std::vector<std::string> environment{};  // NAME=VALUE, set for the program
};

// A program started in the background.
class RunningProgram {
 public:
  RunningProgram(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& workingDirectory, const RunOptions& options = {});
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  void Signal(int signal);
  // Waits for it to end and collects what it wrote.
  RunResult Finish();

 private:
  std::unique_ptr<TempDir> io_;
  bool ownStdout_ = true;
  int timeoutSeconds_ = 0;
  pid_t pid_ = -1;
};

RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& workingDirectory, const RunOptions& options = {});

// The emulator to start this test's own programs through, where the kernel
// does not run them itself (arm64 programs on an x86-64 machine without
// binfmt_misc): SHRINKWELL_TEST_EMULATOR, split at blanks, when the
// program is an ELF file for this test's processor. Empty otherwise.
std::vector<std::string> EmulatorFor(const std::string& program);

// Splits console output into lines at CR LF; a trailing unfinished line is
// kept as the last element.
std::vector<std::string> ConsoleLines(const std::string& text);

}  // namespace testing_support

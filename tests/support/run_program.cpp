#include "run_program.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "temp_dir.h"

namespace testing_support {

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::vector<std::string> EmulatorFor(const std::string& program) {
  const char* emulator = std::getenv("SHRINKWELL_TEST_EMULATOR");
  if (emulator == nullptr || *emulator == '\0') return {};
  std::ifstream file(program, std::ios::binary);
  unsigned char header[20] = {};
  if (!file.read(reinterpret_cast<char*>(header), sizeof header) || header[0] != 0x7F || header[1] != 'E') return {};
#if defined(__aarch64__)
  constexpr unsigned kOwnMachine = 0xB7;
#elif defined(__x86_64__)
  constexpr unsigned kOwnMachine = 0x3E;
#else
  constexpr unsigned kOwnMachine = 0;
#endif
  if ((header[18] | header[19] << 8) != kOwnMachine) return {};
  std::vector<std::string> words;
  std::istringstream split(emulator);
  for (std::string word; split >> word;) words.push_back(word);
  return words;
}

RunningProgram::RunningProgram(const std::string& program, const std::vector<std::string>& arguments,
                               const std::string& workingDirectory, const RunOptions& options)
    : io_(std::make_unique<TempDir>()), ownStdout_(options.stdoutPath.empty()), timeoutSeconds_(options.timeoutSeconds) {
  const std::string inPath = *io_ / "stdin", outPath = *io_ / "stdout", errPath = *io_ / "stderr";
  std::ofstream(inPath, std::ios::binary) << options.input;
  const std::string stdoutPath = ownStdout_ ? outPath : options.stdoutPath;

  // Opened here, so that another user runs it even where the folders on
  // its way are closed to them (a clone in root's 0700 home). Only then:
  // a script (Wine's starter) cannot be run from a descriptor.
  const bool otherUser = options.asOtherUser && ::geteuid() == 0;
  std::vector<std::string> emulator = EmulatorFor(program);
  std::string programPath = program;
  if (otherUser && !emulator.empty()) {
    // An emulator opens the program by name: a copy under the same name
    // (the program reports its own name) in a folder the other user may enter.
    programPath = *io_ / program.substr(program.rfind('/') + 1);
    std::filesystem::copy_file(program, programPath);
    ::chmod(io_->Path().c_str(), 0755);
    ::chmod(programPath.c_str(), 0755);
  }
  const int executable = otherUser && emulator.empty() ? ::open(program.c_str(), O_RDONLY | O_CLOEXEC) : -1;
  std::vector<std::string> words = emulator;
  words.push_back(programPath);
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  const std::string emulatorPath = emulator.empty() ? std::string() : emulator.front();
  // This process's environment with the options' settings in place.
  std::vector<std::string> settings;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('=') + 1);
    const bool replaced = std::any_of(options.environment.begin(), options.environment.end(),
                                      [&name](const std::string& setting) { return setting.rfind(name, 0) == 0; });
    if (!replaced) settings.push_back(text);
  }
  settings.insert(settings.end(), options.environment.begin(), options.environment.end());
  std::vector<char*> envp;
  for (std::string& setting : settings) envp.push_back(&setting[0]);
  envp.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    // The child says why it could not start the program, then ends.
    auto fail = [](const char* what, int status) {
      const int error = errno;
      ::dprintf(2, "run_program: %s: %s\n", what, std::strerror(error));
      ::_exit(status);
    };
    const int in = ::open(inPath.c_str(), O_RDONLY);
    const int out = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || out < 0 || err < 0) fail("cannot open the standard streams' files", 126);
    ::dup2(err, 2);
    if (::chdir(workingDirectory.c_str()) != 0) fail(("cannot enter " + workingDirectory).c_str(), 126);
    if (otherUser && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      fail("cannot become user 65534", 126);
    }
    if (options.oneProcessor) {
      cpu_set_t one;
      CPU_ZERO(&one);
      CPU_SET(0, &one);
      if (::sched_setaffinity(0, sizeof one, &one) != 0) fail("cannot keep to one processor", 126);
    }
    // As from a terminal, whatever the test runner ignores.
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_DFL);
    ::dup2(in, 0);
    ::dup2(out, 1);
    if (!emulatorPath.empty()) {
      ::execvpe(emulatorPath.c_str(), argv.data(), envp.data());
    } else if (otherUser) {
      if (executable < 0) fail(("cannot open " + program).c_str(), 127);
      ::fexecve(executable, argv.data(), envp.data());
    } else {
      ::execve(program.c_str(), argv.data(), envp.data());
    }
    fail(("cannot start " + program).c_str(), 127);
  }
  if (executable >= 0) ::close(executable);
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

void RunningProgram::Signal(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
}

RunResult RunningProgram::Finish() {
  RunResult result;
  int status = 0;
  rusage usage{};
  bool ended = false;
  if (pid_ > 0 && timeoutSeconds_ > 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds_);
    while (!(ended = ::wait4(pid_, &status, WNOHANG, &usage) == pid_)) {
      if (std::chrono::steady_clock::now() >= deadline) {
        ::kill(pid_, SIGKILL);
        result.timedOut = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  if (pid_ > 0 && !ended) ended = ::wait4(pid_, &status, 0, &usage) == pid_;
  if (ended && !result.timedOut) {
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.peakKiB = usage.ru_maxrss;
  }
  pid_ = -1;
  if (ownStdout_) result.out = Slurp(*io_ / "stdout");
  result.err = Slurp(*io_ / "stderr");
  return result;
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& workingDirectory, const RunOptions& options) {
  return RunningProgram(program, arguments, workingDirectory, options).Finish();
}

std::vector<std::string> ConsoleLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace testing_support

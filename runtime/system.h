// Small platform layer for what every subsystem needs from the system:
// the user's locale, error texts, processors and memory, and absolute file names.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

namespace shrinkwell {

// Takes from the user's settings the parts of the locale these programs use:
// the character set, the decimal separator and the language of the system's
// error texts. The other categories are left as "C", and so are these when
// the user's setting is a C locale (C, POSIX, C.UTF-8), which shows the
// same: where locales are not archived, loading all of them cost every run
// a quarter of a millisecond.
void UseUserLocale();

// The system's text for an error code (errno on POSIX, GetLastError's
// code on Windows) or for kNotARegularFile.
std::string SystemErrorMessage(int code);

// How many processors this process may run on (at least 1).
int AvailableProcessors();

// The processor the calling thread runs on now; -1 when the system does
// not tell.
int CurrentProcessor();

// Lets `thread` run on every processor the process may use but
// `processor`, when there is another; -1 lets it run on all of them
// again. A hint to the scheduler: failures are ignored, and where the
// system has no such call nothing is done.
void KeepThreadOff(std::thread& thread, int processor);

// The memory this process may use, in bytes: the machine's physical
// memory, or its control group's limit where that is lower (Linux); 0 when
// the system does not tell.
uint64_t MemoryForTheRun();

// Whether the processor and the system let programs use 256-bit AVX2
// vectors. Asked once at start.
bool ProcessorHasAvx2();

// What the file system tells of a file: its size, and when it was last
// written, in days since 1899-12-30, local time.
struct TFileFacts {
  int64_t size = 0;
  double modifiedDays = 0;
};

// The error code of a file that is no regular file (a pipe, a device, a
// folder) where one was asked for; SystemErrorMessage has a text for it.
inline constexpr int kNotARegularFile = -1;

// The absolute form of a file name: relative names are taken from the current
// working directory. Nothing else is resolved.
std::string ExpandFileName(const std::string& name);

}  // namespace shrinkwell

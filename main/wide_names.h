// UTF-16 command-line arguments and the file operations by name that the
// batch driver needs, over a small platform layer (POSIX here; a Win32 one
// maps the same calls onto the wide Windows functions). The photo's own
// files are used through their handles (photo_files.h).
#pragma once

#include <cstddef>
#include <string>

namespace shrinkwell {

// Splits the next argument off a command line, starting at position `from`.
// Separators are the characters 1 to 32; a pair of double quotes right after
// separators is skipped; double quotes open and close quoted stretches that
// may start and end anywhere inside an argument and are not part of it;
// there is no escape character. Returns the argument and stores the position
// after it in `next`. An empty result at the end of the line means that no
// argument follows.
std::string SplitNextArgument(const std::string& line, size_t from, size_t& next);
std::u16string SplitNextArgument(const std::u16string& line, size_t from, size_t& next);

// Takes the process's arguments (argv of main). Empty arguments are dropped,
// so that an empty argument neither counts nor shifts the numbering.
void SetCommandLine(int argc, const char* const* argv);

// Number of arguments after the program name.
int ArgumentCount();
// Index 0: the executable's full path; 1 or more: that argument; empty text
// when there are fewer arguments.
std::u16string ArgumentAt(int index);

// What a file operation reports: true on success; on failure the platform's
// error code and whether it means that the target name was taken. Each
// result carries its own error, so nothing is read from shared state later.
struct TFileResult {
  int error = 0;
  bool targetExists = false;

  static TFileResult Success() { return {}; }
  explicit operator bool() const { return error == 0; }
};

// True when the name (which may hold the wildcards * and ?) finds an entry
// and the first entry found is not a directory.
bool IsExistingFile(const std::u16string& name);
// True when the name, its links followed, leads to an entry of any kind
// (a folder, a pipe); no wildcards.
bool IsExistingEntry(const std::u16string& name);
// True when a directory entry of exactly this name exists, of any kind
// (a dangling link included); no wildcards.
bool EntryExists(const std::u16string& name);
TFileResult RemoveFile(const std::u16string& name);

// The 8-bit form of a UTF-16 text, as the console and the 8-bit file
// functions take it (UTF-8 here), and back.
std::string ToNarrow(const std::u16string& text);
std::u16string ToWide(const std::string& text);

}  // namespace shrinkwell

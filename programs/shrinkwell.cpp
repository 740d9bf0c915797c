#include <clocale>
#include <csignal>

#include "batch.h"
#include "scratch_safety.h"
#include "wide_names.h"

int main(int argc, char** argv) {
  // A closed output pipe must end in the error report, not a silent death;
  // so must a file-size limit.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  // Ctrl+C and the like take this run's scratch files with them.
  shrinkwell::InstallInterruptCleanup();
  // Numbers in metadata texts use the user's decimal separator.
  std::setlocale(LC_ALL, "");
  shrinkwell::SetCommandLine(argc, argv);
  return shrinkwell::RunBatch();
}

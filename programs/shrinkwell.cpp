#include <clocale>
#include <csignal>

#include "batch.h"
#include "wide_names.h"

int main(int argc, char** argv) {
  // A closed output pipe must end in the error report, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);
  // Numbers in metadata texts use the user's decimal separator.
  std::setlocale(LC_ALL, "");
  shrinkwell::SetCommandLine(argc, argv);
  return shrinkwell::RunBatch();
}

#include <csignal>

#ifdef _WIN32
#include <windows.h>
#endif

#include "batch.h"
#include "jpeg.h"
#include "scratch_safety.h"
#include "system.h"
#include "wide_names.h"

int main(int argc, char** argv) {
#ifndef _WIN32
  // A closed output pipe must end in the error report, not a silent death;
  // so must a file-size limit.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
#else
  // The decoding default follows the screen: a palette screen gets
  // palette pictures.
  if (const HDC screen = GetDC(nullptr)) {
    if (GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES) <= 8) {
      shrinkwell::JpegOptionDefaults.DecodeFormat = shrinkwell::dfPalette8;
    }
    ReleaseDC(nullptr, screen);
  }
#endif
  // Ctrl+C and the like take this run's scratch files with them.
  shrinkwell::InstallInterruptCleanup();
  // Numbers in metadata texts use the user's decimal separator.
  shrinkwell::UseUserLocale();
  shrinkwell::SetCommandLine(argc, argv);
  return shrinkwell::RunBatch();
}

#include "batch.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <new>

#include "console.h"
#include "errors.h"
#include "jpeg.h"
#include "photo_pipeline.h"
#include "system.h"
#include "wide_names.h"

namespace shrinkwell {

namespace {

void WriteShortBanner() {
  console::WriteLine("Shrinkwell 1.1, Compiled 28.07.2012");
  console::WriteLine("Written by the Shrinkwell developers. Free to use and to pass on.");
  console::WriteLine();
}

void WriteLongBannerAndUsage() {
  console::WriteLine("Shrinkwell 1.2, Compiled 28.07.2012");
  console::WriteLine();
  console::WriteLine("Written by the Shrinkwell developers. Free to use and to pass on.");
  console::WriteLine();
  console::WriteLine("E-mail: shrinkwell@example.org");
  console::WriteLine("Homepage: https://shrinkwell.example.org");
  console::WriteLine();
  console::WriteLine("With thanks to the authors of the EXIF metadata reader.");
  console::WriteLine();
  console::WriteLine();
  console::WriteLine("USAGE:");
  console::WriteLine("Drag and drop the photos to be resized on this program's executable.");
  console::WriteLine();
  console::WriteLine();
  console::WriteLine("Press Enter to close this window.");
}

// The end of a photo's progress line.
std::string LineEnding(const TPhotoOutcome& outcome, const std::u16string& output) {
  switch (outcome.kind) {
    case TPhotoOutcome::TKind::Stored: return " OK";
    case TPhotoOutcome::TKind::OutputExists: return " skipped: " + ToNarrow(output) + " exists";
    case TPhotoOutcome::TKind::TooSmall: return " skipped: too small";
    case TPhotoOutcome::TKind::StoreFailed: return " failed: " + SystemErrorMessage(outcome.systemError);
  }
  return " OK";
}

// Runs the loop; true when every photo's copy was stored or rightly
// skipped, false when some copy could not be stored.
bool RunLoop(TPhotoPipeline& pipeline) {
  bool allStored = true;
  const int count = ArgumentCount();
  for (int i = 1; i <= count; ++i) {
    const std::u16string argument = ArgumentAt(i);
    const std::string narrow = ToNarrow(argument);
    console::Write("[" + ZeroPad(i, 2) + "/" + ZeroPad(count, 2) + "] " + narrow);
    console::Flush();
    const std::string extension = ExtensionOf(narrow);
    std::string ending = " OK";
    if (IsExistingFile(argument) && IsJpegExtension(extension)) {
      const std::u16string output = OutputNameFor(argument, ToWide(extension));
      const TPhotoOutcome outcome = pipeline.Process(argument, output);
      if (outcome.kind == TPhotoOutcome::TKind::StoreFailed) allStored = false;
      ending = LineEnding(outcome, output);
    }
    console::WriteLine(ending);
  }
  console::Flush();
  return allStored;
}

// SHRINKWELL_MAX_MEGAPIXELS raises (or lowers) the pixel limit: a whole
// number of megapixels from 1 up; anything else leaves the default. Above
// the largest picture JPEG allows it changes nothing more.
void TakePixelLimitFromEnvironment() {
  const char* text = std::getenv("SHRINKWELL_MAX_MEGAPIXELS");
  if (text == nullptr || *text == '\0') return;
  unsigned long value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return;
    value = std::min(value * 10 + static_cast<unsigned long>(*c - '0'), 100000ul);
  }
  if (value > 0) JpegMegapixelLimit = static_cast<uint32_t>(value);
}

}  // namespace

std::string ZeroPad(int value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  return digits;
}

std::string ExtensionOf(const std::string& path) {
  const size_t last = path.find_last_of(".\\:/");
  if (last == std::string::npos || path[last] != '.') return std::string();
  return path.substr(last);
}

bool IsJpegExtension(const std::string& extension) {
  std::string upper = extension;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper == ".JPG" || upper == ".JPEG";
}

std::u16string OutputNameFor(const std::u16string& argument, const std::u16string& extension) {
  return argument.substr(0, argument.size() - extension.size()) + u"+" + extension;
}

int RunBatch() {
  TakePixelLimitFromEnvironment();
  try {
    TPhotoPipeline pipeline;  // the work buffers, before anything is printed
    if (ArgumentCount() > 0) {
      WriteShortBanner();
    } else {
      WriteLongBannerAndUsage();
      console::ReadLine();
    }
    // A copy that could not be stored leaves its line and the run goes on,
    // but a script must be able to tell.
    return RunLoop(pipeline) ? 0 : 2;
  } catch (const Exception& error) {
    console::WriteErrorReport(error.ClassName(), error.Address(), error.Message());
  } catch (const std::bad_alloc&) {
    const EOutOfMemory error(nullptr);
    console::WriteErrorReport(error.ClassName(), error.Address(), error.Message());
  } catch (const std::exception& error) {
    console::WriteErrorReport("Exception", nullptr, error.what());
  }
  return 1;
}

}  // namespace shrinkwell

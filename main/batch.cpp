#include "batch.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <vector>

#include "console.h"
#include "errors.h"
#include "jpeg.h"
#include "photo_pipeline.h"
#include "photo_queue.h"
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
    case TPhotoOutcome::TKind::NotFound: return " skipped: not found";
    case TPhotoOutcome::TKind::NotAFile: return " skipped: not a file";
  }
  return " OK";
}

// Whether the run may still end well after this photo: a copy that could
// not be stored, or a photo asked for that is not there, it may not.
bool DealtWith(const TPhotoOutcome& outcome) {
  switch (outcome.kind) {
    case TPhotoOutcome::TKind::StoreFailed:
    case TPhotoOutcome::TKind::NotFound:
    case TPhotoOutcome::TKind::NotAFile:
      return false;
    default:
      return true;
  }
}

// One argument as the loop sees it.
struct TArgument {
  std::u16string name;
  std::string narrow;    // as the console and the 8-bit functions take it
  bool jpeg = false;     // named .jpg or .jpeg
  bool photo = false;    // and an existing file
  std::u16string output;
};

TArgument ArgumentFacts(int index) {
  TArgument argument;
  argument.name = ArgumentAt(index);
  argument.narrow = ToNarrow(argument.name);
  const std::string extension = ExtensionOf(argument.narrow);
  argument.jpeg = IsJpegExtension(extension);
  argument.photo = argument.jpeg && IsExistingFile(argument.name);
  if (argument.photo) argument.output = OutputNameFor(argument.name, ToWide(extension));
  return argument;
}

// What became of a photo that was named but is no existing file.
TPhotoOutcome Missing(const TArgument& argument) {
  return {IsExistingEntry(argument.name) ? TPhotoOutcome::TKind::NotAFile : TPhotoOutcome::TKind::NotFound, 0};
}

// Runs the loop; true when every photo's copy was stored or rightly
// skipped, false when some copy could not be stored or some photo named
// was not there.
bool RunLoop(std::vector<std::unique_ptr<TPhotoPipeline>>& pipelines) {
  bool allDealtWith = true;
  const int count = ArgumentCount();
  std::vector<TArgument> arguments;
  for (int i = 1; i <= count; ++i) arguments.push_back(ArgumentFacts(i));
  std::vector<TPhotoJob> jobs;
  for (const TArgument& argument : arguments) {
    jobs.push_back(argument.photo ? TPhotoJob{argument.name, argument.output} : TPhotoJob{});
  }
  TPhotoQueue queue(pipelines, std::move(jobs));
  for (int i = 1; i <= count; ++i) {
    const TArgument& argument = arguments[static_cast<size_t>(i - 1)];
    console::Write("[" + ZeroPad(i, 2) + "/" + ZeroPad(count, 2) + "] " + argument.narrow);
    console::Flush();
    std::string ending = " OK";
    if (argument.jpeg) {
      TPhotoOutcome outcome;
      if (argument.photo) {
        TPreparedPhoto photo = queue.Take(static_cast<size_t>(i - 1));
        outcome = pipelines.front()->Store(photo, argument.output);
      } else {
        outcome = Missing(argument);
      }
      allDealtWith = allDealtWith && DealtWith(outcome);
      ending = LineEnding(outcome, argument.output);
    }
    console::WriteLine(ending);
  }
  console::Flush();
  return allDealtWith;
}

// A pipeline for each photo in flight (photo_queue.h). A single photo in
// flight halves on a second processor instead, when there is one; a photo
// with restart markers is decoded in two parts while a processor is free.
std::vector<std::unique_ptr<TPhotoPipeline>> MakePipelines() {
  const char* threads = std::getenv("SHRINKWELL_THREADS");
  const int processors = ProcessorsToUse(AvailableProcessors(), threads);
  size_t photos = 0;  // named as photos; whether they are there is told later
  for (int i = 1; i <= ArgumentCount(); ++i) photos += IsJpegExtension(ExtensionOf(ToNarrow(ArgumentAt(i)))) ? 1 : 0;
  const size_t slots = PhotosInFlight(std::max<size_t>(photos, 1), processors, MemoryForTheRun());
  const THalvingThread halving = slots == 1 && processors >= 2 ? THalvingThread::Worker : THalvingThread::Decoder;
  const auto share = std::make_shared<TProcessorShare>(processors);
  std::vector<std::unique_ptr<TPhotoPipeline>> pipelines;
  for (size_t i = 0; i < slots; ++i) pipelines.push_back(std::make_unique<TPhotoPipeline>(halving, share));
  return pipelines;
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
    auto pipelines = MakePipelines();  // their threads, before anything is printed
    if (ArgumentCount() > 0) {
      WriteShortBanner();
    } else {
      WriteLongBannerAndUsage();
      console::ReadLine();
    }
    // A copy that could not be stored, or a photo that is not there, leaves
    // its line and the run goes on, but a script must be able to tell.
    const bool allDealtWith = RunLoop(pipelines);
    return allDealtWith ? 0 : 2;
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

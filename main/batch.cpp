#include "batch.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <exception>
#include <future>
#include <memory>
#include <new>
#include <vector>

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

// The photos of a run, up to `slots` of them in flight: while one is
// stored, the next is already copied, read and decoded on another core.
// Storing, and everything the console shows, keeps the arguments' order:
// the console reads as a run of one photo after another would, and a photo
// that cannot be decoded ends the run at its own turn.
class TPhotoQueue {
 public:
  TPhotoQueue(std::vector<std::unique_ptr<TPhotoPipeline>>& pipelines, std::vector<TArgument>& arguments)
      : pipelines_(pipelines), arguments_(arguments) {}

  // The prepared photo of argument index (a photo), starting the next
  // photos meanwhile. Raises what its preparation raised.
  TPreparedPhoto Take(size_t index) {
    Fill(index);
    TPreparedPhoto photo = Next(index);
    Fill(index + 1);  // the next one works while this one is stored
    return photo;
  }

 private:
  struct TInFlight {
    size_t index;
    std::future<TPreparedPhoto> prepared;  // empty: prepared here, when taken
  };

  // Starts photos from index on until the slots are full.
  void Fill(size_t index) {
    next_ = std::max(next_, index);
    while (inFlight_.size() < pipelines_.size() && next_ < arguments_.size()) {
      const size_t photo = next_++;
      if (!arguments_[photo].photo) continue;
      TPhotoPipeline& pipeline = *pipelines_[started_++ % pipelines_.size()];
      TInFlight entry{photo, {}};
      if (pipelines_.size() > 1) {
        const TArgument& argument = arguments_[photo];
        entry.prepared = std::async(std::launch::async,
                                    [&pipeline, &argument] { return pipeline.Prepare(argument.name, argument.output); });
      }
      inFlight_.push_back(std::move(entry));
    }
  }

  TPreparedPhoto Next(size_t index) {
    TInFlight entry = std::move(inFlight_.front());
    inFlight_.pop_front();
    if (entry.prepared.valid()) return entry.prepared.get();
    const TArgument& argument = arguments_[index];
    return pipelines_.front()->Prepare(argument.name, argument.output);  // one slot: on this thread
  }

  std::vector<std::unique_ptr<TPhotoPipeline>>& pipelines_;
  std::vector<TArgument>& arguments_;
  std::deque<TInFlight> inFlight_;
  size_t next_ = 0;
  size_t started_ = 0;
};

// Runs the loop; true when every photo's copy was stored or rightly
// skipped, false when some copy could not be stored or some photo named
// was not there.
bool RunLoop(std::vector<std::unique_ptr<TPhotoPipeline>>& pipelines) {
  bool allDealtWith = true;
  const int count = ArgumentCount();
  std::vector<TArgument> arguments;
  for (int i = 1; i <= count; ++i) arguments.push_back(ArgumentFacts(i));
  TPhotoQueue queue(pipelines, arguments);
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

// How many photos are in flight at once: as many as free cores, at most
// two; one for a single photo, which halves on a second core instead.
std::vector<std::unique_ptr<TPhotoPipeline>> MakePipelines() {
  const int cores = AvailableProcessors();
  const size_t slots = ArgumentCount() >= 2 && cores >= 2 ? 2 : 1;
  std::vector<std::unique_ptr<TPhotoPipeline>> pipelines;
  const THalvingThread halving = slots == 1 && cores >= 2 ? THalvingThread::Worker : THalvingThread::Decoder;
  for (size_t i = 0; i < slots; ++i) pipelines.push_back(std::make_unique<TPhotoPipeline>(halving));
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
    auto pipelines = MakePipelines();  // the work buffers, before anything is printed
    if (ArgumentCount() > 0) {
      WriteShortBanner();
    } else {
      WriteLongBannerAndUsage();
      console::ReadLine();
    }
    // A copy that could not be stored, or a photo that is not there, leaves
    // its line and the run goes on, but a script must be able to tell.
    const bool allDealtWith = RunLoop(pipelines);
    // The process's end gives the work memory back at once. Block by block
    // it cost a run 0.15 ms: each block the halving thread touched
    // interrupts the idle second core to flush its address translations.
    for (auto& pipeline : pipelines) pipeline->Settle();
    static auto* const keptToTheEnd = new std::vector<std::unique_ptr<TPhotoPipeline>>();
    for (auto& pipeline : pipelines) keptToTheEnd->push_back(std::move(pipeline));
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

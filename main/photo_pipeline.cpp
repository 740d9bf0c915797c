#include "photo_pipeline.h"

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>

#include "errors.h"
#include "exif_reader.h"
#include "graphics.h"
#include "jpeg.h"
#include "band_shrinker.h"
#include "orientation.h"
#include "scratch_safety.h"
#include "system.h"
#include "wide_names.h"

namespace shrinkwell {

namespace {

const char16_t kSourceScratch[] = u"1.$$$";
const char16_t kOutputScratch[] = u"2.$$$";
const char kSourceScratchName[] = "1.$$$";
const char kOutputScratchName[] = "2.$$$";

// Reports the time since the previous lap to the observer, if there is one.
class TStageLaps {
 public:
  explicit TStageLaps(const TPhotoPipeline::StageObserver& observer) : observer_(observer) {
    if (observer_) last_ = Clock::now();
  }
  void Lap(TPhotoStage stage) {
    if (!observer_) return;
    const Clock::time_point now = Clock::now();
    observer_(stage, std::chrono::duration<double>(now - last_).count());
    last_ = now;
  }

 private:
  using Clock = std::chrono::steady_clock;
  const TPhotoPipeline::StageObserver& observer_;
  Clock::time_point last_;
};

// The scratch names, this thread's while it lives: the other photo in flight
// of this run waits here, and so does another run in this folder. It also
// keeps the metadata reader, whose state is process-wide, to one photo at a
// time.
class TScratchTurn {
 public:
  TScratchTurn() : inProcess_(ScratchMutex()) {}

 private:
  static std::mutex& ScratchMutex() {
    static std::mutex mutex;
    return mutex;
  }
  std::lock_guard<std::mutex> inProcess_;
  TScratchLock folder_;
  TScratchInUse inUse_;
};

// One scratch name, ours while the scratch lock is held: whatever has the
// name is removed at once, and what we make under it is removed when this
// goes, unless it was moved away; an interruption removes it too.
class TScratchFile {
 public:
  TScratchFile(const char16_t* name, const char* narrowName)
      : name_(name), narrowName_(narrowName), interruption_(narrowName) {
    staleEntry_ = RemoveFile(name_);
  }
  ~TScratchFile() {
    if (made_) RemoveFile(name_);
  }
  TScratchFile(const TScratchFile&) = delete;
  TScratchFile& operator=(const TScratchFile&) = delete;

  // We made the file: it is ours to remove.
  void Made() { made_ = true; }
  // Removed now, or moved away: nothing left to remove.
  void Gone() { made_ = false; }
  void Remove() {
    RemoveFile(name_);
    made_ = false;
  }
  const char16_t* Name() const { return name_; }
  const char* NarrowName() const { return narrowName_; }
  // Why a new file cannot be made under the name: what kept the old entry
  // there (a folder, say) tells more than "exists".
  int WhyNotMade(const TFileResult& made) const {
    return made.targetExists && staleEntry_.error != 0 ? staleEntry_.error : made.error;
  }

 private:
  const char16_t* name_;
  const char* narrowName_;
  TRemovedOnInterrupt interruption_;
  TFileResult staleEntry_;
  bool made_ = false;
};

// The turn that the photo's EXIF Orientation asks for; none without one.
TTurn TurnOfScratchCopy() {
  TimgData metadata(255);
  metadata.ScanJpegFile(kSourceScratchName);
  if (!metadata.HasExif() || metadata.ImageInfo()->TagIndexByName("Orientation") < 0) return TTurn::None;
  return TurnForOrientationText(metadata.ImageInfo()->TagTextByName("Orientation"));
}

// Copy, metadata scan and read, through "1.$$$": the photo's turn, and its
// bytes in memory or, where the system allows it, the copy open in
// `removedCopy`, already removed from the folder: the decoder reads it
// piece by piece, so that the bytes never need memory of their own. The
// copy is made exclusively, so it can never go through a link or into a
// file that was there before. A failed copy ends the run.
TTurn ReadThroughScratchCopy(const std::u16string& source, TJPEGImage& jpeg, TStageLaps& laps,
                             std::unique_ptr<TFileStream>& removedCopy) {
  const TScratchTurn scratch;
  TScratchFile sourceCopy(kSourceScratch, kSourceScratchName);
  const TFileResult copied = CopyFileTo(source, sourceCopy.Name(), true);
  if (!copied) {
    throw EFOpenError(Format("Datei %s kann nicht geöffnet werden. %s", ExpandFileName(kSourceScratchName).c_str(),
                             SystemErrorMessage(sourceCopy.WhyNotMade(copied)).c_str()));
  }
  sourceCopy.Made();
  laps.Lap(TPhotoStage::Copy);
  const TTurn turn = TurnOfScratchCopy();
  laps.Lap(TPhotoStage::Metadata);
  if (OpenFilesCanBeRemoved()) {
    removedCopy = std::make_unique<TFileStream>(sourceCopy.NarrowName(), TFileStream::Mode::OpenRead);
  } else {
    jpeg.ReadFromFile(sourceCopy.NarrowName());
  }
  sourceCopy.Remove();
  laps.Lap(TPhotoStage::Read);
  return turn;
}

// Closes the file on a thread of its own while the caller goes on: closing
// a removed file gives its pages back, a third of a millisecond for a
// 12-megapixel photo. The result's destructor waits for it. Closed here when no thread
// can be had.
std::future<void> CloseBeside(std::unique_ptr<TFileStream> file) {
  if (!file) return {};
  try {
    return std::async(std::launch::async, [file = std::move(file)]() mutable { file.reset(); });
  } catch (const std::system_error&) {
    return {};
  }
}

// Finishes the decode on a thread of its own while the caller encodes:
// giving back a progressive photo's coefficients takes milliseconds. The
// result raises what the end raised. Finished here when that is quicker
// than starting a thread, or when no thread can be had.
std::future<void> FinishBeside(TJPEGDecodeEnd end) {
  if (!end.HoldsWholePicture()) {
    end.Finish();
    return {};
  }
  auto shared = std::make_shared<TJPEGDecodeEnd>(std::move(end));
  try {
    return std::async(std::launch::async, [shared] { shared->Finish(); });
  } catch (const std::system_error&) {
    shared->Finish();
    return {};
  }
}

// The removed scratch copy as the decoder reads it: once its last byte is
// read it is closed beside the decoding, which still has the last rows to
// make, and `closing` tells when that is done.
class TRemovedCopy final : public TStream {
 public:
  TRemovedCopy(std::unique_ptr<TFileStream> file, std::future<void>& closing)
      : file_(std::move(file)), size_(file_->Size()), closing_(closing) {}

  int64_t Size() const override { return size_; }
  size_t Read(void* buffer, size_t count) override {
    if (!file_) return 0;
    const size_t got = file_->Read(buffer, count);
    position_ += static_cast<int64_t>(got);
    if (got == 0 || position_ >= size_) closing_ = CloseBeside(std::move(file_));
    return got;
  }
  void WriteBuffer(const void*, size_t) override { throw EWriteError("Stream-Schreibfehler"); }

 private:
  std::unique_ptr<TFileStream> file_;
  const int64_t size_;
  std::future<void>& closing_;
};

// Writes the encoded copy to "2.$$$", then moves it to the output name.
TFileResult StoreThroughScratchFile(TJPEGImage& jpeg, const std::u16string& source, const std::u16string& output,
                                    TStageLaps& laps) {
  jpeg.EnsureEncoded();  // done already: the work, before other runs are kept waiting
  const TScratchTurn scratch;
  TScratchFile outputCopy(kOutputScratch, kOutputScratchName);
  {
    TFileStream stream(outputCopy.NarrowName(), TFileStream::Mode::CreateNew);
    outputCopy.Made();
    jpeg.WriteToStream(stream);
    stream.ShareLike(ToNarrow(source));
    stream.Close();
  }
  laps.Lap(TPhotoStage::Write);
  const TFileResult moved = MoveFileTo(outputCopy.Name(), output);
  laps.Lap(TPhotoStage::Move);
  if (moved) outputCopy.Gone();  // else the finished scratch file goes with outputCopy
  return moved;
}

}  // namespace

void TPhotoPipeline::TCopyEncoder::Begin(int32_t width, int32_t height) {
  TJPEGOptions options = source_->Options();
  options.EncodeQuality = 88;
  encoder_.Start(width, height, options);
}

TPhotoPipeline::TPhotoPipeline(bool halvingThread) : bands_(halvingThread) {}

void TPhotoPipeline::Settle() {
  if (closing_.valid()) closing_.wait();
}

TPhotoOutcome TPhotoPipeline::Process(const std::u16string& source, const std::u16string& output) {
  TPreparedPhoto photo = Prepare(source, output);
  return Store(photo, source, output);
}

TPreparedPhoto TPhotoPipeline::Prepare(const std::u16string& source, const std::u16string& output) {
  // Only a shortcut for a second run over a folder: the no-replace move
  // stays the guarantee.
  if (EntryExists(output)) return {{TPhotoOutcome::TKind::OutputExists, 0}, nullptr};

  TStageLaps laps(observer_);
  auto jpeg = std::make_unique<TJPEGImage>();
  // The scratch names are locked only while a scratch file is in use, so
  // that a second run in this folder decodes while this one does.
  std::unique_ptr<TFileStream> removedCopy;
  const TTurn turn = ReadThroughScratchCopy(source, *jpeg, laps, removedCopy);
  // Halved twice, turned and encoded while it is decoded: neither the
  // full-size picture nor, unturned, the quarter-size one ever exists.
  bands_.Start(turn, &encoder_);
  // However the preparation ends, the halving thread is done with this
  // photo before its picture goes: the sink reads the picture's options.
  struct TWorkerDone {
    TBandShrinker& bands;
    ~TWorkerDone() { bands.Abandon(); }
  } workerDone{bands_};
  encoder_.Follow(*jpeg);
  std::optional<TRemovedCopy> copy;
  std::future<void> decodeEnded;  // before the copy goes, waited for
  if (removedCopy) {
    copy.emplace(std::move(removedCopy), closing_);
    decodeEnded = FinishBeside(jpeg->DecodeRowsLeavingEnd(*copy, bands_));
  } else {
    jpeg->DecodeRows(bands_);
  }
  laps.Lap(TPhotoStage::Decode);
  // A copy of less than one pixel would be a file that no viewer opens.
  if (jpeg->PixelWidth() < 4 || jpeg->PixelHeight() < 4) {
    if (decodeEnded.valid()) decodeEnded.get();
    return {{TPhotoOutcome::TKind::TooSmall, 0}, nullptr};
  }
  laps.Lap(TPhotoStage::Shrink);
  bands_.Finish();
  laps.Lap(TPhotoStage::Turn);
  std::string encoded = encoder_.Finish();
  // What the end of the file raises ends the run before the copy is stored.
  if (decodeEnded.valid()) decodeEnded.get();
  jpeg->TakeCompressed(std::move(encoded));
  laps.Lap(TPhotoStage::Encode);
  return {{TPhotoOutcome::TKind::Stored, 0}, std::move(jpeg)};
}

TPhotoOutcome TPhotoPipeline::Store(TPreparedPhoto& photo, const std::u16string& source,
                                    const std::u16string& output) {
  if (photo.outcome.kind != TPhotoOutcome::TKind::Stored || !photo.copy) return photo.outcome;
  TStageLaps laps(observer_);
  const TFileResult moved = StoreThroughScratchFile(*photo.copy, source, output, laps);
  photo.copy.reset();
  if (moved) return {TPhotoOutcome::TKind::Stored, 0};
  if (moved.targetExists) return {TPhotoOutcome::TKind::OutputExists, 0};
  return {TPhotoOutcome::TKind::StoreFailed, moved.error};
}

}  // namespace shrinkwell

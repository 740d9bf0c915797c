#include "photo_pipeline.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "errors.h"
#include "exif_reader.h"
#include "graphics.h"
#include "jpeg.h"
#include "jpeg_split.h"
#include "band_shrinker.h"
#include "orientation.h"
#include "photo_files.h"
#include "photo_queue.h"
#include "scheduling_policy.h"
#include "scratch_safety.h"
#include "system.h"
#include "wide_names.h"

namespace shrinkwell {

namespace {

const char16_t kSourceScratch[] = u"1.$$$";
const char16_t kOutputScratch[] = u"2.$$$";

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

// The scratch names, this thread's while it lives: the other photo in
// flight of this run waits here. It also keeps the metadata reader, whose
// state is process-wide, to one photo at a time.
class TScratchNamesHeld {
 public:
  TScratchNamesHeld() : inProcess_(ScratchMutex()) {}

 private:
  static std::mutex& ScratchMutex() {
    static std::mutex mutex;
    return mutex;
  }
  std::lock_guard<std::mutex> inProcess_;
  TScratchInUse inUse_;
};

// The turn that the photo's EXIF Orientation asks for; none without one.
TTurn TurnOfCopy(TFileStream& copy) {
  copy.Seek(0);
  TimgData metadata(255);
  metadata.ScanJpegFile(copy);
  if (!metadata.HasExif() || metadata.ImageInfo()->TagIndexByName("Orientation") < 0) return TTurn::None;
  return TurnForOrientationText(metadata.ImageInfo()->TagTextByName("Orientation"));
}

// Copy, metadata scan and read, through "1.$$$": the photo's turn, and its
// bytes in memory or, where the system allows it, the copy open in
// `removedCopy`, its name already removed: the decoder reads it piece by
// piece, so that the bytes never need memory of their own. Every step
// goes through the copy's own handle. A copy that cannot be made ends the
// run.
TTurn ReadThroughScratchCopy(std::unique_ptr<TFileStream> photo, TJPEGImage& jpeg, TStageLaps& laps,
                             std::unique_ptr<TFileStream>& removedCopy) {
  const TScratchNamesHeld scratch;
  std::unique_ptr<TOwnFile> copy;
  TFileResult copied = TOwnFile::Make(kSourceScratch, copy);
  if (copied) copied = CopyFileTo(*photo, copy->Stream(), JpegFileSizeLimit());
  photo.reset();
  if (!copied) {
    throw EFOpenError(Format("Datei %s kann nicht geöffnet werden. %s", ExpandFileName(ToNarrow(kSourceScratch)).c_str(),
                             SystemErrorMessage(copied.error).c_str()));
  }
  laps.Lap(TPhotoStage::Copy);
  const TTurn turn = TurnOfCopy(copy->Stream());
  laps.Lap(TPhotoStage::Metadata);
  copy->Stream().Seek(0);
  if (OpenFilesCanBeRemoved()) {
    removedCopy = copy->ReleaseStream();
  } else {
    jpeg.ReadFromStream(copy->Stream());
  }
  copy.reset();
  laps.Lap(TPhotoStage::Read);
  return turn;
}

// The removed scratch copy as the decoder reads it: closed as soon as its
// last byte is read, while the decoder still has the last rows to make.
class TRemovedCopy final : public TStream {
 public:
  explicit TRemovedCopy(std::unique_ptr<TFileStream> file) : file_(std::move(file)), size_(file_->Size()) {}

  int64_t Size() const override { return size_; }
  size_t Read(void* buffer, size_t count) override {
    if (!file_) return 0;
    const size_t got = file_->Read(buffer, count);
    position_ += static_cast<int64_t>(got);
    if (got == 0 || position_ >= size_) file_.reset();
    return got;
  }
  void WriteBuffer(const void*, size_t) override { throw EWriteError("Stream-Schreibfehler"); }

 private:
  std::unique_ptr<TFileStream> file_;
  const int64_t size_;
};

// Writes the encoded copy to "2.$$$", then gives that file the output
// name.
TFileResult StoreThroughScratchFile(TJPEGImage& jpeg, uint32_t accessBits, const std::u16string& output,
                                    TStageLaps& laps) {
  jpeg.EnsureEncoded();  // done already: the work, before the other photo in flight is kept waiting
  const TScratchNamesHeld scratch;
  std::unique_ptr<TOwnFile> copy;
  const TFileResult made = TOwnFile::Make(kOutputScratch, copy);
  if (!made) {
    throw EFCreateError(Format("Datei \"%s\" kann nicht erstellt werden. %s",
                               ExpandFileName(ToNarrow(kOutputScratch)).c_str(), SystemErrorMessage(made.error).c_str()));
  }
  jpeg.WriteToStream(copy->Stream());
  copy->Stream().ShareLike(accessBits);
  copy->Stream().Flush();
  laps.Lap(TPhotoStage::Write);
  const TFileResult moved = MoveFileTo(*copy, output);
  laps.Lap(TPhotoStage::Move);
  return moved;
}

// A photo that comes to no copy.
TPreparedPhoto Ended(TPhotoOutcome::TKind kind) {
  TPreparedPhoto photo;
  photo.outcome.kind = kind;
  return photo;
}

}  // namespace

void TPhotoPipeline::TCopyEncoder::Begin(int32_t width, int32_t height) {
  TJPEGOptions options = source_->Options();
  options.EncodeQuality = 88;
  // The copy is always RGB: a profile for RGB data tells how to read its
  // colours, one for CMYK or gray data would not fit them.
  const std::string& profile = source_->IccProfile();
  const bool rgbProfile = profile.size() >= 20 && profile.compare(16, 4, "RGB ") == 0;
  encoder_.Start(width, height, options, rgbProfile ? profile : std::string());
}

TPhotoPipeline::TPhotoPipeline(THalvingThread halving, std::shared_ptr<TProcessorShare> processors)
    : halving_(halving), processors_(std::move(processors)), bands_(halving) {
  if (processors_ && processors_->Count() >= 2) beside_ = std::make_unique<TJobThread>();
}

TPhotoPipeline::~TPhotoPipeline() = default;

bool TPhotoPipeline::DecodedInTwo(TJPEGImage& jpeg, TFileStream* file, TTurn turn, const TJpegHeaderFacts& facts) {
  // The photo's bytes, in memory that nothing needs to clear first.
  size_t size = 0;
  std::unique_ptr<char[]> bytes;
  if (file != nullptr) {
    file->Seek(0);
    size = static_cast<size_t>(std::max<int64_t>(file->Size(), 0));
    bytes.reset(new char[std::max<size_t>(size, 1)]);
    file->ReadBuffer(bytes.get(), size);
    file->Seek(0);
  } else if (const std::string* held = jpeg.CompressedBytes()) {
    size = held->size();
    bytes.reset(new char[std::max<size_t>(size, 1)]);
    std::memcpy(bytes.get(), held->data(), size);
  }
  const std::string_view photo(bytes.get(), size);
  const std::optional<TJpegCut> cut = FindCut(photo, 0.5);
  if (!cut) return false;
  // The copy's encoder begins before either part is decoded: it takes the
  // photo's colour profile now.
  TMemoryStream header(photo.data(), cut->dataAt);
  jpeg.SetIccProfile(ReadIccProfile(header));
  try {
    DecodeInTwo(jpeg, photo, *cut, facts.width, facts.height, turn, encoder_, *beside_);
    return true;
  } catch (const Exception&) {
    // The one decoder starts over from the whole photo and says what is
    // wrong in its own words.
    if (file == nullptr) jpeg.TakeCompressed(std::string(photo));
    return false;
  }
}

TPhotoOutcome TPhotoPipeline::Process(const std::u16string& source, const std::u16string& output) {
  TPreparedPhoto photo = Prepare(source, output);
  return Store(photo, output);
}

TPreparedPhoto TPhotoPipeline::Prepare(const std::u16string& source, const std::u16string& output) {
  // Only a shortcut for a second run over a folder: the no-replace naming
  // stays the guarantee.
  if (EntryExists(output)) return Ended(TPhotoOutcome::TKind::OutputExists);

  TStageLaps laps(observer_);
  TOpenedPhoto photo = OpenPhoto(source, JpegFileSizeLimit());
  switch (photo.kind) {
    case TOpenedPhoto::TKind::Opened:
      break;
    case TOpenedPhoto::TKind::NotFound:
      return Ended(TPhotoOutcome::TKind::NotFound);
    case TOpenedPhoto::TKind::NotAFile:
      return Ended(TPhotoOutcome::TKind::NotAFile);
    case TOpenedPhoto::TKind::TooLarge:
      throw EOutOfResources(Format("Die Datei %s ist mit %lld Bytes zu groß: höchstens %lld Bytes bei %u Megapixeln "
                                   "(SHRINKWELL_MAX_MEGAPIXELS)",
                                   ExpandFileName(ToNarrow(source)).c_str(), static_cast<long long>(photo.size),
                                   static_cast<long long>(JpegFileSizeLimit()), JpegMegapixelLimit));
    case TOpenedPhoto::TKind::Hollow:
      throw EOutOfResources(Format("Die Datei %s ist mit %lld Bytes zum größten Teil leer: nur %lld davon liegen auf "
                                   "dem Datenträger",
                                   ExpandFileName(ToNarrow(source)).c_str(), static_cast<long long>(photo.size),
                                   static_cast<long long>(photo.stored)));
    case TOpenedPhoto::TKind::Failed:
      throw EFOpenError(Format("Datei %s kann nicht geöffnet werden. %s", ExpandFileName(ToNarrow(source)).c_str(),
                               SystemErrorMessage(photo.error).c_str()));
  }
  const uint32_t accessBits = photo.file->AccessBits();
  auto jpeg = std::make_unique<TJPEGImage>();
  // The scratch names are this photo's only while a scratch file is in
  // use, so that the other photo in flight decodes while this one does.
  std::unique_ptr<TFileStream> removedCopy;
  const TTurn turn = ReadThroughScratchCopy(std::move(photo.file), *jpeg, laps, removedCopy);
  TJpegHeaderFacts facts;
  if (removedCopy) {
    facts = JpegHeaderFacts(*removedCopy);
    removedCopy->Seek(0);
  } else if (const std::string* bytes = jpeg->CompressedBytes()) {
    TMemoryStream held(bytes->data(), bytes->size());
    facts = JpegHeaderFacts(held);
  }
  // The photos in flight decode within the run's memory: a photo of
  // several scans holds its whole picture's coefficients meanwhile, one
  // decoded in two parts its bytes, its bottom part's and the bottom's
  // quarter-size rows.
  const bool cuttable = facts.restartMarkers && facts.wholePictureBytes == 0 && facts.withinLimits && beside_;
  const uint64_t inTwo = cuttable ? 2 * static_cast<uint64_t>(facts.fileBytes) +
                                        3 * static_cast<uint64_t>(facts.width) * static_cast<uint64_t>(facts.height) / 32
                                  : 0;
  const TMemoryBudget::TShare share = TMemoryBudget::ForTheRun().Take(
      kPhotoShareBytes + static_cast<uint64_t>(std::max<int64_t>(facts.wholePictureBytes, 0)) + inTwo);
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
  // Outlives the decode's end, which tells it when the blocks go.
  TPagesBroughtIn pages(halving_ == THalvingThread::Worker);
  jpeg->SetCoefficientObserver(pages.Observer());
  std::future<void> decodeEnded;  // before the copy goes, waited for
  // A processor of the run's for this decode, and a second for a photo
  // that may be cut at its restart markers, when one is free.
  const TProcessorShare::TClaim processors = processors_ ? processors_->Claim(cuttable ? 1 : 0) : TProcessorShare::TClaim();
  if (processors.Count() == 2 && DecodedInTwo(*jpeg, removedCopy.get(), turn, facts)) {
    removedCopy.reset();
  } else if (removedCopy) {
    copy.emplace(std::move(removedCopy));
    decodeEnded = FinishBeside(jpeg->DecodeRowsLeavingEnd(*copy, bands_));
  } else {
    jpeg->DecodeRows(bands_);
  }
  jpeg->SetCoefficientObserver({});  // the decode's end keeps its own
  laps.Lap(TPhotoStage::Decode);
  // A copy of less than one pixel would be a file that no viewer opens.
  if (jpeg->PixelWidth() < 4 || jpeg->PixelHeight() < 4) {
    if (decodeEnded.valid()) decodeEnded.get();
    return Ended(TPhotoOutcome::TKind::TooSmall);
  }
  bands_.Finish();
  laps.Lap(TPhotoStage::LastBands);
  std::string encoded = encoder_.Finish();
  // What the end of the file raises ends the run before the copy is stored.
  if (decodeEnded.valid()) decodeEnded.get();
  jpeg->TakeCompressed(std::move(encoded));
  laps.Lap(TPhotoStage::Encode);
  return {{TPhotoOutcome::TKind::Stored, 0}, std::move(jpeg), accessBits};
}

TPhotoOutcome TPhotoPipeline::Store(TPreparedPhoto& photo, const std::u16string& output) {
  if (photo.outcome.kind != TPhotoOutcome::TKind::Stored || !photo.copy) return photo.outcome;
  TStageLaps laps(observer_);
  const TFileResult moved = StoreThroughScratchFile(*photo.copy, photo.accessBits, output, laps);
  photo.copy.reset();
  if (moved) return {TPhotoOutcome::TKind::Stored, 0};
  if (moved.targetExists) return {TPhotoOutcome::TKind::OutputExists, 0};
  return {TPhotoOutcome::TKind::StoreFailed, moved.error};
}

}  // namespace shrinkwell

#include "photo_pipeline.h"

#include <chrono>
#include <memory>

#include "errors.h"
#include "exif_reader.h"
#include "graphics.h"
#include "jpeg.h"
#include "orientation.h"
#include "shrink.h"
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

// The turn that the photo's EXIF Orientation asks for; none without one.
TTurn TurnOfScratchCopy() {
  TimgData metadata(255);
  metadata.ScanJpegFile(kSourceScratchName);
  if (!metadata.HasExif() || metadata.ImageInfo()->TagIndexByName("Orientation") < 0) return TTurn::None;
  return TurnForOrientationText(metadata.ImageInfo()->TagTextByName("Orientation"));
}

}  // namespace

TPhotoOutcome TPhotoPipeline::Process(const std::u16string& source, const std::u16string& output) {
  // Only a shortcut for a second run over a folder: the no-replace move
  // below stays the guarantee.
  if (EntryExists(output)) return {TPhotoOutcome::TKind::OutputExists, 0};

  TStageLaps laps(observer_);
  auto raster = std::make_unique<TBitmap>();
  auto jpeg = std::make_unique<TJPEGImage>();

  // A failed copy must not let an old scratch file from an earlier run be
  // taken for this photo.
  if (const TFileResult copied = CopyFileTo(source, kSourceScratch, false); !copied) {
    throw EFOpenError(Format("Datei %s kann nicht geöffnet werden. %s", ExpandFileName(kSourceScratchName).c_str(),
                             SystemErrorMessage(copied.error).c_str()));
  }
  laps.Lap(TPhotoStage::Copy);
  const TTurn turn = TurnOfScratchCopy();
  laps.Lap(TPhotoStage::Metadata);
  jpeg->ReadFromFile(kSourceScratchName);
  RemoveFile(kSourceScratch);
  laps.Lap(TPhotoStage::Read);
  raster->CopyPicture(*jpeg);
  raster->SetRasterFormat(rf24Bit);
  laps.Lap(TPhotoStage::Decode);
  const TQuarterSize size = ShrinkIntoBuffers(*raster, buffers_);
  laps.Lap(TPhotoStage::Shrink);
  raster = OrientFromBuffer(buffers_.Quarter(), size.width, size.height, turn);  // frees the decoded raster
  laps.Lap(TPhotoStage::Turn);
  jpeg->CopyPicture(*raster);
  jpeg->SetEncodeQuality(88);
  jpeg->WriteToFile(kOutputScratchName);
  laps.Lap(TPhotoStage::Encode);

  const TFileResult moved = MoveFileTo(kOutputScratch, output);
  laps.Lap(TPhotoStage::Move);
  if (moved) return {TPhotoOutcome::TKind::Stored, 0};
  // Never leave the finished scratch file to be mistaken for another
  // photo's.
  RemoveFile(kOutputScratch);
  if (moved.targetExists) return {TPhotoOutcome::TKind::OutputExists, 0};
  return {TPhotoOutcome::TKind::StoreFailed, moved.error};
}

}  // namespace shrinkwell

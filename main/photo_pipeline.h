// One photo from its source file to its stored quarter-size upright copy:
// copy to the scratch file, metadata scan, read, decode, shrink, turn,
// encode, move. The pipeline is the only owner of the scratch files "1.$$$"
// and "2.$$$" in the working directory. The photo
// and each scratch file are used only through the handle that opened or
// made them (photo_files.h): a scratch file is always a new file of our
// own, private to the user, and gone when the photo is done, an error ends
// the run, or a signal interrupts it.
#pragma once

#include <functional>
#include <future>
#include <memory>
#include <string>

#include "band_shrinker.h"
#include "jpeg.h"

namespace shrinkwell {

class TProcessorShare;

// Decode includes the halving and, for an unturned photo, the encoding of
// the rows made; LastBands the halving of the bands still waiting and, for
// a turned photo, the encoding of its upright rows; Encode the end of the
// encoding; Write the scratch file written.
enum class TPhotoStage { Copy, Metadata, Read, Decode, LastBands, Encode, Write, Move };
inline constexpr int kPhotoStageCount = 8;

// What became of a photo that did not end the run.
struct TPhotoOutcome {
  enum class TKind {
    Stored,        // the copy lies under the output name
    OutputExists,  // the output name was taken; nothing was written
    TooSmall,      // under 4 pixels wide or high: no picture to store
    StoreFailed,   // the finished copy could not be given the output name
    NotFound,      // no photo of that name (a link to nothing included)
    NotAFile,      // a folder, a pipe, a device: never opened
  };
  TKind kind = TKind::Stored;
  int systemError = 0;  // StoreFailed: the platform's error code
};

// A photo read, decoded, halved and turned, waiting for its turn to be
// stored: outcome Stored with the copy to store, or what became of it.
struct TPreparedPhoto {
  TPhotoOutcome outcome;
  std::unique_ptr<TJPEGImage> copy;  // quarter size, upright, quality 88
  uint32_t accessBits = 0;           // who may read the photo
};

class TPhotoPipeline {
 public:
  // Told the duration of each stage as it ends.
  using StageObserver = std::function<void(TPhotoStage stage, double seconds)>;

  // With THalvingThread::Worker each photo is halved on a second thread
  // while it is decoded (worth it when a second processor is free and
  // nothing else uses it).
  // A photo with restart markers is decoded in two parts at once while the
  // run's processors (when given) have one free.
  explicit TPhotoPipeline(THalvingThread halving, std::shared_ptr<TProcessorShare> processors = nullptr);
  ~TPhotoPipeline();

  // For the benchmark, which times the stages of the program's own sequence.
  void SetStageObserver(StageObserver observer) { observer_ = std::move(observer); }

  // Makes the copy of source under output. An output name that is taken
  // skips the photo before any work; the naming never replaces a file
  // either. Errors that end the run pass through: a photo or a scratch file
  // that cannot be opened or made (EFOpenError, EFCreateError), a photo
  // that the codec cannot decode (EJPEG) or that is larger than the pixel
  // limit, its file larger than such a picture could need, or its decoding
  // more work than its size allows (EOutOfResources), a scratch file that
  // cannot be written (EWriteError).
  TPhotoOutcome Process(const std::u16string& source, const std::u16string& output);

  // The same in two parts, so that the next photo can be prepared while
  // this one is stored. Prepare may run on any thread, one call at a time
  // per pipeline; photos of one run are stored one at a time, in order,
  // with any pipeline's Store.
  TPreparedPhoto Prepare(const std::u16string& source, const std::u16string& output);
  TPhotoOutcome Store(TPreparedPhoto& photo, const std::u16string& output);

 private:
  // Encodes the copy's rows as the shrinker makes them, at quality 88 and
  // in the source's own form (baseline or progressive), which its header
  // tells by the time the rows begin.
  class TCopyEncoder final : public TUprightRowSink {
   public:
    void Follow(const TJPEGImage& source) { source_ = &source; }
    void Begin(int32_t width, int32_t height) override;
    void TakeRow(const uint8_t* row) override { encoder_.TakeRow(row); }
    std::string Finish() { return encoder_.Finish(); }

   private:
    const TJPEGImage* source_ = nullptr;
    TJPEGRowEncoder encoder_;
  };

  // Decodes the photo in two parts where it can be cut and a processor is
  // free; false where it is left to the one decoder, which also says what
  // a part could not decode.
  // The photo's bytes are read from `file`, or are those `jpeg` holds.
  bool DecodedInTwo(TJPEGImage& jpeg, TFileStream* file, TTurn turn, const TJpegHeaderFacts& facts);

  THalvingThread halving_;
  std::shared_ptr<TProcessorShare> processors_;
  TCopyEncoder encoder_;  // before bands_: the worker that feeds it stops first
  TBandShrinker bands_;
  std::unique_ptr<TJobThread> beside_;  // decodes the bottom part of a photo cut in two
  StageObserver observer_;
};

}  // namespace shrinkwell

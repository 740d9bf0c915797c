// Fuzz target: one photo through the codec and the shrinker, from memory,
// both ways the program has: decoded into a raster that is then shrunk and
// turned (ShrinkAndRotate), and halved band by band while it is decoded, as
// the pipeline does (TBandShrinker). The first byte picks the turn (bits 0-1)
// and whether the bands are halved on a worker thread (bit 2); with the
// worker the file is read piece by piece from a stream and the upright rows
// are encoded as they come, as the program does on Linux; the rest is the
// JPEG file. The system's own exceptions are expected outcomes of a file
// that cannot be decoded; anything else, any exception once the picture is
// decoded, and the two ways disagreeing end the run as a crash. The band
// decode is told where a progressive file's coefficients lie, as the
// pipeline is. With bit 3 a file that can be cut at its restart markers is
// also decoded in two parts (DecodeInTwo), the cut's share of the work
// told by bits 4-7: where that decode succeeds, the file's own decode must
// too, and give the same rows.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "band_shrinker.h"
#include "errors.h"
#include "graphics.h"
#include "jpeg.h"
#include "jpeg_split.h"
#include "orientation.h"
#include "work_buffers.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

// The pipeline's sink: the upright rows encoded as they come, and kept to
// be compared. Like the pipeline's, it outlives the bands' worker, which
// goes on with the bands of a picture whose decoding failed until the next
// start.
class TKeptAndEncoded final : public shrinkwell::TUprightRowSink {
 public:
  void Follow(const shrinkwell::TJPEGImage& source) { source_ = &source; }
  void Begin(int32_t width, int32_t height) override {
    shrinkwell::TJPEGOptions options = source_->Options();
    options.EncodeQuality = 88;
    encoder_.Start(width, height, options, source_->IccProfile());
    width_ = width;
    rows_.clear();
  }
  void TakeRow(const uint8_t* row) override {
    rows_.insert(rows_.end(), row, row + 3 * static_cast<size_t>(width_));
    encoder_.TakeRow(row);
  }
  bool SamePixelsAs(const shrinkwell::TBitmap& raster) const {
    const size_t rowBytes = 3 * static_cast<size_t>(raster.PixelWidth());
    if (raster.PixelWidth() != width_ || rows_.size() != rowBytes * static_cast<size_t>(raster.PixelHeight())) return false;
    for (int32_t y = 0; y < raster.PixelHeight(); ++y)
      if (std::memcmp(raster.RowAddressForReading(y), rows_.data() + rowBytes * static_cast<size_t>(y), rowBytes) != 0)
        return false;
    return true;
  }
  std::string Finish() { return encoder_.Finish(); }

 private:
  const shrinkwell::TJPEGImage* source_ = nullptr;
  shrinkwell::TJPEGRowEncoder encoder_;
  int32_t width_ = 0;
  std::vector<uint8_t> rows_;
};

bool SamePixels(const shrinkwell::TBitmap& a, const shrinkwell::TBitmap& b) {
  if (a.PixelWidth() != b.PixelWidth() || a.PixelHeight() != b.PixelHeight()) return false;
  const size_t rowBytes = 3 * static_cast<size_t>(a.PixelWidth());
  for (int32_t y = 0; y < a.PixelHeight(); ++y)
    if (std::memcmp(a.RowAddressForReading(y), b.RowAddressForReading(y), rowBytes) != 0) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace shrinkwell;
  // Every header over a megapixel exercises the limit's own refusal. Of
  // the pictures below it, those over half a megapixel are passed over: a
  // unit costs two decodes, two shrinks and an encode of its picture, and
  // every size-dependent path (bands, odd edges, buffer growth, the tall
  // strip among the regressions) is there at this size already.
  JpegMegapixelLimit = 1;
  constexpr uint64_t kLargestDecoded = 1u << 19;
  if (size < 1) return 0;
  const TTurn turns[] = {TTurn::None, TTurn::Half, TTurn::QuarterClockwise, TTurn::QuarterCounterClockwise};
  const TTurn turn = turns[data[0] % 4];
  const bool withWorker = (data[0] & 4) != 0;
  const std::string file(reinterpret_cast<const char*>(data + 1), size - 1);
  // Kept across photos as the batch driver keeps them: they only grow, and
  // a picture whose decoding failed is left behind at the next start.
  static TWorkBuffers buffers;
  static TKeptAndEncoded sink;  // first made, last gone: the worker may use it to the end
  static TBandShrinker bandsAlone(THalvingThread::Decoder);
  static TBandShrinker bandsWithWorker(THalvingThread::Worker);
  TBandShrinker& bands = withWorker ? bandsWithWorker : bandsAlone;

  std::unique_ptr<TBitmap> raster = std::make_unique<TBitmap>();
  bool refused = false;
  std::string profile;
  try {
    TJPEGImage jpeg;
    jpeg.TakeCompressed(file);
    const uint64_t pixels = static_cast<uint64_t>(jpeg.PixelWidth()) * static_cast<uint64_t>(jpeg.PixelHeight());
    if (pixels > kLargestDecoded && pixels <= 1000000u) return 0;
    raster->CopyPicture(jpeg);
    profile = jpeg.IccProfile();
    raster->SetRasterFormat(rf24Bit);
  } catch (const Exception&) {
    refused = true;  // a file the program refuses with its error report
  }
  TJPEGImage banded;
  // Told where the coefficients lie, as the pipeline is: each block once
  // per component at most, never empty, then once that they go.
  int blocksTold = 0, going = 0;
  banded.SetCoefficientObserver([&blocksTold, &going](uint8_t* block, size_t blockSize) {
    if (block == nullptr) {
      if (blockSize != 0 || blocksTold == 0 || ++going > 1) Fail("the coefficients' going told wrongly");
    } else if (blockSize == 0 || going > 0 || ++blocksTold > 4) {
      Fail("a coefficient block told wrongly");
    }
  });
  bool bandsRefused = false;
  try {
    if (withWorker) {
      TMemoryStream stream(file.data(), file.size());
      bands.Start(turn, &sink);
      sink.Follow(banded);
      banded.DecodeRowsFrom(stream, bands);
    } else {
      banded.TakeCompressed(file);
      bands.Start(turn);
      banded.DecodeRows(bands);
    }
  } catch (const Exception&) {
    bandsRefused = true;
    // The worker would go on with the failed picture's bands into the next
    // input; each input is judged alone.
    try {
      bands.Finish();
    } catch (const Exception&) {
    }
  }
  if (refused != bandsRefused) Fail("one way of decoding refuses a file that the other takes");

  // Cut as the pipeline cuts: within the limits, where the cut is sound.
  static TJobThread beside;
  static TKeptAndEncoded inTwo;
  bool decodedInTwo = false;
  if ((data[0] & 8) != 0) {
    TMemoryStream stream(file.data(), file.size());
    const TJpegHeaderFacts facts = JpegHeaderFacts(stream);
    const std::optional<TJpegCut> cut = facts.withinLimits ? FindCut(file, (data[0] >> 4) / 15.0) : std::nullopt;
    if (cut) {
      TJPEGImage top;
      TMemoryStream header(file.data(), file.size());
      top.SetIccProfile(ReadIccProfile(header));
      inTwo.Follow(top);
      try {
        DecodeInTwo(top, file, *cut, facts.width, facts.height, turn, inTwo, beside);
        decodedInTwo = true;
      } catch (const Exception&) {
        // The pipeline decodes such a file again with one decoder.
      }
      if (decodedInTwo && refused) Fail("the decode in two parts takes a file that one decode refuses");
    }
  }
  if (refused) return 0;
  if (banded.IccProfile() != profile) Fail("the two ways of decoding read different colour profiles");

  const int32_t width = raster->PixelWidth();
  const int32_t height = raster->PixelHeight();
  if (banded.PixelWidth() != width || banded.PixelHeight() != height)
    Fail("the two ways of decoding see different sizes");
  if (width < 4 || height < 4) return 0;

  // From here on the photo was decoded: any exception is a fault and escapes.
  ShrinkAndRotate(raster, turn, buffers);
  const bool quarterTurn = IsQuarterTurn(turn);
  const int32_t wantWidth = (quarterTurn ? height : width) / 2 / 2;
  const int32_t wantHeight = (quarterTurn ? width : height) / 2 / 2;
  if (raster->PixelWidth() != wantWidth || raster->PixelHeight() != wantHeight)
    Fail("the shrunk picture is not a quarter of the decoded one");
  const std::unique_ptr<TBitmap> halvedWhileDecoding = bands.Finish();
  if (withWorker ? !sink.SamePixelsAs(*raster) : !halvedWhileDecoding || !SamePixels(*raster, *halvedWhileDecoding))
    Fail("halving while decoding gives another picture than shrinking the decoded raster");
  if (decodedInTwo && !inTwo.SamePixelsAs(*raster)) Fail("the decode in two parts gives another picture than one decode");

  TJPEGImage copy;
  copy.CopyPicture(*raster);
  copy.SetEncodeQuality(88);
  copy.SetWriteProgressive(banded.WriteProgressive());
  copy.SetIccProfile(banded.IccProfile());
  copy.EnsureEncoded();
  if (withWorker && sink.Finish() != *copy.CompressedBytes())
    Fail("encoding the rows as they come gives other bytes than encoding the raster");
  // The stored copy must be a JPEG file of the shrunk picture's size.
  const std::string* encoded = copy.CompressedBytes();
  if (encoded == nullptr || encoded->empty()) Fail("the copy was not encoded");
  TJPEGImage stored;
  stored.TakeCompressed(*encoded);
  if (stored.PixelWidth() != wantWidth || stored.PixelHeight() != wantHeight)
    Fail("the encoded copy does not have the shrunk picture's size");
  return 0;
}

// Fuzz target: one photo through the codec and the shrinker as the pipeline
// takes it, from memory. The first byte picks the turn, the rest is the
// JPEG file. The system's own exceptions are expected outcomes of a file that
// cannot be decoded; anything else, and any exception once the picture is
// decoded, escapes and ends the run as a crash.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "errors.h"
#include "graphics.h"
#include "jpeg.h"
#include "orientation.h"
#include "work_buffers.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace shrinkwell;
  // Small pictures keep a unit fast; the limit's own refusal is exercised
  // by every larger header.
  JpegMegapixelLimit = 4;
  if (size < 1) return 0;
  const TTurn turns[] = {TTurn::None, TTurn::Half, TTurn::QuarterClockwise, TTurn::QuarterCounterClockwise};
  const TTurn turn = turns[data[0] % 4];
  // Kept across photos as the batch driver keeps them: they only grow.
  static TWorkBuffers buffers;

  std::unique_ptr<TBitmap> raster = std::make_unique<TBitmap>();
  try {
    TJPEGImage jpeg;
    jpeg.TakeCompressed(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    raster->CopyPicture(jpeg);
    raster->SetRasterFormat(rf24Bit);
  } catch (const Exception&) {
    return 0;  // a file the program refuses with its error report
  }
  const int32_t width = raster->PixelWidth();
  const int32_t height = raster->PixelHeight();
  if (width < 4 || height < 4) return 0;

  // From here on the photo was decoded: any exception is a fault and escapes.
  ShrinkAndRotate(raster, turn, buffers);
  const bool quarterTurn = turn == TTurn::QuarterClockwise || turn == TTurn::QuarterCounterClockwise;
  const int32_t wantWidth = (quarterTurn ? height : width) / 2 / 2;
  const int32_t wantHeight = (quarterTurn ? width : height) / 2 / 2;
  if (raster->PixelWidth() != wantWidth || raster->PixelHeight() != wantHeight)
    Fail("the shrunk picture is not a quarter of the decoded one");

  TJPEGImage copy;
  copy.CopyPicture(*raster);
  copy.SetEncodeQuality(88);
  copy.EnsureEncoded();
  // The stored copy must be a JPEG file of the shrunk picture's size.
  const std::string* encoded = copy.CompressedBytes();
  if (encoded == nullptr || encoded->empty()) Fail("the copy was not encoded");
  TJPEGImage stored;
  stored.TakeCompressed(*encoded);
  if (stored.PixelWidth() != wantWidth || stored.PixelHeight() != wantHeight)
    Fail("the encoded copy does not have the shrunk picture's size");
  return 0;
}

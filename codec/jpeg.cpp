#include "jpeg.h"

#include <algorithm>
#include <new>

namespace shrinkwell {

TJPEGOptions JpegOptionDefaults;
uint32_t JpegMegapixelLimit = kDefaultMegapixelLimit;

int64_t JpegFileSizeLimit() { return 8 * 1000000ll * JpegMegapixelLimit + (64ll << 20); }

int64_t JpegDecodeWorkBudget(int64_t bytes) { return 64 * bytes + (1ll << 20); }

int64_t JpegWholePictureBlockLimit(int64_t bytes) { return 16 * bytes + (256ll << 10); }

int JpegProgressPercent(long passCounter, long passLimit, int completedPasses, int totalPasses) {
  if (passLimit <= 0 || totalPasses <= 0) return -1;
  const double percent =
      (static_cast<double>(passCounter) / static_cast<double>(passLimit) + completedPasses) * 100.0 / totalPasses;
  if (!(percent > -1e9 && percent < 1e9)) return -1;
  return static_cast<int>(percent);
}

TJPEGImage::TJPEGImage() : options_(JpegOptionDefaults), data_(std::make_unique<TJPEGData>()) {}

TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::NewData() { data_ = std::make_unique<TJPEGData>(); }

int32_t TJPEGImage::PixelWidth() const {
  if (raster_) return raster_->PixelWidth();
  const int32_t denominator = 1 << options_.ScaleShift;
  return (data_->width + denominator - 1) / denominator;
}

int32_t TJPEGImage::PixelHeight() const {
  if (raster_) return raster_->PixelHeight();
  const int32_t denominator = 1 << options_.ScaleShift;
  return (data_->height + denominator - 1) / denominator;
}

void TJPEGImage::ChangeWidth(int32_t) {
  throw EInvalidGraphicOperation("Die Größe einer JPEG-Grafik kann nicht verändert werden");
}

void TJPEGImage::ChangeHeight(int32_t) {
  throw EInvalidGraphicOperation("Die Größe einer JPEG-Grafik kann nicht verändert werden");
}

void TJPEGImage::SetEncodeQuality(int quality) {
  options_.EncodeQuality = static_cast<uint8_t>(std::clamp(quality, 1, 100));
}

void TJPEGImage::ReadFromFile(const std::string& path) {
  TFileStream stream(path, TFileStream::Mode::OpenRead);
  ReadFromStream(stream);
}

void TJPEGImage::ReadFromStream(TStream& stream) { TakeCompressed(stream, stream.Size() - stream.Position()); }

void TJPEGImage::TakeCompressed(TStream& stream, int64_t count) {
  NewData();
  raster_.reset();
  try {
    data_->bytes = std::make_unique<std::string>(static_cast<size_t>(std::max<int64_t>(count, 0)), '\0');
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  stream.ReadBuffer(&(*data_->bytes)[0], data_->bytes->size());
  ReadHeader();
}

void TJPEGImage::TakeCompressed(std::string bytes) {
  NewData();
  raster_.reset();
  data_->bytes = std::make_unique<std::string>(std::move(bytes));
  ReadHeader();
}

void TJPEGImage::RecordHeader(uint32_t width, uint32_t height, bool grayscale, bool multipleScans) {
  data_->width = static_cast<int32_t>(width);
  data_->height = static_cast<int32_t>(height);
  data_->grayscale = grayscale;
  options_.WriteProgressive = multipleScans;
}

TBitmap& TJPEGImage::DecodedRaster() {
  if (!raster_) Decode();
  return *raster_;
}

void TJPEGImage::CopyPicture(const TBitmap& raster) {
  NewData();
  raster_ = std::make_unique<TBitmap>();
  raster_->CopyPicture(&raster);
}

}  // namespace shrinkwell

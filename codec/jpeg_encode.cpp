// Encoding: a raster or rows as they are made to a JPEG stream in memory.
#include <memory>
#include <string>

#include "jpeg.h"
#include "jpeg_library.h"

namespace shrinkwell {

using namespace jpeg_library;

namespace {

// The profile in APP2 chunks right after the file's header, as libjpeg
// writes it; inside a guarded call, after jpeg_start_compress.
void WriteProfile(jpeg_compress_struct& info, const std::string& profile) {
  if (profile.empty()) return;
  jpeg_write_icc_profile(&info, reinterpret_cast<const JOCTET*>(profile.data()),
                         static_cast<unsigned int>(profile.size()));
}

}  // namespace

void TJPEGImage::WriteToFile(const std::string& path) {
  TFileStream stream(path, TFileStream::Mode::Create);
  WriteToStream(stream);
  stream.Close();
}

void TJPEGImage::WriteToStream(TStream& stream) {
  EnsureEncoded();
  if (data_->bytes && !data_->bytes->empty()) stream.WriteBuffer(data_->bytes->data(), data_->bytes->size());
}

void TJPEGImage::EnsureEncoded() {
  if (!data_->bytes) EncodeRaster();
}

void TJPEGImage::EncodeRaster() {
  Compressor context;
  jpeg_compress_struct& info = context.info;
  Guarded(context, [&] {
    context.Create();
    info.progress = &context.progress.pub;
    context.progress.image = this;
  });
  NewData();
  data_->bytes = std::make_unique<std::string>();
  context.UseMemoryDestination(*data_->bytes);
  if (!raster_ || raster_->PixelWidth() == 0 || raster_->PixelHeight() == 0) return;

  data_->width = raster_->PixelWidth();
  data_->height = raster_->PixelHeight();

  // Shares the pixels when the raster is 24-bit already; rows are only read.
  TBitmap copy;
  copy.CopyPicture(raster_.get());
  copy.SetRasterFormat(rf24Bit);

  Guarded(context, [&] { context.SetUp(data_->width, data_->height, options_); });
  if (options_.GrayMode) data_->grayscale = true;
  // The stride is known, so a picture one row high needs no row 1.
  const uint8_t* top = copy.RowAddressForReading(0);
  const ptrdiff_t step = copy.RowStep();
  try {
    Progress(TProgressStage::Starting, 0, false, TRect(), std::string());
    Guarded(context, [&] {
      jpeg_start_compress(&info, TRUE);
      WriteProfile(info, iccProfile_);
      while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(top + step * static_cast<ptrdiff_t>(info.next_scanline));
        if (jpeg_write_scanlines(&info, &row, 1) != 1) break;
      }
      jpeg_finish_compress(&info);
    });
  } catch (const EAbort&) {
    NewData();
    Progress(TProgressStage::Ending, 0, false, TRect(), std::string());
    return;
  } catch (...) {
    Progress(TProgressStage::Ending, 0, false, TRect(), std::string());
    throw;
  }
  Progress(TProgressStage::Ending, 100, false, TRect(), std::string());
}

struct TJPEGRowEncoder::TState {
  Compressor context;
  std::string stream;
};

TJPEGRowEncoder::TJPEGRowEncoder() = default;
TJPEGRowEncoder::~TJPEGRowEncoder() = default;

void TJPEGRowEncoder::Start(int32_t width, int32_t height, const TJPEGOptions& options,
                            const std::string& iccProfile) {
  state_.reset();
  auto state = std::make_unique<TState>();
  Compressor& context = state->context;
  Guarded(context, [&] {
    context.Create();  // which clears the record
    context.UseMemoryDestination(state->stream);
    context.SetUp(width, height, options);
    jpeg_start_compress(&context.info, TRUE);
    WriteProfile(context.info, iccProfile);
  });
  state_ = std::move(state);
}

void TJPEGRowEncoder::TakeRow(const uint8_t* row) {
  Compressor& context = state_->context;
  JSAMPROW sample = const_cast<JSAMPROW>(row);  // only read
  Guarded(context, [&] { jpeg_write_scanlines(&context.info, &sample, 1); });
}

std::string TJPEGRowEncoder::Finish() {
  const std::unique_ptr<TState> state = std::move(state_);
  Guarded(state->context, [&] { jpeg_finish_compress(&state->context.info); });
  return std::move(state->stream);
}

}  // namespace shrinkwell

// Decoding: one path from the file's bytes to rows in a receiver's bands.
// The full raster is one such receiver; the batch's halving is another.
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <memory>
#include <vector>

#include "jpeg.h"
#include "jpeg_library.h"

namespace shrinkwell {

using namespace jpeg_library;

namespace {

// What libjpeg may take besides the raster: 3 bytes of coefficients per
// pixel, enough for a progressive 4:2:0 photo at the limit, plus a margin
// for its small working records.
long LibraryMemoryLimit() {
  const uint64_t bytes = 3 * 1000000ull * JpegMegapixelLimit + (64ull << 20);
  // A long has 32 bits on Windows.
  return bytes > static_cast<uint64_t>(std::numeric_limits<long>::max()) ? std::numeric_limits<long>::max()
                                                                          : static_cast<long>(bytes);
}

std::vector<TPaletteEntry> PaletteFromColourMap(const jpeg_decompress_struct& info) {
  std::vector<TPaletteEntry> palette(static_cast<size_t>(std::min(info.actual_number_of_colors, 256)));
  const bool gray = info.out_color_space == JCS_GRAYSCALE;
  for (size_t i = 0; i < palette.size(); ++i) {
    if (gray) {
      palette[i].red = palette[i].green = palette[i].blue = info.colormap[0][i];
    } else {
      // The codec's components come blue first.
      palette[i].red = info.colormap[2][i];
      palette[i].green = info.colormap[1][i];
      palette[i].blue = info.colormap[0][i];
    }
  }
  return palette;
}

// Four-component output to blue, green, red. Files with an Adobe marker
// store the inks inverted.
void CmykToBgr(const uint8_t* in, uint8_t* out, size_t width, bool inverted, size_t pixelBytes) {
  for (size_t x = 0; x < width; ++x, in += 4, out += pixelBytes) {
    int c = in[0], m = in[1], y = in[2], k = in[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    out[0] = static_cast<uint8_t>((y * k + 127) / 255);
    out[1] = static_cast<uint8_t>((m * k + 127) / 255);
    out[2] = static_cast<uint8_t>((c * k + 127) / 255);
  }
}

// The decoding parameters of a read header: output in raster order (blue
// first), fixed methods, the image's options. Inside a guarded call.
void SetUpDecoding(jpeg_decompress_struct& info, const TJPEGOptions& options, bool& cmyk) {
  // The library could decode it, but arithmetic coding is not supported.
  if (info.arith_code) LibraryError(reinterpret_cast<j_common_ptr>(&info), JERR_ARITH_NOTIMPL);
  switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE:
      break;
    case JCS_YCbCr:
    case JCS_RGB:
      // Blue first, as raster rows hold it.
      info.out_color_space = JCS_EXT_BGR;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      info.out_color_space = JCS_CMYK;
      cmyk = true;
      break;
    default:
      // Two components, or more than four: no row could hold them.
      LibraryError(reinterpret_cast<j_common_ptr>(&info), JERR_CONVERSION_NOTIMPL);
  }
  // Fixed whatever the library's own defaults are.
  info.dct_method = JDCT_FLOAT;
  info.do_fancy_upsampling = TRUE;
  info.dither_mode = JDITHER_FS;
  info.two_pass_quantize = TRUE;

  info.scale_num = 1;
  info.scale_denom = 1u << options.ScaleShift;
  info.do_block_smoothing = options.BlockSmoothing ? TRUE : FALSE;
  if (options.GrayMode) {
    info.out_color_space = JCS_GRAYSCALE;
    cmyk = false;
  }
  if (!cmyk && (options.DecodeFormat == dfPalette8 || info.out_color_space == JCS_GRAYSCALE)) {
    info.quantize_colors = TRUE;
    info.desired_number_of_colors = 236;
  }
  if (options.SpeedMode == smBestSpeed) {
    info.dct_method = JDCT_IFAST;
    info.two_pass_quantize = FALSE;
    info.dither_mode = JDITHER_ORDERED;
  }
}

// What the APP2 markers that libjpeg kept hold as an ICC profile; inside a
// guarded call, after the header.
std::string ProfileOf(jpeg_decompress_struct& info) {
  JOCTET* data = nullptr;
  unsigned int length = 0;
  if (!jpeg_read_icc_profile(&info, &data, &length)) return std::string();
  std::string profile(reinterpret_cast<const char*>(data), length);
  std::free(data);
  return profile;
}

// Before any memory in proportion to the picture is taken: a header of a
// few bytes can announce 65500 x 65500 pixels.
void CheckPixelLimit(const jpeg_decompress_struct& info) {
  if (static_cast<uint64_t>(info.image_width) * info.image_height > 1000000ull * JpegMegapixelLimit) {
    throw EOutOfResources(Format("Das Bild ist mit %u x %u Pixeln zu groß: höchstens %u Megapixel "
                                 "(SHRINKWELL_MAX_MEGAPIXELS)",
                                 info.image_width, info.image_height, JpegMegapixelLimit));
  }
}

// Palette indices to blue, green, red, as an 8-bit raster converts them to
// 24 bits: an index beyond the palette comes out black.
void IndicesToBgr(const uint8_t* in, uint8_t* out, size_t width, const std::vector<TPaletteEntry>& palette,
                  size_t pixelBytes) {
  for (size_t x = 0; x < width; ++x, out += pixelBytes) {
    if (in[x] < palette.size()) {
      const TPaletteEntry& entry = palette[in[x]];
      out[0] = entry.blue;
      out[1] = entry.green;
      out[2] = entry.red;
    } else {
      out[0] = out[1] = out[2] = 0;
    }
  }
}

// A decode into the image's raster, each band written in place: one
// palette index a pixel where the decoder maps the picture to a palette,
// otherwise blue, green, red.
class TRasterReceiver final : public TRowReceiver {
 public:
  explicit TRasterReceiver(TBitmap& raster) : raster_(raster) {}

  bool TakesPaletteIndices() const override { return true; }
  void PaletteMade(std::vector<TPaletteEntry> palette) override {
    indices_ = true;
    palette_ = std::move(palette);
  }
  void Begin(int32_t width, int32_t height) override {
    if (!sized_) {
      raster_.SetRasterFormat(indices_ ? rf8Bit : rf24Bit);
      raster_.ChangeWidth(width);
      raster_.ChangeHeight(height);
      sized_ = true;
    }
    if (!palette_.empty()) {
      raster_.AttachPalette(palette_);
      palette_.clear();
      paletteAttached_ = true;
    }
    next_ = 0;
  }
  uint8_t* const* BandToFill(int32_t& capacity) override {
    capacity = std::min(kBandRows, raster_.PixelHeight() - next_);
    // The stride is known, so a picture one row high needs no row 1.
    uint8_t* const top = raster_.RowAddress(0);
    const ptrdiff_t step = raster_.RowStep();
    for (int32_t i = 0; i < capacity; ++i) rows_[static_cast<size_t>(i)] = top + step * (next_ + i);
    return rows_;
  }
  void BandFilled(int32_t count) override { next_ += count; }

  bool PaletteAttached() const { return paletteAttached_; }

 private:
  static constexpr int32_t kBandRows = 16;
  TBitmap& raster_;
  bool indices_ = false;
  bool sized_ = false;
  bool paletteAttached_ = false;
  std::vector<TPaletteEntry> palette_;
  int32_t next_ = 0;
  uint8_t* rows_[kBandRows] = {};
};

}  // namespace

std::string ReadIccProfile(TStream& file) {
  Decompressor context;
  jpeg_decompress_struct& info = context.info;
  std::string profile;
  try {
    Guarded(context, [&] {
      context.Create();
      context.UseStreamSource(file);
      jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
      jpeg_read_header(&info, TRUE);
      profile = ProfileOf(info);
    });
  } catch (const Exception&) {
    return std::string();  // no JPEG header libjpeg can read: no profile
  }
  return profile;
}

TJpegHeaderFacts JpegHeaderFacts(TStream& file) {
  Decompressor context;
  jpeg_decompress_struct& info = context.info;
  TJpegHeaderFacts facts;
  try {
    Guarded(context, [&] {
      context.Create();
      context.UseStreamSource(file);
      jpeg_read_header(&info, TRUE);
      facts.width = static_cast<int32_t>(info.image_width);
      facts.height = static_cast<int32_t>(info.image_height);
      facts.restartMarkers = info.restart_interval > 0;
      facts.fileBytes = file.Size();
      int64_t blocks = 0;
      for (int c = 0; c < info.num_components; ++c) {
        blocks += static_cast<int64_t>(info.comp_info[c].width_in_blocks) * info.comp_info[c].height_in_blocks;
      }
      // What the decode checks before its work begins.
      facts.withinLimits = static_cast<uint64_t>(info.image_width) * info.image_height <=
                               1000000ull * JpegMegapixelLimit &&
                           blocks <= JpegDecodeWorkBudget(facts.fileBytes);
      if (jpeg_has_multiple_scans(&info)) facts.wholePictureBytes = blocks * static_cast<int64_t>(sizeof(JBLOCK));
    });
  } catch (const Exception&) {
    return TJpegHeaderFacts();  // the decode itself will say what is wrong
  }
  return facts;
}

void TJPEGImage::ReadHeader() {
  if (!data_->bytes->empty()) {
    Decompressor context;
    jpeg_decompress_struct& info = context.info;
    const std::string& bytes = *data_->bytes;
    bool multipleScans = false;
    Guarded(context, [&] {
      context.Create();
      context.UseMemorySource(bytes);
      jpeg_read_header(&info, TRUE);
      multipleScans = jpeg_has_multiple_scans(&info);
    });
    RecordHeader(info.image_width, info.image_height, info.jpeg_color_space == JCS_GRAYSCALE, multipleScans);
  }
  SetPaletteModified(true);
  Changed();
}

struct TJPEGDecodeEnd::TState {
  Decompressor context;
  bool wholePicture = false;
};

TJPEGDecodeEnd::TJPEGDecodeEnd() = default;
TJPEGDecodeEnd::TJPEGDecodeEnd(TJPEGDecodeEnd&& other) noexcept = default;
TJPEGDecodeEnd& TJPEGDecodeEnd::operator=(TJPEGDecodeEnd&& other) noexcept = default;
TJPEGDecodeEnd::~TJPEGDecodeEnd() = default;

void TJPEGDecodeEnd::Finish() {
  if (!state_) return;
  const std::unique_ptr<TState> state = std::move(state_);
  state->context.CoefficientsGoing();
  Guarded(state->context, [&] { jpeg_finish_decompress(&state->context.info); });
}

bool TJPEGDecodeEnd::HoldsWholePicture() const { return state_ && state_->wholePicture; }

void TJPEGImage::DecodeRows(TRowReceiver& receiver) { DecodeThrough(nullptr, receiver, TDecodeUse::Rows).Finish(); }

void TJPEGImage::DecodeRowsFrom(TStream& stream, TRowReceiver& receiver) {
  DecodeRowsLeavingEnd(stream, receiver).Finish();
}

TJPEGDecodeEnd TJPEGImage::DecodeRowsLeavingEnd(TStream& stream, TRowReceiver& receiver) {
  NewData();
  raster_.reset();
  return DecodeThrough(&stream, receiver, TDecodeUse::Rows);
}

TJPEGDecodeEnd TJPEGImage::DecodeThrough(TStream* stream, TRowReceiver& receiver, TDecodeUse use) {
  // On the heap: the library's record must not move when the end is handed on.
  auto state = std::make_unique<TJPEGDecodeEnd::TState>();
  Decompressor& context = state->context;
  jpeg_decompress_struct& info = context.info;
  static const std::string kNothing;
  const std::string& bytes = data_->bytes ? *data_->bytes : kNothing;
  const bool toRaster = use == TDecodeUse::Raster;
  const size_t pixelBytes = receiver.BytesPerPixel() == 4 ? 4 : 3;
  bool cmyk = false;
  bool multipleScans = false;
  // Shown scan by scan: a quick pass for each scan, then the final one with
  // the methods chosen.
  bool showScans = false;
  J_DCT_METHOD finalDct = JDCT_FLOAT;
  J_DITHER_MODE finalDither = JDITHER_FS;
  bool finalTwoPass = false;
  Guarded(context, [&] {
    context.Create();
    info.progress = &context.progress.pub;  // for the limits on scans and work
    if (toRaster) context.progress.image = this;
    if (stream != nullptr) {
      context.UseStreamSource(*stream);
    } else {
      context.UseMemorySource(bytes);
    }
    info.mem->max_memory_to_use = LibraryMemoryLimit();
    if (!toRaster) context.WatchCoefficients(coefficientObserver_);
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    iccProfile_ = ProfileOf(info);
    multipleScans = jpeg_has_multiple_scans(&info);
    SetUpDecoding(info, options_, cmyk);
    // The quantizer works on three components only.
    if (pixelBytes == 4 && info.out_color_space == JCS_EXT_BGR && !info.quantize_colors) {
      info.out_color_space = JCS_EXT_BGRX;
    }
    showScans = toRaster && options_.ShowProgressive && multipleScans;
    if (showScans) {
      finalDct = info.dct_method;
      finalDither = info.dither_mode;
      finalTwoPass = info.two_pass_quantize != FALSE;
      info.enable_2pass_quant = info.two_pass_quantize;
      info.dct_method = JDCT_IFAST;
      info.two_pass_quantize = FALSE;
      info.dither_mode = JDITHER_ORDERED;
      info.buffered_image = TRUE;
    }
  });
  if (stream != nullptr) RecordHeader(info.image_width, info.image_height, info.jpeg_color_space == JCS_GRAYSCALE, multipleScans);
  CheckPixelLimit(info);
  context.work.Begin(&info, stream != nullptr ? stream->Size() : static_cast<int64_t>(bytes.size()));
  if (toRaster) Progress(TProgressStage::Starting, 0, false, TRect(), std::string());
  Guarded(context, [&] { jpeg_start_decompress(&info); });
  const bool palette8 = info.quantize_colors != FALSE;
  // Nothing may be written outside a row.
  if (info.output_components != (palette8 ? 1 : cmyk ? 4 : static_cast<int>(pixelBytes))) {
    throw EJPEG(JERR_CONVERSION_NOTIMPL);
  }
  const bool indices = palette8 && receiver.TakesPaletteIndices();
  const size_t width = info.output_width;
  // Palette indices for a receiver of colours, and four-component samples,
  // are read into a row of their own and converted as a 24-bit raster
  // converts them.
  std::vector<TPaletteEntry> palette;
  std::vector<uint8_t> sampleRow((palette8 && !indices) || cmyk ? (cmyk ? 4 : 1) * width : 0);

  // One output pass: the whole picture, band by band.
  const auto deliver = [&] {
    if (indices) {
      receiver.PaletteMade(info.colormap != nullptr ? PaletteFromColourMap(info) : std::vector<TPaletteEntry>());
    } else if (palette8) {
      palette = info.colormap != nullptr ? PaletteFromColourMap(info) : TBitmap::HalftonePalette();
    }
    receiver.Begin(static_cast<int32_t>(info.output_width), static_cast<int32_t>(info.output_height));
    while (info.output_scanline < info.output_height) {
      int32_t capacity = 0;
      uint8_t* const* rows = receiver.BandToFill(capacity);
      int32_t filled = 0;
      Guarded(context, [&] {
        while (filled < capacity && info.output_scanline < info.output_height) {
          JSAMPROW target = sampleRow.empty() ? rows[filled] : sampleRow.data();
          if (jpeg_read_scanlines(&info, &target, 1) != 1) break;
          if (cmyk) CmykToBgr(sampleRow.data(), rows[filled], width, info.saw_Adobe_marker, pixelBytes);
          if (palette8 && !indices) IndicesToBgr(sampleRow.data(), rows[filled], width, palette, pixelBytes);
          ++filled;
        }
      });
      receiver.BandFilled(filled);
      if (filled == 0) break;
    }
  };
  if (!showScans) {
    deliver();
  } else {
    for (;;) {
      int status = 0;
      Guarded(context, [&] { status = jpeg_consume_input(&info); });
      if (status == JPEG_REACHED_EOI) break;
      Guarded(context, [&] { jpeg_start_output(&info, info.input_scan_number); });
      deliver();
      Guarded(context, [&] { jpeg_finish_output(&info); });
    }
    info.dct_method = finalDct;
    info.dither_mode = finalDither;
    if (finalTwoPass) {
      info.two_pass_quantize = TRUE;
      info.colormap = nullptr;
    }
    Guarded(context, [&] { jpeg_start_output(&info, info.input_scan_number); });
    deliver();
    Guarded(context, [&] { jpeg_finish_output(&info); });
  }
  state->wholePicture = multipleScans;
  TJPEGDecodeEnd end;
  end.state_ = std::move(state);
  return end;
}

void TJPEGImage::Decode() {
  // The raster stays stored whatever happens below.
  raster_ = std::make_unique<TBitmap>();
  TRasterReceiver receiver(*raster_);
  const auto ending = [&](int percent) {
    Progress(TProgressStage::Ending, percent, false, TRect(), std::string());
    if (receiver.PaletteAttached()) SetPaletteModified(true);
    if (PaletteModified()) Changed();
  };
  try {
    DecodeThrough(nullptr, receiver, TDecodeUse::Raster).Finish();
  } catch (const EAbort&) {
    ending(0);
    return;
  } catch (...) {
    ending(0);
    throw;
  }
  ending(100);
}

}  // namespace shrinkwell

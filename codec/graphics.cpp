#include "graphics.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

#include "jpeg.h"
#include "pixel_memory.h"
#include "system.h"

namespace shrinkwell {

namespace {

// Exchanging store references is done under one process-wide lock; the count
// itself is a plain counter.
std::mutex& StoreLock() {
  static std::mutex lock;
  return lock;
}

void ReleaseImage(TBitmapImage* image) {
  bool last;
  {
    std::lock_guard<std::mutex> guard(StoreLock());
    last = --image->refCount == 0;
  }
  if (last) delete image;
}

int32_t BitsPerPixel(TRasterFormat format) { return format == rf8Bit ? 8 : 24; }

bool Supported(TRasterFormat format) { return format == rfDevice || format == rf8Bit || format == rf24Bit; }

[[noreturn]] void OutOfResources(int error) {
  if (error != 0) throw EOutOfResources(SystemErrorMessage(error));
  throw EOutOfResources("Systemressourcen erschöpft.");
}

// A new store of the given size and format, white all over; pixel memory only
// when both sizes are non-zero.
std::unique_ptr<TBitmapImage> MakeImage(int32_t width, int32_t height, TRasterFormat format,
                                        const std::vector<TPaletteEntry>& palette);

uint8_t NearestIndex(const std::vector<TPaletteEntry>& palette, int red, int green, int blue) {
  int best = 0;
  int bestDistance = std::numeric_limits<int>::max();
  for (size_t i = 0; i < palette.size(); ++i) {
    const int dr = palette[i].red - red;
    const int dg = palette[i].green - green;
    const int db = palette[i].blue - blue;
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = static_cast<int>(i);
    }
  }
  return static_cast<uint8_t>(best);
}

std::unique_ptr<TBitmapImage> MakeImage(int32_t width, int32_t height, TRasterFormat format,
                                        const std::vector<TPaletteEntry>& palette) {
  if (width < 0 || height < 0) OutOfResources(0);
  auto image = std::make_unique<TBitmapImage>();
  image->width = width;
  image->height = height;
  image->format = format;
  image->bitsPerPixel = BitsPerPixel(format);
  image->palette = palette;
  if (width == 0 || height == 0) return image;
  const uint64_t stride = (static_cast<uint64_t>(width) * image->bitsPerPixel + 31) / 32 * 4;
  const uint64_t total = stride * static_cast<uint64_t>(height);
  if (total / stride != static_cast<uint64_t>(height) || total > std::numeric_limits<size_t>::max() / 2) {
    OutOfResources(ENOMEM);
  }
  errno = 0;
  auto* pixels = AllocatePixelMemory(static_cast<size_t>(total));
  if (pixels == nullptr) OutOfResources(errno);
  image->pixels = pixels;
  image->stride = static_cast<size_t>(stride);
  const uint8_t white = format == rf8Bit ? NearestIndex(palette, 255, 255, 255) : 0xFF;
  std::memset(pixels, white, static_cast<size_t>(total));
  return image;
}

// Default colours of the display elements that a negative TColor names.
TColor SystemColour(TColor colour) {
  static const TColor table[] = {
      RGBColor(200, 200, 200), RGBColor(0, 0, 0),       RGBColor(153, 180, 209), RGBColor(191, 205, 219),
      RGBColor(240, 240, 240), RGBColor(255, 255, 255), RGBColor(100, 100, 100), RGBColor(0, 0, 0),
      RGBColor(0, 0, 0),       RGBColor(0, 0, 0),       RGBColor(180, 180, 180), RGBColor(244, 247, 252),
      RGBColor(171, 171, 171), RGBColor(51, 153, 255),  RGBColor(255, 255, 255), RGBColor(240, 240, 240),
      RGBColor(160, 160, 160), RGBColor(109, 109, 109), RGBColor(0, 0, 0),       RGBColor(67, 78, 84),
      RGBColor(255, 255, 255), RGBColor(105, 105, 105), RGBColor(227, 227, 227), RGBColor(0, 0, 0),
      RGBColor(255, 255, 225), RGBColor(0, 0, 0),       RGBColor(0, 102, 204),   RGBColor(185, 209, 234),
      RGBColor(215, 228, 242), RGBColor(51, 153, 255),  RGBColor(240, 240, 240),
  };
  const size_t index = static_cast<size_t>(colour & 0xFF);
  return index < sizeof table / sizeof table[0] ? table[index] : RGBColor(0, 0, 0);
}

}  // namespace

TBitmapImage::~TBitmapImage() { std::free(pixels); }

const std::vector<TPaletteEntry>& TBitmap::HalftonePalette() {
  // A 6 x 6 x 6 colour cube followed by a gray ramp.
  static const std::vector<TPaletteEntry> palette = [] {
    std::vector<TPaletteEntry> entries;
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b)
          entries.push_back({static_cast<uint8_t>(51 * r), static_cast<uint8_t>(51 * g), static_cast<uint8_t>(51 * b), 0});
    for (int j = 1; j <= 40; ++j) {
      const auto level = static_cast<uint8_t>(255 * j / 41);
      entries.push_back({level, level, level, 0});
    }
    return entries;
  }();
  return palette;
}

TBitmap::TBitmap() : image_(new TBitmapImage) {}

TBitmap::~TBitmap() { ReleaseImage(image_); }

void TBitmap::ReplaceImage(TBitmapImage* image) {
  TBitmapImage* old;
  {
    std::lock_guard<std::mutex> guard(StoreLock());
    old = image_;
    image_ = image;
  }
  ReleaseImage(old);
}

void TBitmap::Separate() {
  const TBitmapImage& old = *image_;
  auto copy = std::make_unique<TBitmapImage>();
  copy->width = old.width;
  copy->height = old.height;
  copy->format = old.format;
  copy->bitsPerPixel = old.bitsPerPixel;
  copy->palette = old.palette;
  if (old.pixels != nullptr) {
    const size_t total = old.stride * static_cast<size_t>(old.height);
    errno = 0;
    copy->pixels = AllocatePixelMemory(total);
    if (copy->pixels == nullptr) OutOfResources(errno);
    std::memcpy(copy->pixels, old.pixels, total);
    copy->stride = old.stride;
  }
  ReplaceImage(copy.release());
}

void TBitmap::Resize(int32_t width, int32_t height) {
  const TBitmapImage& old = *image_;
  std::unique_ptr<TBitmapImage> fresh = MakeImage(width, height, old.format, old.palette);
  if (fresh->pixels != nullptr && old.pixels != nullptr) {
    // Anchored at the top-left corner; rows are stored bottom row first.
    const int32_t rows = std::min(old.height, height);
    const size_t bytes = static_cast<size_t>(std::min(old.width, width)) * static_cast<size_t>(old.bitsPerPixel / 8);
    for (int32_t y = 0; y < rows; ++y) {
      std::memcpy(fresh->pixels + static_cast<size_t>(height - 1 - y) * fresh->stride,
                  old.pixels + static_cast<size_t>(old.height - 1 - y) * old.stride, bytes);
    }
  }
  ReplaceImage(fresh.release());
  Changed();
}

void TBitmap::ChangeWidth(int32_t width) {
  if (width == image_->width) return;
  Resize(width, image_->height);
}

void TBitmap::ChangeHeight(int32_t height) {
  if (height == image_->height) return;
  Resize(image_->width, height);
}

void TBitmap::SetRasterFormat(TRasterFormat format) {
  if (!Supported(format)) throw EInvalidGraphic("Ungültiges Pixel-Format");
  const TBitmapImage& old = *image_;
  if (format == old.format) return;
  const std::vector<TPaletteEntry>& palette = format == rf8Bit ? HalftonePalette() : old.palette;
  if (old.pixels == nullptr) {
    // Only recorded; takes effect when pixel memory is made.
    auto fresh = MakeImage(old.width, old.height, format, palette);
    ReplaceImage(fresh.release());
    Changed();
    return;
  }
  std::unique_ptr<TBitmapImage> fresh = MakeImage(old.width, old.height, format, palette);
  const int32_t width = old.width;
  for (int32_t row = 0; row < old.height; ++row) {
    const uint8_t* in = old.pixels + static_cast<size_t>(row) * old.stride;
    uint8_t* out = fresh->pixels + static_cast<size_t>(row) * fresh->stride;
    if (old.format == rf8Bit) {
      // Indices beyond the palette come out black.
      for (int32_t x = 0; x < width; ++x, out += 3) {
        const uint8_t index = in[x];
        if (index < old.palette.size()) {
          out[0] = old.palette[index].blue;
          out[1] = old.palette[index].green;
          out[2] = old.palette[index].red;
        } else {
          out[0] = out[1] = out[2] = 0;
        }
      }
    } else if (format == rf8Bit) {
      for (int32_t x = 0; x < width; ++x, in += 3) out[x] = NearestIndex(palette, in[2], in[1], in[0]);
    } else {
      // Device and 24-bit pixels share one layout.
      std::memcpy(out, in, 3 * static_cast<size_t>(width));
    }
  }
  ReplaceImage(fresh.release());
  Changed();
}

uint8_t* TBitmap::RowAddress(int32_t y) {
  Changing();
  const TBitmapImage& image = *image_;
  if (y < 0 || y >= image.height || image.pixels == nullptr) {
    throw EInvalidGraphicOperation("Bereichsüberschreitung bei Zeilenindex");
  }
  return image.pixels + static_cast<size_t>(image.height - 1 - y) * image.stride;
}

const uint8_t* TBitmap::RowAddressForReading(int32_t y) const {
  const TBitmapImage& image = *image_;
  if (y < 0 || y >= image.height || image.pixels == nullptr) {
    throw EInvalidGraphicOperation("Bereichsüberschreitung bei Zeilenindex");
  }
  return image.pixels + static_cast<size_t>(image.height - 1 - y) * image.stride;
}

TCanvas& TBitmap::DrawingSurface() {
  if (!canvas_) canvas_ = std::make_unique<TCanvas>(*this);
  return *canvas_;
}

void TBitmap::PaintSlow(int32_t x, int32_t y, TColor colour) {
  if (colour < 0) colour = SystemColour(colour);
  TBitmapImage& image = *image_;
  if (x >= 0 && x < image.width && y >= 0 && y < image.height && image.pixels != nullptr) {
    uint8_t* row = image.pixels + static_cast<size_t>(image.height - 1 - y) * image.stride;
    const int red = colour & 0xFF;
    const int green = (colour >> 8) & 0xFF;
    const int blue = (colour >> 16) & 0xFF;
    if (image.format == rf8Bit) {
      row[x] = NearestIndex(image.palette, red, green, blue);
    } else {
      uint8_t* p = row + 3 * static_cast<size_t>(x);
      p[0] = static_cast<uint8_t>(blue);
      p[1] = static_cast<uint8_t>(green);
      p[2] = static_cast<uint8_t>(red);
    }
  }
  Changed();
}

void TBitmap::CopyPicture(const TBitmap* source) {
  if (source == this) return;
  if (source == nullptr) {
    ReplaceImage(new TBitmapImage);
  } else {
    TBitmapImage* shared;
    {
      std::lock_guard<std::mutex> guard(StoreLock());
      shared = source->image_;
      ++shared->refCount;
    }
    ReplaceImage(shared);
  }
  Changed();
}

void TBitmap::CopyPicture(TJPEGImage& source) { CopyPicture(&source.DecodedRaster()); }

void TBitmap::AttachPalette(const std::vector<TPaletteEntry>& palette) {
  Changing();
  image_->palette.assign(palette.begin(), palette.begin() + std::min<size_t>(palette.size(), 256));
  SetPaletteModified(true);
  Changed();
}

}  // namespace shrinkwell

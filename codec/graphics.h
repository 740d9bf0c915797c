// The raster image: TGraphic, TBitmap with its copy-on-write pixel store, and
// the drawing surface TCanvas.
//
// There is no screen: the device format rfDevice stores every colour exactly,
// in the same 3-byte blue, green, red layout as rf24Bit, and rf8Bit starts with
// a fixed halftone palette (a 6 x 6 x 6 colour cube and a 40-step gray ramp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "errors.h"

namespace shrinkwell {

class TJPEGImage;

// Pixel formats. Only rfDevice, rf8Bit and rf24Bit are supported; the others
// keep their numbers and are refused like the custom layout.
enum TRasterFormat {
  rfDevice = 0,
  rf1Bit = 1,
  rf4Bit = 2,
  rf8Bit = 3,
  rf15Bit = 4,
  rf16Bit = 5,
  rf24Bit = 6,
  rf32Bit = 7,
  rfCustom = 8,
};

// Red in bits 0-7, green 8-15, blue 16-23; negative: a system colour whose
// low byte names the display element.
using TColor = int32_t;

inline constexpr TColor RGBColor(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<TColor>(red | (green << 8) | (blue << 16));
}

struct TPaletteEntry {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  uint8_t flags = 0;
};

enum class TProgressStage { Starting, Running, Ending };

struct TRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

// Common base of TBitmap and TJPEGImage: size, change notification and
// progress reports. The system installs no observer; tests may.
class TGraphic {
 public:
  using ChangeObserver = std::function<void(TGraphic&)>;
  using ProgressObserver =
      std::function<void(TGraphic&, TProgressStage, int percent, bool redraw, const TRect&, const std::string&)>;

  TGraphic() = default;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;
  virtual ~TGraphic() = default;

  virtual int32_t PixelWidth() const = 0;
  virtual int32_t PixelHeight() const = 0;
  virtual void ChangeWidth(int32_t width) = 0;
  virtual void ChangeHeight(int32_t height) = 0;

  bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }
  bool PaletteModified() const { return paletteModified_; }
  void SetPaletteModified(bool value) { paletteModified_ = value; }

  void SetChangeObserver(ChangeObserver observer) { onChange_ = std::move(observer); }
  void SetProgressObserver(ProgressObserver observer) { onProgress_ = std::move(observer); }
  bool HasProgressObserver() const { return static_cast<bool>(onProgress_); }

  // Change notification: marks the picture modified and tells the observer.
  void Changed() {
    modified_ = true;
    if (onChange_) onChange_(*this);
  }

  // A progress report to the observer, if one is installed.
  void Progress(TProgressStage stage, int percent, bool redraw, const TRect& rect, const std::string& message) {
    if (onProgress_) onProgress_(*this, stage, percent, redraw, rect, message);
  }

 private:
  bool modified_ = false;
  bool paletteModified_ = false;
  ChangeObserver onChange_;
  ProgressObserver onProgress_;
};

// The pixel store, shared between rasters until one of them changes.
struct TBitmapImage {
  int32_t refCount = 1;  // changed only under the process-wide store lock
  int32_t width = 0;
  int32_t height = 0;
  TRasterFormat format = rfDevice;
  int32_t bitsPerPixel = 24;
  size_t stride = 0;                   // bytes per row, a multiple of 4
  uint8_t* pixels = nullptr;           // bottom row first; nullptr while empty
  std::vector<TPaletteEntry> palette;  // rf8Bit only

  TBitmapImage() = default;
  TBitmapImage(const TBitmapImage&) = delete;
  TBitmapImage& operator=(const TBitmapImage&) = delete;
  ~TBitmapImage();
};

class TBitmap;

// The drawing surface of a raster. Only single-pixel painting is offered.
class TCanvas {
 public:
  explicit TCanvas(TBitmap& owner) : owner_(owner) {}
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  // Paints one pixel; outside the raster nothing happens.
  inline void PaintPixel(int32_t x, int32_t y, TColor colour);

 private:
  TBitmap& owner_;
};

class TBitmap final : public TGraphic {
 public:
  TBitmap();
  ~TBitmap() override;

  int32_t PixelWidth() const override { return image_->width; }
  int32_t PixelHeight() const override { return image_->height; }
  // New size; a new store filled white with the old pixels copied in at the
  // top-left corner. Negative sizes raise EOutOfResources.
  void ChangeWidth(int32_t width) override;
  void ChangeHeight(int32_t height) override;

  TRasterFormat RasterFormat() const { return image_->format; }
  // Converts the pixels (or only records the format while empty).
  // Unsupported formats raise EInvalidGraphic "Ungültiges Pixel-Format".
  void SetRasterFormat(TRasterFormat format);

  // Address of row y (0 = top row) after separating a shared store; raises
  // EInvalidGraphicOperation "Bereichsüberschreitung bei Zeilenindex" for
  // y outside 0..height - 1.
  uint8_t* RowAddress(int32_t y);
  // Read-only row access that does not separate a shared store (the encoder
  // reads its private copy this way). Same row-index check.
  const uint8_t* RowAddressForReading(int32_t y) const;
  // Bytes per row (0 while empty).
  size_t RowStride() const { return image_->stride; }
  // Address of row y + 1 minus address of row y: minus the stride.
  ptrdiff_t RowStep() const { return -static_cast<ptrdiff_t>(image_->stride); }
  bool Empty() const { return image_->pixels == nullptr; }

  TCanvas& DrawingSurface();

  // Shares the source's store (nullptr: a new empty store).
  void CopyPicture(const TBitmap* source);
  // The image's decoded raster (decoding it first), shared as above.
  void CopyPicture(TJPEGImage& source);

  // Replaces the colour table (at most 256 entries are kept).
  void AttachPalette(const std::vector<TPaletteEntry>& palette);
  const std::vector<TPaletteEntry>& Palette() const { return image_->palette; }

  // True when this raster's store is shared with another raster.
  bool SharesStore() const { return image_->refCount > 1; }

  // The fixed halftone palette of rf8Bit.
  static const std::vector<TPaletteEntry>& HalftonePalette();

 private:
  friend class TCanvas;

  // Gives this raster its own copy of a shared store.
  void Changing() {
    if (image_->refCount > 1) Separate();
  }
  void Separate();
  void ReplaceImage(TBitmapImage* image);  // takes over one reference
  void Resize(int32_t width, int32_t height);
  void PaintSlow(int32_t x, int32_t y, TColor colour);

  TBitmapImage* image_;
  std::unique_ptr<TCanvas> canvas_;
};

inline void TCanvas::PaintPixel(int32_t x, int32_t y, TColor colour) {
  TBitmap& b = owner_;
  b.Changing();
  TBitmapImage* image = b.image_;
  if (colour < 0 || image->format == rf8Bit) {
    b.PaintSlow(x, y, colour);
    return;
  }
  if (static_cast<uint32_t>(x) < static_cast<uint32_t>(image->width) &&
      static_cast<uint32_t>(y) < static_cast<uint32_t>(image->height) && image->pixels != nullptr) {
    uint8_t* p = image->pixels + static_cast<size_t>(image->height - 1 - y) * image->stride + 3 * static_cast<size_t>(x);
    p[0] = static_cast<uint8_t>(colour >> 16);
    p[1] = static_cast<uint8_t>(colour >> 8);
    p[2] = static_cast<uint8_t>(colour);
  }
  b.Changed();
}

}  // namespace shrinkwell

#include "shrink.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "graphics.h"
#include "halving.h"

namespace shrinkwell {

void HalvePass(const uint8_t* in, size_t inStride, int32_t w, int32_t h, uint8_t* out, size_t outStride) {
  const int32_t w2 = w / 2;
  const int32_t h2 = h / 2;
  if (w2 <= 0 || h2 <= 0) return;
  const size_t used = 6 * static_cast<size_t>(h2);  // rows 0 to 2 * h2 - 1
  std::vector<uint16_t> across(used + 1);
  for (int32_t x = 0; x < w2; ++x) {
    const uint8_t* centre = in + 2 * static_cast<size_t>(x) * inStride;
    const uint8_t* left = x == 0 ? centre : centre - inStride;  // column -1 is column 0
    SumLines(left, centre, centre + inStride, used, across.data());
    HalveLine(across.data(), h2, out + static_cast<size_t>(x) * outStride, 3, false);
  }
}

void HalveRasterRows(const TBitmap& raster, const TWorkBuffer& half) {
  const int32_t w2 = raster.PixelWidth() / 2;
  const int32_t h2 = raster.PixelHeight() / 2;
  if (w2 <= 0 || h2 <= 0) return;
  const size_t used = 6 * static_cast<size_t>(w2);  // columns 0 to 2 * w2 - 1
  std::vector<uint16_t> down(used + 1);
  // Output rows are gathered in bands, column-major, and each column's run
  // is then stored at once, instead of three scattered bytes per pixel.
  constexpr int32_t kBand = 16;
  const size_t bandStride = 3 * static_cast<size_t>(kBand);
  std::vector<uint8_t> band(bandStride * static_cast<size_t>(w2));
  for (int32_t y0 = 0; y0 < h2; y0 += kBand) {
    const int32_t count = std::min(kBand, h2 - y0);
    for (int32_t y = y0; y < y0 + count; ++y) {
      const uint8_t* centre = raster.RowAddressForReading(2 * y);
      const uint8_t* above = y == 0 ? centre : raster.RowAddressForReading(2 * y - 1);  // row -1 is row 0
      SumLines(above, centre, raster.RowAddressForReading(2 * y + 1), used, down.data());
      HalveLine(down.data(), w2, band.data() + 3 * static_cast<size_t>(y - y0), bandStride, true);
    }
    uint8_t* column = half.Data() + 3 * static_cast<size_t>(y0);
    const uint8_t* run = band.data();
    if (count == kBand) {  // a fixed size lets the copy be a few register moves
      for (int32_t x = 0; x < w2; ++x, column += half.stride, run += bandStride) std::memcpy(column, run, 3 * kBand);
    } else {
      for (int32_t x = 0; x < w2; ++x, column += half.stride, run += bandStride) std::memcpy(column, run, 3 * count);
    }
  }
}

TQuarterSize ShrinkIntoBuffers(const TBitmap& raster, TWorkBuffers& buffers) {
  const int32_t w = raster.PixelWidth();
  const int32_t h = raster.PixelHeight();
  buffers.EnsureCapacity(w, h);
  const int32_t w2 = w / 2, h2 = h / 2;
  HalveRasterRows(raster, buffers.Half());
  HalvePass(buffers.Half().Data(), buffers.Half().stride, w2, h2, buffers.Quarter().Data(), buffers.Quarter().stride);
  return {w2 / 2, h2 / 2};
}

}  // namespace shrinkwell

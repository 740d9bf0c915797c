#include "orientation.h"

#include <algorithm>

#include "graphics.h"
#include "shrink.h"

namespace shrinkwell {

TTurn TurnForOrientationText(const std::string& text) {
  if (text == "Rotated 180\xB0") return TTurn::Half;
  if (text == "CounterClockwise 90\xB0") return TTurn::QuarterClockwise;
  if (text == "Clockwise 90\xB0") return TTurn::QuarterCounterClockwise;
  return TTurn::None;
}

std::unique_ptr<TBitmap> OrientFromBuffer(const TWorkBuffer& quarter, int32_t width, int32_t height, TTurn turn) {
  auto result = std::make_unique<TBitmap>();
  const bool quarterTurn = IsQuarterTurn(turn);
  result->ChangeHeight(quarterTurn ? width : height);
  result->ChangeWidth(quarterTurn ? height : width);
  TCanvas& canvas = result->DrawingSurface();
  // Every pixel is painted once whatever the order; tiles keep both the
  // column-major buffer and the bottom-up raster rows in cache.
  constexpr int32_t kTile = 32;
  for (int32_t y0 = 0; y0 < height; y0 += kTile) {
    const int32_t y1 = std::min(height, y0 + kTile);
    for (int32_t x0 = 0; x0 < width; x0 += kTile) {
      const int32_t x1 = std::min(width, x0 + kTile);
      for (int32_t x = x0; x < x1; ++x) {
        const uint8_t* column = quarter.Data() + static_cast<size_t>(x) * quarter.stride;
        for (int32_t y = y0; y < y1; ++y) {
          const uint8_t* p = column + 3 * static_cast<size_t>(y);
          const TColor colour = static_cast<TColor>(p[0] | (p[1] << 8) | (p[2] << 16));
          switch (turn) {
            case TTurn::None: canvas.PaintPixel(x, y, colour); break;
            case TTurn::Half: canvas.PaintPixel(width - 1 - x, height - 1 - y, colour); break;
            case TTurn::QuarterClockwise: canvas.PaintPixel(height - 1 - y, x, colour); break;
            case TTurn::QuarterCounterClockwise: canvas.PaintPixel(y, width - 1 - x, colour); break;
          }
        }
      }
    }
  }
  return result;
}

void ShrinkAndRotate(std::unique_ptr<TBitmap>& raster, TTurn turn, TWorkBuffers& buffers) {
  const TQuarterSize size = ShrinkIntoBuffers(*raster, buffers);
  raster = OrientFromBuffer(buffers.Quarter(), size.width, size.height, turn);  // frees the decoded raster
}

}  // namespace shrinkwell

#include "shrink.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "graphics.h"

namespace shrinkwell {

namespace {

// Every possible channel sum is at most 36 * 255.
constexpr int32_t kMaxSum = 36 * 255;

const uint8_t* RoundingTable() {
  static const std::vector<uint8_t> table = [] {
    std::vector<uint8_t> t(kMaxSum + 1);
    for (int32_t sum = 0; sum <= kMaxSum; ++sum) t[static_cast<size_t>(sum)] = static_cast<uint8_t>(RoundedDivide36(sum));
    return t;
  }();
  return table.data();
}

// Vertical part of the separable kernel (weights 1, 4, 1) at the even rows of
// one input column, for all three channels: sums[3Y + c] for centre row 2Y.
// Row -1 is replaced by row 0.
void VerticalSums(const uint8_t* column, int32_t outRows, uint16_t* sums) {
  sums[0] = static_cast<uint16_t>(5 * column[0] + column[3]);
  sums[1] = static_cast<uint16_t>(5 * column[1] + column[4]);
  sums[2] = static_cast<uint16_t>(5 * column[2] + column[5]);
  for (int32_t y = 1; y < outRows; ++y) {
    const uint8_t* p = column + 6 * static_cast<size_t>(y);
    uint16_t* s = sums + 3 * static_cast<size_t>(y);
    s[0] = static_cast<uint16_t>(p[-3] + 4 * p[0] + p[3]);
    s[1] = static_cast<uint16_t>(p[-2] + 4 * p[1] + p[4]);
    s[2] = static_cast<uint16_t>(p[-1] + 4 * p[2] + p[5]);
  }
}

// Blue, green, red at p as the bytes red, green, blue of the result.
inline uint32_t SwapPixel(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return __builtin_bswap32(v) >> 8;
}

// Whether the orientation text is exactly one of the three turning texts.
enum class Turn { None, Half, QuarterClockwise, QuarterCounterClockwise };

Turn TurnFor(const std::string& orientation) {
  if (orientation == "Rotated 180\xB0") return Turn::Half;
  if (orientation == "CounterClockwise 90\xB0") return Turn::QuarterClockwise;
  if (orientation == "Clockwise 90\xB0") return Turn::QuarterCounterClockwise;
  return Turn::None;
}

}  // namespace

// The kernel is the outer product of (1, 4, 1) with itself, and the edge
// rule replaces a row or a column independently of the other, so the 3 x 3
// sum is the horizontal (1, 4, 1) sum of vertical (1, 4, 1) sums: the same
// integers as the nine-term sum, without a test per neighbour. Column 2X + 1
// serves as right neighbour of X and left neighbour of X + 1, so its vertical
// sums are computed once.
void HalvePass(const uint8_t* in, size_t inStride, int32_t w, int32_t h, uint8_t* out, size_t outStride) {
  const int32_t w2 = w / 2;
  const int32_t h2 = h / 2;
  if (w2 <= 0 || h2 <= 0) return;
  const size_t n = 3 * static_cast<size_t>(h2);
  std::vector<uint16_t> left(n), centre(n), right(n);
  const uint8_t* round = RoundingTable();
  for (int32_t x = 0; x < w2; ++x) {
    const uint8_t* centreColumn = in + 2 * static_cast<size_t>(x) * inStride;
    VerticalSums(centreColumn, h2, centre.data());
    if (x == 0) left = centre;  // column -1 is replaced by column 0
    VerticalSums(centreColumn + inStride, h2, right.data());
    uint8_t* o = out + static_cast<size_t>(x) * outStride;
    for (size_t i = 0; i < n; ++i) o[i] = round[left[i] + 4 * centre[i] + right[i]];
    left.swap(right);
  }
}

void ShrinkIntoBuffers(TBitmap& raster, TWorkBuffers& buffers, int32_t& quarterWidth, int32_t& quarterHeight) {
  const int32_t w = raster.PixelWidth();
  const int32_t h = raster.PixelHeight();
  buffers.EnsureCapacity(w, h);
  const TWorkBuffer& full = buffers.Full();

  // Load in tiles of rows x columns: each column receives a contiguous run
  // per tile, and a tile touches few enough pages and cache lines that the
  // transposition runs at memory speed.
  constexpr int32_t kBand = 64;
  constexpr int32_t kTileColumns = 64;
  const uint8_t* rows[kBand];
  for (int32_t y0 = 0; y0 < h; y0 += kBand) {
    const int32_t count = std::min(kBand, h - y0);
    for (int32_t k = 0; k < count; ++k) rows[k] = raster.RowAddressForReading(y0 + k);
    for (int32_t x0 = 0; x0 < w; x0 += kTileColumns) {
      const int32_t x1 = std::min(w, x0 + kTileColumns);
      for (int32_t x = x0; x < x1; ++x) {
        uint8_t* out = full.Data() + static_cast<size_t>(x) * full.stride + 3 * static_cast<size_t>(y0);
        const size_t in = 3 * static_cast<size_t>(x);
        if (x + 1 < w) {
          // Four bytes at a time (blue, green, red and the next pixel's blue)
          // turned into red, green, blue; the fourth byte written is the
          // next row's slot, which the next step overwrites.
          int32_t k = 0;
          for (; k + 1 < count; ++k, out += 3) *reinterpret_cast<uint32_t*>(out) = SwapPixel(rows[k] + in);
          const uint32_t last = SwapPixel(rows[k] + in);
          std::memcpy(out, &last, 3);
        } else {
          for (int32_t k = 0; k < count; ++k, out += 3) {
            const uint8_t* p = rows[k] + in;
            out[0] = p[2];
            out[1] = p[1];
            out[2] = p[0];
          }
        }
      }
    }
  }

  const int32_t w2 = w / 2, h2 = h / 2;
  HalvePass(full.Data(), full.stride, w, h, buffers.Half().Data(), buffers.Half().stride);
  HalvePass(buffers.Half().Data(), buffers.Half().stride, w2, h2, buffers.Quarter().Data(), buffers.Quarter().stride);
  quarterWidth = w2 / 2;
  quarterHeight = h2 / 2;
}

std::unique_ptr<TBitmap> OrientFromBuffer(const TWorkBuffer& quarter, int32_t width, int32_t height,
                                          const std::string& orientation) {
  auto result = std::make_unique<TBitmap>();
  const Turn turn = TurnFor(orientation);
  const bool quarterTurn = turn == Turn::QuarterClockwise || turn == Turn::QuarterCounterClockwise;
  result->ChangeHeight(quarterTurn ? width : height);
  result->ChangeWidth(quarterTurn ? height : width);
  TCanvas& canvas = result->DrawingSurface();
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* p = quarter.Data() + static_cast<size_t>(x) * quarter.stride + 3 * static_cast<size_t>(y);
      const TColor colour = static_cast<TColor>(p[0] | (p[1] << 8) | (p[2] << 16));
      switch (turn) {
        case Turn::None: canvas.PaintPixel(x, y, colour); break;
        case Turn::Half: canvas.PaintPixel(width - 1 - x, height - 1 - y, colour); break;
        case Turn::QuarterClockwise: canvas.PaintPixel(height - 1 - y, x, colour); break;
        case Turn::QuarterCounterClockwise: canvas.PaintPixel(y, width - 1 - x, colour); break;
      }
    }
  }
  return result;
}

void ShrinkAndRotate(std::unique_ptr<TBitmap>& raster, const std::string& orientation, TWorkBuffers& buffers) {
  int32_t w4 = 0, h4 = 0;
  ShrinkIntoBuffers(*raster, buffers, w4, h4);
  std::unique_ptr<TBitmap> upright = OrientFromBuffer(buffers.Quarter(), w4, h4, orientation);
  raster = std::move(upright);  // frees the decoded raster
}

}  // namespace shrinkwell

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

// The kernel is the outer product of (1, 4, 1) with itself, and the edge
// rule replaces a row or a column independently of the other, so every 3 x 3
// sum equals the (1, 4, 1) sum along a line of the (1, 4, 1) sums across
// three neighbouring lines: the same integers as the nine-term sum, without a
// test per neighbour. In the column-major buffers a column is such a line, in
// the raster a row; the kernel is the same in both directions.

// d[k] = a[k] + 4 b[k] + c[k].
void SumLines(const uint8_t* a, const uint8_t* b, const uint8_t* c, size_t n, uint16_t* d) {
  for (size_t k = 0; k < n; ++k) d[k] = static_cast<uint16_t>(a[k] + 4 * b[k] + c[k]);
}

// Three 16-bit sums at p (and one more lane that is ignored) in one word.
inline uint64_t Lanes(const uint16_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "Lanes() takes the first sum as the low lane");

// Halves one line of summed pixels (three channels each): output pixel i
// from pixels 2i - 1, 2i and 2i + 1 with weights 1, 4, 1, pixel -1 being
// pixel 0, divided by 36 and rounded. Pixel i is stored at out + i * step,
// its channels reversed when reverse is set (blue, green, red to red, green,
// blue). d must hold one element beyond pixel 2 * count - 1.
void HalveLine(const uint16_t* d, int32_t count, uint8_t* out, size_t step, bool reverse) {
  const uint8_t* round = RoundingTable();
  const int first = reverse ? 2 : 0;
  const int last = 2 - first;
  out[first] = round[5 * d[0] + d[3]];
  out[1] = round[5 * d[1] + d[4]];
  out[last] = round[5 * d[2] + d[5]];
  // The channels are added as 16-bit lanes of one word; no lane can carry
  // into the next, since every sum is at most 9180. The right neighbour of
  // one output pixel is the left neighbour of the next.
  uint64_t left = count > 1 ? Lanes(d + 3) : 0;
  for (int32_t i = 1; i < count; ++i) {
    const uint16_t* p = d + 6 * static_cast<size_t>(i);
    const uint64_t right = Lanes(p + 3);
    const uint64_t sum = left + (Lanes(p) << 2) + right;
    left = right;
    uint8_t* o = out + static_cast<size_t>(i) * step;
    o[first] = round[sum & 0xFFFF];
    o[1] = round[(sum >> 16) & 0xFFFF];
    o[last] = round[(sum >> 32) & 0xFFFF];
  }
}

}  // namespace

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

// The shrinker: a decoded photo to a quarter of its width and height with the
// fixed 3 x 3 filter applied twice, through the work buffers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "work_buffers.h"

namespace shrinkwell {

class TBitmap;

// Shift counts of the kernel by Manhattan distance from the centre: weights
// 16, 4 and 1, which add up to 36 over the 3 x 3 neighbourhood.
inline constexpr int KernelShifts[3] = {4, 2, 0};

// sum / 36 rounded to the nearest integer, an exact half to the even one.
inline int RoundedDivide36(int32_t sum) {
  const int32_t q = sum / 36;
  const int32_t r = sum % 36;
  return q + ((r > 18 || (r == 18 && (q & 1))) ? 1 : 0);
}

// One halving pass over column-major RGB buffers: w x h pixels in, (w div 2)
// x (h div 2) out. Neighbours left of column 0 or above row 0 are taken from
// the centre's column or row and keep their weight; odd last columns and rows
// take no part.
void HalvePass(const uint8_t* in, size_t inStride, int32_t w, int32_t h, uint8_t* out, size_t outStride);

// The first pass straight from the rows of a 24-bit raster (blue, green,
// red, top row 0) into HalfBuffer (red, green, blue, column-major).
void HalveRasterRows(const TBitmap& raster, const TWorkBuffer& half);

struct TQuarterSize {
  int32_t width = 0;
  int32_t height = 0;
};

// Grows the buffers to the picture and runs both passes; QuarterBuffer then
// holds the quarter-size picture.
TQuarterSize ShrinkIntoBuffers(const TBitmap& raster, TWorkBuffers& buffers);

}  // namespace shrinkwell

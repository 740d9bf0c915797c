// The program's one image operation: shrink a decoded photo to a quarter of
// its width and height with the fixed 3 x 3 filter applied twice, then turn
// it upright by its EXIF orientation text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

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

// Grows the buffers to the picture and runs both passes. Returns the
// quarter size; QuarterBuffer holds the picture.
void ShrinkIntoBuffers(TBitmap& raster, TWorkBuffers& buffers, int32_t& quarterWidth, int32_t& quarterHeight);

// Builds a new device-format raster from QuarterBuffer, turned by the
// orientation text: "Rotated 180°", "CounterClockwise 90°" and "Clockwise
// 90°" (degree sign as the byte 0xB0) turn it, every other text leaves it.
std::unique_ptr<TBitmap> OrientFromBuffer(const TWorkBuffer& quarter, int32_t width, int32_t height,
                                          const std::string& orientation);

// Shrinks and turns the raster; the caller's raster is consumed and replaced
// by the new quarter-size upright one.
void ShrinkAndRotate(std::unique_ptr<TBitmap>& raster, const std::string& orientation, TWorkBuffers& buffers);

}  // namespace shrinkwell

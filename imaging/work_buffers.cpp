#include "work_buffers.h"

#include <algorithm>

#include "errors.h"
#include "pixel_memory.h"

namespace shrinkwell {

namespace {

// Left uninitialised: only the current picture's corner is ever read, and
// always after it was written.
TWorkBuffer MakeBuffer(int32_t columns, int32_t rows) {
  TWorkBuffer buffer;
  buffer.columns = columns;
  buffer.rows = rows;
  buffer.stride = 3 * static_cast<size_t>(rows);
  buffer.bytes.reset(AllocatePixelMemory(buffer.stride * static_cast<size_t>(columns)));
  if (!buffer.bytes) throw EOutOfMemory();
  return buffer;
}

}  // namespace

TWorkBuffers::TWorkBuffers() { Allocate(kInitialSide, kInitialSide); }

void TWorkBuffers::EnsureCapacity(int32_t width, int32_t height) {
  if (width <= sourceColumns_ && height <= sourceRows_) return;
  int32_t columns = std::max(width, sourceColumns_), rows = std::max(height, sourceRows_);
  // Grown in both directions at once, a wide panorama followed by a tall
  // one would need the square of their long side: beyond twice the larger
  // of the two areas, the buffers take this photo's own size instead.
  const auto area = [](int32_t w, int32_t h) { return static_cast<int64_t>(w) * h; };
  if (area(columns, rows) > 2 * std::max(area(width, height), area(sourceColumns_, sourceRows_))) {
    columns = width;
    rows = height;
  }
  Allocate(columns, rows);
}

void TWorkBuffers::Allocate(int32_t sourceColumns, int32_t sourceRows) {
  // Release the old buffers first so that growing never needs both at once.
  half_ = TWorkBuffer();
  quarter_ = TWorkBuffer();
  sourceColumns_ = sourceRows_ = 0;
  half_ = MakeBuffer(sourceColumns / 2, sourceRows / 2);
  quarter_ = MakeBuffer(sourceColumns / 4, sourceRows / 4);
  sourceColumns_ = sourceColumns;
  sourceRows_ = sourceRows;
}

}  // namespace shrinkwell

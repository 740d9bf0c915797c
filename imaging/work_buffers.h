// The two-pass shrinker's work buffers: column-major pixels, red, green,
// blue, pixel (x, y) at x * stride + 3 * y. Only the reference shrinker
// (ShrinkAndRotate) uses them; the program halves while it decodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace shrinkwell {

struct TFreeDeleter {
  void operator()(uint8_t* memory) const { std::free(memory); }
};

struct TWorkBuffer {
  std::unique_ptr<uint8_t[], TFreeDeleter> bytes;
  int32_t columns = 0;  // capacity in pixels
  int32_t rows = 0;
  size_t stride = 0;    // bytes per column: 3 * rows

  uint8_t* Data() const { return bytes.get(); }
};

// HalfBuffer holds the first pass's result, QuarterBuffer the second's. The
// first pass reads the decoded raster's rows directly: a full-size
// column-major copy of the source would cost more than both passes together.
class TWorkBuffers {
 public:
  // The source size every run starts with: 4000 x 4000 pixels, which gives
  // a HalfBuffer of 12,000,000 and a QuarterBuffer of 3,000,000 bytes.
  static constexpr int32_t kInitialSide = 4000;

  // Allocates HalfBuffer and QuarterBuffer; raises EOutOfMemory when the
  // memory cannot be had.
  TWorkBuffers();

  // Grows the buffers so that a source of width x height fits. A mixed
  // folder settles at its largest photo; only when growing both sides would
  // more than double the memory do they take the new photo's shape.
  void EnsureCapacity(int32_t width, int32_t height);

  const TWorkBuffer& Half() const { return half_; }
  const TWorkBuffer& Quarter() const { return quarter_; }

 private:
  void Allocate(int32_t sourceColumns, int32_t sourceRows);

  int32_t sourceColumns_ = 0;
  int32_t sourceRows_ = 0;
  TWorkBuffer half_;
  TWorkBuffer quarter_;
};

}  // namespace shrinkwell

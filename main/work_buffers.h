// The three work buffers of the shrinker: column-major pixels, red, green,
// blue, pixel (x, y) at x * stride + 3 * y. They live for the whole run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace shrinkwell {

// Frees memory from AllocatePixelMemory.
struct TPixelMemoryDeleter {
  void operator()(uint8_t* memory) const;
};
using TPixelMemory = std::unique_ptr<uint8_t[], TPixelMemoryDeleter>;

// Uninitialised memory for large pixel arrays, in large pages where the
// system offers them (fewer page faults and TLB misses on column-major
// access). nullptr when the memory cannot be had.
TPixelMemory AllocatePixelMemory(size_t size);

struct TWorkBuffer {
  TPixelMemory bytes;
  int32_t columns = 0;  // capacity in pixels
  int32_t rows = 0;
  size_t stride = 0;    // bytes per column: 3 * rows

  uint8_t* Data() const { return bytes.get(); }
};

class TWorkBuffers {
 public:
  // The capacity every run starts with: 4000 x 4000 source pixels.
  static constexpr int32_t kInitialSide = 4000;

  // Allocates FullBuffer, HalfBuffer and QuarterBuffer in this order; raises
  // EOutOfMemory when the memory cannot be had.
  TWorkBuffers();

  // Grows the buffers so that a source of width x height fits. They never
  // shrink during a run, so a mixed folder settles at its largest photo.
  void EnsureCapacity(int32_t width, int32_t height);

  const TWorkBuffer& Full() const { return full_; }
  const TWorkBuffer& Half() const { return half_; }
  const TWorkBuffer& Quarter() const { return quarter_; }

 private:
  void Allocate(int32_t columns, int32_t rows);

  TWorkBuffer full_;
  TWorkBuffer half_;
  TWorkBuffer quarter_;
};

}  // namespace shrinkwell

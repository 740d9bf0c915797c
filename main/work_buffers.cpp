#include "work_buffers.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>

#include "errors.h"

namespace shrinkwell {

void TPixelMemoryDeleter::operator()(uint8_t* memory) const { std::free(memory); }

TPixelMemory AllocatePixelMemory(size_t size) {
  constexpr size_t kLargePage = 2u << 20;
  const size_t rounded = (std::max<size_t>(size, 1) + kLargePage - 1) / kLargePage * kLargePage;
  void* memory = std::aligned_alloc(kLargePage, rounded);
#ifdef MADV_HUGEPAGE
  if (memory != nullptr) ::madvise(memory, rounded, MADV_HUGEPAGE);
#endif
  return TPixelMemory(static_cast<uint8_t*>(memory));
}

namespace {

TWorkBuffer MakeBuffer(int32_t columns, int32_t rows) {
  TWorkBuffer buffer;
  buffer.columns = columns;
  buffer.rows = rows;
  buffer.stride = 3 * static_cast<size_t>(rows);
  const size_t size = buffer.stride * static_cast<size_t>(columns);
  // Left uninitialised: only the current picture's corner is ever read, and
  // always after it was written.
  buffer.bytes = AllocatePixelMemory(size);
  if (!buffer.bytes) throw EOutOfMemory();
  return buffer;
}

}  // namespace

TWorkBuffers::TWorkBuffers() { Allocate(kInitialSide, kInitialSide); }

void TWorkBuffers::EnsureCapacity(int32_t width, int32_t height) {
  if (width <= full_.columns && height <= full_.rows) return;
  Allocate(std::max(width, full_.columns), std::max(height, full_.rows));
}

void TWorkBuffers::Allocate(int32_t columns, int32_t rows) {
  // Release the old buffers first so that growing never needs both at once.
  full_ = TWorkBuffer();
  half_ = TWorkBuffer();
  quarter_ = TWorkBuffer();
  full_ = MakeBuffer(columns, rows);
  half_ = MakeBuffer(columns / 2, rows / 2);
  quarter_ = MakeBuffer(columns / 4, rows / 4);
}

}  // namespace shrinkwell

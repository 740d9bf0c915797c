#include "pixel_memory.h"

#include <cstdlib>

#ifndef _WIN32
#include <sys/mman.h>
#endif

namespace shrinkwell {

uint8_t* AllocatePixelMemory(size_t size) {
  // Below a few large pages the faults saved do not pay for zeroing whole
  // large pages (measured on decoded photos and their quarter-size copies).
  // Windows has no aligned memory that std::free takes back.
#ifndef _WIN32
  constexpr size_t kLargePage = size_t{2} << 20;
  if (size >= 4 * kLargePage) {
    if (size > SIZE_MAX - kLargePage) return nullptr;
    const size_t rounded = (size + kLargePage - 1) / kLargePage * kLargePage;
    void* memory = std::aligned_alloc(kLargePage, rounded);
#ifdef MADV_HUGEPAGE
    if (memory != nullptr) ::madvise(memory, rounded, MADV_HUGEPAGE);  // only a hint
#endif
    return static_cast<uint8_t*>(memory);
  }
#endif
  return static_cast<uint8_t*>(std::malloc(size > 0 ? size : 1));
}

}  // namespace shrinkwell

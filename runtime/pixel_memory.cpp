#include "pixel_memory.h"

#include <cstdint>
#include <cstdlib>

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace shrinkwell {

namespace {

constexpr size_t kLargePage = size_t{2} << 20;
// Below a few large pages the faults saved do not pay for zeroing whole
// large pages (measured on decoded photos and their quarter-size copies).
[[maybe_unused]] constexpr size_t kLargePagesFrom = 4 * kLargePage;

}  // namespace

// Blocks from kLargePagesFrom bytes up are aligned to and advised for large
// pages. Windows has no aligned memory that std::free takes back.
uint8_t* AllocatePixelMemory(size_t size) {
#ifndef _WIN32
  if (size >= kLargePagesFrom) {
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

bool PopulateMemory([[maybe_unused]] uint8_t* bytes, [[maybe_unused]] size_t size) {
#ifdef MADV_POPULATE_WRITE
  // Only whole pages can be advised; a page the block shares with its
  // neighbours comes in at its first write.
  const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const uintptr_t from = (reinterpret_cast<uintptr_t>(bytes) + page - 1) / page * page;
  const uintptr_t to = (reinterpret_cast<uintptr_t>(bytes) + size) / page * page;
  return to <= from || ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE) == 0;
#else
  return false;
#endif
}

bool MemoryCanBePopulated() {
#ifdef MADV_POPULATE_WRITE
  return true;
#else
  return false;
#endif
}

}  // namespace shrinkwell

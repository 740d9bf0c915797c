// Memory for large pixel arrays. Blocks of several megabytes are aligned to
// and advised for the system's large pages, which saves page faults and TLB
// misses on pictures of tens of megabytes. Free with std::free.
#pragma once

#include <cstddef>
#include <cstdint>

namespace shrinkwell {

// Uninitialised memory of at least size bytes, or nullptr (errno set).
uint8_t* AllocatePixelMemory(size_t size);

// Brings in the pages that lie wholly inside the block without reading or
// writing a byte, so that another thread may write the block meanwhile.
// False where the system has no such call: then nothing was done.
bool PopulateMemory(uint8_t* bytes, size_t size);

// Whether PopulateMemory does anything here.
bool MemoryCanBePopulated();

}  // namespace shrinkwell

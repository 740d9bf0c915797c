// The two steps of one halving pass along a line, shared by the two-pass
// shrinker and the row shrinker. The kernel is the outer product of
// (1, 4, 1) with itself: a pass sums three neighbouring lines with weights
// 1, 4, 1, then halves the summed line the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace shrinkwell {

// d[k] = a[k] + 4 b[k] + c[k].
void SumLines(const uint8_t* a, const uint8_t* b, const uint8_t* c, size_t n, uint16_t* __restrict d);

// Halves one line of summed pixels (three channels each): output pixel i
// from pixels 2i - 1, 2i and 2i + 1 with weights 1, 4, 1, pixel -1 being
// pixel 0, divided by 36 and rounded. Pixel i is stored at out + i * step,
// its channels reversed when reverse is set (blue, green, red to red, green,
// blue). d must hold one element beyond pixel 2 * count - 1.
void HalveLine(const uint16_t* d, int32_t count, uint8_t* out, size_t step, bool reverse);

// Halves one line of summed pixels of four lanes each (blue, green, red and
// a fourth that is carried along) into out, four bytes a pixel: the same
// integers as HalveLine, in vector registers where the processor has them.
// s must hold 8 * count elements.
void HalveLine4(const uint16_t* __restrict s, int32_t count, uint8_t* __restrict out);

// The loops SumLines and HalveLine4 run: plain C++, 128-bit SSE2 vectors,
// or 256-bit AVX2 vectors. All give the same bytes; the widest this build
// and processor have is used.
enum class THalvingKernel { Scalar, Sse2, Avx2 };

// The kernels this build and processor have, narrowest first.
std::vector<THalvingKernel> AvailableHalvingKernels();

// For tests: the kernel the halving uses from now on (one of the above).
void UseHalvingKernel(THalvingKernel kernel);

// sum / 36 rounded half to even for every sum up to 9180 (36 * 255), by
// multiplication: the rounding of the row shrinker's vector loop.
inline uint8_t RoundedDivide36Fast(uint16_t sum) {
  // 14564 / 2^19 exceeds 1/36 by less than 1/(36 * 9180): the quotient is
  // exact for every sum up to 9180.
  const uint16_t q = static_cast<uint16_t>(((static_cast<uint32_t>(sum) * 14564u) >> 16) >> 3);
  const uint16_t r = static_cast<uint16_t>(sum - q * 36);
  // Above the half, or on it with an odd quotient: r + (q & 1) > 18.
  return static_cast<uint8_t>(q + (static_cast<uint16_t>(r + (q & 1u)) > 18 ? 1 : 0));
}

}  // namespace shrinkwell

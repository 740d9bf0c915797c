#include "halving.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "system.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define SHRINKWELL_AVX2 1
#endif

#include "shrink.h"

namespace shrinkwell {

namespace {

// Every possible channel sum is at most 36 * 255.
constexpr int32_t kMaxSum = 36 * 255;

const uint8_t* RoundingTable() {
  static const std::vector<uint8_t> table = [] {
    std::vector<uint8_t> t(kMaxSum + 1);
    for (int32_t sum = 0; sum <= kMaxSum; ++sum) t[static_cast<size_t>(sum)] = static_cast<uint8_t>(RoundedDivide36(sum));
    return t;
  }();
  return table.data();
}

// The kernel is the outer product of (1, 4, 1) with itself, and the edge
// rule replaces a row or a column independently of the other, so every 3 x 3
// sum equals the (1, 4, 1) sum along a line of the (1, 4, 1) sums across
// three neighbouring lines: the same integers as the nine-term sum, without a
// test per neighbour. In the column-major buffers a column is such a line, in
// the raster a row; the kernel is the same in both directions.

// Three 16-bit sums at p (and one more lane that is ignored) in one word.
inline uint64_t Lanes(const uint16_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "Lanes() takes the first sum as the low lane");

#ifdef SHRINKWELL_AVX2
// Twice the width of SSE2's vectors where the processor has them: the same
// integer steps, so the same bytes.
__attribute__((target("avx2"))) void SumLinesAvx2(const uint8_t* a, const uint8_t* b, const uint8_t* c, size_t n,
                                                   uint16_t* __restrict d) {
  for (size_t k = 0; k < n; ++k) d[k] = static_cast<uint16_t>(a[k] + 4 * b[k] + c[k]);
}

// Output pixels i to i + 3 from the sums of the word pairs W(i - 1) to
// W(i + 3), W(k) holding input pixels 2k and 2k + 1: each 128-bit half does
// the baseline's step for two output pixels. Returns the next i.
__attribute__((target("avx2"))) size_t HalveLine4Avx2(const uint16_t* __restrict s, size_t i, size_t n,
                                                      uint8_t* __restrict out) {
  const __m256i factor = _mm256_set1_epi16(14564), divisor = _mm256_set1_epi16(36);
  const __m256i one = _mm256_set1_epi16(1), half = _mm256_set1_epi16(18);
  for (; i + 3 < n; i += 4) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 8 * (i - 1)));  // W(i-1), W(i)
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 8 * (i + 1)));  // W(i+1), W(i+2)
    const __m128i z = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8 * (i + 3)));     // W(i+3)
    const __m256i before = _mm256_permute2x128_si256(x, y, 0x20);  // W(i-1), W(i+1)
    const __m256i pair = _mm256_permute2x128_si256(x, y, 0x31);    // W(i), W(i+2)
    const __m256i after = _mm256_inserti128_si256(y, z, 1);        // W(i+1), W(i+3)
    const __m256i centres = _mm256_unpacklo_epi64(pair, after);
    const __m256i rights = _mm256_unpackhi_epi64(pair, after);
    const __m256i lefts = _mm256_unpackhi_epi64(before, pair);
    const __m256i sum = _mm256_add_epi16(_mm256_add_epi16(_mm256_slli_epi16(centres, 2), rights), lefts);
    const __m256i q = _mm256_srli_epi16(_mm256_mulhi_epu16(sum, factor), 3);
    const __m256i r = _mm256_sub_epi16(sum, _mm256_mullo_epi16(q, divisor));
    const __m256i up = _mm256_cmpgt_epi16(_mm256_add_epi16(r, _mm256_and_si256(q, one)), half);
    const __m256i packed = _mm256_packus_epi16(_mm256_sub_epi16(q, up), _mm256_setzero_si256());
    // Each half packed its two pixels into its low 8 bytes.
    const __m256i ordered = _mm256_permute4x64_epi64(packed, 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm256_castsi256_si128(ordered));
  }
  return i;
}
#endif

THalvingKernel WidestKernel() {
#ifdef SHRINKWELL_AVX2
  if (ProcessorHasAvx2()) return THalvingKernel::Avx2;
#endif
#ifdef __SSE2__
  return THalvingKernel::Sse2;
#else
  return THalvingKernel::Scalar;
#endif
}

// Chosen once at start, not asked again at every line.
std::atomic<THalvingKernel> kernelInUse{WidestKernel()};

}  // namespace

std::vector<THalvingKernel> AvailableHalvingKernels() {
  std::vector<THalvingKernel> kernels;
  for (const THalvingKernel kernel : {THalvingKernel::Scalar, THalvingKernel::Sse2, THalvingKernel::Avx2}) {
    if (kernel <= WidestKernel()) kernels.push_back(kernel);
  }
  return kernels;
}

void UseHalvingKernel(THalvingKernel kernel) { kernelInUse.store(std::min(kernel, WidestKernel())); }

void SumLines(const uint8_t* a, const uint8_t* b, const uint8_t* c, size_t n, uint16_t* __restrict d) {
#ifdef SHRINKWELL_AVX2
  if (kernelInUse.load(std::memory_order_relaxed) == THalvingKernel::Avx2) return SumLinesAvx2(a, b, c, n, d);
#endif
  for (size_t k = 0; k < n; ++k) d[k] = static_cast<uint16_t>(a[k] + 4 * b[k] + c[k]);
}

void HalveLine(const uint16_t* d, int32_t count, uint8_t* out, size_t step, bool reverse) {
  const uint8_t* round = RoundingTable();
  const int first = reverse ? 2 : 0;
  const int last = 2 - first;
  out[first] = round[5 * d[0] + d[3]];
  out[1] = round[5 * d[1] + d[4]];
  out[last] = round[5 * d[2] + d[5]];
  // The channels are added as 16-bit lanes of one word; no lane can carry
  // into the next, since every sum is at most 9180. The right neighbour of
  // one output pixel is the left neighbour of the next.
  uint64_t left = count > 1 ? Lanes(d + 3) : 0;
  for (int32_t i = 1; i < count; ++i) {
    const uint16_t* p = d + 6 * static_cast<size_t>(i);
    const uint64_t right = Lanes(p + 3);
    const uint64_t sum = left + (Lanes(p) << 2) + right;
    left = right;
    uint8_t* o = out + static_cast<size_t>(i) * step;
    o[first] = round[sum & 0xFFFF];
    o[1] = round[(sum >> 16) & 0xFFFF];
    o[last] = round[(sum >> 32) & 0xFFFF];
  }
}


void HalveLine4(const uint16_t* __restrict s, int32_t count, uint8_t* __restrict out) {
  if (count <= 0) return;
  // Output pixel i sums pixels 2i - 1, 2i, 2i + 1 (lanes 8i - 4, 8i, 8i + 4
  // on); pixel -1 is pixel 0.
  for (size_t c = 0; c < 4; ++c) out[c] = RoundedDivide36Fast(static_cast<uint16_t>(5 * s[c] + s[4 + c]));
  const size_t n = static_cast<size_t>(count);
  size_t i = 1;
  [[maybe_unused]] const THalvingKernel kernel = kernelInUse.load(std::memory_order_relaxed);
#ifdef SHRINKWELL_AVX2
  if (kernel == THalvingKernel::Avx2) i = HalveLine4Avx2(s, i, n, out);
#endif
#ifdef __SSE2__
  // Two output pixels a step. A pixel pair (2i, 2i + 1) is one 128-bit word
  // of sums, so the three terms are halves of neighbouring words; the
  // rounding is RoundedDivide36Fast on eight lanes.
  const __m128i factor = _mm_set1_epi16(14564), divisor = _mm_set1_epi16(36);
  const __m128i one = _mm_set1_epi16(1), half = _mm_set1_epi16(18);
  for (; kernel != THalvingKernel::Scalar && i + 1 < n; i += 2) {
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8 * (i - 1)));
    const __m128i pair = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8 * i));
    const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8 * (i + 1)));
    const __m128i centres = _mm_unpacklo_epi64(pair, after);   // pixels 2i, 2i + 2
    const __m128i rights = _mm_unpackhi_epi64(pair, after);    // pixels 2i + 1, 2i + 3
    const __m128i lefts = _mm_unpackhi_epi64(before, pair);    // pixels 2i - 1, 2i + 1
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(centres, 2), rights), lefts);
    const __m128i q = _mm_srli_epi16(_mm_mulhi_epu16(sum, factor), 3);
    const __m128i r = _mm_sub_epi16(sum, _mm_mullo_epi16(q, divisor));
    const __m128i up = _mm_cmpgt_epi16(_mm_add_epi16(r, _mm_and_si128(q, one)), half);  // -1 where rounding up
    const __m128i rounded = _mm_sub_epi16(q, up);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * i), _mm_packus_epi16(rounded, rounded));
  }
#endif
  for (; i < n; ++i) {
    for (size_t c = 0; c < 4; ++c) {
      out[4 * i + c] = RoundedDivide36Fast(static_cast<uint16_t>(s[8 * i - 4 + c] + 4 * s[8 * i + c] + s[8 * i + 4 + c]));
    }
  }
}

}  // namespace shrinkwell

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "graphics.h"
#include "halving.h"
#include "orientation.h"
#include "shrink.h"
#include "shrink_pictures.h"

using namespace shrinkwell;
using namespace shrink_pictures;

namespace {

// One pass written literally: nine neighbours, a bounds test each, the
// weights by distance, a division with half-to-even rounding.
Picture ReferencePass(const Picture& in) {
  Picture out{in.w / 2, in.h / 2, {}};
  out.rgb.resize(3 * static_cast<size_t>(out.w) * out.h);
  const int weights[3] = {16, 4, 1};
  for (int Y = 0; Y < out.h; ++Y) {
    for (int X = 0; X < out.w; ++X) {
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int v = 2 * Y - 1; v <= 2 * Y + 1; ++v) {
          for (int i = 2 * X - 1; i <= 2 * X + 1; ++i) {
            const int col = (i >= 0 && i < in.w) ? i : 2 * X;
            const int row = (v >= 0 && v < in.h) ? v : 2 * Y;
            sum += in.At(col, row, c) * weights[std::abs(i - 2 * X) + std::abs(v - 2 * Y)];
          }
        }
        const int q = sum / 36, r = sum % 36;
        out.At(X, Y, c) = static_cast<uint8_t>(q + (r > 18 || (r == 18 && q % 2 == 1)));
      }
    }
  }
  return out;
}

// Runs one pass through the column-major buffer layout.
Picture OnePass(const Picture& in) {
  const size_t inStride = 3 * static_cast<size_t>(in.h), outStride = 3 * static_cast<size_t>(in.h / 2);
  std::vector<uint8_t> a(inStride * in.w), b(outStride * (in.w / 2) + 1);
  for (int x = 0; x < in.w; ++x)
    for (int y = 0; y < in.h; ++y)
      for (int c = 0; c < 3; ++c) a[x * inStride + 3 * y + c] = in.At(x, y, c);
  HalvePass(a.data(), inStride, in.w, in.h, b.data(), outStride);
  Picture out{in.w / 2, in.h / 2, std::vector<uint8_t>(3 * static_cast<size_t>(in.w / 2) * (in.h / 2))};
  for (int x = 0; x < out.w; ++x)
    for (int y = 0; y < out.h; ++y)
      for (int c = 0; c < 3; ++c) out.At(x, y, c) = b[x * outStride + 3 * y + c];
  return out;
}

}  // namespace

TEST(Shrinker, RoundsHalvesToEven) {
  const int sums[] = {0, 17, 18, 19, 54, 90, 126, 162, 198, 9180};
  const int expected[] = {0, 0, 0, 1, 2, 2, 4, 4, 6, 255};
  for (size_t i = 0; i < std::size(sums); ++i) EXPECT_EQ(RoundedDivide36(sums[i]), expected[i]) << sums[i];
  // The vector loop's rounding by multiplication, for every possible sum.
  for (int sum = 0; sum <= 9180; ++sum) ASSERT_EQ(RoundedDivide36Fast(static_cast<uint16_t>(sum)), RoundedDivide36(sum)) << sum;
}

TEST(Shrinker, EdgeWeightsOfTheTopLeftPixel) {
  // One pass over 2 x 2: the value 36 counts 25, 5, 5 or 1 times by place.
  const int place[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  const int expected[4] = {25, 5, 5, 1};
  for (int k = 0; k < 4; ++k) {
    Picture in{2, 2, std::vector<uint8_t>(12, 0)};
    in.At(place[k][0], place[k][1], 1) = 36;
    const Picture out = OnePass(in);
    ASSERT_EQ(out.w, 1);
    EXPECT_EQ(out.At(0, 0, 1), expected[k]);
    EXPECT_EQ(out.At(0, 0, 0), 0);
    EXPECT_EQ(out.At(0, 0, 2), 0);
  }
  // Sums of exactly 18, 54, 90, 126, 162, 198 through the pass itself.
  const int rounding[][4] = {{0, 3, 0, 3, }, {2, 0, 0, 4}, {3, 3, 0, 0}, {5, 0, 0, 1}, {6, 0, 0, 12}, {7, 4, 0, 3}};
  const int rounded[] = {0, 2, 2, 4, 4, 6};
  for (size_t k = 0; k < std::size(rounded); ++k) {
    Picture in{2, 2, std::vector<uint8_t>(12, 0)};
    in.At(0, 0, 0) = static_cast<uint8_t>(rounding[k][0]);
    in.At(1, 0, 0) = static_cast<uint8_t>(rounding[k][1]);
    in.At(0, 1, 0) = static_cast<uint8_t>(rounding[k][2]);
    in.At(1, 1, 0) = static_cast<uint8_t>(rounding[k][3]);
    EXPECT_EQ(OnePass(in).At(0, 0, 0), rounded[k]) << k;
  }
}

TEST(Shrinker, PassMatchesTheLiteralFormula) {
  for (auto [w, h] : {std::pair{2, 2}, {3, 3}, {4, 4}, {5, 4}, {4, 5}, {17, 9}, {64, 31}, {2, 40}}) {
    const Picture in = RandomPicture(w, h, static_cast<uint32_t>(w * 100 + h));
    EXPECT_EQ(OnePass(in).rgb, ReferencePass(in).rgb) << w << "x" << h;
  }
}

TEST(Shrinker, WholeShrinkMatchesTwoReferencePasses) {
  TWorkBuffers buffers;
  for (auto [w, h] : {std::pair{4, 4}, {5, 5}, {8, 6}, {37, 23}, {260, 130}}) {
    const Picture in = RandomPicture(w, h, static_cast<uint32_t>(w + h));
    const Picture out = Shrunk(in, TTurn::None, buffers);
    EXPECT_EQ(out.w, w / 2 / 2);
    EXPECT_EQ(out.h, h / 2 / 2);
    EXPECT_EQ(out.rgb, ReferencePass(ReferencePass(in)).rgb) << w << "x" << h;
  }
}

TEST(Shrinker, OddLastColumnAndRowTakeNoPart) {
  TWorkBuffers buffers;
  Picture in = RandomPicture(9, 9, 3);
  Picture cut{8, 8, {}};
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      for (int c = 0; c < 3; ++c) cut.rgb.push_back(in.At(x, y, c));
  EXPECT_EQ(Shrunk(in, TTurn::None, buffers).rgb, Shrunk(cut, TTurn::None, buffers).rgb);
}

TEST(Shrinker, OneColourStaysThatColour) {
  TWorkBuffers buffers;
  Picture in{40, 28, {}};
  for (int i = 0; i < 40 * 28; ++i) in.rgb.insert(in.rgb.end(), {201, 7, 255});
  const Picture out = Shrunk(in, TTurn::QuarterCounterClockwise, buffers);
  ASSERT_EQ(out.w, 7);
  ASSERT_EQ(out.h, 10);
  for (int y = 0; y < out.h; ++y)
    for (int x = 0; x < out.w; ++x) EXPECT_EQ((std::vector<int>{out.At(x, y, 0), out.At(x, y, 1), out.At(x, y, 2)}), (std::vector<int>{201, 7, 255}));
}

TEST(Shrinker, TinySourcesGiveAnEmptyRaster) {
  TWorkBuffers buffers;
  for (auto [w, h] : {std::pair{1, 8}, {8, 1}, {2, 8}, {3, 8}, {8, 3}, {1, 1}}) {
    auto raster = RasterOf(RandomPicture(w, h, 1));
    ShrinkAndRotate(raster, TTurn::QuarterClockwise, buffers);
    EXPECT_TRUE(raster->PixelWidth() == 0 || raster->PixelHeight() == 0) << w << "x" << h;
    EXPECT_EQ(raster->PixelWidth(), h / 4) << "quarter turn swaps the sides";
    EXPECT_EQ(raster->PixelHeight(), w / 4);
  }
}

TEST(Orientation, TurnsPutEachPixelInItsPlace) {
  // A 3 x 2 quarter picture whose pixel (x, y) has red = 10 * x + y.
  TWorkBuffer quarter;
  quarter.columns = 3;
  quarter.rows = 2;
  quarter.stride = 6;
  quarter.bytes.reset(static_cast<uint8_t*>(std::calloc(18, 1)));
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 2; ++y) quarter.bytes[x * 6 + 3 * y] = static_cast<uint8_t>(10 * x + y);
  auto redAt = [](TBitmap& b, int x, int y) { return b.RowAddress(y)[3 * x + 2]; };

  auto ccw = OrientFromBuffer(quarter, 3, 2, TTurn::QuarterClockwise);
  ccw->SetRasterFormat(rf24Bit);
  ASSERT_EQ(ccw->PixelWidth(), 2);
  ASSERT_EQ(ccw->PixelHeight(), 3);
  EXPECT_EQ(redAt(*ccw, 1, 0), 0);   // source (0, 0)
  EXPECT_EQ(redAt(*ccw, 1, 2), 20);  // source (2, 0)
  EXPECT_EQ(redAt(*ccw, 0, 0), 1);   // source (0, 1)

  auto cw = OrientFromBuffer(quarter, 3, 2, TTurn::QuarterCounterClockwise);
  cw->SetRasterFormat(rf24Bit);
  EXPECT_EQ(redAt(*cw, 0, 2), 0);
  EXPECT_EQ(redAt(*cw, 0, 0), 20);
  EXPECT_EQ(redAt(*cw, 1, 0), 21);

  auto half = OrientFromBuffer(quarter, 3, 2, TTurn::Half);
  half->SetRasterFormat(rf24Bit);
  ASSERT_EQ(half->PixelWidth(), 3);
  EXPECT_EQ(redAt(*half, 0, 0), 21);  // the source's bottom-right pixel
  EXPECT_EQ(redAt(*half, 2, 1), 0);

  auto same = OrientFromBuffer(quarter, 3, 2, TTurn::None);
  same->SetRasterFormat(rf24Bit);
  ASSERT_EQ(same->PixelWidth(), 3);
  EXPECT_EQ(redAt(*same, 2, 0), 20);
  EXPECT_EQ(redAt(*same, 0, 1), 1);
}

TEST(Orientation, OnlyTheThreeTurningTextsTurnAndOnlyExactly) {
  const std::pair<const char*, TTurn> cases[] = {
      {"Rotated 180\xB0", TTurn::Half},
      {"CounterClockwise 90\xB0", TTurn::QuarterClockwise},
      {"Clockwise 90\xB0", TTurn::QuarterCounterClockwise},
      {"Normal", TTurn::None},
      {"", TTurn::None},
      {"Rotated 180\xB0 ", TTurn::None},
      {" Clockwise 90\xB0", TTurn::None},
      {"clockwise 90\xB0", TTurn::None},
      {"Clockwise 90\xC2\xB0", TTurn::None},
      {"Clockwise 90", TTurn::None},
  };
  for (const auto& [text, turn] : cases) EXPECT_EQ(TurnForOrientationText(text), turn) << text;
}

TEST(Shrinker, SourcesBeyondTheInitialCapacityAreShrunkExactly) {
  TWorkBuffers buffers;
  // Wider than 4000, then taller than 4000: the buffers grow and never shrink.
  const Picture wide = RandomPicture(4104, 10, 11);
  EXPECT_EQ(Shrunk(wide, TTurn::None, buffers).rgb, ReferencePass(ReferencePass(wide)).rgb);
  const Picture tall = RandomPicture(6, 4010, 12);
  EXPECT_EQ(Shrunk(tall, TTurn::None, buffers).rgb, ReferencePass(ReferencePass(tall)).rgb);
  EXPECT_EQ(buffers.Half().columns, 4104 / 2);
  EXPECT_EQ(buffers.Half().rows, 4010 / 2);
  EXPECT_EQ(buffers.Half().stride, 3u * (4010 / 2));
  EXPECT_EQ(buffers.Quarter().stride, 3u * (4010 / 4));
  // A smaller photo afterwards still uses the grown layout correctly.
  const Picture small = RandomPicture(33, 21, 13);
  EXPECT_EQ(Shrunk(small, TTurn::None, buffers).rgb, ReferencePass(ReferencePass(small)).rgb);
  // A long wide strip, then a long tall one: never the square of their
  // long side (here 6.4 GB), only what each needs.
  for (const auto& [w, h] : {std::pair{160000, 6}, {6, 160000}}) {
    const Picture strip = RandomPicture(w, h, 14);
    EXPECT_EQ(Shrunk(strip, TTurn::None, buffers).rgb, ReferencePass(ReferencePass(strip)).rgb);
    EXPECT_EQ(buffers.Half().columns, w / 2);
    EXPECT_EQ(buffers.Half().rows, h / 2);
  }
}

TEST(Halving, EveryKernelGivesTheLiteralSums) {
  // Lines of every length up to 41 pixels, so that each vector loop meets
  // every tail, with random samples up to the largest sums; each kernel
  // against the formula written out.
  const std::vector<THalvingKernel> kernels = AvailableHalvingKernels();
  ASSERT_EQ(kernels.front(), THalvingKernel::Scalar);
  uint32_t state = 12345;
  auto next = [&state] { return state = state * 1664525u + 1013904223u; };
  for (const THalvingKernel kernel : kernels) {
    UseHalvingKernel(kernel);
    for (int32_t count = 1; count <= 41; ++count) {
      const size_t lanes = 8 * static_cast<size_t>(count);
      std::vector<uint8_t> a(lanes), b(lanes), c(lanes);
      for (size_t k = 0; k < lanes; ++k) a[k] = next() >> 24, b[k] = next() >> 24, c[k] = next() >> 24;
      std::vector<uint16_t> sums(lanes);
      SumLines(a.data(), b.data(), c.data(), lanes, sums.data());
      std::vector<uint8_t> out(4 * static_cast<size_t>(count));
      HalveLine4(sums.data(), count, out.data());
      for (size_t k = 0; k < lanes; ++k) ASSERT_EQ(sums[k], a[k] + 4 * b[k] + c[k]) << static_cast<int>(kernel);
      for (int32_t i = 0; i < count; ++i) {
        for (size_t ch = 0; ch < 4; ++ch) {
          const size_t centre = 8 * static_cast<size_t>(i) + ch;
          const int left = i == 0 ? sums[centre] : sums[centre - 4];
          EXPECT_EQ(out[4 * static_cast<size_t>(i) + ch], RoundedDivide36(left + 4 * sums[centre] + sums[centre + 4]))
              << "kernel " << static_cast<int>(kernel) << ", " << count << " pixels, pixel " << i;
        }
      }
    }
  }
  UseHalvingKernel(kernels.back());
}

// Small RGB pictures for the shrinking tests: random ones, their rasters,
// and what the two-pass shrinker makes of them, the reference every faster
// path is held to.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "graphics.h"
#include "orientation.h"
#include "row_shrinker.h"
#include "shrink.h"
#include "work_buffers.h"

namespace shrink_pictures {

using namespace shrinkwell;

// Row-major RGB picture for the reference computation.
struct Picture {
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  uint8_t& At(int x, int y, int c) { return rgb[3 * (static_cast<size_t>(y) * w + x) + c]; }
  uint8_t At(int x, int y, int c) const { return rgb[3 * (static_cast<size_t>(y) * w + x) + c]; }
};

inline Picture RandomPicture(int w, int h, uint32_t seed) {
  Picture p{w, h, std::vector<uint8_t>(3 * static_cast<size_t>(w) * h)};
  std::mt19937 random(seed);
  for (auto& b : p.rgb) b = static_cast<uint8_t>(random());
  return p;
}

inline std::unique_ptr<TBitmap> RasterOf(const Picture& p) {
  auto raster = std::make_unique<TBitmap>();
  raster->SetRasterFormat(rf24Bit);
  raster->ChangeWidth(p.w);
  raster->ChangeHeight(p.h);
  for (int y = 0; y < p.h; ++y) {
    uint8_t* row = raster->RowAddress(y);
    for (int x = 0; x < p.w; ++x) {
      row[3 * x] = p.At(x, y, 2);
      row[3 * x + 1] = p.At(x, y, 1);
      row[3 * x + 2] = p.At(x, y, 0);
    }
  }
  return raster;
}

inline Picture PictureOf(TBitmap& raster) {
  raster.SetRasterFormat(rf24Bit);
  Picture p{raster.PixelWidth(), raster.PixelHeight(), {}};
  if (raster.Empty()) return p;  // a side of 0: no pixels
  p.rgb.resize(3 * static_cast<size_t>(p.w) * p.h);
  for (int y = 0; y < p.h; ++y) {
    const uint8_t* row = raster.RowAddress(y);
    for (int x = 0; x < p.w; ++x) {
      p.At(x, y, 0) = row[3 * x + 2];
      p.At(x, y, 1) = row[3 * x + 1];
      p.At(x, y, 2) = row[3 * x];
    }
  }
  return p;
}

inline Picture Shrunk(const Picture& source, TTurn turn, TWorkBuffers& buffers) {
  auto raster = RasterOf(source);
  ShrinkAndRotate(raster, turn, buffers);
  EXPECT_EQ(raster->RasterFormat(), rfDevice);
  return PictureOf(*raster);
}

// The upright rows as a sink is given them, as a picture.
class TRowCollector final : public TUprightRowSink {
 public:
  void Begin(int32_t width, int32_t height) override {
    picture_ = Picture{width, height, {}};
    picture_.rgb.reserve(3 * static_cast<size_t>(width) * height);
  }
  void TakeRow(const uint8_t* row) override {
    for (int x = 0; x < picture_.w; ++x) picture_.rgb.insert(picture_.rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
  }
  Picture Take() { return std::exchange(picture_, Picture{}); }

 private:
  Picture picture_;
};

}  // namespace shrink_pictures

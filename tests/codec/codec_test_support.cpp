#include "codec_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace codec_test {

ScratchFile::ScratchFile(const std::string& name) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  path_ = ::testing::TempDir() + "codec_" + (info ? std::string(info->name()) + "_" : std::string()) + name;
  std::remove(path_.c_str());
}

ScratchFile::~ScratchFile() { std::remove(path_.c_str()); }

std::vector<Segment> SegmentsBeforeScan(const std::string& jpeg) {
  std::vector<Segment> segments;
  size_t at = 2;  // after SOI
  while (at + 4 <= jpeg.size() && static_cast<uint8_t>(jpeg[at]) == 0xFF) {
    const auto marker = static_cast<uint8_t>(jpeg[at + 1]);
    const size_t length = (static_cast<uint8_t>(jpeg[at + 2]) << 8) | static_cast<uint8_t>(jpeg[at + 3]);
    segments.push_back({marker, jpeg.substr(at + 4, length - 2)});
    if (marker == 0xDA) break;
    at += 2 + length;
  }
  return segments;
}

int CountMarker(const std::string& jpeg, uint8_t marker) {
  int count = 0;
  for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (static_cast<uint8_t>(jpeg[i]) == 0xFF && static_cast<uint8_t>(jpeg[i + 1]) == marker) ++count;
  }
  return count;
}

Bgr PixelAt(shrinkwell::TBitmap& raster, int x, int y) {
  const uint8_t* p = raster.RowAddress(y) + 3 * x;
  return {p[0], p[1], p[2]};
}

}  // namespace codec_test

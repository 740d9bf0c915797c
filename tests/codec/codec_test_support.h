// Helpers shared by the codec tests: scratch files, marker walking.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "graphics.h"

namespace codec_test {

// A path in the test's scratch folder; the file is removed with the test.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& name);
  ~ScratchFile();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

struct Segment {
  uint8_t marker;
  std::string payload;  // without the length field
};

// The marker segments of a JPEG byte string up to and including the first
// SOS (entropy data is not walked).
std::vector<Segment> SegmentsBeforeScan(const std::string& jpeg);

// How often the two bytes FF <marker> occur: in entropy data FF is always
// followed by 00 or a restart marker, so this counts real markers.
int CountMarker(const std::string& jpeg, uint8_t marker);

// Blue, green, red of pixel (x, y) of a 24-bit raster.
struct Bgr {
  int blue, green, red;
};
Bgr PixelAt(shrinkwell::TBitmap& raster, int x, int y);

}  // namespace codec_test

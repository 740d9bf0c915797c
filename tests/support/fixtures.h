// Synthetic JPEG photos made with libjpeg directly, independent of the codec
// under test, plus helpers to splice metadata segments into them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fixtures {

// Interleaved RGB pixels, top row first.
struct RgbPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // 3 * width * height bytes

  uint8_t* At(int x, int y) { return &rgb[3 * (static_cast<size_t>(y) * width + x)]; }
  const uint8_t* At(int x, int y) const { return &rgb[3 * (static_cast<size_t>(y) * width + x)]; }
};

// A deterministic picture with photo-like content: smooth gradients, edges and
// fine noise, so that encoders have real detail to work on.
RgbPicture PhotoLikePicture(int width, int height, uint32_t seed);

// One colour everywhere.
RgbPicture SolidPicture(int width, int height, uint8_t red, uint8_t green, uint8_t blue);

struct EncodeOptions {
  int quality = 90;
  bool progressive = false;
  bool grayscale = false;  // one component (luma of the RGB input)
  bool arithmetic = false; // arithmetic entropy coding instead of Huffman
  int restartRows = 0;      // a restart marker every this many MCU rows; 0: none
  bool floatDct = false;    // the floating-point DCT instead of the library's default
  int lumaSampling = 22;    // luma's sampling factors, h and v: 22 (4:2:0), 21 (4:2:2), 12, 11 (4:4:4)
};

// A JFIF file of the picture, as bytes.
std::string EncodeJpeg(const RgbPicture& picture, const EncodeOptions& options = {});

// How EncodeSamples stores its components.
enum class SampleSpace {
  Cmyk,     // four components, CMYK with an Adobe marker (inks inverted by convention)
  Ycck,     // four components, CMYK input stored as YCCK with an Adobe marker
  Unknown,  // any count of components, no colour transform, no JFIF or Adobe marker
};

// A JPEG file of interleaved raw samples (components per pixel), top row first.
std::string EncodeSamples(int width, int height, int components, const std::vector<uint8_t>& samples,
                          SampleSpace space, int quality = 95);

// Decodes a JPEG byte string with libjpeg's defaults into RGB (grayscale
// files give equal channels). False for data libjpeg cannot decode.
bool DecodeJpeg(const std::string& jpeg, RgbPicture& picture, bool floatDct = false);

// What this libjpeg makes of a fixed picture through the float transforms
// the program uses, with nothing of the program's: the picture encoded at
// quality 88 with the float DCT, baseline and progressive, and each file
// decoded with the float IDCT; all bytes and pixels in a row. Two libjpegs
// that give the same bytes here (version, processor, SIMD) give the same
// copies; recorded checksums of copies hold only where this matches.
std::string FloatRoundTrip();

// Inserts a marker segment (marker byte, e.g. 0xE1, and its payload without
// the length field) right after the SOI marker of a JPEG byte string.
std::string InsertSegmentAfterSoi(const std::string& jpeg, uint8_t marker, const std::string& payload);

// The same file with another size in its frame header: the entropy data then
// covers only a corner, as in a file that announces more than it holds.
std::string WithFrameSize(const std::string& jpeg, uint16_t width, uint16_t height);

// A small ICC profile of version 2: a header naming the data colour space
// ("RGB ", "GRAY", "CMYK") and a 'desc' tag with the description.
std::string IccProfile(const std::string& colourSpace, const std::string& description);

// The JPEG with the profile in one APP2 chunk right after its SOI marker.
std::string WithIccProfile(const std::string& jpeg, const std::string& profile);

// The ICC profile libjpeg reassembles from a JPEG's APP2 chunks; empty
// without one.
std::string IccProfileOf(const std::string& jpeg);

// The JPEG without the APP2 segments that hold ICC profile chunks.
std::string WithoutIccProfile(const std::string& jpeg);

// The golden set: photos of every kind the pipeline treats apart (all
// eight orientations, baseline and progressive, gray, CMYK and YCCK, odd
// sizes, the smallest, one row, wider than 4000 pixels, RGB and gray
// colour profiles), by name. Their copies' sums are recorded in
// tests/e2e/golden_outputs.sha256.
std::vector<std::pair<std::string, std::string>> GoldenSet();

// A minimal APP1 EXIF payload ("Exif\0\0" + TIFF) holding one directory with
// the Orientation tag, in Motorola (big-endian) or Intel byte order.
std::string ExifOrientationPayload(uint16_t orientation, bool bigEndian = true);

// Writes bytes to a file; aborts the caller's test with a message on failure.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

}  // namespace fixtures

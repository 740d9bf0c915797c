// Fuzz target: the walk of a maker's note, for every maker the reader knows
// and each of Nikon's and Casio's layouts. The input:
//   byte 0     the camera (a row of kCameras)
//   byte 1     bit 0: big-endian, bit 1: read from a TIFF file
//   bytes 2-3  the note's 1-based position in the EXIF data (big-endian)
//   bytes 4-5  the note's length, cut at the end of the data
//   the rest   the EXIF data (an APP1 section's data) that holds the note;
//              values outside the note are read from it
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ansi_text.h"
#include "exif_reader.h"
#include "maker_notes.h"

namespace {

struct Camera {
  const char* make;
  const char* model;
  const char* exifVersion;
};

// Nikon's layout follows the EXIF version (above "0210"), else the note's
// start ("Nikon"), else, without a version, a D model read from a TIFF file.
// Casio's follows the note's start ("QVC").
const Camera kCameras[] = {
    {"NIKON CORPORATION", "NIKON D70", "0221"},
    {"NIKON", "E995", "0210"},
    {"NIKON CORPORATION", "NIKON D1", ""},
    {"OLYMPUS OPTICAL CO.,LTD", "C960Z,D460Z", "0210"},
    {"CASIO COMPUTER CO.,LTD.", "EX-Z750", "0221"},
    {"FUJIFILM", "FinePix6900ZOOM", "0210"},
    {"Canon", "Canon PowerShot S40", "0220"},
    {"SEIKO EPSON CORP.", "PhotoPC 3000Z", "0210"},
    {"SANYO Electric Co.,Ltd.", "SR6", "0210"},
    {"Minolta Co., Ltd.", "DiMAGE 7", "0210"},
};
constexpr size_t kHeaderBytes = 6;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace shrinkwell;
  if (size < kHeaderBytes) return 0;
  const Camera& camera = kCameras[data[0] % (sizeof kCameras / sizeof kCameras[0])];
  const bool bigEndian = (data[1] & 1) != 0;
  const bool tiffSource = (data[1] & 2) != 0;
  const int32_t notePos = data[2] * 256 + data[3];
  const size_t noteLength = data[4] * 256u + data[5];
  const std::string exif(reinterpret_cast<const char*>(data + kHeaderBytes), size - kHeaderBytes);
  const size_t noteStart = notePos < 1 ? 0 : std::min(exif.size(), static_cast<size_t>(notePos - 1));

  TimgData owner(255);
  owner.tiffSource = tiffSource;
  owner.bigEndian = bigEndian;
  owner.SetContent(exif);
  TImageInfo info(&owner, 255);
  info.SetContent(exif);
  info.bigEndian = bigEndian;
  info.tiffSource = tiffSource;
  info.cameraMake = camera.make;
  info.cameraModel = camera.model;
  info.exifVersion = camera.exifVersion;
  info.makerNote = exif.substr(noteStart, noteLength);
  info.makerNotePos = notePos;

  TmsInfo(tiffSource, &info).DecodeMakerNote(&info);
  AnsiToUtf8(info.makerText);

  // The directory walk reads on from the EXIF data in its own byte order
  // once the note is done, and the converters' image must not outlive it.
  if (info.GetContent() != exif || info.bigEndian != bigEndian || currentImageInfo != nullptr) {
    std::fprintf(stderr, "the maker-note walk left the reader changed\n");
    std::abort();
  }
  return 0;
}

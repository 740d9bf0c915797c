// Fuzz target: the metadata reader over a whole file held in memory, the way
// its two users call it. The first byte picks the way, the rest is the file:
//   0  the batch driver: JPEG scan, then the turn from the Orientation text
//   1  the viewer reading a JPEG file
//   2  the viewer reading a TIFF-structured file (.tif, .nef)
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "ansi_text.h"
#include "exif_reader.h"
#include "file_stream.h"
#include "iptc.h"
#include "orientation.h"

namespace shrinkwell {
namespace {

enum class Reading { BatchDriver, ViewerJpeg, ViewerTiff };

// The pipeline's TurnOfScratchCopy, with ScanJpegFile's error handling.
void TurnAsTheBatchDriver(const uint8_t* data, size_t size) {
  TimgData metadata(255);
  TMemoryStream stream(data, size);
  try {
    metadata.ScanJpegStream(stream);
  } catch (const std::exception& error) {
    metadata.errorText = error.what();
  }
  if (!metadata.HasExif() || metadata.ImageInfo()->TagIndexByName("Orientation") < 0) return;
  TurnForOrientationText(metadata.ImageInfo()->TagTextByName("Orientation"));
}

// Everything the viewer prints for one file: ReadMetadataFile's steps over
// memory (ReadTiffFile's tiffSource handling included), then its walk over
// the texts and the IPTC datasets.
std::string ShownByTheViewer(const uint8_t* data, size_t size, bool tiff) {
  TimgData reader(255);
  TMemoryStream stream(data, size);
  try {
    reader.errorText = "Not an EXIF file";
    bool read = false;
    reader.tiffSource = tiff;
    try {
      read = tiff ? reader.ReadTiffStream(stream) : reader.ScanJpegStream(stream);
    } catch (const std::exception& error) {
      reader.errorText = error.what();
    }
    reader.tiffSource = false;
    if (read) reader.errorText = "<none>";
  } catch (const std::exception&) {
    reader.errorText = "Illegal Exif construction";
  }

  std::string shown = AnsiToUtf8(reader.errorText);
  if (const TImageInfo* info = reader.ImageInfo()) shown += AnsiToUtf8(info->infoText) + AnsiToUtf8(info->makerText);
  if (TIPTCdata* iptc = reader.IptcInfo()) {
    iptc->ParseIptc(reader.IptcSection()->data);
    for (int k = 0; k < iptc->DatasetCount(); ++k) {
      const TTagEntry dataset = iptc->DatasetAt(k);
      shown += AnsiToUtf8(dataset.description + valueSeparator + dataset.valueText);
    }
  }
  return shown;
}

}  // namespace
}  // namespace shrinkwell

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace shrinkwell;
  if (size < 1) return 0;
  const auto reading = static_cast<Reading>(data[0] % 3);
  if (reading == Reading::BatchDriver) {
    TurnAsTheBatchDriver(data + 1, size - 1);
    return 0;
  }
  // The reader keeps state between files (visited directories, the image
  // the converters write to): a second reading of the same file must show
  // the same, whatever the file before it left behind.
  const bool tiff = reading == Reading::ViewerTiff;
  const std::string first = ShownByTheViewer(data + 1, size - 1, tiff);
  const std::string second = ShownByTheViewer(data + 1, size - 1, tiff);
  if (first != second) {
    std::fprintf(stderr, "the same file read twice shows different metadata\n");
    std::abort();
  }
  return 0;
}

// A baseline photo with restart markers cut at an MCU row, so that two
// libjpeg decoders share its decode: the photo's own decode gives the rows
// above the cut and stops there, a bottom part made of the photo's header
// and the entropy-coded data from one MCU row above the cut gives the rest.
// The data between two restart markers depends on nothing before it; the
// bottom part's first MCU row is there for the upsampling of the rows
// below it, and dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shrinkwell {

struct TJpegCut {
  int32_t topRows = 0;     // the picture's rows above the cut
  int32_t bottomSkip = 0;  // the bottom part's rows above the cut, to drop
  // Where the bottom part's pieces lie in the photo.
  size_t frameAt = 0;     // the SOF marker
  size_t dataAt = 0;      // the entropy-coded data
  size_t bottomFrom = 0;  // the bottom's data, after a restart marker
  size_t dataEnd = 0;     // the EOI marker
  uint32_t bottomHeight = 0;
  std::vector<size_t> bottomMarkers;  // the restart markers after bottomFrom
};

// The cut where the rows above it hold about `share` (0 to 1) of the
// decoding work, told by MCU rows and entropy-coded bytes; nothing where
// the photo cannot be cut so: not a baseline or extended sequential file of
// three components in one interleaved scan, no restart interval, restart
// markers missing, misnumbered or elsewhere than at MCU-row starts where
// the bottom begins, fewer than four MCU rows, or any marker but EOI after
// the scan.
std::optional<TJpegCut> FindCut(std::string_view jpeg, double share);

// The bottom part of the photo cut there: a JPEG stream that decodes to
// bottomSkip rows to drop, then the picture's rows from topRows on.
std::string BottomPart(std::string_view jpeg, const TJpegCut& cut);

}  // namespace shrinkwell

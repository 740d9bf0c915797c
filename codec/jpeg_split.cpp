#include "jpeg_split.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

namespace shrinkwell {

namespace {

uint8_t Byte(std::string_view file, size_t at) { return static_cast<uint8_t>(file[at]); }
uint32_t Word(std::string_view file, size_t at) { return static_cast<uint32_t>(Byte(file, at) << 8 | Byte(file, at + 1)); }

// Where the parts of a photo that can be cut lie.
struct TLayout {
  size_t frameAt = 0;  // the SOF marker
  size_t dataAt = 0;   // the entropy-coded data, after the SOS segment
  size_t dataEnd = 0;  // the EOI marker
  uint32_t width = 0, height = 0;
  uint32_t mcuWidth = 8, mcuHeight = 8;
  uint32_t interval = 0;        // MCUs between restart markers
  std::vector<size_t> restarts;  // each restart marker, in order
};

std::optional<TLayout> Read(std::string_view file) {
  const size_t size = file.size();
  if (size < 4 || Byte(file, 0) != 0xFF || Byte(file, 1) != 0xD8) return std::nullopt;
  TLayout layout;
  size_t at = 2;
  for (;;) {
    if (at + 1 >= size || Byte(file, at) != 0xFF) return std::nullopt;
    while (at + 1 < size && Byte(file, at + 1) == 0xFF) ++at;  // fill bytes
    if (at + 3 >= size) return std::nullopt;
    const uint8_t marker = Byte(file, at + 1);
    if (marker == 0xD8 || marker == 0xD9 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) return std::nullopt;
    const size_t length = Word(file, at + 2);
    if (length < 2 || length > size - at - 2) return std::nullopt;
    const size_t body = at + 4;
    if (marker == 0xC0 || marker == 0xC1) {
      // Three components only: a gray photo is dithered across its rows.
      if (layout.frameAt != 0 || length != 8 + 3 * 3 || Byte(file, body) != 8 || Byte(file, body + 5) != 3) {
        return std::nullopt;
      }
      layout.frameAt = at;
      layout.height = Word(file, body + 1);
      layout.width = Word(file, body + 3);
      uint32_t hMax = 1, vMax = 1;
      for (size_t c = 0; c < 3; ++c) {
        const uint32_t h = Byte(file, body + 7 + 3 * c) >> 4, v = Byte(file, body + 7 + 3 * c) & 15;
        if (h < 1 || h > 4 || v < 1 || v > 4) return std::nullopt;
        hMax = std::max(hMax, h);
        vMax = std::max(vMax, v);
      }
      if (layout.height == 0 || layout.width == 0) return std::nullopt;  // a height given by DNL
      layout.mcuWidth = 8 * hMax;
      layout.mcuHeight = 8 * vMax;
    } else if (marker >= 0xC2 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      return std::nullopt;  // progressive, lossless, hierarchical or arithmetic
    } else if (marker == 0xDD) {
      if (length != 4) return std::nullopt;
      layout.interval = Word(file, body);
    } else if (marker == 0xDC) {
      return std::nullopt;  // DNL
    } else if (marker == 0xDA) {
      // One scan of all three components, whole: Ss 0, Se 63, Ah and Al 0.
      if (layout.frameAt == 0 || length != 6 + 2 * 3 || Byte(file, body) != 3) return std::nullopt;
      const size_t tail = body + 1 + 2 * 3;
      if (Byte(file, tail) != 0 || Byte(file, tail + 1) != 63 || Byte(file, tail + 2) != 0) return std::nullopt;
      layout.dataAt = at + 2 + length;
      break;
    }
    at += 2 + length;
  }
  if (layout.interval == 0) return std::nullopt;
  // In the entropy-coded data a 0xFF is a stuffed byte before 0x00, a fill
  // byte before another 0xFF, or a marker: restart markers numbered in
  // turn, and the end.
  for (size_t i = layout.dataAt; i + 1 < size;) {
    const void* mark = std::memchr(file.data() + i, 0xFF, size - 1 - i);
    if (mark == nullptr) break;
    i = static_cast<size_t>(static_cast<const char*>(mark) - file.data());
    const uint8_t next = Byte(file, i + 1);
    if (next == 0x00) {
      i += 2;
    } else if (next >= 0xD0 && next <= 0xD7) {
      if (next != 0xD0 + layout.restarts.size() % 8) return std::nullopt;
      layout.restarts.push_back(i);
      i += 2;
    } else if (next == 0xD9) {
      layout.dataEnd = i;
      break;
    } else if (next == 0xFF) {
      ++i;
    } else {
      return std::nullopt;  // another scan, or anything else
    }
  }
  if (layout.dataEnd == 0) return std::nullopt;
  return layout;
}

}  // namespace

std::optional<TJpegCut> FindCut(std::string_view jpeg, double share) {
  const std::optional<TLayout> layout = Read(jpeg);
  if (!layout) return std::nullopt;
  const uint64_t perRow = (layout->width + layout->mcuWidth - 1) / layout->mcuWidth;
  const uint64_t rows = (layout->height + layout->mcuHeight - 1) / layout->mcuHeight;
  const uint64_t interval = layout->interval;
  if (rows < 4 || layout->restarts.size() != (perRow * rows + interval - 1) / interval - 1) return std::nullopt;
  // The bottom part begins at MCU row cut - 1: an interval must begin there.
  const auto fits = [&](uint64_t cut) { return (cut - 1) * perRow % interval == 0; };
  // The work of decoding the MCU rows above row c: as much in proportion
  // to the rows as to the entropy-coded bytes, whose share varies with the
  // detail of each part of the picture.
  const double dataBytes = static_cast<double>(layout->dataEnd - layout->dataAt);
  const auto workAbove = [&](uint64_t c) {
    const uint64_t intervals = c * perRow / interval;
    const size_t at = intervals == 0 ? layout->dataAt : layout->restarts[intervals - 1];
    return 0.5 * static_cast<double>(c) / static_cast<double>(rows) +
           0.5 * static_cast<double>(at - layout->dataAt) / dataBytes;
  };
  const double wanted = std::clamp(share, 0.0, 1.0);
  uint64_t cut = 0;
  for (uint64_t c = 2; c + 2 <= rows; ++c) {
    if (fits(c) && (cut == 0 || std::fabs(workAbove(c) - wanted) < std::fabs(workAbove(cut) - wanted))) cut = c;
  }
  if (cut == 0) return std::nullopt;
  const size_t firstMarker = (cut - 1) * perRow / interval;  // the first after the bottom's start

  TJpegCut found;
  found.topRows = static_cast<int32_t>(cut * layout->mcuHeight);
  found.bottomSkip = static_cast<int32_t>(layout->mcuHeight);
  found.frameAt = layout->frameAt;
  found.dataAt = layout->dataAt;
  found.bottomFrom = layout->restarts[firstMarker - 1] + 2;
  found.dataEnd = layout->dataEnd;
  found.bottomHeight = layout->height - static_cast<uint32_t>(cut - 1) * layout->mcuHeight;
  found.bottomMarkers.assign(layout->restarts.begin() + static_cast<ptrdiff_t>(firstMarker), layout->restarts.end());
  return found;
}

std::string BottomPart(std::string_view jpeg, const TJpegCut& cut) {
  // The header up to and with the SOS segment, its frame as high as the
  // part, then the part's entropy-coded data and the end.
  std::string part;
  part.reserve(cut.dataAt + (cut.dataEnd - cut.bottomFrom) + 2);
  part.append(jpeg.substr(0, cut.dataAt));
  part[cut.frameAt + 5] = static_cast<char>(cut.bottomHeight >> 8);
  part[cut.frameAt + 6] = static_cast<char>(cut.bottomHeight & 0xFF);
  part.append(jpeg.substr(cut.bottomFrom, cut.dataEnd - cut.bottomFrom));
  part.append("\xFF\xD9");
  // The part's restart markers are numbered from RST0, as after any scan
  // header.
  const size_t shift = cut.dataAt - cut.bottomFrom;
  for (size_t k = 0; k < cut.bottomMarkers.size(); ++k) {
    part[cut.bottomMarkers[k] + shift + 1] = static_cast<char>(0xD0 + k % 8);
  }
  return part;
}

}  // namespace shrinkwell

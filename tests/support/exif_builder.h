// Byte-by-byte builders for TIFF structures, EXIF segments and the marker
// sections of JPEG files, in either byte order.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace exiftest {

struct Entry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  std::vector<uint32_t> numbers;  // SHORT/LONG values, RATIONAL numerator/denominator pairs
  std::string bytes;              // BYTE, ASCII, UNDEFINED values, or raw bytes for odd types
};

inline Entry Short(uint16_t tag, std::vector<uint32_t> values) {
  return Entry{tag, 3, static_cast<uint32_t>(values.size()), std::move(values), {}};
}
inline Entry Long(uint16_t tag, std::vector<uint32_t> values) {
  return Entry{tag, 4, static_cast<uint32_t>(values.size()), std::move(values), {}};
}
inline Entry Rational(uint16_t tag, std::vector<uint32_t> pairs, uint16_t type = 5) {
  const auto count = static_cast<uint32_t>(pairs.size() / 2);
  return Entry{tag, type, count, std::move(pairs), {}};
}
inline Entry Ascii(uint16_t tag, std::string text) {
  return Entry{tag, 2, static_cast<uint32_t>(text.size()), {}, std::move(text)};
}
inline Entry Undefined(uint16_t tag, std::string bytes) {
  return Entry{tag, 7, static_cast<uint32_t>(bytes.size()), {}, std::move(bytes)};
}
inline Entry Bytes(uint16_t tag, std::string bytes) {
  return Entry{tag, 1, static_cast<uint32_t>(bytes.size()), {}, std::move(bytes)};
}
// Any type and count with the value bytes given as stored.
inline Entry RawEntry(uint16_t tag, uint16_t type, uint32_t count, std::string bytes) {
  return Entry{tag, type, count, {}, std::move(bytes)};
}

// A TIFF structure: header, then directories appended one after another, each
// followed by its out-of-line values. Offsets are counted from the header.
class TiffBuilder {
 public:
  explicit TiffBuilder(bool bigEndian, uint32_t firstOffset = 8) : bigEndian_(bigEndian) {
    data_ = bigEndian ? "MM" : "II";
    Put16(42);
    Put32(firstOffset);
  }

  bool BigEndian() const { return bigEndian_; }
  size_t Size() const { return data_.size(); }
  const std::string& Data() const { return data_; }

  // Appends a directory and returns its offset.
  size_t AddDirectory(const std::vector<Entry>& entries) {
    const size_t at = data_.size();
    Put16(static_cast<uint16_t>(entries.size()));
    size_t valueArea = at + 2 + 12 * entries.size() + 4;
    std::string values;
    for (const Entry& e : entries) {
      const std::string value = Encode(e);
      Put16(e.tag);
      Put16(e.type);
      Put32(e.count);
      if (value.size() <= 4) {
        data_ += value + std::string(4 - value.size(), '\0');
      } else {
        Put32(static_cast<uint32_t>(valueArea + values.size()));
        values += value;
      }
    }
    Put32(0);
    data_ += values;
    return at;
  }

  // The offset of the 4-byte value field of entry index of the directory at dir.
  static size_t ValueField(size_t dir, int index) { return dir + 2 + 12 * static_cast<size_t>(index) + 8; }

  void Patch32(size_t at, uint32_t value) {
    const std::string bytes = Number(value, 4);
    data_.replace(at, 4, bytes);
  }
  void Append(const std::string& bytes) { data_ += bytes; }

  std::string Number(uint32_t value, int size) const {
    std::string out;
    for (int i = 0; i < size; ++i) {
      const int shift = bigEndian_ ? 8 * (size - 1 - i) : 8 * i;
      out += static_cast<char>((value >> shift) & 0xFF);
    }
    return out;
  }

  // "Exif\0\0" and the TIFF data: the payload of an APP1 segment.
  std::string ExifPayload() const { return std::string("Exif\0\0", 6) + data_; }

 private:
  std::string Encode(const Entry& e) const {
    if (e.numbers.empty()) return e.bytes;
    std::string out;
    const int size = e.type == 3 || e.type == 8 ? 2 : 4;
    for (uint32_t n : e.numbers) out += Number(n, size);
    return out;
  }
  void Put16(uint16_t v) { data_ += Number(v, 2); }
  void Put32(uint32_t v) { data_ += Number(v, 4); }

  bool bigEndian_;
  std::string data_;
};

// One marker section: 0xFF, the marker, the big-endian length and the body.
inline std::string Segment(uint8_t marker, const std::string& body) {
  const size_t length = body.size() + 2;
  std::string out;
  out += static_cast<char>(0xFF);
  out += static_cast<char>(marker);
  out += static_cast<char>((length >> 8) & 0xFF);
  out += static_cast<char>(length & 0xFF);
  return out + body;
}

// A file head made of the given sections, a scan header and an end marker;
// enough for the section scanner, which stops at the scan.
inline std::string JpegHead(const std::vector<std::string>& sections) {
  std::string out("\xFF\xD8", 2);
  for (const std::string& s : sections) out += s;
  out += Segment(0xDA, std::string(10, '\0'));
  out += std::string("\xFF\xD9", 2);
  return out;
}

// One IPTC dataset: the mark 0x1C, record, dataset number, big-endian
// length and data. length overrides the true length when given.
inline std::string IptcDataset(uint8_t record, uint8_t dataset, const std::string& data, int length = -1) {
  const auto n = static_cast<uint32_t>(length < 0 ? data.size() : static_cast<size_t>(length));
  std::string out("\x1C", 1);
  out += static_cast<char>(record);
  out += static_cast<char>(dataset);
  out += static_cast<char>((n >> 8) & 0xFF);
  out += static_cast<char>(n & 0xFF);
  return out + data;
}

// An APP13 payload: the signature and one image resource (0x0404) holding
// the datasets.
inline std::string PhotoshopIptcPayload(const std::string& datasets, const std::string& signature = "Photoshop 3.0") {
  std::string out = signature + std::string("\0" "8BIM\x04\x04\0\0", 9);
  const auto n = static_cast<uint32_t>(datasets.size());
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((n >> shift) & 0xFF);
  return out + datasets;
}

// A directory on its own, as makers store one inside a maker note: the entry
// count, the entries, a zero next offset and the out-of-line values. A value
// offset is written as origin + the value's place in the block.
inline std::string DirectoryBlock(const std::vector<Entry>& entries, bool bigEndian, uint32_t origin) {
  TiffBuilder scratch(bigEndian);
  const size_t dir = scratch.AddDirectory(entries);
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    const size_t item = e.numbers.empty() ? 1 : (e.type == 3 || e.type == 8 ? 2 : 4);
    const size_t size = e.numbers.empty() ? e.bytes.size() : e.numbers.size() * item;
    if (size <= 4) continue;
    const size_t field = TiffBuilder::ValueField(dir, static_cast<int>(i));
    uint32_t written = 0;
    for (int k = 0; k < 4; ++k) {
      const auto byte = static_cast<unsigned char>(scratch.Data()[field + static_cast<size_t>(bigEndian ? k : 3 - k)]);
      written = (written << 8) | byte;
    }
    scratch.Patch32(field, static_cast<uint32_t>(written - dir + origin));
  }
  return scratch.Data().substr(dir);
}


// An APP1 payload whose first directory points at `directories` directories
// that all lie in one shared array of `entries` entries, each starting one
// entry further in: every entry of the array belongs to up to `directories`
// directories at once.
inline std::string OverlappingDirectoriesExif(int directories, int entries) {
  TiffBuilder tiff(true);
  std::vector<Entry> pointers;
  for (int k = 0; k < directories; ++k) pointers.push_back(Long(0x8769, {0}));
  const size_t first = tiff.AddDirectory(pointers);
  // Directory k starts two bytes before entry k of the array: its entry
  // count is the last two bytes of entry k - 1's value field, which a SHORT
  // value leaves free.
  const size_t array = tiff.Size() + 2;
  tiff.Append(tiff.Number(static_cast<uint32_t>(entries), 2));
  for (int j = 0; j < entries; ++j) {
    tiff.Append(tiff.Number(0x0100, 2) + tiff.Number(3, 2) + tiff.Number(1, 4) + tiff.Number(640, 2) +
                tiff.Number(static_cast<uint32_t>(entries - j - 1), 2));
  }
  for (int k = 0; k < directories; ++k) {
    tiff.Patch32(TiffBuilder::ValueField(first, k), static_cast<uint32_t>(array + 12 * static_cast<size_t>(k) - 2));
  }
  return tiff.ExifPayload();
}

// An APP13 payload with `count` keyword datasets, all different.
inline std::string IptcKeywordsPayload(int count) {
  std::string datasets;
  for (int k = 0; k < count; ++k) {
    std::string keyword;
    for (int rest = k; keyword.empty() || rest > 0; rest /= 36) keyword += "0123456789abcdefghijklmnopqrstuvwxyz"[rest % 36];
    datasets += IptcDataset(2, 25, keyword);
  }
  return PhotoshopIptcPayload(datasets);
}

}  // namespace exiftest

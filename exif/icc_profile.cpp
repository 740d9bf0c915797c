#include "icc_profile.h"

#include <algorithm>
#include <cstdint>

#include "utf8.h"

namespace shrinkwell {

namespace {

constexpr size_t kLongestText = 1024;

uint32_t Big32(const std::string& data, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(data[at])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(data[at + 1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(data[at + 2])) << 8 | static_cast<uint8_t>(data[at + 3]);
}

// Whether [at, at + count) lies inside data.
bool Inside(const std::string& data, uint64_t at, uint64_t count) { return at <= data.size() && count <= data.size() - at; }

// textDescriptionType: 'desc', 4 reserved bytes, an ASCII count with its
// NUL, the ASCII text.
std::string TextDescription(const std::string& data, size_t at, size_t size) {
  if (size < 12) return std::string();
  const uint64_t count = std::min<uint64_t>(Big32(data, at + 8), size - 12);
  std::string text = data.substr(at + 12, static_cast<size_t>(std::min<uint64_t>(count, kLongestText)));
  return text.substr(0, text.find('\0'));
}

// multiLocalizedUnicodeType: 'mluc', 4 reserved bytes, a record count and
// size, then records of language, country, length and offset (from the
// tag's start) of UTF-16BE text: the first record's.
std::string LocalizedDescription(const std::string& data, size_t at, size_t size) {
  if (size < 28 || Big32(data, at + 8) == 0) return std::string();
  const uint64_t length = Big32(data, at + 20), offset = Big32(data, at + 24);
  if (offset > size || length > size - offset) return std::string();
  std::string text;
  const size_t start = at + static_cast<size_t>(offset);
  for (size_t i = 0; i + 1 < length && text.size() < kLongestText; i += 2) {
    uint32_t code = static_cast<uint32_t>(static_cast<uint8_t>(data[start + i])) << 8 | static_cast<uint8_t>(data[start + i + 1]);
    if (code == 0) break;
    if (code >= 0xD800 && code <= 0xDBFF && i + 3 < length) {
      const uint32_t low = static_cast<uint32_t>(static_cast<uint8_t>(data[start + i + 2])) << 8 |
                           static_cast<uint8_t>(data[start + i + 3]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;  // a lone half of a pair
    AppendUtf8(text, code);
  }
  return text;
}

}  // namespace

TIccFacts IccFactsOf(const std::string& profile) {
  TIccFacts facts;
  if (profile.size() < 132) return facts;
  facts.colourSpace = profile.substr(16, 4);
  facts.colourSpace.erase(facts.colourSpace.find_last_not_of(' ') + 1);
  // The tag table: a count, then signature, offset and size of each tag.
  const uint64_t count = Big32(profile, 128);
  for (uint64_t i = 0; i < count && Inside(profile, 132 + 12 * i, 12); ++i) {
    const size_t entry = static_cast<size_t>(132 + 12 * i);
    if (profile.compare(entry, 4, "desc") != 0) continue;
    const uint64_t offset = Big32(profile, entry + 4), size = Big32(profile, entry + 8);
    if (!Inside(profile, offset, size) || size < 8) break;
    const size_t at = static_cast<size_t>(offset);
    if (profile.compare(at, 4, "desc") == 0) facts.description = TextDescription(profile, at, static_cast<size_t>(size));
    if (profile.compare(at, 4, "mluc") == 0) {
      facts.description = LocalizedDescription(profile, at, static_cast<size_t>(size));
    }
    break;
  }
  return facts;
}

}  // namespace shrinkwell

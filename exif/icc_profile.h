// What an ICC colour profile says of itself: the colour space of the data
// it describes, and its description, as a viewer shows them.
#pragma once

#include <string>

namespace shrinkwell {

struct TIccFacts {
  std::string colourSpace;  // "RGB", "CMYK", "GRAY", ...; empty when the header is cut short
  std::string description;  // the 'desc' tag's text; empty when there is none
};

// Reads the header's data colour space (bytes 16 to 19) and the 'desc'
// tag, as version 2 (textDescriptionType: ASCII) or version 4
// (multiLocalizedUnicodeType: the first record's UTF-16, as UTF-8) writes
// it. Every offset and length is checked against the profile's bytes; a
// text is cut at 1024 bytes and at its first NUL.
TIccFacts IccFactsOf(const std::string& profile);

}  // namespace shrinkwell

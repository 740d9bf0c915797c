// Fuzz target: the ICC profile facts the viewer shows (colour space and
// description), from the bytes of a profile as libjpeg reassembles it.
// Every text must be valid UTF-8 of bounded length.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "icc_profile.h"

namespace {

bool ValidUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const size_t length = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const shrinkwell::TIccFacts facts = shrinkwell::IccFactsOf(std::string(reinterpret_cast<const char*>(data), size));
  if (facts.colourSpace.size() > 4 || facts.description.size() > 4 * 1024) {
    std::fprintf(stderr, "a text longer than its bound\n");
    std::abort();
  }
  // A version 4 description is decoded from UTF-16: it must come out as
  // UTF-8 (a version 2 one is the profile's own bytes).
  if (size >= 132 && !ValidUtf8(facts.description)) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (bytes.find("mluc") != std::string::npos && bytes.find("desc", 132) == std::string::npos) {
      std::fprintf(stderr, "a version 4 description is no UTF-8\n");
      std::abort();
    }
  }
  return 0;
}

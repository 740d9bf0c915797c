// Fuzz target: the IPTC reader over the data of an APP13 section, then every
// dataset and the lookups by name the viewer's users make.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "exif_reader.h"
#include "iptc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace shrinkwell;
  TimgData owner(255);
  TIPTCdata iptc(&owner);
  iptc.ParseIptc(std::string(reinterpret_cast<const char*>(data), size));

  for (int k = 0; k < iptc.DatasetCount(); ++k) {
    const TTagEntry dataset = iptc.DatasetAt(k);
    iptc.DatasetIndexByName(dataset.name);
  }
  for (const char* name : {"ImageCaption", "ByLine", "ObjectName", "Custom_1"}) iptc.DatasetTextByName(name, "");

  // Repeated keywords are merged into one comma list, which is read back at
  // every further merge: writing a list and reading it must give the list.
  // (One empty item is written as nothing and so cannot come back.)
  const std::vector<std::string> keywords = ReadCommaText(iptc.DatasetTextByName("Keywords", ""));
  if (!(keywords.size() == 1 && keywords[0].empty()) && ReadCommaText(WriteCommaText(keywords)) != keywords) {
    std::fprintf(stderr, "a keyword list written as a comma list reads back different\n");
    std::abort();
  }
  return 0;
}

// shrinkwell-meta FILE...: shows what the metadata reader finds in each file,
// in UTF-8 for the console.
#include <clocale>
#include <cstdio>
#include <string>

#include "ansi_text.h"
#include "errors.h"
#include "exif_reader.h"
#include "iptc.h"

namespace {

// Control characters inside a value are shown, not acted upon: a NUL
// would end the printed text and hide the rest of the value.
std::string Visible(const std::string& line) {
  static const char* const kNamed[32] = {"\\0", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, "\\t", "\\n", nullptr, nullptr, "\\r"};
  std::string shown;
  for (char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 32 && byte != 127) {
      shown += c;
    } else if (byte < 32 && kNamed[byte] != nullptr) {
      shown += kNamed[byte];
    } else {
      shown += shrinkwell::Format("\\x%02X", byte);
    }
  }
  return shrinkwell::AnsiToUtf8(shown);
}

// The reader's lines end in CR LF and its texts are single-byte.
void PrintLines(const std::string& text) {
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find("\r\n", from);
    if (end == std::string::npos) end = text.size();
    if (end > from) std::printf("  %s\n", Visible(text.substr(from, end - from)).c_str());
    from = end + 2;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc < 2) {
    std::fprintf(stderr, "usage: shrinkwell-meta FILE...\n");
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    shrinkwell::TimgData reader(255);
    reader.ReadMetadataFile(argv[i]);
    std::printf("%s\n", argv[i]);
    std::printf("  errorText = %s\n", shrinkwell::AnsiToUtf8(reader.errorText).c_str());
    if (const shrinkwell::TImageInfo* info = reader.ImageInfo()) {
      PrintLines(info->infoText);
      if (!info->makerText.empty()) {
        std::printf("  makerText:\n");
        PrintLines(info->makerText);
      }
    }
    if (shrinkwell::TIPTCdata* iptc = reader.IptcInfo()) {
      iptc->ParseIptc(reader.IptcSection()->data);
      if (iptc->HasIptc()) {
        std::printf("  IPTC:\n");
        std::string lines;
        for (int k = 0; k < iptc->DatasetCount(); ++k) {
          const shrinkwell::TTagEntry dataset = iptc->DatasetAt(k);
          lines += dataset.description + shrinkwell::valueSeparator + dataset.valueText + "\r\n";
        }
        PrintLines(lines);
      }
    }
    std::printf("\n");
  }
  return 0;
}

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

// The reader's lines end in CR LF and its texts are single-byte.
void PrintLines(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      if (!line.empty()) std::printf("  %s\n", shrinkwell::AnsiToUtf8(line).c_str());
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) std::printf("  %s\n", shrinkwell::AnsiToUtf8(line).c_str());
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

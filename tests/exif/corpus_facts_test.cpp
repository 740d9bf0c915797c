// The reader against what the corpus's catalogue says each photo holds:
// camera make and model, and the Orientation code.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "exif_reader.h"
#include "tag_dictionary.h"

namespace shrinkwell {
namespace {

struct Fact {
  std::string file, make, model, orientation;  // "-" where the photo has none
};

std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  std::stringstream in(line);
  std::string cell;
  std::getline(in, cell, '|');  // before the first bar
  while (std::getline(in, cell, '|')) cells.push_back(TrimText(cell));
  return cells;
}

// Rows of the catalogue tables: | File | Source | Bytes | WxH | Make | Model | Orient | ...
std::vector<Fact> CatalogueFacts(const std::string& corpus, const std::vector<std::string>& folders) {
  std::ifstream in(corpus + "/SOURCES.md");
  std::vector<Fact> facts;
  std::string line, folder;
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) folder = line.substr(3);
    if (line.rfind("| ", 0) != 0) continue;
    bool wanted = false;
    for (const auto& f : folders) wanted |= folder == f + "/";
    const auto cells = Cells(line);
    if (!wanted || cells.size() < 7 || cells[0] == "File" || cells[0].rfind("---", 0) == 0) continue;
    facts.push_back({folder + cells[0], cells[4], cells[5], cells[6]});
  }
  return facts;
}

std::string OrientationText(const std::string& code) {
  if (code == "1") return "Normal";
  if (code == "3") return "Rotated 180\xB0";
  if (code == "6") return "CounterClockwise 90\xB0";
  if (code == "8") return "Clockwise 90\xB0";
  return "";
}

TEST(CorpusFacts, MakeModelAndOrientationAgreeWithTheCatalogue) {
  const std::string corpus = SHRINKWELL_CORPUS_DIR;
  const auto facts = CatalogueFacts(corpus, {"cameras", "orientation", "makernotes", "fullsize"});
  if (facts.empty()) GTEST_SKIP() << "corpus not present";
  int checked = 0;
  for (const Fact& fact : facts) {
    SCOPED_TRACE(fact.file);
    TimgData reader(255);
    reader.ScanJpegFile(corpus + "/" + fact.file);
    const TImageInfo* info = reader.HasExif() ? reader.ImageInfo() : nullptr;
    // The catalogue ends a text at its first NUL; the reader shows a NUL as
    // a full stop and goes on.
    const auto agrees = [info](const char* name, const std::string& expected) {
      const std::string value = info ? TrimText(info->TagTextByName(name)) : "";
      if (expected == "-") return value.empty();
      return value.compare(0, expected.size(), expected) == 0 &&
             (value.size() == expected.size() || value[expected.size()] == '.');
    };
    EXPECT_TRUE(agrees("Make", fact.make)) << (info ? info->TagTextByName("Make") : "no EXIF");
    EXPECT_TRUE(agrees("Model", fact.model)) << (info ? info->TagTextByName("Model") : "no EXIF");
    if (fact.orientation == "-") {
      EXPECT_TRUE(info == nullptr || info->TagIndexByName("Orientation") < 0);
    } else if (reader.errorText != "Incorrect Exif header") {
      // (With an XMP section in EXIF's place the catalogue's value came from XMP.)
      ASSERT_NE(info, nullptr);
      EXPECT_GE(info->TagIndexByName("Orientation"), 0);
      EXPECT_EQ(info->TagTextByName("Orientation"), OrientationText(fact.orientation));
    }
    ++checked;
  }
  EXPECT_GT(checked, 100);
}

}  // namespace
}  // namespace shrinkwell

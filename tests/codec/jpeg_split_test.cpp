#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "errors.h"

#include "fixtures.h"
#include "jpeg.h"
#include "jpeg_split.h"

using namespace shrinkwell;

namespace {

// Every row decoded, blue, green, red, one after another.
struct TRows final : TRowReceiver {
  std::vector<uint8_t> band;
  std::vector<uint8_t*> rows;
  std::vector<std::vector<uint8_t>> all;
  int32_t width = 0;
  void Begin(int32_t w, int32_t) override {
    width = w;
    band.assign(3 * static_cast<size_t>(w) * 8, 0);
    rows.clear();
    for (size_t i = 0; i < 8; ++i) rows.push_back(band.data() + 3 * static_cast<size_t>(w) * i);
  }
  uint8_t* const* BandToFill(int32_t& capacity) override {
    capacity = 8;
    return rows.data();
  }
  void BandFilled(int32_t count) override {
    for (int32_t i = 0; i < count; ++i) all.emplace_back(rows[static_cast<size_t>(i)], rows[static_cast<size_t>(i)] + 3 * width);
  }
};

std::vector<std::vector<uint8_t>> Decoded(const std::string& file) {
  TRows rows;
  TJPEGImage image;
  image.TakeCompressed(file);
  image.DecodeRows(rows);
  return rows.all;
}

// Whether the bottom part's rows, all but its first (whose upsampling has
// no row above it), are the whole decode's rows from the cut's MCU row on.
bool BottomGivesTheWholeDecode(const std::string& file, const TJpegCut& cut, const std::vector<std::vector<uint8_t>>& whole) {
  const auto bottom = Decoded(BottomPart(file, cut));
  const size_t from = static_cast<size_t>(cut.topRows - cut.bottomSkip);
  if (bottom.size() + from != whole.size() || cut.bottomSkip < 4) return false;
  return std::equal(bottom.begin() + 1, bottom.end(), whole.begin() + static_cast<ptrdiff_t>(from) + 1);
}

}  // namespace

TEST(JpegSplit, TheBottomPartGivesTheWholeDecodeBelowItsFirstRow) {
  struct Case {
    int width, height, restartRows, lumaSampling;
    double share;
  };
  for (const Case& c : {Case{640, 480, 1, 22, 0.5}, Case{333, 251, 1, 21, 0.3}, Case{40, 200, 2, 11, 0.5},
                        Case{1025, 97, 1, 22, 0.9}, Case{96, 64, 1, 12, 0.0}, Case{250, 130, 3, 21, 0.5}}) {
    const std::string file = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(c.width, c.height, 3),
                                                  {90, false, false, false, c.restartRows, false, c.lumaSampling});
    const auto cut = FindCut(file, c.share);
    ASSERT_TRUE(cut.has_value()) << c.width << "x" << c.height;
    const auto whole = Decoded(file);
    EXPECT_EQ(whole.size(), static_cast<size_t>(c.height));
    EXPECT_TRUE(BottomGivesTheWholeDecode(file, *cut, whole)) << c.width << "x" << c.height << " cut at " << cut->topRows;
  }
}

TEST(JpegSplit, PhotosThatCannotBeCutAreLeftWhole) {
  const auto picture = fixtures::PhotoLikePicture(320, 240, 4);
  std::string misnumbered = fixtures::EncodeJpeg(picture, {90, false, false, false, 1});
  misnumbered[misnumbered.find("\xFF\xD3")] = '\xFF';
  misnumbered[misnumbered.find("\xFF\xD3") + 1] = '\xD5';
  std::string missing = fixtures::EncodeJpeg(picture, {90, false, false, false, 1});
  missing.erase(missing.find("\xFF\xD6"), 2);
  std::string truncated = fixtures::EncodeJpeg(picture, {90, false, false, false, 1});
  truncated.resize(truncated.size() / 2);
  const std::string cases[] = {
      fixtures::EncodeJpeg(picture, {90}),                             // no restart markers
      fixtures::EncodeJpeg(picture, {90, true, false, false, 1}),      // progressive
      fixtures::EncodeJpeg(picture, {90, false, true, false, 1}),      // gray
      fixtures::EncodeJpeg(fixtures::PhotoLikePicture(320, 40, 4), {90, false, false, false, 1}),  // three MCU rows
      misnumbered,
      missing,
      truncated,
  };
  for (const std::string& file : cases) EXPECT_FALSE(FindCut(file, 0.5).has_value()) << &file - cases;
}

TEST(JpegSplit, CorpusPhotosWithRestartMarkersGiveTheWholeDecode) {
  const std::string root = SHRINKWELL_CORPUS_DIR;
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "no corpus at " << root;
  size_t cuts = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string extension = entry.path().extension().string();
    if (!entry.is_regular_file() || (extension != ".jpg" && extension != ".jpeg" && extension != ".JPG")) continue;
    const std::string file = fixtures::ReadFile(entry.path().string());
    for (const double share : {0.5, 0.25}) {
      const auto cut = FindCut(file, share);
      if (!cut) continue;
      ++cuts;
      try {
        EXPECT_TRUE(BottomGivesTheWholeDecode(file, *cut, Decoded(file))) << entry.path() << " cut at " << cut->topRows;
      } catch (const Exception& error) {
        ADD_FAILURE() << entry.path() << ": " << error.Message();
      }
    }
  }
  std::printf("%zu cuts of corpus photos\n", cuts);
}

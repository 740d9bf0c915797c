// The focal length in 35 mm film worked out from the stored tags, and the
// queries by name that return numbers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <memory>
#include <string>

#include "exif_builder.h"
#include "exif_reader.h"
#include "fixtures.h"
#include "temp_dir.h"

namespace shrinkwell {
namespace {

using namespace exiftest;

class DerivedValues : public ::testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_NUMERIC, "C"); }

  std::string Write(const std::vector<Entry>& entries) {
    TiffBuilder tiff(false);
    tiff.AddDirectory(entries);
    return dir_.Write(std::to_string(++files) + ".jpg", JpegHead({Segment(0xE1, tiff.ExifPayload())}));
  }
  // Scans without deriving anything (the scan records no problem).
  std::unique_ptr<TimgData> Scan(const std::vector<Entry>& entries) {
    auto reader = std::make_unique<TimgData>(255);
    reader->ScanJpegFile(Write(entries));
    return reader;
  }
  // The text derived from the entries, or "none" when nothing is added.
  std::string Derived(const std::vector<Entry>& entries) {
    auto reader = Scan(entries);
    TImageInfo& info = *reader->ImageInfo();
    const int before = info.TagCount();
    info.DeriveFocalLength35();
    if (info.TagCount() == before) return "none";
    return info.Tags().back().valueText;
  }

  int files = 0;
  testing_support::TempDir dir_;
};

std::vector<Entry> Compact(std::vector<Entry> extra = {}) {
  std::vector<Entry> entries{Long(0x0100, {3000}), Long(0x0101, {2000}), Rational(0x920A, {6, 1}), Short(0xA210, {3}),
                             Rational(0xA20E, {1000, 1}), Rational(0xA20F, {1000, 1})};
  entries.insert(entries.end(), extra.begin(), extra.end());
  return entries;
}

std::vector<Entry> Phone(Entry unit) {
  return {Long(0xA002, {2592}), Long(0xA003, {1944}), Rational(0x920A, {58, 10}), unit,
          Rational(0xA20E, {8114, 1}), Rational(0xA20F, {8114, 1})};
}

TEST_F(DerivedValues, FocalLengthIn35mmFilmIsWorkedOut) {
  EXPECT_EQ(Derived(Compact()), " 7.20");
  EXPECT_EQ(Derived(Phone(Short(0xA210, {2}))), "24.74");
  // Without a focal-plane unit the image resolution unit counts.
  EXPECT_EQ(Derived(Phone(Short(0x0128, {2}))), "24.74");
}

TEST_F(DerivedValues, TheDerivedEntryIsStoredAndShown) {
  TimgData reader(255);
  ASSERT_TRUE(reader.ReadMetadataFile(Write(Compact())));  // the scan then always derives
  const TImageInfo& info = *reader.ImageInfo();
  EXPECT_EQ(info.TagTextByName("FocalLengthIn35mmFilm"), " 7.20");
  const TTagEntry entry = info.TagByName("focallengthin35mmfilm");
  EXPECT_EQ(entry.tag, 0xA405);
  EXPECT_EQ(entry.fieldType, kTypeSRational);
  EXPECT_EQ(entry.formatPattern, "%s mm");
  EXPECT_EQ(entry.rawValue, "");
  EXPECT_NE(info.infoText.find("\r\nFocal Length in 35mm Film =  7.20"), std::string::npos) << info.infoText;

  // A clean scan alone derives nothing; a second derivation adds nothing.
  auto scanned = Scan(Compact());
  TImageInfo& again = *scanned->ImageInfo();
  EXPECT_EQ(again.TagIndexByName("FocalLengthIn35mmFilm"), -1);
  again.DeriveFocalLength35();
  const int count = again.TagCount();
  again.DeriveFocalLength35();
  EXPECT_EQ(again.TagCount(), count);
}

TEST_F(DerivedValues, NothingIsDerivedWithoutTheNeededValues) {
  EXPECT_EQ(Derived(Compact({Short(0xA405, {35})})), "none");
  for (uint32_t unit : {1u, 4u, 5u}) {
    SCOPED_TRACE(unit);
    EXPECT_EQ(Derived(Phone(Short(0xA210, {unit}))), "none");
  }
  EXPECT_EQ(Derived({Long(0x0100, {3000}), Long(0x0101, {2000}), Rational(0x920A, {6, 1}), Short(0xA210, {3}),
                     Rational(0xA20E, {1000, 1})}),
            "none");
  EXPECT_EQ(Derived({Long(0x0100, {3000}), Long(0x0101, {2000}), Rational(0x920A, {6, 1}), Short(0xA210, {3}),
                     Rational(0xA20E, {4, 10}), Rational(0xA20F, {1000, 1})}),
            "none");
  EXPECT_EQ(Derived({Long(0x0100, {3000}), Long(0x0101, {2000}), Rational(0x920A, {0, 1}), Short(0xA210, {3}),
                     Rational(0xA20E, {1000, 1}), Rational(0xA20F, {1000, 1})}),
            "none");
  EXPECT_EQ(Derived({Rational(0x920A, {6, 1}), Short(0xA210, {3}), Rational(0xA20E, {1000, 1}), Rational(0xA20F, {1000, 1})}),
            "none");
}

TEST_F(DerivedValues, NumbersByName) {
  auto reader = Scan({Rational(0x011A, {5, 2}), Rational(0x011B, {7, 2}), Short(0x0112, {6}), Rational(0x920A, {1, 0})});
  const TImageInfo& info = *reader->ImageInfo();
  EXPECT_DOUBLE_EQ(info.NumberByName("xresolution"), 2.5);
  EXPECT_EQ(info.IntegerByName("XResolution"), 2);  // ties go to the even neighbour
  EXPECT_EQ(info.IntegerByName("YResolution"), 4);
  EXPECT_EQ(info.IntegerByName("Orientation"), 6);
  EXPECT_EQ(info.NumberByName("FocalLength"), 0);  // zero denominator
  EXPECT_EQ(info.NumberByName("Make"), 0);
  const TTagEntry missing = info.TagByName("Make");
  EXPECT_EQ(missing.tag, 0);
  EXPECT_EQ(missing.name, "");
}

}  // namespace
}  // namespace shrinkwell

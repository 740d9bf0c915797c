// The tag dictionary, the value formatting and the converters.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "ansi_text.h"
#include "errors.h"
#include "exif_reader.h"
#include "tag_dictionary.h"

namespace shrinkwell {
namespace {

class NumberText : public ::testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_NUMERIC, "C"); }
};

// Raw bytes of 16/32-bit numbers in a byte order.
std::string Bytes16(std::initializer_list<uint32_t> values, bool bigEndian) {
  std::string out;
  for (uint32_t v : values) {
    if (bigEndian) out += {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
    else out += {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
  }
  return out;
}
std::string Bytes32(std::initializer_list<uint32_t> values, bool bigEndian) {
  std::string out;
  for (uint32_t v : values)
    for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (bigEndian ? 24 - 8 * i : 8 * i));
  return out;
}

TEST(TagTables, RowsAscendOnceAndCloseWithUnknown) {
  for (int i = 1; i < kExifTableRows - 1; ++i) EXPECT_LT(ExifTagTable[i - 1].tag, ExifTagTable[i].tag) << i;
  EXPECT_EQ(ExifTagTable[0].tag, 0x0001);
  EXPECT_EQ(ExifTagTable[249].tag, 0xA420);
  EXPECT_EQ(UnknownTagEntry().tag, 0);
  EXPECT_EQ(UnknownTagEntry().name, "Unknown");
  for (int i = 0; i < kGpsTableRows; ++i) EXPECT_EQ(GpsTagTable[i].tag, i);
}

TEST(TagTables, SplitAtCapitalsMakesLabels) {
  EXPECT_EQ(SplitAtCapitals("ImageWidth"), "Image Width");
  EXPECT_EQ(SplitAtCapitals("DateTimeOriginal"), "Date Time Original");
  EXPECT_EQ(SplitAtCapitals("GPSLatitude"), "GPSLatitude");
  EXPECT_EQ(SplitAtCapitals("XResolution"), "XResolution");
  EXPECT_EQ(SplitAtCapitals("YCbCrPositioning"), "YCb Cr Positioning");
  EXPECT_EQ(SplitAtCapitals("ISOSpeedRatings"), "ISOSpeed Ratings");
  EXPECT_EQ(SplitAtCapitals("T4Options"), "T4 Options");
  EXPECT_EQ(SplitAtCapitals(""), "");
}

TEST(TagTables, PreparedLabelsKeepTheGivenOnes) {
  PrepareTagTables(true);
  EXPECT_EQ(LookupTagEntry(0x0100, kMainDirectory).description, "Image Width");
  EXPECT_EQ(LookupTagEntry(0xA405, kMainDirectory).description, "Focal Length in 35mm Film");
  EXPECT_EQ(LookupTagEntry(0x83BB, kMainDirectory).description, "IPTC/NAA");
  EXPECT_EQ(UnknownTagEntry().description, "Unknown");
  EXPECT_EQ(LookupTagEntry(0x07, kGpsDirectory).description, "GPSTime Stamp");
}

TEST(TagTables, LookupByKindOfDirectory) {
  EXPECT_EQ(LookupTagEntry(0x1E, kGpsDirectory).name, "GPSDifferential");
  EXPECT_EQ(LookupTagEntry(0x1F, kGpsDirectory).tag, 0);
  EXPECT_EQ(LookupTagEntry(0x1F, kGpsDirectory).name, "Unknown");
  EXPECT_EQ(LookupTagEntry(0x0002, kMainDirectory).name, "InteroperabilityVersion");
  EXPECT_EQ(LookupTagEntry(0x0002, kGpsDirectory).name, "GPSLatitude");
  EXPECT_EQ(LookupTagEntry(0x0112, kThumbnailDirectory).name, "Orientation");
  EXPECT_EQ(LookupTagEntry(0x0112, 3).tag, 0);
  EXPECT_EQ(LookupTagEntry(0x9999, kMainDirectory).tag, 0);
}

TEST(TagTables, SearchesByNameAndTagNumber) {
  EXPECT_EQ(ExifTableIndexByName("GrayResponseUnit"), -1);
  const int gray = ExifTableIndexByName("grayreponseunit");
  ASSERT_GE(gray, 0);
  EXPECT_EQ(ExifTagTable[gray].tag, 0x0122);
  // Names held under two numbers are found at the lower one.
  EXPECT_EQ(ExifTagTable[ExifTableIndexByName("FocalPlaneXResolution")].tag, 0x920E);
  EXPECT_EQ(ExifTagTable[ExifTableIndexByName("FocalLengthIn35mmFilm")].tag, 0xA405);

  TTagEntry table[3];
  table[0].tag = 5, table[0].valueMap = "1:x";
  table[1].tag = 7;
  table[2].tag = 5, table[2].valueMap = "1:y";
  EXPECT_EQ(TableIndexOfTag(5, table, 2), 0);
  EXPECT_EQ(TableIndexOfTag(7, table, 0), -1);
  EXPECT_EQ(TableValueMapOf(5, table, 2), "1:y");
  EXPECT_EQ(TableValueMapOf(5, table, 1), "1:x");
  EXPECT_EQ(TableValueMapOf(9, table, 2), "");
}

TEST(ValueMaps, DecodeWholeCodesOnly) {
  const std::string map = "1:Normal,3:Rotated 180\xB0,11: eleven";
  EXPECT_EQ(DecodeMapValue(map, "1"), "Normal");
  EXPECT_EQ(DecodeMapValue(map, " 3 "), "Rotated 180\xB0");
  EXPECT_EQ(DecodeMapValue(map, "11"), " eleven");
  EXPECT_EQ(DecodeMapValue(map, "2"), "");
  EXPECT_EQ(DecodeMapValue(map, ""), "");
  EXPECT_EQ(DecodeMapValue("", "1"), "");
}

TEST_F(NumberText, FormatTagValueFollowsTheTypeRules) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    TimgData owner(255);
    TImageInfo info(&owner, 255);
    info.bigEndian = big;
    const TTagEntry orientation = LookupTagEntry(0x0112, kMainDirectory);

    EXPECT_EQ(info.FormatTagValue(Bytes16({6}, big), kTypeShort, orientation.valueMap, ""), "CounterClockwise 90\xB0");
    EXPECT_EQ(info.FormatTagValue(Bytes16({1, 2}, big), kTypeShort, orientation.valueMap, ""), "Normal, ");
    EXPECT_EQ(info.FormatTagValue(Bytes16({2, 1}, big), kTypeShort, orientation.valueMap, ""), "Normal");
    EXPECT_EQ(info.FormatTagValue(Bytes16({0xFFFF}, big), kTypeSShort, "", ""), "65535");
    EXPECT_EQ(info.FormatTagValue(std::string(1, '\xFF'), kTypeSByte, "", ""), "255");
    EXPECT_EQ(info.FormatTagValue(Bytes32({0xFFFFFFFF}, big), kTypeSLong, "", ""), "-1");
    EXPECT_EQ(info.FormatTagValue(Bytes32({300, 7, 0xFFFFFFFF, 2}, big), kTypeSRational, "", ""), "300/7, -1/2");
    EXPECT_EQ(info.FormatTagValue(Bytes32({1, 2}, big), kTypeFloat, "", ""), "-9999.99, -9999.99");
    EXPECT_EQ(info.FormatTagValue("ab", kTypeUndefined, "", ""), "?, ?");
    EXPECT_EQ(info.FormatTagValue("abcd", 0, "", ""), "0");
    EXPECT_EQ(info.FormatTagValue("abcd", 13, "", ""), "0");

    std::string many;
    for (int i = 0; i < 200; ++i) many += Bytes16({static_cast<uint32_t>(i)}, big);
    const std::string text = info.FormatTagValue(many, kTypeShort, "", "");
    EXPECT_EQ(SeparatorCount(text, ", "), 127);
    EXPECT_EQ(text.substr(text.size() - 5), ", 127");

    const auto pattern = [](uint16_t tag) { return LookupTagEntry(tag, kMainDirectory).formatPattern; };
    EXPECT_EQ(info.FormatTagValue(Bytes32({72, 1}, big), kTypeRational, "", pattern(0x011A)), "72.00");
    EXPECT_EQ(info.FormatTagValue(Bytes32({300, 1}, big), kTypeRational, "", pattern(0x011A)), "300.00");
    EXPECT_EQ(info.FormatTagValue(Bytes32({28, 10}, big), kTypeRational, "", pattern(0x829D)), "F2.8");
    EXPECT_EQ(info.FormatTagValue(Bytes32({28, 0}, big), kTypeRational, "", pattern(0x829D)), "F0.0");
    EXPECT_EQ(info.FormatTagValue(Bytes32({1, 125}, big), kTypeRational, "", pattern(0x829A)), "1/125 sec");
    EXPECT_EQ(info.FormatTagValue(Bytes32({55, 1}, big), kTypeRational, "", pattern(0x920A)), "55.00 mm");
    // A pattern without a floating conversion is shown as it stands.
    EXPECT_EQ(info.FormatTagValue(Bytes16({1}, big), kTypeShort, "", "%d%n"), "%d%n");

    const std::string photometric = LookupTagEntry(0x0106, kMainDirectory).valueMap;
    EXPECT_EQ(info.FormatTagValue(Bytes16({2}, big), kTypeShort, photometric, ""), "RGB");
    EXPECT_EQ(info.FormatTagValue(Bytes16({6}, big), kTypeShort, photometric, ""), "YCbCr");
  }
}

TEST(ValueNumbers, ReadInTheFilesByteOrder) {
  TimgData owner(255);
  TImageInfo info(&owner, 255);
  info.bigEndian = true;
  EXPECT_EQ(info.BytesToInteger(std::string("\x01\x02", 2)), 0x0102);
  EXPECT_DOUBLE_EQ(info.TagValueNumber(std::string("\x01\x02", 2), kTypeShort), 0x0102);
  EXPECT_DOUBLE_EQ(info.TagValueNumber(Bytes32({3, 4}, true), kTypeRational), 0.75);
  EXPECT_DOUBLE_EQ(info.TagValueNumber(Bytes32({3, 0}, true), kTypeRational), 0);
  EXPECT_DOUBLE_EQ(info.TagValueNumber(Bytes32({0x3FC00000}, true), kTypeFloat), 1.5);
  EXPECT_DOUBLE_EQ(info.TagValueNumber("abc", kTypeAscii), 0);
  info.bigEndian = false;
  EXPECT_EQ(info.BytesToInteger(std::string("\x01\x02", 2)), 0x0201);
  EXPECT_DOUBLE_EQ(info.TagValueNumber(Bytes32({0, 0x3FF80000}, false), kTypeDouble), 1.5);
  EXPECT_DOUBLE_EQ(info.TagValueNumber(Bytes32({3}, false), kTypeRational), 0);  // too short
}

TEST(TextHelpers, PrintableAndRational) {
  EXPECT_EQ(PrintableText(std::string(60, 'x')), std::string(50, 'x'));
  EXPECT_EQ(PrintableText(std::string("a\tb\0c\xB0", 6)), "a.b.c\xB0");
  EXPECT_DOUBLE_EQ(RationalTextToNumber(" 3/4 "), 0.75);
  EXPECT_DOUBLE_EQ(RationalTextToNumber("1 1/2"), 1.5);
  EXPECT_DOUBLE_EQ(RationalTextToNumber("-3/2"), -1.5);
  EXPECT_DOUBLE_EQ(RationalTextToNumber("3/0"), 0);
  EXPECT_DOUBLE_EQ(RationalTextToNumber("3"), 0);
  EXPECT_DOUBLE_EQ(RationalTextToNumber("a/b"), 0);
  EXPECT_DOUBLE_EQ(RationalTextToNumber("99999999999/1"), 0);

  EXPECT_EQ(TextItem("1, 2, 3", ",", 2), " 2");
  EXPECT_EQ(TextItem("1, 2, 3", ",", 4), "");
  EXPECT_EQ(TextAfter("abc", "x"), "");
  EXPECT_EQ(TextBefore("abc", "x"), "abc");
  EXPECT_EQ(SeparatorCount("1, 2, 3", ","), 2);
  EXPECT_EQ(TrimText(std::string(" \t x y\r\n\0", 9)), "x y");
}

TEST_F(NumberText, Converters) {
  EXPECT_EQ(FlashText("16"), "Off, surpressed");
  EXPECT_EQ(FlashText("25"), "On, auto mode");
  EXPECT_EQ(FlashText("89"), "On, auto mode, red-eye reduction");
  EXPECT_EQ(FlashText("39"), "On, strobe return, no flash function");
  EXPECT_EQ(FlashText("3"), "On, UNKNOWN");
  EXPECT_EQ(FlashText("12"), "Off, no strobe return, forced");
  EXPECT_THROW(FlashText("16, 0"), EInvalidOperation);

  EXPECT_EQ(ShutterSpeedText("7/1"), "0.0078 sec (1/128)");
  EXPECT_EQ(ShutterSpeedText("1/1"), "0.5000 sec (1/2)");
  EXPECT_EQ(ShutterSpeedText("0/1"), "1.0000 sec");
  EXPECT_EQ(ShutterSpeedText("-2/1"), "4.0000 sec");
  EXPECT_EQ(ShutterSpeedText("2147483647/1").substr(0, 10), "0.0000 sec");  // no overflow

  EXPECT_EQ(GpsPositionText("50/1, 3075/100, 0/1"), "50 Degrees 30 Minutes 45 Seconds");
  EXPECT_EQ(GpsPositionText("50/1, 30/1, 45/1"), "50 Degrees 30 Minutes 45 Seconds");
  EXPECT_EQ(GpsPositionText("garbage"), "0 Degrees 0 Minutes 0 Seconds");
  EXPECT_EQ(GpsTimeText("14/1, 5/1, 9/1"), "14:5:9");

  EXPECT_EQ(ComponentsText(std::string("\"\x01\x02\x03\"", 5)), "YCbCr");
  EXPECT_EQ(ComponentsText(std::string("\"\x04\x05\x06\"", 5)), "RGB");
  EXPECT_EQ(ComponentsText("\""), "");

  EXPECT_EQ(UserCommentText(std::string("ASCII\0\0\0Hello", 13)), "Hello");
  EXPECT_EQ(UnicodeByteText("72, 0, 105, 0"), "Hi");
  EXPECT_EQ(UnicodeByteText("72, 0, 105"), "H");
  EXPECT_EQ(UnicodeByteText("328, 0, 0, 0, 33, 0"), "H!");
  EXPECT_EQ(UnicodeByteText("no list"), "");
}

TEST(AnsiText, ConvertsTheSingleByteTextsForTheConsole) {
  EXPECT_EQ(AnsiToUtf8("Rotated 180\xB0"), "Rotated 180\xC2\xB0");
  EXPECT_EQ(AnsiToUtf8("\x80\xE9"), "\xE2\x82\xAC\xC3\xA9");
  EXPECT_EQ(AnsiToUtf8("\x81"), "\xEF\xBF\xBD");
  EXPECT_EQ(AnsiToUtf8("plain"), "plain");
}

}  // namespace
}  // namespace shrinkwell

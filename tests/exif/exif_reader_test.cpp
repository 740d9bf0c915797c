// The section scanner and the directory walk, on files built byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

#include <clocale>
#include <memory>
#include <string>

#include "errors.h"
#include "exif_builder.h"
#include "exif_reader.h"
#include "icc_profile.h"
#include "file_stream.h"
#include "fixtures.h"
#include "temp_dir.h"

namespace shrinkwell {
namespace {

using namespace exiftest;

const std::string kAsciiCode("ASCII\0\0\0", 8);

// The scanner reads files through a read-ahead block: reads smaller than
// a block, as large, larger, and straddling its end, up to the source's end.
TEST(ReadAheadStream, GivesTheSourceBytesWhateverTheReadSizes) {
  std::string bytes(100, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 1);
  TMemoryStream source(bytes.data(), bytes.size());
  TReadAheadStream stream(source, 8);
  std::string got;
  for (const size_t count : {1, 2, 5, 8, 3, 9, 16, 7, 1, 40, 30}) {
    std::string piece(count, '\0');
    piece.resize(stream.Read(&piece[0], count));
    got += piece;
    EXPECT_EQ(stream.Position(), static_cast<int64_t>(got.size()));
  }
  EXPECT_EQ(got, bytes);
  char more = 0;
  EXPECT_EQ(stream.Read(&more, 1), 0u);
}

class ExifReader : public ::testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_NUMERIC, "C"); }

  std::string PathFor(const std::string& name) { return dir_ / name; }
  std::string Write(const std::string& bytes, const std::string& name = "photo.jpg") {
    const std::string path = PathFor(name);
    fixtures::WriteFile(path, bytes);
    return path;
  }
  // Scans a file; the result of the scan goes to scanResult.
  std::unique_ptr<TimgData> Scan(const std::string& bytes) {
    auto reader = std::make_unique<TimgData>(255);
    scanResult = reader->ScanJpegFile(Write(bytes));
    return reader;
  }
  std::unique_ptr<TimgData> ScanTiff(const TiffBuilder& tiff) {
    return Scan(JpegHead({Segment(0xE1, tiff.ExifPayload())}));
  }

  bool scanResult = false;

 private:
  testing_support::TempDir dir_;  // removed with everything in it after each test
};

// Tags of a reader in list order, by name.
std::string TagNames(const TImageInfo& info) {
  std::string names;
  for (const TTagEntry& tag : info.Tags()) names += tag.name + ";";
  return names;
}

TEST_F(ExifReader, OrientationCodesGiveTheirTextInBothByteOrders) {
  const struct { uint32_t code; const char* text; } cases[] = {
      {1, "Normal"}, {3, "Rotated 180\xB0"}, {6, "CounterClockwise 90\xB0"}, {8, "Clockwise 90\xB0"}, {2, ""}, {0, ""}};
  for (bool big : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(big ? "MM " : "II ") + std::to_string(c.code));
      TiffBuilder tiff(big);
      tiff.AddDirectory({Ascii(0x010F, std::string("Maker\0", 6)), Short(0x0112, {c.code})});
      auto reader = ScanTiff(tiff);
      EXPECT_TRUE(scanResult);
      ASSERT_TRUE(reader->HasExif());
      const TImageInfo& info = *reader->ImageInfo();
      for (const char* name : {"Orientation", "orientation", "ORIENTATION"}) EXPECT_EQ(info.TagIndexByName(name), 1);
      EXPECT_EQ(info.TagTextByName("orientation"), c.text);
      EXPECT_NE(info.infoText.find("\r\nOrientation = " + std::string(c.text)), std::string::npos);
      EXPECT_EQ(reader->errorText, "");
    }
  }
}

TEST_F(ExifReader, OrientationThroughAnEncodedPhoto) {
  const std::string photo = fixtures::EncodeJpeg(fixtures::SolidPicture(16, 16, 10, 20, 30));
  for (bool big : {false, true}) {
    auto reader = Scan(fixtures::InsertSegmentAfterSoi(photo, 0xE1, fixtures::ExifOrientationPayload(6, big)));
    EXPECT_TRUE(scanResult);
    ASSERT_TRUE(reader->HasExif());
    EXPECT_EQ(reader->ImageInfo()->TagTextByName("Orientation"), "CounterClockwise 90\xB0");
  }
  auto plain = Scan(photo);
  EXPECT_FALSE(plain->HasExif());
  EXPECT_EQ(plain->ImageInfo(), nullptr);
}

TEST_F(ExifReader, EmptyDirectoryAndMissingTag) {
  TiffBuilder tiff(true);
  tiff.AddDirectory({});
  auto reader = ScanTiff(tiff);
  ASSERT_TRUE(reader->HasExif());
  EXPECT_EQ(reader->ImageInfo()->TagCount(), 0);
  EXPECT_EQ(reader->ImageInfo()->infoText, "");
  EXPECT_EQ(reader->errorText, "");
  EXPECT_EQ(reader->ImageInfo()->TagIndexByName("Orientation"), -1);
  EXPECT_EQ(reader->ImageInfo()->TagTextByName("Orientation"), "");
}

TEST_F(ExifReader, SubDirectoriesAreWalkedAtOnceAndOnlyOnce) {
  for (bool big : {false, true}) {
    TiffBuilder tiff(big);
    const size_t first = tiff.AddDirectory({Ascii(0x010F, std::string("Canon\0", 6)), Long(0x8769, {0}),
                                            Short(0x0112, {3}), Long(0xA005, {8})});
    const size_t exif = tiff.AddDirectory({Rational(0x829D, {28, 10}), Long(0x8769, {8}), Rational(0x829A, {1, 125})});
    tiff.Patch32(TiffBuilder::ValueField(first, 1), static_cast<uint32_t>(exif));
    auto reader = ScanTiff(tiff);
    const TImageInfo& info = *reader->ImageInfo();
    // The entry that leads to a directory is stored after that directory's entries.
    EXPECT_EQ(TagNames(info), "Make;FNumber;ExifOffset;ExposureTime;ExifOffset;Orientation;InteroperabilityOffset;");
    EXPECT_EQ(info.TagTextByName("FNumber"), "F2.8");
    EXPECT_EQ(info.TagTextByName("ExposureTime"), "1/125 sec");
    EXPECT_EQ(info.cameraMake, "Canon");
    const size_t makeLine = info.infoText.find("Make = Canon");
    const size_t fnumberLine = info.infoText.find("FNumber = F2.8");
    const size_t orientationLine = info.infoText.find("Orientation = Rotated 180");
    EXPECT_LT(makeLine, fnumberLine);
    EXPECT_LT(fnumberLine, orientationLine);
    EXPECT_EQ(info.infoText.find("Orientation", orientationLine + 1), std::string::npos);
  }
}

TEST_F(ExifReader, UnknownTagsGiveALineButNoEntry) {
  TiffBuilder tiff(false);
  tiff.AddDirectory({Short(0x9999, {5}), Short(0x0112, {1})});
  auto reader = ScanTiff(tiff);
  EXPECT_NE(reader->ImageInfo()->infoText.find("\r\nUnknown = 5\r\n"), std::string::npos);
  EXPECT_EQ(TagNames(*reader->ImageInfo()), "Orientation;");
}

TEST_F(ExifReader, GpsDirectoryUsesTheGpsTable) {
  for (bool big : {false, true}) {
    TiffBuilder tiff(big);
    const size_t first = tiff.AddDirectory({Long(0x8825, {0})});
    const size_t gps = tiff.AddDirectory({Bytes(0x00, std::string("\x02\x02\x00\x00", 4)), Ascii(0x01, std::string("N\0", 2)),
                                          Rational(0x02, {50, 1, 3075, 100, 0, 1}), Rational(0x07, {14, 1, 5, 1, 9, 1})});
    tiff.Patch32(TiffBuilder::ValueField(first, 0), static_cast<uint32_t>(gps));
    auto reader = ScanTiff(tiff);
    const TImageInfo& info = *reader->ImageInfo();
    EXPECT_EQ(info.TagIndexByName("GPSVersionID"), -1);
    EXPECT_NE(info.infoText.find("\r\nGPSVersion ID = 2, 2, 0, 0"), std::string::npos);
    EXPECT_EQ(info.TagTextByName("GPSLatitudeRef"), "N");
    EXPECT_EQ(info.TagTextByName("GPSLatitude"), "50 Degrees 30 Minutes 45 Seconds");
    EXPECT_EQ(info.TagTextByName("GPSTimeStamp"), "14:5:9");
    EXPECT_EQ(info.TagIndexByName("InteroperabilityVersion"), -1);
  }
}

TEST_F(ExifReader, AsciiAndUndefinedValueTexts) {
  TiffBuilder tiff(true);
  const std::string longModel(45, 'M');
  const size_t first = tiff.AddDirectory({Ascii(0x010F, std::string("Canon\0\0\0", 8)), Ascii(0x0110, longModel + '\0'),
                                          Ascii(0x0132, std::string("2008:07:31 10:38:11\0", 20)), Long(0x8769, {0})});
  const size_t exif = tiff.AddDirectory({Undefined(0x9000, "0220"), Undefined(0xA000, std::string("01\0z", 4)),
                                         Ascii(0x9003, std::string("2001:02:03 04:05:06\0", 20)),
                                         Undefined(0x9286, kAsciiCode + "  Hello  \x01"),
                                         Undefined(0x9101, std::string("\x01\x02\x03\x00", 4)), Long(0xA002, {640}),
                                         Short(0xA003, {480}), Short(0x9209, {0x19})});
  tiff.Patch32(TiffBuilder::ValueField(first, 3), static_cast<uint32_t>(exif));
  auto reader = ScanTiff(tiff);
  const TImageInfo& info = *reader->ImageInfo();
  EXPECT_EQ(info.TagTextByName("Make"), "Canon..");
  EXPECT_EQ(info.cameraMake, "Canon..");
  EXPECT_EQ(info.cameraModel, longModel.substr(0, 40));
  EXPECT_EQ(info.TagTextByName("ExifVersion"), "\"0220\"");
  EXPECT_EQ(info.exifVersion, "0220");
  EXPECT_EQ(info.TagTextByName("FlashPixVersion"), "\"01\"");
  EXPECT_EQ(info.dateTime, "2001:02:03 04:05:06");  // DateTimeOriginal came later
  EXPECT_GT(info.dateTimeOriginalPos, info.dateTimePos);
  EXPECT_EQ(info.comment, "Hello");
  EXPECT_EQ(info.TagTextByName("UserComment"), "Hello");
  EXPECT_EQ(info.commentLength, static_cast<int>(kAsciiCode.size() + 10 - 8));
  EXPECT_EQ(info.TagTextByName("ComponentsConfiguration"), "YCbCr");
  EXPECT_EQ(info.TagTextByName("Flash"), "On, auto mode");
  EXPECT_EQ(info.flash, 0x19);
  EXPECT_EQ(info.width, 640);
  EXPECT_EQ(info.height, 480);
  const TTagEntry& stored = info.Tags()[info.TagIndexByName("ExifImageWidth")];
  EXPECT_EQ(stored.fieldType, kTypeLong);
  EXPECT_EQ(stored.size, 4);
  EXPECT_EQ(stored.valueOffset, info.widthPos);
  EXPECT_EQ(reader->GetContent().substr(static_cast<size_t>(stored.valueOffset - 1), 4), stored.rawValue);
}

TEST_F(ExifReader, HeaderChecks) {
  TiffBuilder tiff(false, 0);  // first offset 0: the walk starts right after the header
  tiff.AddDirectory({Short(0x0112, {8})});
  std::string payload = tiff.ExifPayload();
  payload[5] = 'X';  // the sixth header byte is not examined
  auto accepted = Scan(JpegHead({Segment(0xE1, payload)}));
  EXPECT_EQ(accepted->ImageInfo()->TagTextByName("Orientation"), "Clockwise 90\xB0");
  EXPECT_FALSE(accepted->bigEndian);

  std::string badMark = payload;
  badMark[3] = 'x';
  auto noMark = Scan(JpegHead({Segment(0xE1, badMark)}));
  EXPECT_TRUE(scanResult);
  EXPECT_TRUE(noMark->HasExif());
  EXPECT_EQ(noMark->errorText, "Incorrect Exif header");
  EXPECT_EQ(noMark->ImageInfo()->TagCount(), 0);

  std::string badOrder = payload;
  badOrder[6] = 'X';
  EXPECT_EQ(Scan(JpegHead({Segment(0xE1, badOrder)}))->errorText, "Invalid Exif alignment marker");
  EXPECT_EQ(Scan(JpegHead({Segment(0xE1, std::string("Exif\0\0MM", 8))}))->errorText, "Incorrect Exif header");
}

TEST_F(ExifReader, DirectoriesThatDoNotFitEndCleanly) {
  for (bool big : {false, true}) {
    // A count far beyond the data.
    TiffBuilder huge(big);
    huge.AddDirectory({Short(0x0112, {3})});
    std::string payload = huge.ExifPayload();
    payload[14] = payload[15] = '\x7F';
    auto reader = Scan(JpegHead({Segment(0xE1, payload)}));
    EXPECT_EQ(reader->errorText, "Illegally sized directory");
    EXPECT_EQ(reader->ImageInfo()->TagCount(), 0);

    // A count that passes the size check, with the directory at the end of the data.
    TiffBuilder tail(big);
    const size_t dir = tail.AddDirectory({Short(0x0112, {6})});
    std::string cut = tail.ExifPayload();
    cut[6 + dir + (big ? 1 : 0)] = 2;
    cut.resize(cut.size() - 4);  // no next-directory offset either
    auto tailReader = Scan(JpegHead({Segment(0xE1, cut)}));
    EXPECT_EQ(tailReader->errorText, "Illegally sized directory");
    EXPECT_EQ(tailReader->ImageInfo()->TagTextByName("Orientation"), "CounterClockwise 90\xB0");

    // A sub-directory outside the data, or too large, leaves the parent going on.
    TiffBuilder outside(big);
    outside.AddDirectory({Long(0x8769, {0x7FFFFFF0}), Long(0x8825, {0xFFFFFFF0}), Long(0xA005, {10}), Short(0x0112, {8})});
    auto outsideReader = ScanTiff(outside);
    EXPECT_TRUE(scanResult);
    EXPECT_EQ(outsideReader->ImageInfo()->TagTextByName("Orientation"), "Clockwise 90\xB0");
  }
}

TEST_F(ExifReader, HostileValuesStayInsideTheData) {
  TiffBuilder tiff(true);
  tiff.AddDirectory({RawEntry(0x010E, 2, 100, tiff.Number(0x7FFFFFF0, 4)),  // offset far beyond
                     RawEntry(0x0131, 2, 100, tiff.Number(0xFFFFFFF0, 4)),  // before the data
                     RawEntry(0x013B, 3, 0x7FFFFFFFu, tiff.Number(0, 4)),   // byte count wraps
                     RawEntry(0x013C, 99, 1, tiff.Number(0, 4)),            // no such type
                     RawEntry(0x0110, 2, 0xFFFF, tiff.Number(8, 4)),        // runs past the end
                     Short(0x0112, {3})});
  auto reader = ScanTiff(tiff);
  EXPECT_TRUE(scanResult);
  const TImageInfo& info = *reader->ImageInfo();
  EXPECT_EQ(info.TagTextByName("ImageDescription"), "");
  EXPECT_EQ(info.TagTextByName("Software"), "");
  EXPECT_EQ(info.Tags()[info.TagIndexByName("Artist")].rawValue, "");
  EXPECT_EQ(info.TagIndexByName("HostComputer"), -1);
  EXPECT_EQ(info.Tags()[info.TagIndexByName("Model")].rawValue.size(),
            reader->GetContent().size() - 8 - 9 + 1);
  EXPECT_EQ(info.TagTextByName("Orientation"), "Rotated 180\xB0");
}

TEST_F(ExifReader, LongChainOfDirectoriesDoesNotExhaustTheStack) {
  const int depth = 3000;
  TiffBuilder tiff(false);
  for (int i = 0; i < depth - 1; ++i) tiff.AddDirectory({Long(0x8769, {static_cast<uint32_t>(tiff.Size() + 18)})});
  tiff.AddDirectory({Short(0x0112, {6})});
  auto reader = ScanTiff(tiff);
  EXPECT_TRUE(scanResult);
  const TImageInfo& info = *reader->ImageInfo();
  ASSERT_EQ(info.TagCount(), depth);
  EXPECT_EQ(info.Tags()[0].name, "Orientation");  // the deepest directory comes first
  EXPECT_EQ(info.Tags()[depth - 1].valueOffset, 8 + 2 + 8 + 9);
  EXPECT_EQ(reader->errorText, "");
}

TEST_F(ExifReader, ConverterErrorsCostOnlyTheirOwnEntry) {
  // A Flash value stored as two numbers: its converter fails. The entry
  // shows the plain text, the error is recorded, and the Orientation after
  // it still counts, in a sub-directory and in the first one.
  TiffBuilder tiff(true);
  const size_t first = tiff.AddDirectory({Long(0x8769, {0}), Short(0x0112, {8})});
  const size_t exif = tiff.AddDirectory({Rational(0x829D, {4, 1}), Short(0x9209, {16, 0}), Rational(0x829A, {1, 8})});
  tiff.Patch32(TiffBuilder::ValueField(first, 0), static_cast<uint32_t>(exif));
  auto reader = ScanTiff(tiff);
  EXPECT_TRUE(scanResult);
  EXPECT_EQ(TagNames(*reader->ImageInfo()), "FNumber;Flash;ExposureTime;ExifOffset;Orientation;");
  EXPECT_EQ(reader->ImageInfo()->TagTextByName("Flash"), "16, 0");
  EXPECT_NE(reader->errorText, "");

  TiffBuilder flat(true);
  flat.AddDirectory({Short(0x9209, {16, 0}), Short(0x0112, {6}), Ascii(0x0131, std::string("late\0", 5))});
  auto flatReader = ScanTiff(flat);
  EXPECT_TRUE(scanResult);
  EXPECT_EQ(TagNames(*flatReader->ImageInfo()), "Flash;Orientation;Software;");
  EXPECT_EQ(flatReader->ImageInfo()->TagTextByName("Orientation"), "CounterClockwise 90\xB0");
  EXPECT_NE(flatReader->errorText, "");
}

TEST_F(ExifReader, OverlappingDirectoriesAreReadOnceAndTagsCapped) {
  // 40 directories share an array of 100 entries: each entry is read once.
  auto shared = Scan(JpegHead({Segment(0xE1, OverlappingDirectoriesExif(40, 100))}));
  EXPECT_EQ(shared->ImageInfo()->TagCount(), 100 + 40);
  // 450 of them over 5000 entries would be 2 million tags: the cap ends it.
  auto bomb = Scan(JpegHead({Segment(0xE1, OverlappingDirectoriesExif(450, 5000))}));
  EXPECT_EQ(bomb->ImageInfo()->TagCount(), TImageInfo::kMaxTags);
  EXPECT_EQ(bomb->errorText, "Too many tags");
  EXPECT_LT(std::count(bomb->ImageInfo()->infoText.begin(), bomb->ImageInfo()->infoText.end(), '\n'),
            TImageInfo::kMaxTags + 10);
}

TEST_F(ExifReader, TagCapAndEntryBudgetEachHoldAtTheirOwnEdge) {
  // The cap: exactly kMaxTags tags are stored; the one after is refused.
  constexpr int kMax = TImageInfo::kMaxTags;
  TimgData owner(255);
  TImageInfo info(&owner, 255);
  TTagEntry orientation;
  orientation.tag = 0x0112;
  for (int i = 0; i < kMax; ++i) info.AddTag(orientation);
  EXPECT_EQ(info.TagCount(), kMax);
  EXPECT_EQ(owner.errorText, "");
  info.AddTag(orientation);
  EXPECT_EQ(info.TagCount(), kMax);
  EXPECT_EQ(owner.errorText, "Too many tags");

  // The budget, apart from the cap: entries of tag 0 are read but stored
  // as no tag. An Orientation after them is read as entry kMaxTags, and
  // not as entry kMaxTags + 1.
  for (const int before : {kMax - 1, kMax}) {
    TiffBuilder tiff(true);
    std::vector<Entry> entries(static_cast<size_t>(before), Short(0, {0}));
    entries.push_back(Short(0x0112, {6}));
    tiff.AddDirectory(entries);
    auto reader = ScanTiff(tiff);
    const bool within = before < kMax;
    EXPECT_EQ(reader->ImageInfo()->TagIndexByName("Orientation") >= 0, within) << before;
    EXPECT_EQ(reader->errorText == "Too many tags", !within) << before;
  }
}

TEST_F(ExifReader, UserCommentWithoutPaddingKeepsItsLastCharacter) {
  TiffBuilder tiff(false);
  tiff.AddDirectory({Undefined(0x9286, kAsciiCode + "Hi")});
  EXPECT_EQ(ScanTiff(tiff)->ImageInfo()->comment, "Hi");
}

TEST_F(ExifReader, MakerNoteIsKeptAndTheWalkGoesOn) {
  TiffBuilder tiff(false);
  const std::string note("Nikon\0\x02\x10\0\0MM\0*\0\0\0\x08", 18);
  tiff.AddDirectory({Undefined(0x927C, note), Short(0x0112, {3})});
  auto reader = ScanTiff(tiff);
  const TImageInfo& info = *reader->ImageInfo();
  EXPECT_EQ(info.makerNote, note);
  EXPECT_FALSE(info.makerNoteDecoded);
  EXPECT_EQ(reader->GetContent().substr(static_cast<size_t>(info.makerNotePos - 1), note.size()), note);
  EXPECT_EQ(info.TagTextByName("MakerNote"), "\"Nikon\"");
  EXPECT_EQ(info.TagTextByName("Orientation"), "Rotated 180\xB0");
}

TEST_F(ExifReader, ScannerFindsSectionsUpToTheScan) {
  const std::string exif = Segment(0xE1, fixtures::ExifOrientationPayload(3));
  const std::string app0 = Segment(0xE0, "JFIF");
  const std::string app2 = Segment(0xE2, "ICC");
  const std::string com = Segment(0xFE, "note");

  EXPECT_FALSE(Scan("GIF89a")->HasExif());
  EXPECT_FALSE(scanResult);

  auto fill = Scan(std::string("\xFF\xD8\xFF\xFF\xFF", 5) + exif.substr(1) + Segment(0xDA, "x"));
  EXPECT_TRUE(fill->HasExif());

  auto fifthUnseen = Scan(JpegHead({app0, app0, app2, app2, exif}));
  EXPECT_FALSE(scanResult);
  EXPECT_FALSE(fifthUnseen->HasExif());
  EXPECT_EQ(fifthUnseen->SectionCount(), 5);

  auto fifthUsed = Scan(JpegHead({app0, com, app2, app2, exif}));
  EXPECT_TRUE(scanResult);
  EXPECT_TRUE(fifthUsed->HasExif());
  EXPECT_EQ(fifthUsed->ImageInfo()->TagTextByName("Orientation"), "Rotated 180\xB0");

  auto sixth = Scan(JpegHead({app0, com, app2, app2, app2, exif}));
  EXPECT_FALSE(sixth->HasExif());
  EXPECT_EQ(sixth->SectionCount(), 6);
  EXPECT_EQ(sixth->Section(6).marker, 0xDA);

  auto second = Scan(JpegHead({exif, Segment(0xE1, "http://ns.adobe.com/xap/1.0/"), com}));
  EXPECT_EQ(second->SectionCount(), 3);
  EXPECT_EQ(second->Section(2).marker, 0xFE);
  EXPECT_EQ(second->ExifSection(), &second->Section(1));

  std::vector<std::string> many{exif};
  for (int i = 0; i < 25; ++i) many.push_back(app2);
  auto full = Scan(JpegHead(many));
  EXPECT_TRUE(scanResult);
  EXPECT_EQ(full->SectionCount(), 20);
  EXPECT_EQ(full->Section(20).marker, 0xE2);

  auto last = Scan(JpegHead({app0, Segment(0xFE, "one"), Segment(0xED, "first"), Segment(0xE0, "two"),
                             Segment(0xFE, "two"), Segment(0xED, "second")}) + com);
  EXPECT_TRUE(scanResult);
  EXPECT_EQ(last->CommentSection()->data.substr(2), "two");
  EXPECT_EQ(last->HeaderSection()->data.substr(2), "two");
  EXPECT_EQ(last->IptcSection()->data.substr(2), "first");
  EXPECT_EQ(last->IptcSection()->length, 7);
  EXPECT_FALSE(last->HasExif());
}

TEST_F(ExifReader, ScannerEndsAtBadLengthsAndAtTheEndOfTheFile) {
  const std::string exif = Segment(0xE1, fixtures::ExifOrientationPayload(6));
  Scan(std::string("\xFF\xD8", 2) + exif + std::string("\xFF\xE2\x00\x01", 4) + Segment(0xDA, "x"));
  EXPECT_FALSE(scanResult);

  auto cut = Scan(std::string("\xFF\xD8", 2) + exif + std::string("\xFF\xE2\x10\x00short", 9));
  EXPECT_TRUE(scanResult);
  EXPECT_EQ(cut->Section(2).data.size(), 7u);

  auto endless = Scan(std::string("\xFF\xD8", 2) + exif + std::string(100, '\xFF'));
  EXPECT_TRUE(scanResult);
  EXPECT_EQ(endless->ImageInfo()->TagTextByName("Orientation"), "CounterClockwise 90\xB0");

  auto cutExif = Scan(std::string("\xFF\xD8", 2) + exif.substr(0, exif.size() - 10));
  EXPECT_TRUE(cutExif->HasExif());
  EXPECT_EQ(cutExif->errorText, "Illegally sized directory");

  TimgData reader(255);
  EXPECT_THROW(reader.ScanJpegFile(PathFor("missing.jpg")), EFOpenError);
}

TEST_F(ExifReader, ReadMetadataFileDispatchesByExtension) {
  TiffBuilder tiff(true);
  tiff.AddDirectory({Short(0x0112, {8}), Rational(0x920A, {6, 1})});
  const std::string jpeg = JpegHead({Segment(0xE1, tiff.ExifPayload())});

  TimgData reader(255);
  EXPECT_TRUE(reader.ReadMetadataFile(Write(jpeg, "photo.JPG")));
  EXPECT_EQ(reader.errorText, "<none>");
  EXPECT_EQ(reader.fileSize, static_cast<int32_t>(jpeg.size()));
  EXPECT_GT(reader.fileDateTime, 40000.0);
  EXPECT_EQ(reader.ImageInfo()->TagTextByName("Orientation"), "Clockwise 90\xB0");

  EXPECT_FALSE(reader.ReadMetadataFile(Write(jpeg, "photo.png")));
  EXPECT_EQ(reader.errorText, "Not an EXIF file");
  EXPECT_FALSE(reader.HasExif());

  EXPECT_FALSE(reader.ReadMetadataFile(Write("not a jpeg", "bad.jpeg")));
  EXPECT_EQ(reader.errorText, "Not an EXIF file");

  EXPECT_FALSE(reader.ReadMetadataFile(PathFor("missing.jpg")));
  EXPECT_EQ(reader.errorText, "");
  EXPECT_EQ(reader.fileName, "");

  EXPECT_TRUE(reader.ReadMetadataFile(Write(tiff.Data(), "raw.Tif")));
  EXPECT_EQ(reader.errorText, "<none>");
  EXPECT_FALSE(reader.tiffSource);
  ASSERT_TRUE(reader.HasExif());
  EXPECT_TRUE(reader.ImageInfo()->tiffSource);
  EXPECT_EQ(reader.ImageInfo()->TagTextByName("Orientation"), "Clockwise 90\xB0");
  EXPECT_EQ(reader.ImageInfo()->TagTextByName("FocalLength"), " 6.00 mm");

  EXPECT_FALSE(reader.ReadMetadataFile(Write("GIF89a", "odd.nef")));
  EXPECT_EQ(reader.errorText, "Not an EXIF file");
}

// Real photos, when the corpus lies beside the repository.
std::string CorpusFile(const std::string& name) {
  const std::string path = std::string(SHRINKWELL_CORPUS_DIR) + "/" + name;
  return ::access(path.c_str(), R_OK) == 0 ? path : std::string();
}

TEST_F(ExifReader, CorpusOrientationPhotos) {
  if (CorpusFile("orientation/Landscape_1.jpg").empty()) GTEST_SKIP() << "corpus not present";
  const char* texts[9] = {"", "Normal", "", "Rotated 180\xB0", "", "", "CounterClockwise 90\xB0", "", "Clockwise 90\xB0"};
  for (const char* shape : {"Landscape", "Portrait"}) {
    for (int code = 0; code <= 8; ++code) {
      const std::string path = CorpusFile(std::string("orientation/") + shape + "_" + std::to_string(code) + ".jpg");
      SCOPED_TRACE(path);
      TimgData reader(255);
      reader.ScanJpegFile(path);
      ASSERT_TRUE(reader.HasExif());
      EXPECT_GE(reader.ImageInfo()->TagIndexByName("Orientation"), 0);
      EXPECT_EQ(reader.ImageInfo()->TagTextByName("Orientation"), texts[code]);
    }
  }
}

TEST_F(ExifReader, CorpusCameraPhotos) {
  if (CorpusFile("cameras/Canon_40D.jpg").empty()) GTEST_SKIP() << "corpus not present";
  const struct { const char* file; const char* make; const char* model; const char* orientation; } photos[] = {
      {"cameras/Canon_40D.jpg", "Canon", "Canon EOS 40D", "Normal"},
      {"cameras/exif-org_nikon-e950.jpg", "NIKON", "E950", "Normal"},
      {"cameras/hdr_canon_hdr_YES.jpg", "Canon", "Canon PowerShot SX60 HS", "CounterClockwise 90\xB0"},
      {"cameras/exif-org_kodak-dc240.jpg", "EASTMAN KODAK COMPANY", "KODAK DC240 ZOOM DIGITAL CAMERA", "Normal"},
  };
  for (const auto& photo : photos) {
    SCOPED_TRACE(photo.file);
    TimgData reader(255);
    EXPECT_TRUE(reader.ReadMetadataFile(CorpusFile(photo.file)));
    ASSERT_TRUE(reader.HasExif());
    const TImageInfo& info = *reader.ImageInfo();
    EXPECT_EQ(TrimText(info.cameraMake), photo.make);
    EXPECT_EQ(TrimText(info.TagTextByName("Model")), photo.model);
    EXPECT_EQ(info.TagTextByName("Orientation"), photo.orientation);
  }
  TimgData canon(255);
  canon.ReadMetadataFile(CorpusFile("cameras/Canon_40D.jpg"));
  EXPECT_EQ(canon.ImageInfo()->TagTextByName("DateTime"), "2008:07:31 10:38:11");
  EXPECT_EQ(canon.ImageInfo()->TagTextByName("ExposureTime"), "1/160 sec");
  EXPECT_EQ(canon.ImageInfo()->TagTextByName("FNumber"), "F7.1");
}

}  // namespace
}  // namespace shrinkwell

TEST(IccProfile, ColourSpaceAndDescriptionOfEitherVersion) {
  const std::string rgb = fixtures::IccProfile("RGB ", "Adobe RGB (1998)");
  // Version 4: the description in a multiLocalizedUnicodeType, UTF-16 with
  // a character beyond ASCII ("Display P3 \u00e9").
  std::string v4 = rgb.substr(0, 144);
  const std::string text("\0D\0i\0s\0p\0l\0a\0y\0 \0P\0\x33\0 \0\xE9", 24);
  v4 += std::string("mluc\0\0\0\0\0\0\0\x01\0\0\0\x0C" "enUS\0\0\0\x18\0\0\0\x1C", 28) + text;
  v4[128 + 15] = static_cast<char>(28 + text.size());
  std::string pointsOutside = rgb;
  pointsOutside[128 + 10] = 0x7F;  // the tag's offset beyond the profile's end
  const struct {
    std::string profile, colourSpace, description;
  } cases[] = {
      {rgb, "RGB", "Adobe RGB (1998)"},
      {fixtures::IccProfile("GRAY", "Gray 2.2"), "GRAY", "Gray 2.2"},
      {v4, "RGB", "Display P3 \xC3\xA9"},
      {pointsOutside, "RGB", ""},
      {rgb.substr(0, 100), "", ""},
  };
  for (const auto& c : cases) {
    const shrinkwell::TIccFacts facts = shrinkwell::IccFactsOf(c.profile);
    EXPECT_EQ(facts.colourSpace, c.colourSpace) << c.description;
    EXPECT_EQ(facts.description, c.description) << c.colourSpace;
  }
}

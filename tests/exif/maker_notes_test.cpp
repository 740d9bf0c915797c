// Makers' notes built byte by byte, the maker dispatch, the maker-note walk
// and the makers' converters; real photos when the corpus is present.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <functional>
#include <memory>
#include <string>

#include "errors.h"
#include "exif_builder.h"
#include "exif_reader.h"
#include "fixtures.h"
#include "temp_dir.h"
#include "maker_notes.h"

namespace shrinkwell {
namespace {

using namespace exiftest;

struct Camera {
  std::string make;
  std::string model;
  std::string exifVersion;  // empty: no ExifVersion entry
};

// Makes the maker note, given the note's offset in the TIFF data.
using NoteMaker = std::function<std::string(uint32_t noteOffset)>;

uint32_t ReadNumber(const std::string& data, size_t at, bool big) {
  uint32_t value = 0;
  for (int k = 0; k < 4; ++k)
    value = (value << 8) | static_cast<unsigned char>(data[at + static_cast<size_t>(big ? k : 3 - k)]);
  return value;
}

// A first directory with Make, Model, ExifVersion, the MakerNote and then
// the entries given. The note's size must not depend on its offset.
TiffBuilder WithMakerNote(bool big, const Camera& camera, const NoteMaker& makeNote,
                          const std::vector<Entry>& after = {}) {
  auto build = [&](const std::string& note, uint32_t* noteOffset) {
    TiffBuilder tiff(big);
    std::vector<Entry> entries;
    if (!camera.make.empty()) entries.push_back(Ascii(0x010F, camera.make + '\0'));
    if (!camera.model.empty()) entries.push_back(Ascii(0x0110, camera.model + '\0'));
    if (!camera.exifVersion.empty()) entries.push_back(Undefined(0x9000, camera.exifVersion));
    entries.push_back(Undefined(0x927C, note));
    const int noteIndex = static_cast<int>(entries.size()) - 1;
    entries.insert(entries.end(), after.begin(), after.end());
    const size_t dir = tiff.AddDirectory(entries);
    if (noteOffset) *noteOffset = ReadNumber(tiff.Data(), TiffBuilder::ValueField(dir, noteIndex), big);
    return tiff;
  };
  uint32_t offset = 0;
  build(makeNote(0), &offset);
  return build(makeNote(offset), nullptr);
}

std::string Number16(uint32_t v, bool big) { return TiffBuilder(big).Number(v, 2); }
std::string Number32(uint32_t v, bool big) { return TiffBuilder(big).Number(v, 4); }

class MakerNotes : public ::testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_NUMERIC, "C"); }

  std::string Write(const std::string& bytes, const std::string& name) { return dir_.Write(name, bytes); }
  testing_support::TempDir dir_;
  std::unique_ptr<TimgData> Scan(const TiffBuilder& tiff) {
    auto reader = std::make_unique<TimgData>(255);
    reader->ScanJpegFile(Write(JpegHead({Segment(0xE1, tiff.ExifPayload())}), "photo.jpg"));
    return reader;
  }
  std::unique_ptr<TimgData> ReadTiff(const TiffBuilder& tiff) {
    auto reader = std::make_unique<TimgData>(255);
    reader->ReadMetadataFile(Write(tiff.Data(), "photo.tif"));
    return reader;
  }
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Stored maker-note entries by tag number.
int StoredWithTag(const TImageInfo& info, uint16_t tag) {
  int count = 0;
  for (const TTagEntry& entry : info.Tags()) count += entry.origin == 1 && entry.tag == tag;
  return count;
}

std::vector<uint32_t> ShotInfoWithFlashBias() {
  std::vector<uint32_t> values(20, 0);
  values[7] = 9;  // no white-balance text for this code
  values[9] = 5;
  values[15] = 65504;
  return values;
}

TEST_F(MakerNotes, CanonSettingsShotInfoAndCustomFunctionsInBothByteOrders) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    const auto note = [big](uint32_t noteOffset) {
      return DirectoryBlock({Short(0x0000, {1}), Short(0x0001, {0, 1, 0, 3, 2}), Short(0x0004, ShotInfoWithFlashBias()),
                             Ascii(0x0006, std::string("IMG:PowerShot S40 JPEG\0", 23)),
                             Ascii(0x0007, std::string("Firmware Version 1.10\0", 22)), Short(0x000F, {10, 257, 1792, 3584}),
                             Short(0x0099, {7})},
                            big, noteOffset);
    };
    auto reader = Scan(WithMakerNote(big, {"Canon", "Canon PowerShot S40", "0220"}, note, {Short(0x0112, {3})}));
    const TImageInfo& info = *reader->ImageInfo();
    EXPECT_TRUE(info.makerNoteDecoded);
    EXPECT_EQ(reader->errorText, "");

    // The settings come first, then the tag's own line with the plain value.
    EXPECT_TRUE(Contains(info.makerText,
                         "\r\nMacro mode = Macro\r\nSelf Timer =  0\r\nCompression Rate = Basic\r\nFlash Mode = On"
                         "\r\nExposureInfo1 = 0, 1, 0, 3, 2"))
        << info.makerText;
    EXPECT_EQ(info.TagTextByName("Macro mode"), "Macro");
    EXPECT_EQ(info.TagTextByName("self timer"), " 0");
    EXPECT_EQ(info.TagTextByName("Compression Rate"), "Basic");
    EXPECT_EQ(info.TagTextByName("Flash Mode"), "On");
    EXPECT_EQ(info.TagIndexByName("Drive Mode"), -1);
    EXPECT_EQ(info.TagTextByName("ExposureInfo1"), "0, 1, 0, 3, 2");

    EXPECT_EQ(info.TagTextByName("Flash bias"), "-1 EV");
    EXPECT_EQ(info.TagTextByName("Sequence Number"), " 5");
    EXPECT_EQ(info.TagIndexByName("White balance"), -1);

    EXPECT_EQ(info.TagTextByName("Noise Reduction"), " On");
    EXPECT_EQ(info.TagTextByName("AEB Sequence"), "0");
    EXPECT_EQ(info.TagTextByName("Superimposed Display"), " On");
    EXPECT_TRUE(Contains(info.makerText, "\r\nNoise Reduction =  On\r\nAEB Sequence = 0\r\nSuperimposed Display =  On"
                                         "\r\nCustomFunctions = 10, 257, 1792, 3584"));

    EXPECT_EQ(info.TagTextByName("ImageType"), "\"IMG:PowerShot S40 JPEG\"");
    EXPECT_EQ(info.TagTextByName("FirmwareVersion"), "\"Firmware Version 1.10\"");
    const TTagEntry firmware = info.TagByName("FirmwareVersion");
    EXPECT_EQ(firmware.origin, 1);
    EXPECT_EQ(firmware.fieldType, kTypeAscii);
    EXPECT_EQ(firmware.rawValue, std::string("Firmware Version 1.10\0", 22));

    // Unknown tags get a line and no entry; Skip rows get neither.
    EXPECT_TRUE(Contains(info.makerText, "\r\nUnknown = 7"));
    EXPECT_EQ(StoredWithTag(info, 0x0099), 0);
    EXPECT_FALSE(Contains(UpperText(info.makerText), "SKIP"));

    // The standard walk goes on in the EXIF data after the note.
    EXPECT_EQ(info.TagTextByName("Orientation"), "Rotated 180\xB0");
    EXPECT_EQ(info.GetContent(), reader->GetContent());
    EXPECT_EQ(currentImageInfo, nullptr);
  }
}

std::string NikonNewNote(bool big) {
  const std::string header = std::string("Nikon\0\x02\x10\0\0", 10) + (big ? std::string("MM\0*", 4) : std::string("II*\0", 4)) +
                             Number32(8, big);
  return header + DirectoryBlock({Short(0x0002, {0, 200}), Rational(0x0084, {180, 10, 550, 10, 35, 10, 56, 10}),
                                  Ascii(0x008D, std::string("MODE2\0", 6))},
                                 big, 8);
}

TEST_F(MakerNotes, NikonLayoutsByExifVersionModelAndSource) {
  const bool big = true;
  const NoteMaker newNote = [](uint32_t) { return NikonNewNote(big); };
  const NoteMaker oldNote = [](uint32_t at) {
    return std::string("Nikon\0\x01\0", 8) + DirectoryBlock({Short(0x0003, {6}), Short(0x000B, {1})}, big, at + 8);
  };
  const NoteMaker plainNote = [](uint32_t at) {
    return DirectoryBlock({Short(0x0002, {0, 100}), Rational(0x0084, {240, 10, 1200, 10, 28, 10, 48, 10})}, big, at);
  };
  const std::string lens = "\r\nLens information = 18.0-55.0(mm)  F3.5-F5.6";

  {
    SCOPED_TRACE("EXIF version above 0210: the new layout at byte 18");
    auto reader = Scan(WithMakerNote(big, {"Nikon Corporation", "NIKON D70", "0220"}, newNote));
    const TImageInfo& info = *reader->ImageInfo();
    EXPECT_TRUE(info.makerNoteDecoded);
    EXPECT_TRUE(Contains(info.makerText, lens)) << info.makerText;
    EXPECT_TRUE(Contains(info.makerText, "\r\nColor Mode = Mode 2 (Adobe RGB)"));
    EXPECT_EQ(info.TagTextByName("ISOSpeed"), "0, 200");
    EXPECT_EQ(info.TagTextByName("LensInformation"), "18.0-55.0(mm)  F3.5-F5.6");
  }
  {
    SCOPED_TRACE("EXIF version 0210 and a note beginning with Nikon: the old table at byte 8");
    auto reader = Scan(WithMakerNote(big, {"nikon", "E950", "0210"}, oldNote));
    const TImageInfo& info = *reader->ImageInfo();
    EXPECT_TRUE(info.makerNoteDecoded);
    EXPECT_TRUE(Contains(info.makerText, "\r\nQuality = SXGA Fine10:2 Mpixel Basic")) << info.makerText;
    EXPECT_TRUE(Contains(info.makerText, "\r\nConverter = Used"));
  }
  {
    SCOPED_TRACE("EXIF version 0210 and any other note: the table at byte 0");
    auto reader = Scan(WithMakerNote(big, {"NIKON", "E775", "0210"}, plainNote));
    const TImageInfo& info = *reader->ImageInfo();
    EXPECT_TRUE(Contains(info.makerText, "\r\nISO Speed = 0, 100")) << info.makerText;
    EXPECT_TRUE(Contains(info.makerText, "\r\nLens information = 24.0-120.0(mm)  F2.8-F4.8"));
  }
  {
    SCOPED_TRACE("a note beginning with NIKON in capitals is not the old layout");
    const NoteMaker shouting = [](uint32_t at) {
      return std::string("NIKON\0\x01\0", 8) + DirectoryBlock({Short(0x0003, {6})}, big, at + 8);
    };
    auto reader = Scan(WithMakerNote(big, {"NIKON", "E775", "0210"}, shouting));
    EXPECT_FALSE(Contains(reader->ImageInfo()->makerText, "SXGA"));
  }
  {
    SCOPED_TRACE("no EXIF version, model letter D, TIFF source: the new layout");
    auto reader = ReadTiff(WithMakerNote(big, {"NIKON CORPORATION", "NIKON D1X", ""}, newNote));
    ASSERT_NE(reader->ImageInfo(), nullptr);
    EXPECT_TRUE(reader->ImageInfo()->tiffSource);
    EXPECT_TRUE(Contains(reader->ImageInfo()->makerText, lens)) << reader->ImageInfo()->makerText;
  }
  {
    SCOPED_TRACE("the same photo as a JPEG file takes the old layout");
    auto reader = Scan(WithMakerNote(big, {"NIKON CORPORATION", "NIKON D1X", ""}, newNote));
    EXPECT_TRUE(reader->ImageInfo()->makerNoteDecoded);
    EXPECT_FALSE(Contains(reader->ImageInfo()->makerText, "Lens information"));
  }
}

TEST_F(MakerNotes, OlympusMapsAndValuesBeyondTheNote) {
  const std::string description("HELLO WORLD\0", 12);
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    // Camera ID points past the note, at the description that follows it.
    const auto note = [&](uint32_t at) {
      const auto make = [&](uint32_t beyond) {
        return std::string("OLYMP\0\x01\0", 8) +
               DirectoryBlock({Short(0x0201, {2}), Short(0x0202, {1}), Short(0x0203, {4}),
                               RawEntry(0x0209, kTypeAscii, 12, Number32(beyond, big)), Ascii(0x0207, std::string("SR951\0", 6))},
                              big, at + 8);
      };
      return make(at + static_cast<uint32_t>(make(0).size()));
    };
    auto reader = Scan(WithMakerNote(big, {"OLYMPUS OPTICAL CO.,LTD", "C2000Z", "0210"}, note, {Ascii(0x010E, description)}));
    const TImageInfo& info = *reader->ImageInfo();
    EXPECT_TRUE(info.makerNoteDecoded);
    EXPECT_EQ(info.TagTextByName("JpegQual"), "HQ");
    EXPECT_EQ(info.TagTextByName("Macro"), "Macro;");
    EXPECT_EQ(info.TagTextByName("Firmware"), "\"SR951\"");
    EXPECT_EQ(info.TagTextByName("CameraID"), "\"HELLO WORLD\"");
    EXPECT_TRUE(Contains(info.makerText, "\r\nCamera ID = \"HELLO WORLD\"")) << info.makerText;
    EXPECT_EQ(StoredWithTag(info, 0x0203), 0);
  }
  EXPECT_EQ(DecodeMapValue(OlympusTable[2].valueMap, "0"), "");
  EXPECT_EQ(DecodeMapValue(NikonOldTable[1].valueMap, "10"), "");
}

TEST_F(MakerNotes, CasioBothLayoutsFujiSeikoSanyoMinolta) {
  const bool big = false;
  {
    auto reader = Scan(WithMakerNote(big, {"CASIO COMPUTER CO.,LTD", "EX-Z3", "0220"}, [](uint32_t at) {
      return std::string("QVC\0\0\0", 6) +
             DirectoryBlock({Short(0x0008, {2}), Short(0x3001, {1}), Ascii(0x3006, std::string("New York\0", 9))}, big, at + 6);
    }));
    const TImageInfo& info = *reader->ImageInfo();
    EXPECT_TRUE(Contains(info.makerText, "\r\nQuality = Super Fine\r\nSelf Timer = On\r\nTime Zone = \"New York\""))
        << info.makerText;
  }
  {
    auto reader = Scan(WithMakerNote(big, {"CASIO", "QV-3000EX", "0210"}, [](uint32_t at) {
      return DirectoryBlock({Short(0x0002, {3}), Long(0x000A, {65537}), Short(0x0008, {0})}, big, at);
    }));
    const TImageInfo& info = *reader->ImageInfo();
    EXPECT_TRUE(Contains(info.makerText, "\r\nQuality = Fine\r\nDigitalZoom = 2X Digital Zoom")) << info.makerText;
    EXPECT_FALSE(Contains(info.makerText, "Skip"));
  }
  {
    auto reader = Scan(WithMakerNote(big, {"SEIKO EPSON CORP.", "PhotoPC 3000Z", "0210"}, [](uint32_t at) {
      return std::string("EPSON\0\x01\0", 8) +
             DirectoryBlock({Ascii(0x0209, std::string("PhotoPC\0", 8)), Short(0x0F00, {1})}, big, at + 8);
    }));
    const TImageInfo& info = *reader->ImageInfo();
    EXPECT_EQ(info.TagTextByName("CameraID"), "\"PhotoPC\"");
    EXPECT_EQ(StoredWithTag(info, 0x0F00), 0);  // the lower-case skip row
  }
  {
    auto reader = Scan(WithMakerNote(big, {"SANYO Electric Co.,Ltd.", "SR6", "0210"}, [](uint32_t at) {
      return std::string("SANYO\0\x01\0", 8) + DirectoryBlock({Short(0x0201, {262})}, big, at + 8);
    }));
    EXPECT_EQ(reader->ImageInfo()->TagTextByName("JpegQuality"), "262");
  }
  {
    auto reader = Scan(WithMakerNote(big, {"Minolta Co., Ltd.", "DiMAGE 7i", "0220"}, [](uint32_t at) {
      return DirectoryBlock({Undefined(0x0000, "MLT0"), Undefined(0x0E00, std::string("PrintIM\0", 8))}, big, at);
    }));
    const TImageInfo& info = *reader->ImageInfo();
    EXPECT_TRUE(info.makerNoteDecoded);
    // Tag 0 gets its line but is never stored.
    EXPECT_TRUE(Contains(info.makerText, "\r\nModelID = \"MLT0\"\r\nPIMdata = \"PrintIM.\""));
    EXPECT_EQ(info.TagIndexByName("ModelID"), -1);
    EXPECT_EQ(info.TagByName("PIMdata").rawValue, std::string("PrintIM\0", 8));
  }
  for (const char* make : {"Pentax", ""}) {
    SCOPED_TRACE(make);
    auto reader = Scan(WithMakerNote(big, {make, "K10D", "0220"}, [](uint32_t at) {
      return DirectoryBlock({Short(0x0002, {3})}, big, at);
    }));
    EXPECT_FALSE(reader->ImageInfo()->makerNoteDecoded);
    EXPECT_EQ(reader->ImageInfo()->makerText, "");
  }
}

TEST_F(MakerNotes, FujiNoteIsLittleEndianInsideBigEndianExif) {
  const auto note = [](uint32_t) {
    return std::string("FUJIFILM", 8) + Number32(12, false) +
           DirectoryBlock({Undefined(0x0000, "0130"), Ascii(0x1000, std::string("NORMAL \0", 8)), Short(0x1001, {3}),
                           Short(0x1031, {256}), Short(0x1032, {1})},
                          false, 12);
  };
  auto reader = Scan(WithMakerNote(true, {"FUJIFILM", "FinePix2400Zoom", "0210"}, note, {Short(0x0112, {6})}));
  const TImageInfo& info = *reader->ImageInfo();
  EXPECT_TRUE(info.makerNoteDecoded);
  EXPECT_TRUE(Contains(info.makerText, "\r\nVersion = \"0130\"\r\nQuality = \"NORMAL \"\r\nSharpness = Normal"
                                       "\r\nPictureMode = Aperture prior AE"))
      << info.makerText;
  EXPECT_TRUE(info.bigEndian);
  EXPECT_EQ(info.TagTextByName("Orientation"), "CounterClockwise 90\xB0");
}

// The walk called directly on an EXIF reader whose data is known.
class MakerWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    std::setlocale(LC_NUMERIC, "C");
    reader.SetContent(exifData);
    info.SetContent(exifData);
  }
  const std::string exifData = std::string(32, 'x') + "FALLBACK";
  TimgData reader{255};
  TImageInfo info{&reader, 255};
};

std::string ThrowingConverter(const std::string& text) {
  if (text == "2") throw EInvalidOperation("kaputt");
  return "<" + text + ">";
}

const TTagEntry kTestTable[] = {
    {0, 0, 0, 0x0001, "One", "One", "", "", "", 0, "", 0, ThrowingConverter},
    {0, 0, 0, 0x0002, "Two", "Two", "1:first,2:second", "", "", 0, "", 0, nullptr},
    {0, 0, 0, 0x0003, "Three", "sKiP", "", "", "", 0, "", 0, nullptr},
    {0, 0, 0, 0x0004, "Four", "Four", "", "", "", 0, "", 0, nullptr},
};

TEST_F(MakerWalk, ErrorsEndTheWalkWithTheirMessageAndTheContentComesBack) {
  const std::string note = DirectoryBlock({Short(0x0001, {1}), Short(0x0002, {2}), Short(0x0001, {2}), Short(0x0004, {4})}, false, 0);
  info.WalkMakerDirectory(note, kTestTable, 3, 0, 0, 0);
  EXPECT_EQ(reader.errorText, "Error Detected = kaputt");
  EXPECT_EQ(info.makerText, "\r\nOne = <1>\r\nTwo = second");
  EXPECT_EQ(info.TagTextByName("One"), "<1>");
  EXPECT_EQ(info.TagIndexByName("Four"), -1);
  EXPECT_EQ(info.GetContent(), exifData);
}

TEST_F(MakerWalk, EntriesOutsideTheNoteAndOddFieldsStayInBounds) {
  const bool big = false;
  // Five entries promised, three present and cut in the third.
  std::string note = DirectoryBlock({Short(0x0002, {1}), RawEntry(0x0004, 99, 3, "abcd")}, big, 0);
  note = Number16(5, big) + note.substr(2, 24) + note.substr(2, 6);
  info.WalkMakerDirectory(note, kTestTable, 3, 0, 0, 0);
  EXPECT_EQ(reader.errorText, "");
  EXPECT_EQ(info.makerText, "\r\nTwo = first\r\nFour = 0");
  EXPECT_EQ(info.TagByName("Four").rawValue, "");

  for (const std::string& tiny : {std::string(), std::string("\x01", 1), std::string("\x01\x00", 2)}) {
    info.makerText.clear();
    info.WalkMakerDirectory(tiny, kTestTable, 3, 0, 0, 0);
    EXPECT_EQ(info.makerText, "");
  }
  info.WalkMakerDirectory(note, kTestTable, 3, 400, 0, 0);  // a directory past the end
  EXPECT_EQ(info.makerText, "");

  // Offsets before the note, far beyond it and into the EXIF data.
  info.makerText.clear();
  const std::string far = DirectoryBlock({RawEntry(0x0004, kTypeAscii, 8, Number32(0xFFFFFFF0, big)),
                                          RawEntry(0x0004, kTypeAscii, 8, Number32(0x7FFFFFF0, big)),
                                          RawEntry(0x0004, kTypeAscii, 8, Number32(100, big)),
                                          RawEntry(0x0004, kTypeLong, 0x40000001, Number32(1, big))},
                                         big, 0);
  info.WalkMakerDirectory(far, kTestTable, 3, 0, 0, -67);  // offset 100 is position 33
  EXPECT_EQ(info.makerText, "\r\nFour = \"\"\r\nFour = \"\"\r\nFour = \"FALLBACK\"\r\nFour = 1");
}

TEST_F(MakerWalk, AValueEndingOnTheLastByteOfTheNoteIsReadFromTheNote) {
  const std::string note = DirectoryBlock({Ascii(0x0004, std::string("INSIDE!\0", 8))}, false, 0);
  ASSERT_EQ(note.substr(note.size() - 8), std::string("INSIDE!\0", 8));
  info.WalkMakerDirectory(note, kTestTable, 3, 0, 1, 0);  // offsets count from the note's first byte
  EXPECT_EQ(info.TagTextByName("Four"), "\"INSIDE!\"");
}

TEST_F(MakerWalk, BuildModeTwoLeavesNothingAndTextTagsAreFoundByName) {
  TImageInfo textOnly(&reader, 2);
  textOnly.SetContent(exifData);
  const std::string note = DirectoryBlock({Short(0x0002, {1})}, false, 0);
  textOnly.WalkMakerDirectory(note, kTestTable, 3, 0, 0, 0);
  textOnly.AddTextTag("Lens", "50 mm", kTypeAscii);
  EXPECT_EQ(textOnly.makerText, "");
  EXPECT_EQ(textOnly.TagCount(), 0);

  info.AddTextTag("Lens", "50 mm", kTypeAscii);
  EXPECT_EQ(info.TagTextByName("LENS"), "50 mm");
  const TTagEntry lens = info.TagByName("Lens");
  EXPECT_EQ(lens.origin, 1);
  EXPECT_EQ(lens.size, 5);
  EXPECT_EQ(lens.description, "Lens");
}

TEST(MakerConverters, NikonTexts) {
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(NikonLensText("180/10, 550/10, 35/10, 56/10"), "18.0-55.0(mm)  F3.5-F5.6");
  EXPECT_EQ(NikonColorModeText("\"MODE1\""), "Mode1 (sRGB)");
  EXPECT_EQ(NikonColorModeText("\"MODE3\""), "Mode 3 (sRGB): higher saturation");
  EXPECT_EQ(NikonColorModeText("\"MODE2a\""), "Mode 2 (Adobe RGB)");
  EXPECT_EQ(NikonColorModeText("\"COLOR\""), "COLOR");
}

TEST(MakerConverters, CanonCustomFunctionsEdges) {
  TimgData reader(255);
  TImageInfo info(&reader, 255);
  currentImageInfo = &info;
  keepPlainValue = false;
  // AEB setting 1 has no text of its own; 2 gives " -"; function 16, a
  // negative number and a non-number give nothing; the last element counts.
  EXPECT_EQ(CanonCustomFunctionsText("5, 1793, x, -257, 4096, 1794, 3585"),
            "\r\nAEB Sequence =  -\r\nSuperimposed Display =  Off");
  EXPECT_TRUE(keepPlainValue);
  EXPECT_EQ(info.TagTextByName("Superimposed Display"), " Off");
  EXPECT_EQ(CanonCameraSettingsText(""), "");
  EXPECT_EQ(CanonShotInfoText("1, 2"), "");
  EXPECT_EQ(PlainSettingLine("1, 2", "Second", 1), "\r\nSecond =  2");
  EXPECT_EQ(MappedSettingLine("1, 2", "Second", 1, "2: "), "");
  currentImageInfo = nullptr;
}

// Real photos, when the corpus lies beside the repository.
std::string CorpusFile(const std::string& name) {
  const std::string path = std::string(SHRINKWELL_CORPUS_DIR) + "/" + name;
  return ::access(path.c_str(), R_OK) == 0 ? path : std::string();
}

TEST(MakerCorpus, ValuesReadAsTheCamerasWroteThem) {
  if (CorpusFile("makernotes/Canon.jpg").empty()) GTEST_SKIP() << "corpus not present";
  std::setlocale(LC_NUMERIC, "C");
  const struct { const char* file; const char* name; const char* text; } facts[] = {
      {"makernotes/Canon.jpg", "ImageType", "\"CRW:EOS DIGITAL REBEL CMOS RAW\""},
      {"makernotes/Canon.jpg", "FirmwareVersion", "\"Firmware Version 1.1.1\""},
      {"makernotes/Canon.jpg", "OwnerName", "\"Phil Harvey\""},
      {"makernotes/NikonD70.jpg", "LensInformation", "18.0-70.0(mm)  F3.5-F4.5"},
      {"makernotes/Olympus.jpg", "Firmware", "\"SR951\""},
      {"makernotes/Olympus.jpg", "JpegQual", "SQ"},
      {"makernotes/FujiFilm.jpg", "Sharpness", "Normal"},
      {"makernotes/FujiFilm.jpg", "FlashMode", "Red-eye reduction"},
      {"makernotes/Casio.jpg", "RecordingMode", "Single Shutter"},
  };
  for (const auto& fact : facts) {
    SCOPED_TRACE(std::string(fact.file) + " " + fact.name);
    TimgData reader(255);
    reader.ScanJpegFile(CorpusFile(fact.file));
    ASSERT_NE(reader.ImageInfo(), nullptr);
    EXPECT_TRUE(reader.ImageInfo()->makerNoteDecoded);
    EXPECT_EQ(reader.ImageInfo()->TagTextByName(fact.name), fact.text);
  }
}

}  // namespace
}  // namespace shrinkwell

// IPTC datasets: parsing of APP13 sections built byte by byte, the comma
// lists, the operations by name, and reading through the section scanner.
#include "iptc.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "errors.h"
#include "exif_builder.h"
#include "exif_reader.h"
#include "fixtures.h"
#include "temp_dir.h"

namespace shrinkwell {
namespace {

using namespace exiftest;

// An APP13 section's data as the scanner keeps it: length bytes, then body.
std::string SectionData(const std::string& datasets, const std::string& signature = "Photoshop 3.0") {
  return Segment(0xED, PhotoshopIptcPayload(datasets, signature)).substr(2);
}

std::unique_ptr<TIPTCdata> Parsed(const std::string& sectionData) {
  auto iptc = std::make_unique<TIPTCdata>(nullptr);
  iptc->ParseIptc(sectionData);
  return iptc;
}

std::string Names(const TIPTCdata& iptc) {
  std::string names;
  for (int i = 0; i < iptc.DatasetCount(); ++i) names += iptc.DatasetAt(i).name + ";";
  return names;
}

TEST(IptcParse, ManyKeywordsMergeAsOneByOneMergingWould) {
  // Lists merged in one pass must give what merging each dataset into the
  // written list gives: case-blind duplicates, blanks, quotes, empty items.
  std::mt19937 random(7);
  const std::vector<std::string> words = {"Sea", "sea", "New York", "\"q\"", "", " ", "a,b", "x", "X ", "\t"};
  for (int round = 0; round < 200; ++round) {
    std::string datasets, expected;
    const int count = 1 + static_cast<int>(random() % 6);
    for (int k = 0; k < count; ++k) {
      const std::string value = words[random() % words.size()] + (random() % 3 ? "" : "," + words[random() % words.size()]);
      datasets += IptcDataset(2, 25, value);
      expected = MergeCommaLists(expected, value);
    }
    EXPECT_EQ(Parsed(SectionData(datasets))->DatasetTextByName("Keywords", "<none>"), expected) << round;
  }
  const auto many = Parsed(Segment(0xED, IptcKeywordsPayload(7222)).substr(2));
  EXPECT_EQ(ReadCommaText(many->DatasetTextByName("Keywords", "")).size(), 7222u);
}

TEST(IptcParse, ListDatasetsMergeAndOthersKeepTheirBytesAndOrder) {
  const char raw[] = "Line one\r\n  \xB0 two\0end  ";
  const std::string caption(raw, sizeof raw - 1);
  TIPTCdata iptc(nullptr);
  iptc.ParseIptc(SectionData(IptcDataset(2, 25, "Sun") + IptcDataset(2, 120, caption) + IptcDataset(2, 25, "sea") +
                             IptcDataset(2, 80, "A") + IptcDataset(2, 25, "SEA") + IptcDataset(2, 80, "B")));
  EXPECT_EQ(Names(iptc), "Keywords;ImageCaption;ByLine;ByLine;");
  EXPECT_EQ(iptc.DatasetTextByName("Keywords", "-"), "Sun,sea");
  EXPECT_EQ(iptc.DatasetTextByName("ImageCaption", "-"), caption);
  const TTagEntry byLine = iptc.DatasetAt(3);
  EXPECT_EQ(byLine.valueText, "B");
  EXPECT_EQ(byLine.description, "ByLine");
  EXPECT_EQ(byLine.iptcRecord, 2);
  EXPECT_EQ(byLine.size, 32);
}

TEST(IptcParse, UnknownDatasetsGetCustomNamesAndOtherRecordsAreDropped) {
  const std::string two("\x00\x04", 2);
  const auto parsed = Parsed(SectionData(IptcDataset(2, 0, two) + IptcDataset(2, 240, "odd") +
                                      IptcDataset(1, 90, "\x1B%G") + IptcDataset(3, 5, "x") +
                                      IptcDataset(8, 10, two) + IptcDataset(8, 25, "kept")));
  TIPTCdata& iptc = *parsed;
  ASSERT_EQ(Names(iptc), "Custom_240;Subfile;Custom_25;");
  const TTagEntry custom = iptc.DatasetAt(0);
  EXPECT_EQ(custom.description, "Custom_240");
  EXPECT_EQ(custom.tag, 240);
  EXPECT_EQ(custom.size, 64);
  EXPECT_EQ(iptc.DatasetAt(1).iptcRecord, 8);
  // A record-8 dataset that shares a list number is stored, not lost.
  EXPECT_EQ(iptc.DatasetTextByName("Custom_25", "-"), "kept");

  EXPECT_EQ(iptc.StoreValue("Custom_240", "new"), -1);
  EXPECT_EQ(iptc.DatasetTextByName("custom_240", "-"), "odd");
  EXPECT_EQ(iptc.SetDatasetValue("Custom_240", "new"), 0);
  EXPECT_EQ(iptc.DatasetTextByName("custom_240", "-"), "new");
}

TEST(IptcParse, FindsTheFirstDatasetPastTheResourceHeader) {
  // 0x1C bytes that are not followed by record 2 or 8 are no dataset marks.
  const std::string junk("\x1C\x01\x1C\x1C", 4);
  EXPECT_EQ(Parsed(SectionData(junk + IptcDataset(2, 90, "Rome")))->DatasetTextByName("City", "-"), "Rome");
  EXPECT_FALSE(Parsed(SectionData(junk + "no datasets"))->HasIptc());
  // Without the signature the bytes are not read as datasets.
  EXPECT_FALSE(Parsed(SectionData(IptcDataset(2, 90, "Rome"), "Photoshop 2.5"))->HasIptc());
}

TEST(IptcParse, DatasetCutByTheEndOfTheSection) {
  const std::string section = SectionData(IptcDataset(2, 90, "Rome") + IptcDataset(2, 120, "short", 400));
  const auto iptc = Parsed(section);
  EXPECT_EQ(iptc->DatasetTextByName("City", "-"), "Rome");
  EXPECT_EQ(iptc->DatasetTextByName("ImageCaption", "-"), "short");

  // Data cut to nothing and a header cut short.
  EXPECT_EQ(Parsed(SectionData(IptcDataset(2, 90, "", 9)))->DatasetTextByName("City", "-"), "");
  EXPECT_EQ(Names(*Parsed(SectionData(IptcDataset(2, 90, "Rome") + std::string("\x1C\x02\x5A", 3)))), "City;");

  int64_t pos = 2;
  const TTagEntry entry = ReadDataset(std::string("\x1C\x02\x5A\xFF\xFF" "abc", 8), pos);
  EXPECT_EQ(entry.valueText, "abc");
  EXPECT_EQ(pos, 6 + 0xFFFF + 1);
}

TEST(IptcCommaLists, ReadingAndWritingFollowTheListRules) {
  EXPECT_EQ(MergeCommaLists("a, b", "B, c"), "a,b,c");
  EXPECT_EQ(MergeCommaLists("", "New York"), "New,York");
  EXPECT_EQ(MergeCommaLists("a,A", "\tc\n"), "a,A,c");
  EXPECT_EQ(MergeCommaLists("", "\"New York\", \"say \"\"hi\"\"\",\"x,y\""), "\"New York\",\"say \"\"hi\"\"\",\"x,y\"");
  EXPECT_EQ(MergeCommaLists("x", "\" x \""), "x");
  EXPECT_EQ(MergeCommaLists("Stra\xDF" "e", "STRA\xDF" "E"), "Stra\xDF" "e");
  EXPECT_EQ(ReadCommaText("a,,b ,"), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_EQ(ReadCommaText("\"open, quote"), (std::vector<std::string>{"open, quote"}));
  EXPECT_EQ(ReadCommaText("\"ab\"cd"), (std::vector<std::string>{"ab", "cd"}));
  EXPECT_EQ(WriteCommaText({"a\x01", "", "b"}), "\"a\x01\",,b");
}

TEST(IptcCommaLists, ThirtyThousandItemsMergeWithoutLosingOrRepeatingOne) {
  // One keyword dataset of 64 KB holds some 30000 items (what that costs is
  // measured by the benchmark's keyword lines).
  std::string lower, upper;
  for (int i = 0; i < 30000; ++i) {
    const std::string sep = i > 0 ? "," : "";
    lower += sep + "k" + std::to_string(i);
    upper += sep + "K" + std::to_string(i);
  }
  EXPECT_EQ(MergeCommaLists("", lower), lower);
  EXPECT_EQ(MergeCommaLists(lower, upper + ",new"), lower + ",new");
}

TEST(IptcOperations, ByName) {
  TIPTCdata iptc(nullptr);
  EXPECT_EQ(iptc.SetDatasetValue("caption", "x"), -1);
  EXPECT_FALSE(iptc.HasIptc());
  EXPECT_EQ(iptc.SetDatasetValue("imagecaption", "x"), 0);
  const TTagEntry caption = iptc.DatasetAt(0);
  EXPECT_EQ(caption.name, "ImageCaption");
  EXPECT_EQ(caption.tag, 120);
  EXPECT_EQ(caption.size, 2000);
  EXPECT_EQ(iptc.SetDatasetValue("ImageCaption", ""), 0);
  EXPECT_EQ(iptc.DatasetTextByName("ImageCaption", "-"), "x");
  EXPECT_EQ(iptc.DatasetTextByName("City", "none"), "none");

  EXPECT_EQ(iptc.StoreValue("keywords", "b a"), 1);
  EXPECT_EQ(iptc.StoreValue("Keywords", "A,c"), 1);
  EXPECT_EQ(iptc.DatasetIndexByName("KEYWORDS"), 1);
  EXPECT_EQ(iptc.DatasetTextByName("Keywords", "-"), "b,a,c");
  EXPECT_EQ(iptc.StoreValue("City", "Rome"), 2);
  EXPECT_EQ(iptc.StoreValue("City", "Oslo, Bergen"), 2);
  EXPECT_EQ(iptc.DatasetTextByName("City", "-"), "Oslo, Bergen");

  // The record-version row is never stored, and says so.
  EXPECT_EQ(iptc.SetDatasetValue("SKIP", "4"), -1);
  TTagEntry zero;
  zero.name = "Zero";
  EXPECT_EQ(iptc.AddDataset(zero), -1);
  EXPECT_EQ(iptc.DatasetCount(), 3);

  iptc.RemoveDataset("nothing");
  iptc.RemoveDataset("keywords");
  EXPECT_EQ(Names(iptc), "ImageCaption;City;");
  EXPECT_THROW(iptc.DatasetAt(2), EInvalidOperation);
  EXPECT_THROW(iptc.DatasetAt(-1), EInvalidOperation);
  iptc.SetDatasetCount(5);
  EXPECT_EQ(iptc.DatasetCount(), 2);
  iptc.SetDatasetCount(1);
  iptc.RemoveDataset("ImageCaption");
  EXPECT_FALSE(iptc.HasIptc());
}

class IptcFiles : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes, const std::string& name) { return dir_.Write(name, bytes); }
  testing_support::TempDir dir_;
  std::string PhotoWith(const std::string& city, const std::string& name) {
    return Write(JpegHead({Segment(0xE0, "JFIF"), Segment(0xED, PhotoshopIptcPayload(IptcDataset(2, 90, city))),
                           Segment(0xED, PhotoshopIptcPayload(IptcDataset(2, 90, "Second")))}),
                 name);
  }
};

TEST_F(IptcFiles, ScannerCreatesTheReaderForTheFirstApp13SectionOnly) {
  TimgData reader(255);
  reader.ScanJpegFile(PhotoWith("Rome", "a.jpg"));
  TIPTCdata* iptc = reader.IptcInfo();
  ASSERT_NE(iptc, nullptr);
  EXPECT_EQ(iptc->Owner(), &reader);
  EXPECT_FALSE(iptc->HasIptc());  // read on request only
  iptc->ParseIptc(reader.IptcSection()->data);
  EXPECT_EQ(iptc->DatasetTextByName("City", "-"), "Rome");

  TimgData plain(255);
  plain.ScanJpegFile(Write(JpegHead({Segment(0xFE, "note")}), "b.jpg"));
  EXPECT_EQ(plain.IptcInfo(), nullptr);
}

TEST_F(IptcFiles, ReadIptcFromFileOnTheOwnersOwnReaderKeepsItAlive) {
  TimgData reader(255);
  reader.ReadMetadataFile(PhotoWith("Rome", "a.jpg"));
  TIPTCdata* own = reader.IptcInfo();
  ASSERT_NE(own, nullptr);
  EXPECT_TRUE(own->ReadIptcFromFile(PhotoWith("Oslo", "b.jpg")));
  EXPECT_EQ(reader.IptcInfo(), own);
  EXPECT_EQ(own->DatasetTextByName("City", "-"), "Oslo");

  // A file without IPTC data leaves the object in place, empty.
  EXPECT_FALSE(own->ReadIptcFromFile(Write(JpegHead({Segment(0xFE, "note")}), "c.jpg")));
  EXPECT_EQ(reader.IptcInfo(), own);
  EXPECT_FALSE(own->HasIptc());
  EXPECT_FALSE(own->ReadIptcFromFile(dir_ / "missing.jpg"));

  // A separate object reads through the owner as well.
  TIPTCdata other(&reader);
  EXPECT_TRUE(other.ReadIptcFromFile(PhotoWith("Bergen", "d.jpg")));
  EXPECT_EQ(other.DatasetTextByName("City", "-"), "Bergen");
  EXPECT_NE(reader.IptcInfo(), &other);
}

TEST(IptcCorpus, PhotosListTheirDatasets) {
  const std::string iptcPhoto = std::string(SHRINKWELL_CORPUS_DIR) + "/makernotes/IPTC.jpg";
  if (::access(iptcPhoto.c_str(), R_OK) != 0) GTEST_SKIP() << "corpus not present";
  TimgData reader(255);
  TIPTCdata iptc(&reader);
  ASSERT_TRUE(iptc.ReadIptcFromFile(iptcPhoto));
  EXPECT_EQ(iptc.DatasetTextByName("ImageCaption", ""), "A witty caption");
  EXPECT_EQ(iptc.DatasetTextByName("ByLine", ""), "Phil Harvey");
  EXPECT_EQ(iptc.DatasetTextByName("City", ""), "Kingston");
  EXPECT_EQ(iptc.DatasetTextByName("Keywords", ""), "ExifTool,Test,IPTC");
  EXPECT_EQ(iptc.DatasetTextByName("SuppCategory", ""), "amazing,image,utilities");

  ASSERT_TRUE(iptc.ReadIptcFromFile(std::string(SHRINKWELL_CORPUS_DIR) + "/formats/iptc.jpg"));
  EXPECT_EQ(iptc.DatasetTextByName("Keywords", ""), "HvK,2006,summer,July,holiday,Hungary,Budapest");
  EXPECT_EQ(iptc.DatasetTextByName("LocationName", ""), "Hungary");
}

}  // namespace
}  // namespace shrinkwell

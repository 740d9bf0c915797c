#include <gtest/gtest.h>

#include <algorithm>

#include "codec_test_support.h"
#include "fixtures.h"
#include "jpeg.h"

using namespace shrinkwell;
using codec_test::CountMarker;
using codec_test::PixelAt;
using codec_test::ScratchFile;
using codec_test::SegmentsBeforeScan;

namespace {

// A device-format raster painted pixel by pixel, as the orientation step makes it.
std::unique_ptr<TBitmap> PaintedRaster(int width, int height, TColor colour) {
  auto raster = std::make_unique<TBitmap>();
  raster->ChangeHeight(height);
  raster->ChangeWidth(width);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) raster->DrawingSurface().PaintPixel(x, y, colour);
  return raster;
}

std::string Written(TJPEGImage& image, const std::string& name) {
  ScratchFile file(name);
  image.WriteToFile(file.Path());
  return fixtures::ReadFile(file.Path());
}

const std::string kJfifHead("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20);

}  // namespace

TEST(JpegEncode, OutputIsPlainJfifWithQuality88Tables) {
  auto raster = std::make_unique<TBitmap>();
  TJPEGImage source;
  source.TakeCompressed(fixtures::EncodeJpeg(fixtures::PhotoLikePicture(48, 40, 5), {75}));
  raster->CopyPicture(source);
  TJPEGImage image;
  image.CopyPicture(*raster);
  EXPECT_EQ(image.CompressedBytes(), nullptr);
  image.SetEncodeQuality(88);
  const std::string bytes = Written(image, "q88.jpg");
  ASSERT_GE(bytes.size(), 20u);
  EXPECT_EQ(bytes.substr(0, 20), kJfifHead);

  int tables = 0;
  bool sequentialFrame = false;
  for (const auto& segment : SegmentsBeforeScan(bytes)) {
    EXPECT_NE(segment.marker, 0xE1) << "metadata written";
    EXPECT_NE(segment.marker, 0xC2);
    if (segment.marker == 0xC0) sequentialFrame = true;
    if (segment.marker != 0xDB) continue;
    for (size_t at = 0; at + 65 <= segment.payload.size(); at += 65, ++tables) {
      ASSERT_EQ(segment.payload[at] >> 4, 0) << "8-bit table";
      const auto* values = reinterpret_cast<const uint8_t*>(segment.payload.data() + at + 1);
      if (tables == 0) {
        EXPECT_EQ(values[0], 4);
      }
      EXPECT_LE(*std::max_element(values, values + 64), 29);
      EXPECT_GE(*std::min_element(values, values + 64), 2);
    }
  }
  EXPECT_EQ(tables, 2);
  EXPECT_TRUE(sequentialFrame);
  EXPECT_EQ(CountMarker(bytes, 0xDA), 1);
}

TEST(JpegEncode, FrameFollowsTheSourcePhoto) {
  const auto picture = fixtures::PhotoLikePicture(40, 32, 9);
  for (bool progressive : {true, false}) {
    TJPEGImage image;
    image.TakeCompressed(fixtures::EncodeJpeg(picture, {90, progressive}));
    TBitmap raster;
    raster.CopyPicture(image);
    raster.SetRasterFormat(rf24Bit);
    image.CopyPicture(raster);
    image.SetEncodeQuality(88);
    const std::string bytes = Written(image, "frame.jpg");
    EXPECT_EQ(CountMarker(bytes, 0xC2), progressive ? 1 : 0);
    EXPECT_EQ(CountMarker(bytes, 0xC0), progressive ? 0 : 1);
    EXPECT_EQ(CountMarker(bytes, 0xDA), progressive ? 10 : 1);
  }
}

TEST(JpegEncode, RoundTripKeepsRedAndBlueApart) {
  auto raster = PaintedRaster(16, 16, RGBColor(200, 100, 50));
  TJPEGImage image;
  image.CopyPicture(*raster);
  ScratchFile file("roundtrip.jpg");
  image.WriteToFile(file.Path());
  TJPEGImage back;
  back.ReadFromFile(file.Path());
  const auto p = PixelAt(back.DecodedRaster(), 8, 8);
  EXPECT_NEAR(p.red, 200, 4);
  EXPECT_NEAR(p.green, 100, 4);
  EXPECT_NEAR(p.blue, 50, 4);
}

TEST(JpegEncode, WritingTwiceEncodesOnceWithIdenticalBytes) {
  auto raster = PaintedRaster(24, 24, RGBColor(10, 120, 240));
  TJPEGImage image;
  image.CopyPicture(*raster);
  const std::string first = Written(image, "first.jpg");
  const std::string* held = image.CompressedBytes();
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(Written(image, "second.jpg"), first);
  EXPECT_EQ(image.CompressedBytes(), held);
  EXPECT_EQ(*held, first);
}

TEST(JpegEncode, OneAndTwoRowPicturesEncode) {
  for (int height : {1, 2}) {
    auto raster = PaintedRaster(9, height, RGBColor(30, 60, 90));
    TJPEGImage image;
    image.CopyPicture(*raster);
    TJPEGImage back;
    back.TakeCompressed(Written(image, "rows.jpg"));
    ASSERT_EQ(back.PixelHeight(), height);
    EXPECT_NEAR(PixelAt(back.DecodedRaster(), 4, height - 1).blue, 90, 4);
  }
}

TEST(JpegEncode, EmptyRasterGivesAnEmptyFile) {
  for (auto size : {std::make_pair(0, 5), std::make_pair(5, 0)}) {
    TBitmap raster;
    raster.ChangeWidth(size.first);
    raster.ChangeHeight(size.second);
    TJPEGImage image;
    image.CopyPicture(raster);
    EXPECT_EQ(Written(image, "empty.jpg"), "");
  }
  TJPEGImage nothing;
  EXPECT_EQ(Written(nothing, "nothing.jpg"), "");
}

TEST(JpegEncode, EightBitRastersAreConvertedForTheEncoder) {
  TJPEGImage gray;
  gray.TakeCompressed(fixtures::EncodeJpeg(fixtures::SolidPicture(16, 16, 100, 100, 100), {100, false, true}));
  TJPEGImage image;
  image.CopyPicture(gray.DecodedRaster());
  TJPEGImage back;
  back.TakeCompressed(Written(image, "gray.jpg"));
  const auto p = PixelAt(back.DecodedRaster(), 3, 3);
  EXPECT_NEAR(p.red, 100, 2);
  EXPECT_NEAR(p.blue, 100, 2);
  // The 8-bit raster given to the image is left as it was.
  EXPECT_EQ(gray.DecodedRaster().RasterFormat(), rf8Bit);
}

TEST(JpegEncode, GrayModeWritesOneComponent) {
  auto raster = PaintedRaster(8, 8, RGBColor(90, 90, 90));
  TJPEGImage image;
  image.SetGrayMode(true);
  image.CopyPicture(*raster);
  TJPEGImage back;
  back.TakeCompressed(Written(image, "graymode.jpg"));
  EXPECT_TRUE(back.Grayscale());
}

TEST(JpegEncode, WriteFailuresAreReported) {
  auto raster = PaintedRaster(8, 8, RGBColor(1, 2, 3));
  TJPEGImage image;
  image.CopyPicture(*raster);
  try {
    image.WriteToFile("/dev/full");
    FAIL() << "a full disk went unnoticed";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message(), "Stream-Schreibfehler");
  }
  try {
    image.WriteToFile(::testing::TempDir() + "no/such/folder/out.jpg");
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_NE(e.Message().find("kann nicht erstellt werden."), std::string::npos);
  }
}

TEST(JpegEncode, ObserverStopsEncodingQuietly) {
  auto raster = PaintedRaster(8, 8, RGBColor(1, 2, 3));
  TJPEGImage image;
  image.CopyPicture(*raster);
  image.SetProgressObserver([](TGraphic&, TProgressStage stage, int, bool, const TRect&, const std::string&) {
    if (stage == TProgressStage::Starting) throw EAbort("stop");
  });
  image.EncodeRaster();
  EXPECT_EQ(image.CompressedBytes(), nullptr);
}

TEST(JpegEncode, RowByRowGivesTheRastersBytes) {
  // Baseline, progressive and gray, odd sizes included: fed one row at a
  // time, the encoder writes what EncodeRaster writes for the same rows.
  struct Case {
    int width, height;
    bool progressive, gray;
  };
  for (const Case c : {Case{1, 1, false, false}, {37, 23, false, false}, {37, 23, true, false},
                       {101, 9, true, false}, {16, 33, false, true}, {9, 17, true, true}}) {
    TJPEGImage source;
    source.TakeCompressed(fixtures::EncodeJpeg(fixtures::PhotoLikePicture(c.width, c.height, 11), {80}));
    TBitmap raster;
    raster.CopyPicture(source);
    raster.SetRasterFormat(rf24Bit);
    TJPEGImage whole;
    whole.CopyPicture(raster);
    whole.SetEncodeQuality(88);
    whole.SetWriteProgressive(c.progressive);
    whole.SetGrayMode(c.gray);
    whole.EnsureEncoded();

    TJPEGRowEncoder rows;
    rows.Start(c.width, c.height, whole.Options());
    for (int y = 0; y < c.height; ++y) rows.TakeRow(raster.RowAddress(y));
    EXPECT_EQ(rows.Finish(), *whole.CompressedBytes()) << c.width << "x" << c.height << " progressive " << c.progressive;
  }
}

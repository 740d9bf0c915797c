#include <gtest/gtest.h>

#include <cstring>

#include "codec_test_support.h"
#include "graphics.h"

using namespace shrinkwell;
using codec_test::PixelAt;

namespace {

const char kRowIndexError[] = "Bereichsüberschreitung bei Zeilenindex";

void ExpectRowIndexError(TBitmap& raster, int32_t y) {
  try {
    raster.RowAddress(y);
    FAIL() << "row " << y << " was handed out";
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_EQ(e.Message(), kRowIndexError);
  }
}

std::unique_ptr<TBitmap> Raster(int32_t width, int32_t height, TRasterFormat format) {
  auto raster = std::make_unique<TBitmap>();
  raster->SetRasterFormat(format);
  raster->ChangeWidth(width);
  raster->ChangeHeight(height);
  return raster;
}

}  // namespace

TEST(Bitmap, NewRasterIsEmptyDeviceFormat) {
  TBitmap raster;
  EXPECT_EQ(raster.PixelWidth(), 0);
  EXPECT_EQ(raster.PixelHeight(), 0);
  EXPECT_EQ(raster.RasterFormat(), rfDevice);
  ExpectRowIndexError(raster, 0);
}

TEST(Bitmap, SizingMakesPixelsOnlyWhenBothSidesAreSetAndFillsWhite) {
  TBitmap raster;
  raster.ChangeHeight(0);
  EXPECT_EQ(raster.PixelHeight(), 0);
  raster.ChangeHeight(3);
  EXPECT_EQ(raster.PixelHeight(), 3);
  EXPECT_TRUE(raster.Empty());
  ExpectRowIndexError(raster, 0);
  raster.ChangeWidth(5);
  ASSERT_FALSE(raster.Empty());
  for (int y = 0; y < 3; ++y) {
    const uint8_t* row = raster.RowAddress(y);
    for (int i = 0; i < 15; ++i) ASSERT_EQ(row[i], 0xFF) << "row " << y << " byte " << i;
  }
}

TEST(Bitmap, RowsAreBottomUpAndPaddedToFourBytes) {
  struct Case {
    int32_t width;
    TRasterFormat format;
    ptrdiff_t stride;
  };
  for (const Case& c : {Case{5, rf24Bit, 16}, Case{4, rf24Bit, 12}, Case{1, rf24Bit, 4}, Case{5, rf8Bit, 8},
                        Case{4, rf8Bit, 4}, Case{3, rfDevice, 12}}) {
    auto raster = Raster(c.width, 2, c.format);
    EXPECT_EQ(static_cast<ptrdiff_t>(raster->RowStride()), c.stride) << c.width << " wide, format " << c.format;
    EXPECT_EQ(raster->RowAddress(1) - raster->RowAddress(0), -c.stride);
    EXPECT_EQ(raster->RowStep(), -c.stride);
    ExpectRowIndexError(*raster, 2);
    ExpectRowIndexError(*raster, -1);
  }
  auto single = Raster(7, 1, rf24Bit);
  EXPECT_NE(single->RowAddress(0), nullptr);
  ExpectRowIndexError(*single, 1);
}

TEST(Bitmap, ResizingKeepsTheTopLeftCornerAndFillsTheRestWhite) {
  auto raster = Raster(3, 3, rf24Bit);
  TCanvas& canvas = raster->DrawingSurface();
  canvas.PaintPixel(0, 0, RGBColor(1, 2, 3));
  canvas.PaintPixel(2, 2, RGBColor(4, 5, 6));
  raster->ChangeWidth(4);
  raster->ChangeHeight(5);
  EXPECT_EQ(PixelAt(*raster, 0, 0).red, 1);
  EXPECT_EQ(PixelAt(*raster, 0, 0).blue, 3);
  EXPECT_EQ(PixelAt(*raster, 2, 2).green, 5);
  EXPECT_EQ(PixelAt(*raster, 3, 4).red, 255);
  EXPECT_EQ(PixelAt(*raster, 1, 1).green, 255);
  raster->ChangeHeight(1);
  EXPECT_EQ(PixelAt(*raster, 0, 0).red, 1);
  raster->ChangeWidth(0);
  EXPECT_TRUE(raster->Empty());
  EXPECT_EQ(raster->PixelHeight(), 1);
}

TEST(Bitmap, NegativeSizeIsRefusedAndKeepsTheRaster) {
  auto raster = Raster(2, 2, rf24Bit);
  EXPECT_THROW(raster->ChangeWidth(-4), EOutOfResources);
  EXPECT_EQ(raster->PixelWidth(), 2);
  EXPECT_FALSE(raster->Empty());
}

TEST(Bitmap, PaintingOutsideDoesNothingAndDeviceColoursSurviveConversion) {
  auto raster = Raster(2, 2, rfDevice);
  TCanvas& canvas = raster->DrawingSurface();
  EXPECT_EQ(&canvas, &raster->DrawingSurface());
  canvas.PaintPixel(-1, 0, RGBColor(0, 0, 0));
  canvas.PaintPixel(2, 0, RGBColor(0, 0, 0));
  canvas.PaintPixel(0, 2, RGBColor(0, 0, 0));
  canvas.PaintPixel(1, 1, RGBColor(17, 34, 51));
  raster->SetRasterFormat(rf24Bit);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 2; ++x) {
      const auto p = PixelAt(*raster, x, y);
      if (x == 1 && y == 1) {
        EXPECT_EQ(p.blue, 51);
        EXPECT_EQ(p.green, 34);
        EXPECT_EQ(p.red, 17);
      } else {
        EXPECT_EQ(p.blue + p.green + p.red, 3 * 255) << x << "," << y;
      }
    }
  }
  // A negative colour names a display element: the window background.
  canvas.PaintPixel(0, 0, static_cast<TColor>(0x80000005u));
  EXPECT_EQ(PixelAt(*raster, 0, 0).red, 255);
}

TEST(Bitmap, CopiesAreIndependentPictures) {
  auto a = Raster(4, 3, rf24Bit);
  a->DrawingSurface().PaintPixel(1, 1, RGBColor(10, 20, 30));
  TBitmap b;
  b.CopyPicture(a.get());
  EXPECT_TRUE(b.SharesStore());
  EXPECT_EQ(b.PixelWidth(), 4);
  std::memset(b.RowAddress(1), 0, 12);
  EXPECT_FALSE(b.SharesStore());
  EXPECT_EQ(PixelAt(*a, 1, 1).red, 10);
  EXPECT_EQ(PixelAt(b, 1, 1).red, 0);

  TBitmap c;
  c.CopyPicture(a.get());
  a->DrawingSurface().PaintPixel(0, 0, RGBColor(1, 1, 1));
  b.ChangeWidth(9);
  EXPECT_EQ(a->PixelWidth(), 4);
  EXPECT_EQ(PixelAt(c, 0, 0).red, 255);
  a.reset();
  EXPECT_EQ(PixelAt(c, 1, 1).green, 20);

  c.CopyPicture(static_cast<const TBitmap*>(nullptr));
  EXPECT_EQ(c.PixelWidth(), 0);
  EXPECT_TRUE(c.Empty());
}

TEST(Bitmap, EightBitPixelsConvertThroughTheirPalette) {
  auto raster = Raster(3, 2, rf8Bit);
  EXPECT_EQ(raster->Palette().size(), TBitmap::HalftonePalette().size());
  std::vector<TPaletteEntry> palette(8);
  palette[7] = {40, 40, 40, 0};
  palette[2] = {200, 100, 50, 0};
  raster->AttachPalette(palette);
  uint8_t* top = raster->RowAddress(0);
  top[0] = 7;
  top[1] = 2;
  top[2] = 250;  // beyond the palette
  std::memset(raster->RowAddress(1), 7, 3);
  raster->SetRasterFormat(rf24Bit);
  const auto gray = PixelAt(*raster, 0, 0);
  EXPECT_EQ(gray.blue, 40);
  EXPECT_EQ(gray.green, 40);
  EXPECT_EQ(gray.red, 40);
  const auto colour = PixelAt(*raster, 1, 0);
  EXPECT_EQ(colour.blue, 50);
  EXPECT_EQ(colour.red, 200);
  EXPECT_EQ(PixelAt(*raster, 2, 0).red, 0);
  EXPECT_EQ(PixelAt(*raster, 2, 1).red, 40);
}

TEST(Bitmap, SameFormatKeepsTheStoreAndUnsupportedFormatsAreRefused) {
  auto raster = Raster(3, 3, rf24Bit);
  const uint8_t* before = raster->RowAddress(0);
  raster->SetRasterFormat(rf24Bit);
  EXPECT_EQ(raster->RowAddress(0), before);
  for (TRasterFormat format : {rfCustom, rf32Bit, rf1Bit}) {
    try {
      raster->SetRasterFormat(format);
      FAIL() << "format " << format << " accepted";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), "Ungültiges Pixel-Format");
    }
  }
  EXPECT_EQ(raster->RasterFormat(), rf24Bit);
}

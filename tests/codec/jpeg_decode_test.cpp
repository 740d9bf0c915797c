#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>

#include <jpeglib.h>
#include <jerror.h>

#include "codec_test_support.h"
#include "fixtures.h"
#include "jpeg.h"

using namespace shrinkwell;
using codec_test::PixelAt;
using codec_test::ScratchFile;

namespace {

int JpegErrorCode(const std::function<void()>& action) {
  try {
    action();
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.Message(), "JPEG-Fehler #" + std::to_string(e.ErrorCode()));
    return e.ErrorCode();
  }
  ADD_FAILURE() << "no EJPEG raised";
  return -1;
}

// The gray levels of a decoded grayscale file, through its palette.
std::set<int> GrayLevels(TJPEGImage& image) {
  TBitmap& raster = image.DecodedRaster();
  EXPECT_EQ(raster.RasterFormat(), rf8Bit);
  std::set<int> levels;
  for (int y = 0; y < raster.PixelHeight(); ++y) {
    const uint8_t* row = raster.RowAddress(y);
    for (int x = 0; x < raster.PixelWidth(); ++x) levels.insert(raster.Palette().at(row[x]).red);
  }
  return levels;
}

}  // namespace

TEST(JpegDecode, LibraryCodesAreThoseOfTheVersion62Interface) {
  EXPECT_EQ(JERR_ARITH_NOTIMPL, 1);
  EXPECT_EQ(JERR_INPUT_EMPTY, 42);
  EXPECT_EQ(JERR_NO_IMAGE, 51);
  EXPECT_EQ(JERR_NO_SOI, 53);
}

TEST(JpegDecode, NewImageCopiesTheDefaults) {
  TJPEGImage image;
  const TJPEGOptions& o = image.Options();
  EXPECT_EQ(o.EncodeQuality, 90);
  EXPECT_TRUE(o.BlockSmoothing);
  EXPECT_EQ(o.DecodeFormat, dfColor24);
  EXPECT_FALSE(o.GrayMode || o.ShowProgressive || o.WriteProgressive);
  EXPECT_EQ(o.SpeedMode, smBestQuality);
  EXPECT_EQ(o.ScaleShift, 0);
  EXPECT_EQ(image.PixelWidth(), 0);
  try {
    image.ChangeWidth(3);
    FAIL();
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_EQ(e.Message(), "Die Größe einer JPEG-Grafik kann nicht verändert werden");
  }
}

TEST(JpegDecode, ColourPhotoDecodesBlueFirstAtFullSize) {
  ScratchFile file("colour.jpg");
  fixtures::WriteFile(file.Path(), fixtures::EncodeJpeg(fixtures::SolidPicture(64, 48, 200, 100, 50), {95}));
  TJPEGImage image;
  image.ReadFromFile(file.Path());
  EXPECT_EQ(image.PixelWidth(), 64);
  EXPECT_EQ(image.PixelHeight(), 48);
  EXPECT_FALSE(image.WriteProgressive());
  TBitmap& raster = image.DecodedRaster();
  EXPECT_EQ(&raster, &image.DecodedRaster());
  EXPECT_EQ(raster.RasterFormat(), rf24Bit);
  for (int y : {0, 47}) {
    const auto p = PixelAt(raster, 63, y);
    EXPECT_NEAR(p.blue, 50, 3);
    EXPECT_NEAR(p.green, 100, 3);
    EXPECT_NEAR(p.red, 200, 3);
  }
  // A raster copying the picture shares the decoded one and stays apart from it.
  TBitmap copy;
  copy.CopyPicture(image);
  copy.SetRasterFormat(rf24Bit);
  copy.RowAddress(0)[0] = 0;
  EXPECT_NEAR(PixelAt(image.DecodedRaster(), 0, 0).blue, 50, 3);
}

TEST(JpegDecode, BadFilesFailWithTheLibraryCodes) {
  TJPEGImage image;
  image.TakeCompressed(std::string());
  EXPECT_EQ(image.PixelWidth(), 0);
  EXPECT_EQ(JpegErrorCode([&] { image.DecodedRaster(); }), 42);

  const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
  EXPECT_EQ(JpegErrorCode([&] { image.TakeCompressed(png); }), 53);

  const std::string photo = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(32, 32, 1), {90});
  const size_t frame = photo.find("\xFF\xC0");
  ASSERT_NE(frame, std::string::npos);
  const std::string tablesOnly = photo.substr(0, frame) + "\xFF\xD9";
  EXPECT_EQ(JpegErrorCode([&] { image.TakeCompressed(tablesOnly); }), 51);
  EXPECT_EQ(JpegErrorCode([&] { image.TakeCompressed(photo.substr(0, frame)); }), 51);
  // Ends inside the frame header: whatever the library says of that segment.
  EXPECT_GT(JpegErrorCode([&] { image.TakeCompressed(photo.substr(0, frame + 6)); }), 0);

  ScratchFile missing("missing.jpg");
  image.TakeCompressed(photo);
  EXPECT_THROW(image.ReadFromFile(missing.Path()), EFOpenError);
  EXPECT_EQ(image.PixelWidth(), 32);
}

TEST(JpegDecode, ZeroByteFileReadsAndFailsOnlyWhenDecoded) {
  ScratchFile file("empty.jpg");
  fixtures::WriteFile(file.Path(), "");
  TJPEGImage image;
  image.ReadFromFile(file.Path());
  ASSERT_NE(image.CompressedBytes(), nullptr);
  EXPECT_TRUE(image.CompressedBytes()->empty());
  EXPECT_EQ(JpegErrorCode([&] { image.DecodedRaster(); }), 42);
}

TEST(JpegDecode, CutEntropyDataDecodesWithAGrayRemainder) {
  const std::string photo = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(64, 128, 7), {90});
  const size_t scan = photo.find("\xFF\xDA");
  ASSERT_NE(scan, std::string::npos);
  TJPEGImage image;
  image.TakeCompressed(photo.substr(0, scan + (photo.size() - scan) / 2));
  TBitmap& raster = image.DecodedRaster();
  ASSERT_EQ(raster.PixelWidth(), 64);
  ASSERT_EQ(raster.PixelHeight(), 128);
  for (int x = 0; x < 64; ++x) {
    const auto p = PixelAt(raster, x, 127);
    ASSERT_EQ(p.blue, 128);
    ASSERT_EQ(p.green, 128);
    ASSERT_EQ(p.red, 128);
  }
  EXPECT_NE(PixelAt(raster, 5, 5).blue, 128);
}

TEST(JpegDecode, ProgressiveFilesSetWriteProgressiveAndDecode) {
  const auto picture = fixtures::PhotoLikePicture(80, 60, 3);
  TJPEGImage image;
  image.TakeCompressed(fixtures::EncodeJpeg(picture, {90, true}));
  EXPECT_TRUE(image.WriteProgressive());
  const auto progressive = PixelAt(image.DecodedRaster(), 40, 30);
  EXPECT_NEAR(progressive.red, picture.At(40, 30)[0], 24);

  // Decoding scan by scan ends with the same picture.
  TJPEGImage shown;
  shown.SetShowProgressive(true);
  shown.TakeCompressed(fixtures::EncodeJpeg(picture, {90, true}));
  const auto last = PixelAt(shown.DecodedRaster(), 40, 30);
  EXPECT_NEAR(last.red, progressive.red, 2);
  EXPECT_NEAR(last.blue, progressive.blue, 2);

  image.TakeCompressed(fixtures::EncodeJpeg(picture, {90, false}));
  EXPECT_FALSE(image.WriteProgressive());
}

TEST(JpegDecode, ShownScanByScanAPaletteRasterEndsAsTheWholeDecode) {
  // Decoded to palette indices, the scans are shown with a quick palette
  // and the last pass maps to a palette of its own, which the raster must
  // carry, not the first pass's.
  const std::string file = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(96, 64, 5), {90, true});
  std::vector<std::vector<uint8_t>> rasters;
  for (const bool shown : {false, true}) {
    TJPEGImage image;
    image.SetShowProgressive(shown);
    image.SetDecodeFormat(dfPalette8);
    image.TakeCompressed(file);
    TBitmap raster;
    raster.CopyPicture(&image.DecodedRaster());
    ASSERT_EQ(image.DecodedRaster().RasterFormat(), rf8Bit);
    raster.SetRasterFormat(rf24Bit);
    rasters.emplace_back();
    for (int y = 0; y < raster.PixelHeight(); ++y) {
      const uint8_t* row = raster.RowAddressForReading(y);
      rasters.back().insert(rasters.back().end(), row, row + 3 * raster.PixelWidth());
    }
  }
  EXPECT_TRUE(rasters[0] == rasters[1]);
}

namespace {

// The file with its last scan there `times` times: each pass goes over the
// whole picture again, for a few bytes each.
std::string WithLastScanRepeated(const std::string& jpeg, int times) {
  const size_t lastScan = jpeg.rfind("\xFF\xDA");
  const std::string scan = jpeg.substr(lastScan, jpeg.size() - 2 - lastScan);
  std::string many = jpeg.substr(0, jpeg.size() - 2);
  for (int k = 1; k < times; ++k) many += scan;
  return many + "\xFF\xD9";
}

class TRowsIgnored final : public TRowReceiver {
 public:
  void Begin(int32_t width, int32_t) override { row_.resize(3 * static_cast<size_t>(width)); }
  uint8_t* const* BandToFill(int32_t& capacity) override {
    capacity = 1;
    rows_[0] = row_.data();
    return rows_;
  }
  void BandFilled(int32_t) override {}

 private:
  std::vector<uint8_t> row_;
  uint8_t* rows_[1] = {};
};

}  // namespace

TEST(JpegDecode, ProgressiveFilesWhoseWorkOutgrowsTheirSizeAreRefused) {
  const std::string small = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(64, 64, 3), {90, true});
  // Hundreds of scans, whatever the size; a 4-megapixel frame over 300
  // scans of a few bytes each, refused when the scan that passes the
  // file's budget begins; and a 21-megapixel frame, whose coefficients a
  // file this small cannot hold, refused before their memory is taken.
  // On either path.
  const struct {
    std::string file, message;
  } cases[] = {
      {WithLastScanRepeated(small, 600), "Die JPEG-Datei hat mehr als 500 Scans"},
      {WithLastScanRepeated(fixtures::WithFrameSize(small, 2000, 2000), 300),
       "Die JPEG-Datei verlangt zu viel Arbeit für ihre "},
      {fixtures::WithFrameSize(small, 4600, 4600), "Die JPEG-Datei ist für ihr Bild zu klein: "},
  };
  for (const auto& c : cases) {
    for (const bool rows : {false, true}) {
      TJPEGImage image;
      image.TakeCompressed(c.file);
      TRowsIgnored receiver;
      try {
        if (rows) {
          image.DecodeRows(receiver);
        } else {
          image.DecodedRaster();
        }
        ADD_FAILURE() << "decoded: " << c.message;
      } catch (const EOutOfResources& refused) {
        EXPECT_EQ(refused.Message().rfind(c.message, 0), 0u) << refused.Message();
      }
    }
  }
  // The same hundred scans over the photo's own 64 x 64 pixels cost little.
  TJPEGImage image;
  image.TakeCompressed(WithLastScanRepeated(small, 100));
  EXPECT_EQ(image.DecodedRaster().PixelWidth(), 64);
}

TEST(JpegDecode, RowsGivenBandByBandAreThoseOfTheRaster) {
  // Whatever the file, the rows handed out while decoding are the rows of
  // the decoded raster converted to 24 bits, odd band ends included.
  struct Collector : TRowReceiver {
    explicit Collector(int32_t pixelBytes) : pixelBytes(pixelBytes) {}
    int32_t pixelBytes, width = 0;
    std::vector<uint8_t> band, all;  // all: three bytes a pixel
    std::vector<uint8_t*> rows;
    int32_t BytesPerPixel() const override { return pixelBytes; }
    void Begin(int32_t w, int32_t) override {
      width = w;
      band.assign(static_cast<size_t>(pixelBytes * w) * 5, 0);
      for (int i = 0; i < 5; ++i) rows.push_back(band.data() + static_cast<size_t>(pixelBytes * w) * i);
    }
    uint8_t* const* BandToFill(int32_t& capacity) override {
      capacity = 5;
      return rows.data();
    }
    void BandFilled(int32_t count) override {
      for (int32_t i = 0; i < count; ++i)
        for (int32_t x = 0; x < width; ++x) all.insert(all.end(), rows[i] + pixelBytes * x, rows[i] + pixelBytes * x + 3);
    }
  };
  std::vector<uint8_t> cmyk;
  for (int i = 0; i < 21 * 13; ++i) cmyk.insert(cmyk.end(), {uint8_t(i), uint8_t(3 * i), 200, uint8_t(255 - i)});
  const auto picture = fixtures::PhotoLikePicture(41, 23, 6);
  const std::string files[] = {fixtures::EncodeJpeg(picture, {90, false}), fixtures::EncodeJpeg(picture, {90, true}),
                               fixtures::EncodeJpeg(picture, {90, false, true}),
                               fixtures::EncodeSamples(21, 13, 4, cmyk, fixtures::SampleSpace::Cmyk)};
  for (const std::string& file : files) {
    for (const bool palette : {false, true}) {
      TJPEGImage whole;
      whole.TakeCompressed(file);
      whole.SetDecodeFormat(palette ? dfPalette8 : dfColor24);
      TBitmap raster;
      raster.CopyPicture(&whole.DecodedRaster());
      raster.SetRasterFormat(rf24Bit);
      std::vector<uint8_t> expected;
      for (int y = 0; y < raster.PixelHeight(); ++y) {
        const uint8_t* row = raster.RowAddressForReading(y);
        expected.insert(expected.end(), row, row + 3 * raster.PixelWidth());
      }
      for (const int32_t pixelBytes : {3, 4}) {
        // From the held bytes, and from a stream read piece by piece.
        for (const bool fromStream : {false, true}) {
          Collector collector(pixelBytes);
          TJPEGImage again;
          again.SetDecodeFormat(palette ? dfPalette8 : dfColor24);
          TMemoryStream stream(file.data(), file.size());
          if (fromStream) {
            again.DecodeRowsFrom(stream, collector);
            EXPECT_EQ(again.CompressedBytes(), nullptr);
            EXPECT_EQ(again.WriteProgressive(), &file - files == 1);
          } else {
            again.TakeCompressed(file);
            again.DecodeRows(collector);
          }
          EXPECT_EQ(collector.all, expected) << &file - files << (palette ? " palette " : " ") << pixelBytes << fromStream;
          EXPECT_EQ(again.PixelWidth(), raster.PixelWidth());
        }
      }
    }
  }
}

namespace {

// Takes the rows one at a time and only counts them.
struct RowCounter : TRowReceiver {
  std::vector<uint8_t> band;
  uint8_t* row = nullptr;
  int32_t rows = 0;
  void Begin(int32_t w, int32_t) override {
    band.resize(3 * static_cast<size_t>(w));
    row = band.data();
  }
  uint8_t* const* BandToFill(int32_t& capacity) override {
    capacity = 1;
    return &row;
  }
  void BandFilled(int32_t count) override { rows += count; }
};

}  // namespace

TEST(JpegDecode, AStreamThatFailsWhileDecodingRaisesItsOwnError) {
  // A disk that fails halfway: the stream's exception comes out of the
  // decoder as it was raised, after the library's frames are left.
  struct Failing : TStream {
    explicit Failing(const std::string& bytes) : bytes(bytes) {}
    const std::string& bytes;
    int64_t Size() const override { return static_cast<int64_t>(bytes.size()); }
    size_t Read(void* buffer, size_t count) override {
      if (position_ > 0) throw EReadError("Stream-Lesefehler");
      count = std::min(count, bytes.size() / 2);
      std::memcpy(buffer, bytes.data(), count);
      position_ += static_cast<int64_t>(count);
      return count;
    }
    void WriteBuffer(const void*, size_t) override {}
  };
  const std::string file = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(300, 200, 3), {90});
  Failing stream(file);
  RowCounter receiver;
  TJPEGImage image;
  EXPECT_THROW(image.DecodeRowsFrom(stream, receiver), EReadError);
}

TEST(JpegDecode, TheEndOfADecodeLeftToTheCallerRaisesWhatTheFileEndRaises) {
  // A second frame header after the picture: every row is delivered, and
  // the end, on another thread, raises the library's error.
  std::string file = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(40, 24, 2), {90});
  file.insert(file.size() - 2, std::string("\xFF\xC0\x00\x0B\x08\x00\x10\x00\x10\x01\x01\x11\x00", 13));
  RowCounter counter;
  TMemoryStream stream(file.data(), file.size());
  TJPEGImage image;
  TJPEGDecodeEnd end = image.DecodeRowsLeavingEnd(stream, counter);
  EXPECT_EQ(counter.rows, 24);
  std::exception_ptr raised;
  std::thread([&] {
    try {
      end.Finish();
    } catch (...) {
      raised = std::current_exception();
    }
  }).join();
  ASSERT_TRUE(raised);
  EXPECT_THROW(std::rethrow_exception(raised), EJPEG);
  TMemoryStream again(file.data(), file.size());
  EXPECT_THROW(image.DecodeRowsFrom(again, counter), EJPEG);
}

TEST(JpegDecode, ACoefficientObserverIsToldEachProgressiveBlockBeforeTheRowsAndTheirGoingAfter) {
  // Where the coefficients lie, from libjpeg's public memory manager: each
  // component's whole block, before the first band, and once that they go,
  // after the last; nothing for a baseline file.
  const auto picture = fixtures::PhotoLikePicture(1024, 768, 4);
  for (const bool progressive : {true, false}) {
    const std::string file = fixtures::EncodeJpeg(picture, {90, progressive});
    size_t told = 0, blocks = 0, rowsWhenTold = 0, going = 0;
    int32_t rowsWhenGoing = -1;
    RowCounter counter;
    TJPEGImage image;
    image.SetCoefficientObserver([&](uint8_t* block, size_t size) {
      if (block == nullptr) {
        ++going;
        rowsWhenGoing = counter.rows;
        return;
      }
      EXPECT_EQ(going, 0u);
      told += size;
      ++blocks;
      rowsWhenTold += static_cast<size_t>(counter.rows);
    });
    TMemoryStream stream(file.data(), file.size());
    image.DecodeRowsFrom(stream, counter);
    EXPECT_EQ(counter.rows, 768);
    EXPECT_EQ(rowsWhenTold, 0u);
    EXPECT_EQ(blocks, progressive ? 3u : 0u);
    EXPECT_EQ(going, progressive ? 1u : 0u);
    if (progressive) {
      EXPECT_EQ(rowsWhenGoing, 768);
      EXPECT_GE(told, size_t{1024 * 768 * 2});  // at least the luma's 128 bytes a block and the chroma's
    }
  }
}

TEST(JpegDecode, GrayscaleKeepsExactLevelsAndDithersBetweenOthers) {
  struct Case {
    uint8_t gray;
    std::set<int> levels;
  };
  for (const Case& c : {Case{0, {0}}, Case{100, {100}}, Case{255, {255}}, Case{128, {127, 128}}, Case{6, {5, 7}}}) {
    TJPEGImage image;
    image.TakeCompressed(fixtures::EncodeJpeg(fixtures::SolidPicture(32, 32, c.gray, c.gray, c.gray), {100, false, true}));
    EXPECT_TRUE(image.Grayscale());
    EXPECT_EQ(GrayLevels(image), c.levels) << "gray " << int(c.gray);
  }
  TJPEGImage image;
  image.TakeCompressed(fixtures::EncodeJpeg(fixtures::SolidPicture(8, 8, 9, 9, 9), {100, false, true}));
  const auto& palette = image.DecodedRaster().Palette();
  ASSERT_EQ(palette.size(), 236u);
  for (int j = 0; j < 236; ++j) ASSERT_EQ(palette[j].green, (255 * j + 117) / 235) << j;
  // Converted to 24 bits every pixel is its gray level.
  TBitmap copy;
  copy.CopyPicture(image);
  copy.SetRasterFormat(rf24Bit);
  const auto p = PixelAt(copy, 3, 3);
  EXPECT_EQ(p.red, p.blue);
  EXPECT_NEAR(p.red, 9, 2);
}

TEST(JpegDecode, PicturesOneAndTwoRowsHighDecode) {
  for (int height : {1, 2}) {
    TJPEGImage image;
    image.TakeCompressed(fixtures::EncodeJpeg(fixtures::SolidPicture(10, height, 10, 200, 30), {95}));
    TBitmap& raster = image.DecodedRaster();
    ASSERT_EQ(raster.PixelHeight(), height);
    EXPECT_NEAR(PixelAt(raster, 9, height - 1).green, 200, 3);
  }
}

TEST(JpegDecode, ArithmeticCodingIsRefusedWhenDecoding) {
  TJPEGImage image;
  image.TakeCompressed(fixtures::EncodeJpeg(fixtures::PhotoLikePicture(16, 16, 2), {90, false, false, true}));
  EXPECT_EQ(image.PixelWidth(), 16);
  EXPECT_EQ(JpegErrorCode([&] { image.DecodedRaster(); }), 1);
}

TEST(JpegDecode, FourComponentFilesBecomeRgb) {
  // Red as Adobe stores it: inverted inks C = 0, M = 255, Y = 255, K = 0.
  std::vector<uint8_t> samples;
  for (int i = 0; i < 16 * 8; ++i) samples.insert(samples.end(), {255, 0, 0, 255});
  for (auto space : {fixtures::SampleSpace::Cmyk, fixtures::SampleSpace::Ycck}) {
    TJPEGImage image;
    image.TakeCompressed(fixtures::EncodeSamples(16, 8, 4, samples, space));
    TBitmap& raster = image.DecodedRaster();
    ASSERT_EQ(raster.RasterFormat(), rf24Bit);
    const auto p = PixelAt(raster, 7, 4);
    EXPECT_NEAR(p.red, 255, 4);
    EXPECT_NEAR(p.green, 0, 4);
    EXPECT_NEAR(p.blue, 0, 4);
  }
}

TEST(JpegDecode, OddComponentCountsFailBeforeAnyRow) {
  for (int components : {2}) {
    std::vector<uint8_t> samples(static_cast<size_t>(8 * 8 * components), 90);
    TJPEGImage image;
    image.TakeCompressed(fixtures::EncodeSamples(8, 8, components, samples, fixtures::SampleSpace::Unknown));
    EXPECT_EQ(JpegErrorCode([&] { image.DecodedRaster(); }), JERR_CONVERSION_NOTIMPL);
    EXPECT_TRUE(image.DecodedRaster().Empty());
  }
}

TEST(JpegDecode, PaletteDecodingBuildsThePaletteFromTheColourMap) {
  TJPEGImage image;
  image.SetDecodeFormat(dfPalette8);
  image.TakeCompressed(fixtures::EncodeJpeg(fixtures::SolidPicture(16, 16, 200, 100, 50), {95}));
  TBitmap& raster = image.DecodedRaster();
  ASSERT_EQ(raster.RasterFormat(), rf8Bit);
  ASSERT_FALSE(raster.Palette().empty());
  const TPaletteEntry& entry = raster.Palette().at(raster.RowAddress(8)[8]);
  EXPECT_NEAR(entry.red, 200, 12);
  EXPECT_NEAR(entry.blue, 50, 12);
}

TEST(JpegDecode, ObserverStopsDecodingQuietly) {
  TJPEGImage image;
  image.TakeCompressed(fixtures::EncodeJpeg(fixtures::PhotoLikePicture(16, 16, 4), {90}));
  std::vector<std::pair<TProgressStage, int>> reports;
  image.SetProgressObserver([&](TGraphic&, TProgressStage stage, int percent, bool, const TRect&, const std::string&) {
    reports.emplace_back(stage, percent);
    if (stage == TProgressStage::Starting) throw EAbort("stop");
  });
  TBitmap& raster = image.DecodedRaster();
  EXPECT_TRUE(raster.Empty());
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1], std::make_pair(TProgressStage::Ending, 0));
}

TEST(JpegDecode, ProgressPercentageCountsPassesAndTheCurrentShare) {
  EXPECT_EQ(JpegProgressPercent(0, 100, 0, 1), 0);
  EXPECT_EQ(JpegProgressPercent(50, 100, 1, 4), 37);
  EXPECT_EQ(JpegProgressPercent(99, 100, 0, 1), 99);
  EXPECT_EQ(JpegProgressPercent(3, 3, 2, 3), 100);
  EXPECT_EQ(JpegProgressPercent(1, 0, 0, 1), -1);
  EXPECT_EQ(JpegProgressPercent(1, 2, 0, 0), -1);
}

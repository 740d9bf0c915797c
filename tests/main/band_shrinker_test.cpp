#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "band_shrinker.h"
#include "fixtures.h"
#include "jpeg_split.h"
#include "shrink_pictures.h"

using namespace shrinkwell;
using namespace shrink_pictures;

TEST(RowShrinker, HalvingWhileDecodingGivesWhatTheTwoPassesGive) {
  // Fed band by band as a decoder would, on this thread and with a worker,
  // into a raster or row by row into a sink, for every turn: the same
  // bytes as ShrinkAndRotate on the whole raster.
  TWorkBuffers buffers;
  TBandShrinker alone(THalvingThread::Decoder), withWorker(THalvingThread::Worker);
  TRowCollector sink;
  // As after a file whose headers could not be read: started, never begun.
  withWorker.Start(TTurn::Half, &sink);
  uint32_t seed = 20;
  for (auto [w, h] : {std::pair{4, 4}, {5, 7}, {37, 23}, {260, 131}, {33, 2}, {3, 40}, {101, 67}, {150, 90}}) {
    const Picture in = RandomPicture(w, h, seed++);
    for (const TTurn turn : {TTurn::None, TTurn::Half, TTurn::QuarterClockwise, TTurn::QuarterCounterClockwise}) {
      const Picture expected = Shrunk(in, turn, buffers);
      for (auto [bands, toSink] : {std::pair{&alone, false}, {&withWorker, false}, {&alone, true}, {&withWorker, true}}) {
        const auto source = RasterOf(in);
        bands->Start(turn, toSink ? &sink : nullptr);
        bands->Begin(w, h);
        for (int y = 0; y < h;) {
          int32_t capacity = 0;
          uint8_t* const* rows = bands->BandToFill(capacity);
          // Bands of any size, odd ones too, as a receiver may be fed.
          const int count = std::min<int>({capacity, h - y, 1 + (y * 7 + w) % 5});
          for (int i = 0; i < count; ++i) {
            const uint8_t* row = source->RowAddress(y + i);
            for (int x = 0; x < w; ++x) std::memcpy(rows[i] + bands->BytesPerPixel() * x, row + 3 * x, 3);
          }
          bands->BandFilled(count);
          y += count;
        }
        auto out = bands->Finish();
        const Picture got = toSink ? sink.Take() : PictureOf(*out);
        EXPECT_EQ(toSink, out == nullptr);
        EXPECT_EQ(got.rgb, expected.rgb) << w << "x" << h << " turn " << static_cast<int>(turn) << " sink " << toSink;
        // A sink hears nothing of a picture with no pixels.
        if (!toSink || !expected.rgb.empty()) {
          EXPECT_EQ(got.w, expected.w);
        }
      }
    }
  }
}

TEST(RowShrinker, PicturesDoneBeforeTheWorkerWakesStayExact) {
  // One band each, in a row: the decoder often finishes a picture, or the
  // next one begins, while the worker is only waking for it.
  TWorkBuffers buffers;
  TBandShrinker withWorker(THalvingThread::Worker);
  for (uint32_t seed = 0; seed < 3000; ++seed) {
    const Picture in = RandomPicture(8 + seed % 5, 4 + seed % 7, seed);
    const auto source = RasterOf(in);
    withWorker.Start(TTurn::None);
    withWorker.Begin(in.w, in.h);
    int32_t capacity = 0;
    uint8_t* const* rows = withWorker.BandToFill(capacity);
    for (int y = 0; y < in.h; ++y) {
      for (int x = 0; x < in.w; ++x) std::memcpy(rows[y] + 4 * x, source->RowAddress(y) + 3 * x, 3);
    }
    withWorker.BandFilled(in.h);
    ASSERT_EQ(PictureOf(*withWorker.Finish()).rgb, Shrunk(in, TTurn::None, buffers).rgb) << seed;
  }
}

TEST(RowShrinker, APhotoDecodedInTwoGivesWhatOneDecodeGives) {
  // Every turn, luma sampled three ways, cuts near the top, the middle and
  // the bottom: the rows the sink gets from the two decoders are those the
  // band shrinker gets from one.
  TJobThread beside;
  TBandShrinker bands(THalvingThread::Decoder);
  TRowCollector oneDecode, twoDecodes;
  struct Case {
    int width, height, lumaSampling;
    double share;
  };
  for (const Case& c : {Case{200, 150, 22, 0.5}, Case{301, 99, 21, 0.1}, Case{64, 260, 11, 0.9}, Case{130, 90, 12, 0.5}}) {
    const std::string file = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(c.width, c.height, 9),
                                                  {90, false, false, false, 1, false, c.lumaSampling});
    const std::optional<TJpegCut> cut = FindCut(file, c.share);
    ASSERT_TRUE(cut.has_value());
    for (const TTurn turn : {TTurn::None, TTurn::Half, TTurn::QuarterClockwise, TTurn::QuarterCounterClockwise}) {
      TJPEGImage whole;
      whole.TakeCompressed(file);
      bands.Start(turn, &oneDecode);
      whole.DecodeRows(bands);
      bands.Finish();
      TJPEGImage top;
      DecodeInTwo(top, file, *cut, c.width, c.height, turn, twoDecodes, beside);
      EXPECT_EQ(twoDecodes.Take().rgb, oneDecode.Take().rgb)
          << c.width << "x" << c.height << " cut at " << cut->topRows << " turn " << static_cast<int>(turn);
    }
  }
}

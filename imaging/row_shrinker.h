// The shrinker fed row by row, as a decoder delivers them: both halving
// passes follow the rows with one line of sums each, and the quarter-size
// rows go straight to their places in the upright raster. The full-size
// picture never exists. Gives, byte for byte, what ShrinkAndRotate gives
// for the same picture.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "orientation.h"

namespace shrinkwell {

class TBitmap;

// Takes the rows of the upright quarter-size picture, top first, each
// width pixels of blue, green, red.
class TUprightRowSink {
 public:
  virtual ~TUprightRowSink() = default;
  // Once per picture before its rows; never for a picture with no pixels.
  virtual void Begin(int32_t width, int32_t height) = 0;
  virtual void TakeRow(const uint8_t* row) = 0;
};

class TRowShrinker {
 public:
  // Starts a picture of width x height; the turn decides the raster. The
  // line buffers are kept from picture to picture and only grow. With a
  // sink the upright rows go there instead of staying in a raster: an
  // unturned picture's as soon as they are made, a turned one's in Finish.
  void Begin(int32_t width, int32_t height, TTurn turn, TUprightRowSink* sink = nullptr);
  // The next rows, top first: full width, four bytes a pixel (blue, green,
  // red and one that is ignored).
  void TakeRows(const uint8_t* const* rows, int32_t count);
  // The quarter-size upright 24-bit raster, or nullptr when a sink took
  // the rows; every row must have been taken.
  std::unique_ptr<TBitmap> Finish();

  // Starts this shrinker on the same picture as `above`, just begun, from
  // quarter-size row firstRow (1 to the last row) on, so that the two can
  // take their rows on two threads at once: `above` then makes the rows
  // before firstRow from input rows 0 to 4 * firstRow - 1, this one the
  // rest from input rows FirstInputRow() on. Its rows go where above's go,
  // except that an unturned picture's rows for a sink go to `below` (never
  // begun) as they are made; Finish then returns nullptr.
  void BeginBelow(TRowShrinker& above, int32_t firstRow, TUprightRowSink* below);
  // The first input row this shrinker takes.
  int32_t FirstInputRow() const { return first_.row; }

 private:
  // One halving pass over rows of `width` pixels, four bytes each. Output
  // row Y sums input rows 2Y - 1, 2Y and 2Y + 1 (row -1 being row 0) in
  // one go; rows are copied only when their memory would go away first.
  struct TPass {
    int32_t outWidth = 0;
    int32_t outHeight = 0;
    int32_t row = 0;                      // the next input row
    int32_t first = 0;                    // the first input row taken
    const uint8_t* above = nullptr;       // input row 2Y - 1
    const uint8_t* even = nullptr;        // input row 2Y
    std::vector<uint8_t> kept[3];         // copies, by row number modulo 3
    std::vector<uint16_t> sums;           // the three rows summed
    std::vector<uint8_t> out[3];          // output rows, by number modulo 3
    // Output rows from firstOut on: input rows from 2 * firstOut - 1.
    void Begin(int32_t width, int32_t height, int32_t firstOut = 0);
    // Takes the next input row, whose memory stays until `later` more rows
    // have come. Returns the output row it completed, or nullptr; that row
    // stays until three more output rows have been made.
    const uint8_t* Take(const uint8_t* line, int32_t later);
  };
  // Made on the first row, on the thread that halves: its pages are first
  // touched there, not on the decoder's.
  void MakeRaster();
  void Place(const uint8_t* quarterRow, int32_t y);
  void PlaceTurnedBlock(int32_t y0, int32_t count);

  // Quarter-size rows gathered for a quarter turn.
  static constexpr int32_t kTurnBlock = 16;

  TPass first_;
  TPass second_;
  int32_t width_ = 0, height_ = 0;
  TTurn turn_ = TTurn::None;
  TUprightRowSink* sink_ = nullptr;
  std::vector<uint8_t> line_;  // an unturned row on its way to the sink
  std::unique_ptr<TBitmap> raster_;
  uint8_t* top_ = nullptr;  // raster row 0, of this raster or above's
  ptrdiff_t step_ = 0;      // from one raster row to the next
  int32_t endRow_ = 0;      // the quarter-size rows made end before it
  bool below_ = false;      // begun by BeginBelow
  std::vector<uint8_t> block_;
  int32_t blockRows_ = 0;  // rows gathered in block_
};

}  // namespace shrinkwell

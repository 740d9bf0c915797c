#include "row_shrinker.h"

#include <algorithm>
#include <cstring>

#include "graphics.h"
#include "halving.h"

namespace shrinkwell {

void TRowShrinker::TPass::Begin(int32_t width, int32_t height, int32_t firstOut) {
  outWidth = width / 2;
  outHeight = height / 2;
  row = first = firstOut > 0 ? 2 * firstOut - 1 : 0;
  above = even = nullptr;
  const size_t used = 8 * static_cast<size_t>(outWidth);  // columns 0 to 2 * outWidth - 1
  for (auto& copy : kept) {
    if (copy.size() < used) copy.resize(used);
  }
  if (sums.size() < used) sums.resize(used);
  for (auto& line : out) {
    if (line.size() < used / 2) line.resize(used / 2);
  }
}

const uint8_t* TRowShrinker::TPass::Take(const uint8_t* line, int32_t later) {
  const int32_t r = row++;
  // An odd last row takes no part; nor does anything of a pass with no output.
  if (r >= 2 * outHeight || outWidth == 0) return nullptr;
  const size_t n = 8 * static_cast<size_t>(outWidth);
  // An even row is needed until the next row, an odd one until the pair
  // after it is complete.
  if (later < (r % 2 == 0 ? 1 : 2)) {
    // Three consecutive rows never share a copy.
    std::vector<uint8_t>& copy = kept[r % 3];
    std::memcpy(copy.data(), line, n);
    line = copy.data();
  }
  if (r % 2 == 0) {
    even = line;
    return nullptr;
  }
  uint8_t* halved = nullptr;
  // The odd row a pass begins with below the top only leads in.
  if (r != first) {
    SumLines(r == 1 ? even : above, even, line, n, sums.data());
    halved = out[(r / 2) % 3].data();
    HalveLine4(sums.data(), outWidth, halved);
  }
  above = line;
  return halved;
}

void TRowShrinker::Begin(int32_t width, int32_t height, TTurn turn, TUprightRowSink* sink) {
  width_ = width;
  height_ = height;
  first_.Begin(width, height);
  second_.Begin(first_.outWidth, first_.outHeight);
  turn_ = turn;
  sink_ = sink;
  raster_.reset();
  top_ = nullptr;
  below_ = false;
  blockRows_ = 0;
  const int32_t w4 = second_.outWidth, h4 = second_.outHeight;
  endRow_ = h4;
  const bool quarterTurn = IsQuarterTurn(turn);
  if (quarterTurn && block_.size() < 4 * static_cast<size_t>(w4) * kTurnBlock) {
    block_.resize(4 * static_cast<size_t>(w4) * kTurnBlock);
  }
  if (sink_ == nullptr || w4 == 0 || h4 == 0) return;
  if (turn == TTurn::None && line_.size() < 3 * static_cast<size_t>(w4)) line_.resize(3 * static_cast<size_t>(w4));
  sink_->Begin(quarterTurn ? h4 : w4, quarterTurn ? w4 : h4);
}

void TRowShrinker::BeginBelow(TRowShrinker& above, int32_t firstRow, TUprightRowSink* below) {
  Begin(above.width_, above.height_, above.turn_, nullptr);
  below_ = true;
  first_.Begin(width_, height_, 2 * firstRow - 1);
  second_.Begin(first_.outWidth, first_.outHeight, firstRow);
  above.endRow_ = firstRow;
  if (above.sink_ != nullptr && turn_ == TTurn::None) {
    sink_ = below;
    if (line_.size() < 3 * static_cast<size_t>(second_.outWidth)) line_.resize(3 * static_cast<size_t>(second_.outWidth));
    return;
  }
  if (!above.raster_) above.MakeRaster();
  top_ = above.top_;
  step_ = above.step_;
}

void TRowShrinker::MakeRaster() {
  const int32_t w4 = second_.outWidth, h4 = second_.outHeight;
  const bool quarterTurn = IsQuarterTurn(turn_);
  raster_ = std::make_unique<TBitmap>();
  raster_->SetRasterFormat(rf24Bit);
  raster_->ChangeHeight(quarterTurn ? w4 : h4);
  raster_->ChangeWidth(quarterTurn ? h4 : w4);
  top_ = raster_->Empty() ? nullptr : raster_->RowAddress(0);
  step_ = raster_->RowStep();
}

void TRowShrinker::TakeRows(const uint8_t* const* rows, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    // The caller's rows last until this call ends; the first pass's output
    // rows until three more have come.
    const uint8_t* half = first_.Take(rows[i], count - 1 - i);
    if (half == nullptr) continue;
    if (const uint8_t* quarter = second_.Take(half, 2)) Place(quarter, second_.row / 2 - 1);
  }
}

// Quarter-size row y (four bytes a pixel) to its place in the turned raster
// (three): the mapping of the orientation turn, written directly.
void TRowShrinker::Place(const uint8_t* quarterRow, int32_t y) {
  const int32_t w4 = second_.outWidth, h4 = second_.outHeight;
  if (sink_ != nullptr && turn_ == TTurn::None) {
    uint8_t* to = line_.data();
    for (int32_t x = 0; x < w4; ++x, to += 3, quarterRow += 4) {
      to[0] = quarterRow[0];
      to[1] = quarterRow[1];
      to[2] = quarterRow[2];
    }
    sink_->TakeRow(line_.data());
    return;
  }
  if (top_ == nullptr) MakeRaster();
  if (IsQuarterTurn(turn_)) {
    // A quarter turn makes a row a column: rows are gathered into a block
    // first, so that each raster row gets a run of pixels at a time rather
    // than one pixel per row of the picture.
    const size_t rowBytes = 4 * static_cast<size_t>(w4);
    std::memcpy(block_.data() + rowBytes * static_cast<size_t>(blockRows_++), quarterRow, rowBytes);
    if (blockRows_ == kTurnBlock || y == endRow_ - 1) {
      PlaceTurnedBlock(y + 1 - blockRows_, blockRows_);
      blockRows_ = 0;
    }
    return;
  }
  uint8_t* at = top_ + step_ * y;
  ptrdiff_t next = 3;
  if (turn_ == TTurn::Half) at = top_ + step_ * (h4 - 1 - y) + 3 * (w4 - 1), next = -3;
  for (int32_t x = 0; x < w4; ++x, at += next, quarterRow += 4) {
    at[0] = quarterRow[0];
    at[1] = quarterRow[1];
    at[2] = quarterRow[2];
  }
}

// Rows y0 to y0 + count - 1 of the block, turned: (x, y) goes to
// (h4 - 1 - y, x) clockwise and to (y, w4 - 1 - x) counter-clockwise.
void TRowShrinker::PlaceTurnedBlock(int32_t y0, int32_t count) {
  const int32_t w4 = second_.outWidth, h4 = second_.outHeight;
  const size_t rowBytes = 4 * static_cast<size_t>(w4);
  const bool clockwise = turn_ == TTurn::QuarterClockwise;
  // Each raster row's run is put together here and stored in one go.
  uint8_t run[3 * kTurnBlock];
  for (int32_t x = 0; x < w4; ++x) {
    const uint8_t* from = block_.data() + 4 * static_cast<size_t>(x);
    for (int32_t i = 0; i < count; ++i, from += rowBytes) {
      uint8_t* to = run + 3 * (clockwise ? count - 1 - i : i);
      to[0] = from[0];
      to[1] = from[1];
      to[2] = from[2];
    }
    uint8_t* at = clockwise ? top_ + step_ * x + 3 * (h4 - y0 - count) : top_ + step_ * (w4 - 1 - x) + 3 * y0;
    std::memcpy(at, run, 3 * static_cast<size_t>(count));
  }
}

std::unique_ptr<TBitmap> TRowShrinker::Finish() {
  if (below_) return nullptr;
  if (sink_ == nullptr) {
    if (!raster_) MakeRaster();  // a picture too small to have rows
    return std::move(raster_);
  }
  if (raster_) {
    // A turned picture: its top row was the last to be finished.
    for (int32_t y = 0; y < raster_->PixelHeight(); ++y) sink_->TakeRow(top_ + step_ * y);
    raster_.reset();
  }
  return nullptr;
}

}  // namespace shrinkwell

// The orientation: the turn a photo's EXIF Orientation text asks for, and
// the reference shrinker's turn of the quarter-size picture out of the work
// buffers into a new raster.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "work_buffers.h"

namespace shrinkwell {

class TBitmap;

// What the picture needs to stand upright. The names say what happens to the
// picture, not to the camera.
enum class TTurn { None, Half, QuarterClockwise, QuarterCounterClockwise };

// A quarter turn swaps the picture's width and height.
inline bool IsQuarterTurn(TTurn turn) {
  return turn == TTurn::QuarterClockwise || turn == TTurn::QuarterCounterClockwise;
}

// The one place where the reader's Orientation texts are compared: exactly
// "Rotated 180°", "CounterClockwise 90°" (picture turned clockwise) and
// "Clockwise 90°" (turned counter-clockwise), the degree sign being the byte
// 0xB0, turn the picture; every other text, mirrored ones and "Normal"
// included, leaves it as stored.
TTurn TurnForOrientationText(const std::string& text);

// A new device-format raster from the width x height picture in QuarterBuffer,
// turned; every pixel is written once.
std::unique_ptr<TBitmap> OrientFromBuffer(const TWorkBuffer& quarter, int32_t width, int32_t height, TTurn turn);

// Shrinks a whole decoded 24-bit raster in two passes and turns it; the
// caller's raster is consumed and replaced by the new quarter-size upright
// one. The program halves while it decodes instead (main/band_shrinker.h); this
// is the reference its bytes are checked against.
void ShrinkAndRotate(std::unique_ptr<TBitmap>& raster, TTurn turn, TWorkBuffers& buffers);

}  // namespace shrinkwell

// The JPEG picture: the file's bytes held in memory, decoded into a TBitmap
// through libjpeg on request and encoded from a given TBitmap when written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "file_stream.h"
#include "graphics.h"

namespace shrinkwell {

enum TJPEGSpeedMode : uint8_t { smBestQuality = 0, smBestSpeed = 1 };
enum TJPEGDecodeFormat : uint8_t { dfColor24 = 0, dfPalette8 = 1 };

// The eight options every TJPEGImage copies at creation.
struct TJPEGOptions {
  uint8_t EncodeQuality = 90;  // 1..100
  bool GrayMode = false;
  TJPEGSpeedMode SpeedMode = smBestQuality;
  TJPEGDecodeFormat DecodeFormat = dfColor24;  // no screen: always true colour
  bool ShowProgressive = false;
  bool WriteProgressive = false;
  uint8_t ScaleShift = 0;  // 0..3
  bool BlockSmoothing = true;
};

// Process-wide defaults, written only at program start.
extern TJPEGOptions JpegOptionDefaults;

// The largest picture that is decoded, in megapixels (millions of pixels):
// a larger one ends in EOutOfResources, naming its size, before any pixel
// memory is taken, and libjpeg's own memory (the coefficients of a
// progressive file) is bounded in proportion. Larger than any camera
// photo; stitched panoramas may need more. Written only at program start.
inline constexpr uint32_t kDefaultMegapixelLimit = 400;
extern uint32_t JpegMegapixelLimit;

// The largest file a picture within the pixel limit could come in: 8 bytes
// a pixel, twice what pure noise takes at quality 100 without colour
// subsampling, plus 64 MiB of metadata and previews (3.3 GB at the
// default limit). A larger file is no photo to decode.
int64_t JpegFileSizeLimit();

// The decoding work a file may ask for, in blocks of 8 x 8 samples that
// the decoder passes over (each block once for every scan that covers it,
// and once more for the output), as a file of `bytes` bytes: 64 a byte
// plus 1 Mi. Real photos ask for at most 25 a byte (an all-black
// progressive photo, the most a picture compresses); a progressive file of
// a few bytes per scan announcing a large picture asks for thousands. A
// decode that would need more ends in EOutOfResources after the header,
// or as soon as the scan that passes the budget begins.
int64_t JpegDecodeWorkBudget(int64_t bytes);

// The most blocks a file of several scans may hold: libjpeg keeps all of
// them, 128 bytes each, before the first row. Every block's DC value is
// coded in some scan with at least one bit, so a whole file holds at most
// 8 blocks a byte; the limit is 16 a byte plus 256 Ki (32 MiB), and a
// file above it ends in EOutOfResources before that memory is taken.
int64_t JpegWholePictureBlockLimit(int64_t bytes);

// The compressed bytes and what their header told.
struct TJPEGData {
  std::unique_ptr<std::string> bytes;  // absent: nothing held at all
  int32_t width = 0;
  int32_t height = 0;
  bool grayscale = false;
};

// The ICC profile a JPEG file carries, as libjpeg reassembles it from its
// APP2 chunks (jpeg_read_icc_profile): empty when there is none, or when
// libjpeg rejects it. Reads the file's header from the stream's position;
// a file libjpeg cannot read gives an empty profile.
std::string ReadIccProfile(TStream& file);

// What a file's header tells before its decode, read at the stream's
// position; all zero where libjpeg cannot read it.
struct TJpegHeaderFacts {
  // The bytes libjpeg keeps for the whole picture while it decodes a file
  // of several scans (128 a block of 8 x 8 samples, all components); 0 for
  // a file of one scan.
  int64_t wholePictureBytes = 0;
  int32_t width = 0, height = 0;
  bool restartMarkers = false;  // a restart interval is set
  bool withinLimits = false;    // of pixels and of work, for the whole file
  int64_t fileBytes = 0;
};
TJpegHeaderFacts JpegHeaderFacts(TStream& file);

// Percentage of a progress report: the share of the current pass plus the
// completed passes, over all passes; -1 when the counts make no sense.
int JpegProgressPercent(long passCounter, long passLimit, int completedPasses, int totalPasses);

// Takes a decoded picture band by band, top row first, each row full width
// in blue, green, red: the pixels a decode into a 24-bit raster holds. The
// decoder writes into the bands the receiver lends it.
class TRowReceiver {
 public:
  virtual ~TRowReceiver() = default;
  // 3, or 4 for a fourth byte after each pixel that the decoder may fill
  // with anything.
  virtual int32_t BytesPerPixel() const { return 3; }
  // Before the bands of each output pass: the picture's size. A decode
  // makes one pass, except a decode into a raster that shows a progressive
  // photo scan by scan (ShowProgressive): one for each scan, then the last.
  virtual void Begin(int32_t width, int32_t height) = 0;
  // A band to decode into: up to `capacity` rows of at least
  // BytesPerPixel() * width bytes each, rows[i] the row i of the band. A
  // capacity of 0 ends the pass there, the rest of the file unread: only
  // a decode whose end is left to the caller may be stopped so.
  virtual uint8_t* const* BandToFill(int32_t& capacity) = 0;
  // The band lent last now holds `count` rows.
  virtual void BandFilled(int32_t count) = 0;
  // Where the decoder maps the picture to a palette (a gray photo, or
  // dfPalette8): true to take one palette index a pixel instead of blue,
  // green, red, the palette being told before each pass's Begin (empty
  // while the decoder has none).
  virtual bool TakesPaletteIndices() const { return false; }
  virtual void PaletteMade(std::vector<TPaletteEntry> palette) { (void)palette; }
};

// The end of a decode whose rows have all been delivered: reading the
// file on to its end, with the checks that brings, and giving back the
// library's memory, for a progressive photo its whole coefficient buffer,
// which takes milliseconds. The batch has that done beside the encoding.
class TJPEGDecodeEnd {
 public:
  TJPEGDecodeEnd();
  TJPEGDecodeEnd(TJPEGDecodeEnd&& other) noexcept;
  TJPEGDecodeEnd& operator=(TJPEGDecodeEnd&& other) noexcept;
  // Without the checks when Finish was not called.
  ~TJPEGDecodeEnd();
  // Raises what the end of the file raises (EJPEG, or the stream's own
  // error). Once, on any thread, while the stream is still there.
  void Finish();
  // Whether the decode kept the whole picture's coefficients (a photo of
  // several scans): only then does the end take long.
  bool HoldsWholePicture() const;

 private:
  friend class TJPEGImage;
  struct TState;
  std::unique_ptr<TState> state_;
};

class TJPEGImage final : public TGraphic {
 public:
  TJPEGImage();
  ~TJPEGImage() override;

  // The decoded raster's size when there is one, else the header's.
  int32_t PixelWidth() const override;
  int32_t PixelHeight() const override;
  // Always refused: EInvalidGraphicOperation.
  void ChangeWidth(int32_t width) override;
  void ChangeHeight(int32_t height) override;

  // Reads the whole file (EFOpenError, EReadError, EJPEG for a bad header).
  void ReadFromFile(const std::string& path);
  // Takes everything from the stream's position to its end.
  void ReadFromStream(TStream& stream);
  // Reads count bytes, then the header: size, grayscale flag and whether the
  // file has several scans (which sets WriteProgressive).
  void TakeCompressed(TStream& stream, int64_t count);
  // The same from bytes in memory.
  void TakeCompressed(std::string bytes);

  // The decoded raster, decoding first when there is none; the image keeps
  // ownership.
  TBitmap& DecodedRaster();
  // Decodes the held bytes into the receiver's bands instead, the rows that
  // DecodedRaster() converted to rf24Bit would hold, without a full-size
  // raster. No progress is reported and no raster is kept.
  void DecodeRows(TRowReceiver& receiver);
  // The same from the stream's bytes, read piece by piece as they are
  // decoded rather than held: what ReadFromStream and DecodeRows give, the
  // header's facts recorded as ReadFromStream records them, no bytes held
  // afterwards. The stream's errors come out here.
  void DecodeRowsFrom(TStream& stream, TRowReceiver& receiver);
  // The same, leaving the end of the decode to the caller.
  TJPEGDecodeEnd DecodeRowsLeavingEnd(TStream& stream, TRowReceiver& receiver);
  // The target raster shares the decoded raster's pixels.
  void CopyPictureTo(TBitmap& target) { target.CopyPicture(&DecodedRaster()); }
  // The raster to encode: shared with the given one; held bytes are dropped.
  void CopyPicture(const TBitmap& raster);

  // Creates the file, encodes when no bytes are held, writes them all.
  // A short write or a failed close raises EWriteError.
  void WriteToFile(const std::string& path);
  void WriteToStream(TStream& stream);
  void EnsureEncoded();
  void EncodeRaster();

  // The ICC profile of the file last decoded (any colour space; empty
  // without one), and the one EncodeRaster writes.
  const std::string& IccProfile() const { return iccProfile_; }
  void SetIccProfile(std::string profile) { iccProfile_ = std::move(profile); }

  // Told, during the row decodes that follow, where the decoder keeps a
  // photo of several scans whole: each component's coefficients, one block
  // of memory, as the first scan begins to write it. Called inside the
  // decoder, which writes the block meanwhile: the observer must neither
  // read nor write a byte of it; what it raises is ignored. Before the
  // blocks are given back (the decode's end, or its failure, on whatever
  // thread that runs) it is called once with nullptr and 0, and is done
  // with them when it returns. Each decode keeps its own copy. Empty: not
  // told.
  using TCoefficientObserver = std::function<void(uint8_t* block, size_t size)>;
  void SetCoefficientObserver(TCoefficientObserver observer) { coefficientObserver_ = std::move(observer); }

  // The held bytes; nullptr when nothing is held (not even an empty stream).
  const std::string* CompressedBytes() const { return data_->bytes.get(); }
  bool Grayscale() const { return data_->grayscale; }

  const TJPEGOptions& Options() const { return options_; }
  int EncodeQuality() const { return options_.EncodeQuality; }
  void SetEncodeQuality(int quality);
  bool WriteProgressive() const { return options_.WriteProgressive; }
  void SetWriteProgressive(bool value) { options_.WriteProgressive = value; }
  void SetGrayMode(bool value) { options_.GrayMode = value; }
  void SetSpeedMode(TJPEGSpeedMode value) { options_.SpeedMode = value; }
  void SetDecodeFormat(TJPEGDecodeFormat value) { options_.DecodeFormat = value; }
  void SetShowProgressive(bool value) { options_.ShowProgressive = value; }
  void SetScaleShift(int value) { options_.ScaleShift = static_cast<uint8_t>(value < 0 ? 0 : value > 3 ? 3 : value); }
  void SetBlockSmoothing(bool value) { options_.BlockSmoothing = value; }

 private:
  void NewData();
  void ReadHeader();
  void RecordHeader(uint32_t width, uint32_t height, bool grayscale, bool multipleScans);
  // The one decode: from the stream, or from the held bytes when there is
  // none, into the receiver. Into the image's raster: with progress
  // reports and the scans shown when ShowProgressive asks.
  enum class TDecodeUse { Rows, Raster };
  TJPEGDecodeEnd DecodeThrough(TStream* stream, TRowReceiver& receiver, TDecodeUse use);
  // Into a new raster_, built on the one decode.
  void Decode();

  TJPEGOptions options_;
  std::unique_ptr<TJPEGData> data_;
  std::unique_ptr<TBitmap> raster_;
  std::string iccProfile_;
  TCoefficientObserver coefficientObserver_;
};

// Encodes a picture row by row as its rows are made, to the bytes that
// EncodeRaster gives for the same rows and options: the batch encodes its
// copy while the photo is still being decoded. No progress is reported.
class TJPEGRowEncoder {
 public:
  TJPEGRowEncoder();
  ~TJPEGRowEncoder();
  TJPEGRowEncoder(const TJPEGRowEncoder&) = delete;
  TJPEGRowEncoder& operator=(const TJPEGRowEncoder&) = delete;

  // A picture of width x height pixels encoded with the options' quality,
  // gray mode and progressive writing, carrying iccProfile when it is not
  // empty; EJPEG for an empty picture. Drops any picture begun before.
  // TakeRow and Finish only follow a Start that succeeded.
  void Start(int32_t width, int32_t height, const TJPEGOptions& options, const std::string& iccProfile = {});
  // The next row, top first: width pixels of blue, green, red.
  void TakeRow(const uint8_t* row);
  // After the last row: the whole stream.
  std::string Finish();

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

}  // namespace shrinkwell

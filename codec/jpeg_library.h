// What the decoder and the encoder share over libjpeg: the record of one
// reading, decoding or encoding, the only way out of the library (longjmp,
// never a C++ exception through its frames), the source in pieces and the
// destination in memory. For codec/ only.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "jpeg.h"

namespace shrinkwell {
namespace jpeg_library {

constexpr size_t kBufferSize = 4096;
// The stream's bytes are read this many at a time.
constexpr size_t kStreamPiece = 65536;
constexpr int kMaxScans = 500;

// Counts the blocks a decode passes over against its file's budget: once
// for the output, and once for each scan that covers a block. The scans'
// geometry is read from the library's record as each scan begins.
struct DecodeWork {
  int64_t budget = -1;  // below 0: not counted
  int64_t fileBytes = 0;
  int64_t frameBlocks = 0;
  int64_t done = 0;
  int lastScan = 0;

  // After the header, outside the library's frames: the output's blocks,
  // and for a file of several scans the memory that holds them all.
  void Begin(j_decompress_ptr info, int64_t bytes);
  // At each progress report, inside the library: the scans begun since
  // the last report. False once the budget is spent.
  bool Follow(const jpeg_decompress_struct& info);
  EOutOfResources TooMuch(const jpeg_decompress_struct& info) const;
};

// Everything one reading, decoding or encoding needs besides the library
// record. The library is left by longjmp only: a fatal library error
// records its code, a failing hook records its exception, and Guarded()
// raises it once the library's frames are gone.
struct CodecContext {
  CodecContext();
  CodecContext(const CodecContext&) = delete;
  CodecContext& operator=(const CodecContext&) = delete;

  static CodecContext& Of(j_common_ptr info) { return *static_cast<CodecContext*>(info->client_data); }
  // Leaves the library when a hook recorded an exception.
  static void LeaveIfPending(j_common_ptr info) {
    CodecContext& context = Of(info);
    if (context.pending) std::longjmp(context.jump, 1);
  }

  jpeg_error_mgr error{};
  struct Progress {
    jpeg_progress_mgr pub{};
    TJPEGImage* image = nullptr;  // told of the progress, when there is one
    int32_t lastPercent = 0;
    uint32_t lastTime = 0;
    int32_t lastRow = 0;
  } progress;

  std::jmp_buf jump{};
  int code = 0;
  std::exception_ptr pending;
  DecodeWork work;
};

// Runs fn(arg) with the context's jump target set; what made the library
// give up is raised here, after its frames are left behind.
void GuardedCall(CodecContext& context, void (*fn)(void*), void* arg);

// The callers' code between library calls holds no objects with destructors.
template <class Call>
void Guarded(CodecContext& context, Call&& call) {
  GuardedCall(context, [](void* arg) { (*static_cast<Call*>(arg))(); }, &call);
}

// Leaves the library as its own errors do.
[[noreturn]] void LibraryError(j_common_ptr info, int code);

// Source manager in 4096-byte pieces: over the held bytes, or over a
// stream read as the library asks, kStreamPiece at a time, so that the
// stream's bytes never have to be in memory all at once. Either way the
// pieces end at the same places: how the library copes with damaged data
// depends on where its pieces end.
struct PieceSource {
  jpeg_source_mgr pub{};
  const std::string* bytes = nullptr;
  TStream* stream = nullptr;
  size_t position = 0;
  JOCTET endOfImage[2] = {};
  JOCTET* staging = nullptr;  // the stream's bytes read, not yet given out
  size_t stagedAt = 0;
  size_t stagedEnd = 0;
  bool startOfFile = true;

  size_t Fetch(j_decompress_ptr info, const JOCTET*& piece);
  void Stage(j_decompress_ptr info);
};

// Destination manager into a growing string.
struct MemoryDestination {
  jpeg_destination_mgr pub{};
  std::string* stream = nullptr;
  JOCTET* buffer = nullptr;
};

struct Decompressor : CodecContext {
  Decompressor();
  ~Decompressor();
  // Inside a guarded call.
  void Create();
  // Inside a guarded call; the bytes or the stream live as long as the record.
  void UseMemorySource(const std::string& bytes);
  void UseStreamSource(TStream& stream);

  jpeg_decompress_struct info{};
  PieceSource source;
  bool created = false;
  // Told where each whole-picture coefficient array lies (see
  // TJPEGImage::SetCoefficientObserver), through the memory manager's
  // methods: the arrays' sizes as they are requested, their places as
  // they are first written.
  void WatchCoefficients(const TJPEGImage::TCoefficientObserver& observer);
  // Before the library gives the arrays back: the observer is told, once,
  // if it was told of any.
  void CoefficientsGoing() noexcept;
  struct CoefficientArray {
    jvirt_barray_ptr array = nullptr;
    size_t bytes = 0;
    JDIMENSION blocksPerRow = 0;
    bool told = false;
  };
  TJPEGImage::TCoefficientObserver coefficientObserver;
  bool coefficientsTold = false;
  CoefficientArray coefficientArrays[MAX_COMPONENTS] = {};
  int coefficientArrayCount = 0;
  jvirt_barray_ptr (*requestArray)(j_common_ptr, int, boolean, JDIMENSION, JDIMENSION, JDIMENSION) = nullptr;
  JBLOCKARRAY (*accessArray)(j_common_ptr, jvirt_barray_ptr, JDIMENSION, JDIMENSION, boolean) = nullptr;
};

struct Compressor : CodecContext {
  Compressor();
  ~Compressor();
  // Inside a guarded call.
  void Create();
  void UseMemoryDestination(std::string& stream);
  // Inside a guarded call: every parameter of the stream, from the size
  // and the options alone, so that each way of encoding gives the same
  // bytes. Rows come as blue, green, red.
  void SetUp(int32_t width, int32_t height, const TJPEGOptions& options);

  jpeg_compress_struct info{};
  MemoryDestination destination;
  bool created = false;
};

}  // namespace jpeg_library
}  // namespace shrinkwell

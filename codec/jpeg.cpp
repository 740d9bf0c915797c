#include "jpeg.h"

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "pixel_memory.h"

namespace shrinkwell {

TJPEGOptions JpegOptionDefaults;
uint32_t JpegMegapixelLimit = kDefaultMegapixelLimit;

namespace {

constexpr size_t kBufferSize = 4096;
constexpr int kMaxScans = 500;

// What libjpeg may take besides the raster: 3 bytes of coefficients per
// pixel, enough for a progressive 4:2:0 photo at the limit, plus a margin
// for its small working records.
long LibraryMemoryLimit() {
  const uint64_t bytes = 3 * 1000000ull * JpegMegapixelLimit + (64ull << 20);
  // A long has 32 bits on Windows.
  return bytes > static_cast<uint64_t>(std::numeric_limits<long>::max()) ? std::numeric_limits<long>::max()
                                                                          : static_cast<long>(bytes);
}

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
  void Begin(j_decompress_ptr info, int64_t bytes) {
    fileBytes = bytes;
    budget = JpegDecodeWorkBudget(bytes);
    for (int c = 0; c < info->num_components; ++c) {
      frameBlocks += static_cast<int64_t>(info->comp_info[c].width_in_blocks) * info->comp_info[c].height_in_blocks;
    }
    done = frameBlocks;
    if (done > budget) throw TooMuch(*info);
    if (jpeg_has_multiple_scans(info) && frameBlocks > JpegWholePictureBlockLimit(bytes)) {
      throw EOutOfResources(Format("Die JPEG-Datei ist für ihr Bild zu klein: %lld Bytes für %u x %u Pixel in "
                                   "mehreren Scans",
                                   static_cast<long long>(bytes), info->image_width, info->image_height));
    }
  }
  // At each progress report, inside the library: the scans begun since
  // the last report. Scans read without a report (a buffered decode)
  // count as covering every block; a buffered decode also makes an output
  // pass over every block for each scan it shows. False once the budget
  // is spent.
  bool Follow(const jpeg_decompress_struct& info) {
    if (budget < 0 || info.input_scan_number <= lastScan) return true;
    const int64_t passes = info.buffered_image ? 2 : 1;
    done += passes * frameBlocks * (info.input_scan_number - lastScan - 1);
    if (info.buffered_image) done += frameBlocks;
    if (info.comps_in_scan == 1) {
      const jpeg_component_info& only = *info.cur_comp_info[0];
      done += static_cast<int64_t>(only.width_in_blocks) * only.height_in_blocks;
    } else {
      done += static_cast<int64_t>(info.MCUs_per_row) * info.MCU_rows_in_scan * info.blocks_in_MCU;
    }
    lastScan = info.input_scan_number;
    return done <= budget;
  }
  EOutOfResources TooMuch(const jpeg_decompress_struct& info) const {
    return EOutOfResources(Format("Die JPEG-Datei verlangt zu viel Arbeit für ihre %lld Bytes "
                                  "(%u x %u Pixel, %d Scans bis hier)",
                                  static_cast<long long>(fileBytes), info.image_width, info.image_height,
                                  info.input_scan_number));
  }
};

uint32_t TickCount() {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

// Everything one reading, decoding or encoding needs besides the library
// record. The library is left by longjmp only (never by a C++ exception):
// a fatal library error records its code, a failing hook records its
// exception, and Guarded() raises it once the library's frames are gone.
struct CodecContext {
  CodecContext() {
    error.error_exit = ErrorExit;
    error.emit_message = EmitMessage;
    error.output_message = OutputMessage;
    error.format_message = FormatMessage;
    error.reset_error_mgr = ResetErrorMgr;
    progress.pub.progress_monitor = ProgressMonitor;
  }
  CodecContext(const CodecContext&) = delete;
  CodecContext& operator=(const CodecContext&) = delete;

  static CodecContext& Of(j_common_ptr info) { return *static_cast<CodecContext*>(info->client_data); }
  // A library record whose errors come here is one of ours.
  static bool Ours(j_common_ptr info) { return info->err != nullptr && info->err->error_exit == ErrorExit; }

  [[noreturn]] static void ErrorExit(j_common_ptr info) {
    CodecContext& context = Of(info);
    context.code = info->err->msg_code;
    std::longjmp(context.jump, 1);
  }
  // Warnings and trace messages never stop the work.
  static void EmitMessage(j_common_ptr, int) {}
  static void OutputMessage(j_common_ptr) {}
  static void FormatMessage(j_common_ptr, char*) {}
  static void ResetErrorMgr(j_common_ptr info) {
    info->err->num_warnings = 0;
    info->err->msg_code = 0;
  }
  // Leaves the library when a hook recorded an exception.
  static void LeaveIfPending(j_common_ptr info) {
    CodecContext& context = Of(info);
    if (context.pending) std::longjmp(context.jump, 1);
  }
  static void ProgressMonitor(j_common_ptr info);

  jpeg_error_mgr error{};
  struct Progress {
    jpeg_progress_mgr pub{};
    TJPEGImage* image = nullptr;
    int32_t lastPercent = 0;
    uint32_t lastTime = 0;
    int32_t lastRow = 0;
  } progress;
  J_DCT_METHOD savedDct = JDCT_FLOAT;
  bool savedTwoPass = false;
  J_DITHER_MODE savedDither = JDITHER_FS;

  std::jmp_buf jump{};
  int code = 0;
  std::exception_ptr pending;
  // Told of the decoder's large blocks while it decodes rows into bands.
  TRowReceiver* blockReceiver = nullptr;
  DecodeWork work;
};

// Runs fn(arg) with the context's jump target set; what made the library
// give up is raised here, after its frames are left behind. The callers'
// code between library calls holds no objects with destructors.
__attribute__((noinline)) void GuardedCall(CodecContext& context, void (*fn)(void*), void* arg) {
  if (setjmp(context.jump) == 0) {
    fn(arg);
    return;
  }
  if (context.pending) {
    std::exception_ptr failure = std::move(context.pending);
    context.pending = nullptr;
    std::rethrow_exception(failure);
  }
  throw EJPEG(context.code);
}

template <class Call>
void Guarded(CodecContext& context, Call&& call) {
  GuardedCall(context, [](void* arg) { (*static_cast<Call*>(arg))(); }, &call);
}

[[noreturn]] void LibraryError(j_common_ptr info, int code) {
  info->err->msg_code = code;
  (*info->err->error_exit)(info);
  std::abort();  // error_exit never returns
}

// Below this a block is not worth a handover, nor a call of its own.
constexpr size_t kLargeBlockToTell = size_t{1} << 20;

}  // namespace

#ifndef _WIN32
// libjpeg takes its large blocks through these two functions, its interface
// to the system's memory, which a program may supply (Windows links the
// library's own). Defined here, a decoder's blocks are made known to the
// receiver of its bands, and any block of ours comes in with one call
// rather than a fault a page: the library writes its blocks whole.
extern "C" void* jpeg_get_large(j_common_ptr info, size_t size) {
  void* block = std::malloc(size);
  if (block != nullptr && size >= kLargeBlockToTell && CodecContext::Ours(info)) {
    auto* bytes = static_cast<uint8_t*>(block);
    TRowReceiver* receiver = CodecContext::Of(info).blockReceiver;
    if (receiver == nullptr || !receiver->LargeBlockTaken(bytes, size)) PopulateMemory(bytes, size);
  }
  return block;
}

extern "C" void jpeg_free_large(j_common_ptr, void* block, size_t) { std::free(block); }
#endif

namespace {

// Source manager in 4096-byte pieces: over the held bytes, or over a
// stream read as the library asks, kStreamPiece at a time, so that the
// stream's bytes never have to be in memory all at once. Either way the
// pieces end at the same places: how the library copes with damaged data
// depends on where its pieces end.
constexpr size_t kStreamPiece = 65536;

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

  static PieceSource& Of(j_decompress_ptr info) { return *reinterpret_cast<PieceSource*>(info->src); }

  static void InitSource(j_decompress_ptr info) { Of(info).startOfFile = true; }

  // The next piece, where it lies (the library only reads it); empty at
  // the end. A failing stream's exception leaves the library, to be raised
  // once its frames are gone.
  size_t Fetch(j_decompress_ptr info, const JOCTET*& piece) {
    if (stream == nullptr) {
      const size_t count = std::min(kBufferSize, bytes->size() - position);
      piece = reinterpret_cast<const JOCTET*>(bytes->data()) + position;
      position += count;
      return count;
    }
    if (stagedAt == stagedEnd) Stage(info);
    const size_t count = std::min(kBufferSize, stagedEnd - stagedAt);
    piece = staging + stagedAt;
    stagedAt += count;
    return count;
  }

  // Reads the next kStreamPiece bytes, or what is left: whole, so that the
  // pieces fall where the held bytes' do.
  void Stage(j_decompress_ptr info) {
    stagedAt = stagedEnd = 0;
    try {
      while (stagedEnd < kStreamPiece) {
        const size_t got = stream->Read(staging + stagedEnd, kStreamPiece - stagedEnd);
        if (got == 0) break;
        stagedEnd += got;
      }
    } catch (...) {
      CodecContext::Of(reinterpret_cast<j_common_ptr>(info)).pending = std::current_exception();
    }
    CodecContext::LeaveIfPending(reinterpret_cast<j_common_ptr>(info));
  }

  static boolean FillInputBuffer(j_decompress_ptr info) {
    PieceSource& source = Of(info);
    const JOCTET* piece = nullptr;
    size_t count = source.Fetch(info, piece);
    if (count == 0) {
      if (source.startOfFile) LibraryError(reinterpret_cast<j_common_ptr>(info), JERR_INPUT_EMPTY);
      WARNMS(info, JWRN_JPEG_EOF);
      // An end-of-image marker lets the library finish what it has.
      source.endOfImage[0] = 0xFF;
      source.endOfImage[1] = JPEG_EOI;
      piece = source.endOfImage;
      count = 2;
    }
    source.pub.next_input_byte = piece;
    source.pub.bytes_in_buffer = count;
    source.startOfFile = false;
    return TRUE;
  }

  static void SkipInputData(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    PieceSource& source = Of(info);
    while (static_cast<unsigned long>(count) > source.pub.bytes_in_buffer) {
      count -= static_cast<long>(source.pub.bytes_in_buffer);
      FillInputBuffer(info);
    }
    source.pub.next_input_byte += count;
    source.pub.bytes_in_buffer -= static_cast<size_t>(count);
  }

  static void TermSource(j_decompress_ptr) {}
};

// Destination manager into the holder's byte stream.
struct MemoryDestination {
  jpeg_destination_mgr pub{};
  std::string* stream = nullptr;
  JOCTET* buffer = nullptr;

  static MemoryDestination& Of(j_compress_ptr info) { return *reinterpret_cast<MemoryDestination*>(info->dest); }

  static void InitDestination(j_compress_ptr info) {
    MemoryDestination& destination = Of(info);
    destination.buffer = static_cast<JOCTET*>(
        (*info->mem->alloc_small)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE, kBufferSize));
    destination.pub.next_output_byte = destination.buffer;
    destination.pub.free_in_buffer = kBufferSize;
  }

  static void Append(j_compress_ptr info, size_t count) {
    MemoryDestination& destination = Of(info);
    try {
      destination.stream->append(reinterpret_cast<const char*>(destination.buffer), count);
    } catch (const std::bad_alloc&) {
      CodecContext::Of(reinterpret_cast<j_common_ptr>(info)).pending =
          std::make_exception_ptr(EStreamError("Expandieren des Speicher-Stream wegen Speichermangel nicht möglich"));
    } catch (...) {
      CodecContext::Of(reinterpret_cast<j_common_ptr>(info)).pending = std::current_exception();
    }
    CodecContext::LeaveIfPending(reinterpret_cast<j_common_ptr>(info));
  }

  static boolean EmptyOutputBuffer(j_compress_ptr info) {
    Append(info, kBufferSize);
    MemoryDestination& destination = Of(info);
    destination.pub.next_output_byte = destination.buffer;
    destination.pub.free_in_buffer = kBufferSize;
    return TRUE;
  }

  static void TermDestination(j_compress_ptr info) {
    const size_t used = kBufferSize - Of(info).pub.free_in_buffer;
    if (used > 0) Append(info, used);
  }
};

struct Decompressor : CodecContext {
  Decompressor() {
    info.err = &error;
    info.client_data = static_cast<CodecContext*>(this);
  }
  ~Decompressor() {
    if (created) jpeg_destroy_decompress(&info);
  }
  // Inside a guarded call.
  void Create() {
    created = true;
    jpeg_CreateDecompress(&info, JPEG_LIB_VERSION, sizeof info);
  }
  // Inside a guarded call; the buffer lives as long as the record.
  void UseMemorySource(const std::string& bytes) {
    source.bytes = &bytes;
    UsePieces();
  }
  void UseStreamSource(TStream& stream) {
    source.stream = &stream;
    source.staging = static_cast<JOCTET*>(
        (*info.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&info), JPOOL_PERMANENT, kStreamPiece));
    UsePieces();
  }
  void UsePieces() {
    source.position = 0;
    source.pub.init_source = PieceSource::InitSource;
    source.pub.fill_input_buffer = PieceSource::FillInputBuffer;
    source.pub.skip_input_data = PieceSource::SkipInputData;
    source.pub.resync_to_restart = jpeg_resync_to_restart;
    source.pub.term_source = PieceSource::TermSource;
    source.pub.bytes_in_buffer = 0;
    source.pub.next_input_byte = nullptr;
    info.src = &source.pub;
  }

  jpeg_decompress_struct info{};
  PieceSource source;
  bool created = false;
  std::vector<uint8_t> cmykRow;  // one row of four-component output
};

struct Compressor : CodecContext {
  Compressor() {
    info.err = &error;
    info.client_data = static_cast<CodecContext*>(this);
  }
  ~Compressor() {
    if (created) jpeg_destroy_compress(&info);
  }
  // Inside a guarded call.
  void Create() {
    created = true;
    jpeg_CreateCompress(&info, JPEG_LIB_VERSION, sizeof info);
  }
  void UseMemoryDestination(std::string& stream) {
    destination.stream = &stream;
    destination.pub.init_destination = MemoryDestination::InitDestination;
    destination.pub.empty_output_buffer = MemoryDestination::EmptyOutputBuffer;
    destination.pub.term_destination = MemoryDestination::TermDestination;
    info.dest = &destination.pub;
  }
  // Inside a guarded call: every parameter of the stream, from the size
  // and the options alone, so that each way of encoding gives the same
  // bytes. Rows come as blue, green, red.
  void SetUp(int32_t width, int32_t height, const TJPEGOptions& options) {
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    info.dct_method = JDCT_FLOAT;  // fixed whatever the library's default
    jpeg_set_quality(&info, options.EncodeQuality, TRUE);
    if (options.GrayMode) jpeg_set_colorspace(&info, JCS_GRAYSCALE);
    if (options.WriteProgressive) jpeg_simple_progression(&info);
  }

  jpeg_compress_struct info{};
  MemoryDestination destination;
  bool created = false;
};

void CodecContext::ProgressMonitor(j_common_ptr info) {
  CodecContext& context = Of(info);
  // A scan passes over every block it covers: a few bytes per scan could
  // make a small file cost minutes. Real files have a dozen scans, and
  // their work stays within the budget their size gives.
  if (info->is_decompressor) {
    const auto& decoding = *reinterpret_cast<j_decompress_ptr>(info);
    if (decoding.input_scan_number > kMaxScans) {
      context.pending = std::make_exception_ptr(
          EOutOfResources(Format("Die JPEG-Datei hat mehr als %d Scans", kMaxScans)));
    } else if (!context.work.Follow(decoding)) {
      context.pending = std::make_exception_ptr(context.work.TooMuch(decoding));
    }
    LeaveIfPending(info);
  }
  Progress& progress = context.progress;
  if (progress.image == nullptr) return;
  const uint32_t now = TickCount();
  if (now - progress.lastTime < 500) return;
  const uint32_t previous = progress.lastTime;
  progress.lastTime = now;
  if (previous == 0) return;
  TRect rect;
  int32_t scanline = 0;
  if (info->is_decompressor) {
    auto* d = reinterpret_cast<j_decompress_ptr>(info);
    scanline = static_cast<int32_t>(d->output_scanline);
    rect = {0, progress.lastRow, static_cast<int32_t>(d->output_width), scanline};
    if (rect.bottom < rect.top) rect.bottom = static_cast<int32_t>(d->output_height);
  }
  const int percent = JpegProgressPercent(progress.pub.pass_counter, progress.pub.pass_limit,
                                          progress.pub.completed_passes, progress.pub.total_passes);
  if (percent < 0 || percent == progress.lastPercent) return;
  progress.lastPercent = percent;
  if (info->is_decompressor) progress.lastRow = scanline;
  try {
    progress.image->Progress(TProgressStage::Running, percent, rect.bottom - rect.top >= 4, rect, std::string());
  } catch (...) {
    context.pending = std::current_exception();
  }
  LeaveIfPending(info);
}

std::vector<TPaletteEntry> PaletteFromColourMap(const jpeg_decompress_struct& info) {
  std::vector<TPaletteEntry> palette(static_cast<size_t>(std::min(info.actual_number_of_colors, 256)));
  const bool gray = info.out_color_space == JCS_GRAYSCALE;
  for (size_t i = 0; i < palette.size(); ++i) {
    if (gray) {
      palette[i].red = palette[i].green = palette[i].blue = info.colormap[0][i];
    } else {
      // The codec's components come blue first.
      palette[i].red = info.colormap[2][i];
      palette[i].green = info.colormap[1][i];
      palette[i].blue = info.colormap[0][i];
    }
  }
  return palette;
}

// Four-component output to blue, green, red. Files with an Adobe marker
// store the inks inverted.
void CmykToBgr(const uint8_t* in, uint8_t* out, size_t width, bool inverted, size_t pixelBytes) {
  for (size_t x = 0; x < width; ++x, in += 4, out += pixelBytes) {
    int c = in[0], m = in[1], y = in[2], k = in[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    out[0] = static_cast<uint8_t>((y * k + 127) / 255);
    out[1] = static_cast<uint8_t>((m * k + 127) / 255);
    out[2] = static_cast<uint8_t>((c * k + 127) / 255);
  }
}

// The decoding parameters of a read header: output in raster order (blue
// first), fixed methods, the image's options. Inside a guarded call.
void SetUpDecoding(jpeg_decompress_struct& info, const TJPEGOptions& options, bool& cmyk) {
  // The library could decode it, but arithmetic coding is not supported.
  if (info.arith_code) LibraryError(reinterpret_cast<j_common_ptr>(&info), JERR_ARITH_NOTIMPL);
  switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE:
      break;
    case JCS_YCbCr:
    case JCS_RGB:
      // Blue first, as raster rows hold it.
      info.out_color_space = JCS_EXT_BGR;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      info.out_color_space = JCS_CMYK;
      cmyk = true;
      break;
    default:
      // Two components, or more than four: no row could hold them.
      LibraryError(reinterpret_cast<j_common_ptr>(&info), JERR_CONVERSION_NOTIMPL);
  }
  // Fixed whatever the library's own defaults are.
  info.dct_method = JDCT_FLOAT;
  info.do_fancy_upsampling = TRUE;
  info.dither_mode = JDITHER_FS;
  info.two_pass_quantize = TRUE;

  info.scale_num = 1;
  info.scale_denom = 1u << options.ScaleShift;
  info.do_block_smoothing = options.BlockSmoothing ? TRUE : FALSE;
  if (options.GrayMode) {
    info.out_color_space = JCS_GRAYSCALE;
    cmyk = false;
  }
  if (!cmyk && (options.DecodeFormat == dfPalette8 || info.out_color_space == JCS_GRAYSCALE)) {
    info.quantize_colors = TRUE;
    info.desired_number_of_colors = 236;
  }
  if (options.SpeedMode == smBestSpeed) {
    info.dct_method = JDCT_IFAST;
    info.two_pass_quantize = FALSE;
    info.dither_mode = JDITHER_ORDERED;
  }
}

// What the APP2 markers that libjpeg kept hold as an ICC profile; inside a
// guarded call, after the header.
std::string ProfileOf(jpeg_decompress_struct& info) {
  JOCTET* data = nullptr;
  unsigned int length = 0;
  if (!jpeg_read_icc_profile(&info, &data, &length)) return std::string();
  std::string profile(reinterpret_cast<const char*>(data), length);
  std::free(data);
  return profile;
}

// The profile in APP2 chunks right after the file's header, as libjpeg
// writes it; inside a guarded call, after jpeg_start_compress.
void WriteProfile(jpeg_compress_struct& info, const std::string& profile) {
  if (profile.empty()) return;
  jpeg_write_icc_profile(&info, reinterpret_cast<const JOCTET*>(profile.data()),
                         static_cast<unsigned int>(profile.size()));
}

// Before any memory in proportion to the picture is taken: a header of a
// few bytes can announce 65500 x 65500 pixels.
void CheckPixelLimit(const jpeg_decompress_struct& info) {
  if (static_cast<uint64_t>(info.image_width) * info.image_height > 1000000ull * JpegMegapixelLimit) {
    throw EOutOfResources(Format("Das Bild ist mit %u x %u Pixeln zu groß: höchstens %u Megapixel "
                                 "(SHRINKWELL_MAX_MEGAPIXELS)",
                                 info.image_width, info.image_height, JpegMegapixelLimit));
  }
}

// Palette indices to blue, green, red, as an 8-bit raster converts them to
// 24 bits: an index beyond the palette comes out black.
void IndicesToBgr(const uint8_t* in, uint8_t* out, size_t width, const std::vector<TPaletteEntry>& palette,
                  size_t pixelBytes) {
  for (size_t x = 0; x < width; ++x, out += pixelBytes) {
    if (in[x] < palette.size()) {
      const TPaletteEntry& entry = palette[in[x]];
      out[0] = entry.blue;
      out[1] = entry.green;
      out[2] = entry.red;
    } else {
      out[0] = out[1] = out[2] = 0;
    }
  }
}

// Reads every remaining output row of the pass straight into raster memory,
// one row per library call.
void ReadRows(Decompressor& context, uint8_t* top, ptrdiff_t step, bool cmyk) {
  jpeg_decompress_struct& info = context.info;
  Guarded(context, [&] {
    while (info.output_scanline < info.output_height) {
      const JDIMENSION y = info.output_scanline;
      uint8_t* row = top + step * static_cast<ptrdiff_t>(y);
      JSAMPROW target = cmyk ? context.cmykRow.data() : row;
      if (jpeg_read_scanlines(&info, &target, 1) != 1) break;
      if (cmyk) CmykToBgr(context.cmykRow.data(), row, info.output_width, info.saw_Adobe_marker, 3);
    }
  });
}

}  // namespace

std::string ReadIccProfile(TStream& file) {
  Decompressor context;
  jpeg_decompress_struct& info = context.info;
  std::string profile;
  try {
    Guarded(context, [&] {
      context.Create();
      context.UseStreamSource(file);
      jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
      jpeg_read_header(&info, TRUE);
      profile = ProfileOf(info);
    });
  } catch (const Exception&) {
    return std::string();  // no JPEG header libjpeg can read: no profile
  }
  return profile;
}

int64_t JpegFileSizeLimit() { return 8 * 1000000ll * JpegMegapixelLimit + (64ll << 20); }

int64_t JpegDecodeWorkBudget(int64_t bytes) { return 64 * bytes + (1ll << 20); }

int64_t JpegWholePictureBlockLimit(int64_t bytes) { return 16 * bytes + (256ll << 10); }

int JpegProgressPercent(long passCounter, long passLimit, int completedPasses, int totalPasses) {
  if (passLimit <= 0 || totalPasses <= 0) return -1;
  const double percent =
      (static_cast<double>(passCounter) / static_cast<double>(passLimit) + completedPasses) * 100.0 / totalPasses;
  if (!(percent > -1e9 && percent < 1e9)) return -1;
  return static_cast<int>(percent);
}

TJPEGImage::TJPEGImage() : options_(JpegOptionDefaults), data_(std::make_unique<TJPEGData>()) {}

TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::NewData() { data_ = std::make_unique<TJPEGData>(); }

int32_t TJPEGImage::PixelWidth() const {
  if (raster_) return raster_->PixelWidth();
  const int32_t denominator = 1 << options_.ScaleShift;
  return (data_->width + denominator - 1) / denominator;
}

int32_t TJPEGImage::PixelHeight() const {
  if (raster_) return raster_->PixelHeight();
  const int32_t denominator = 1 << options_.ScaleShift;
  return (data_->height + denominator - 1) / denominator;
}

void TJPEGImage::ChangeWidth(int32_t) {
  throw EInvalidGraphicOperation("Die Größe einer JPEG-Grafik kann nicht verändert werden");
}

void TJPEGImage::ChangeHeight(int32_t) {
  throw EInvalidGraphicOperation("Die Größe einer JPEG-Grafik kann nicht verändert werden");
}

void TJPEGImage::SetEncodeQuality(int quality) {
  options_.EncodeQuality = static_cast<uint8_t>(std::clamp(quality, 1, 100));
}

void TJPEGImage::ReadFromFile(const std::string& path) {
  TFileStream stream(path, TFileStream::Mode::OpenRead);
  ReadFromStream(stream);
}

void TJPEGImage::ReadFromStream(TStream& stream) { TakeCompressed(stream, stream.Size() - stream.Position()); }

void TJPEGImage::TakeCompressed(TStream& stream, int64_t count) {
  NewData();
  raster_.reset();
  try {
    data_->bytes = std::make_unique<std::string>(static_cast<size_t>(std::max<int64_t>(count, 0)), '\0');
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  stream.ReadBuffer(&(*data_->bytes)[0], data_->bytes->size());
  ReadHeader();
}

void TJPEGImage::TakeCompressed(std::string bytes) {
  NewData();
  raster_.reset();
  data_->bytes = std::make_unique<std::string>(std::move(bytes));
  ReadHeader();
}

void TJPEGImage::ReadHeader() {
  if (!data_->bytes->empty()) {
    Decompressor context;
    jpeg_decompress_struct& info = context.info;
    const std::string& bytes = *data_->bytes;
    bool multipleScans = false;
    Guarded(context, [&] {
      context.Create();
      context.UseMemorySource(bytes);
      jpeg_read_header(&info, TRUE);
      multipleScans = jpeg_has_multiple_scans(&info);
    });
    RecordHeader(info.image_width, info.image_height, info.jpeg_color_space == JCS_GRAYSCALE, multipleScans);
  }
  SetPaletteModified(true);
  Changed();
}

void TJPEGImage::RecordHeader(uint32_t width, uint32_t height, bool grayscale, bool multipleScans) {
  data_->width = static_cast<int32_t>(width);
  data_->height = static_cast<int32_t>(height);
  data_->grayscale = grayscale;
  options_.WriteProgressive = multipleScans;
}

void TJPEGImage::Decode() {
  // The raster stays stored whatever happens below.
  raster_ = std::make_unique<TBitmap>();
  TBitmap& raster = *raster_;
  Decompressor context;
  jpeg_decompress_struct& info = context.info;
  static const std::string kNothing;
  const std::string& bytes = data_->bytes ? *data_->bytes : kNothing;
  bool cmyk = false;
  bool buffered = false;
  try {
    Guarded(context, [&] {
      context.Create();
      info.progress = &context.progress.pub;
      context.progress.image = this;
      context.UseMemorySource(bytes);
      info.mem->max_memory_to_use = LibraryMemoryLimit();
      jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
      jpeg_read_header(&info, TRUE);
      iccProfile_ = ProfileOf(info);
      SetUpDecoding(info, options_, cmyk);
      context.savedDct = info.dct_method;
      context.savedTwoPass = info.two_pass_quantize != FALSE;
      context.savedDither = info.dither_mode;
      if (options_.ShowProgressive && jpeg_has_multiple_scans(&info)) {
        info.enable_2pass_quant = info.two_pass_quantize;
        info.dct_method = JDCT_IFAST;
        info.two_pass_quantize = FALSE;
        info.dither_mode = JDITHER_ORDERED;
        info.buffered_image = TRUE;
        buffered = true;
      }
    });
    CheckPixelLimit(info);
    context.work.Begin(&info, static_cast<int64_t>(bytes.size()));
    const bool palette8 = info.quantize_colors != FALSE;
    raster.SetRasterFormat(palette8 ? rf8Bit : rf24Bit);
    Progress(TProgressStage::Starting, 0, false, TRect(), std::string());
    Guarded(context, [&] { jpeg_start_decompress(&info); });
    // Nothing may be written outside a row.
    if (info.output_components != (palette8 ? 1 : cmyk ? 4 : 3)) throw EJPEG(JERR_CONVERSION_NOTIMPL);
    if (cmyk) context.cmykRow.resize(4 * static_cast<size_t>(info.output_width));
    raster.ChangeWidth(static_cast<int32_t>(info.output_width));
    raster.ChangeHeight(static_cast<int32_t>(info.output_height));
    // The stride is known, so a picture one row high needs no row 1.
    uint8_t* top = raster.RowAddress(0);
    const ptrdiff_t step = raster.RowStep();
    bool paletteToMake = true;
    auto attachPalette = [&] {
      raster.AttachPalette(PaletteFromColourMap(info));
      SetPaletteModified(true);
      paletteToMake = false;
      top = raster.RowAddress(0);
    };
    if (!buffered) {
      if (info.colormap != nullptr && paletteToMake) attachPalette();
      ReadRows(context, top, step, cmyk);
    } else {
      for (;;) {
        int status = 0;
        Guarded(context, [&] { status = jpeg_consume_input(&info); });
        if (status == JPEG_REACHED_EOI) break;
        Guarded(context, [&] { jpeg_start_output(&info, info.input_scan_number); });
        if (context.progress.pub.completed_passes == 0 && info.colormap != nullptr &&
            raster.RasterFormat() == rf8Bit && paletteToMake) {
          attachPalette();
        }
        top = raster.RowAddress(0);
        ReadRows(context, top, step, cmyk);
        Guarded(context, [&] { jpeg_finish_output(&info); });
      }
      info.dct_method = context.savedDct;
      info.dither_mode = context.savedDither;
      if (context.savedTwoPass) {
        info.two_pass_quantize = TRUE;
        info.colormap = nullptr;
      }
      Guarded(context, [&] { jpeg_start_output(&info, info.input_scan_number); });
      top = raster.RowAddress(0);
      if (context.savedTwoPass && info.colormap != nullptr && paletteToMake) attachPalette();
      ReadRows(context, top, step, cmyk);
      Guarded(context, [&] { jpeg_finish_output(&info); });
    }
    Guarded(context, [&] { jpeg_finish_decompress(&info); });
  } catch (const EAbort&) {
    Progress(TProgressStage::Ending, 0, false, TRect(), std::string());
    if (PaletteModified()) Changed();
    return;
  } catch (...) {
    Progress(TProgressStage::Ending, 0, false, TRect(), std::string());
    if (PaletteModified()) Changed();
    throw;
  }
  Progress(TProgressStage::Ending, 100, false, TRect(), std::string());
  if (PaletteModified()) Changed();
}

void TJPEGImage::WriteToFile(const std::string& path) {
  TFileStream stream(path, TFileStream::Mode::Create);
  WriteToStream(stream);
  stream.Close();
}

void TJPEGImage::WriteToStream(TStream& stream) {
  EnsureEncoded();
  if (data_->bytes && !data_->bytes->empty()) stream.WriteBuffer(data_->bytes->data(), data_->bytes->size());
}

void TJPEGImage::EnsureEncoded() {
  if (!data_->bytes) EncodeRaster();
}

void TJPEGImage::EncodeRaster() {
  Compressor context;
  jpeg_compress_struct& info = context.info;
  Guarded(context, [&] {
    context.Create();
    info.progress = &context.progress.pub;
    context.progress.image = this;
  });
  NewData();
  data_->bytes = std::make_unique<std::string>();
  context.UseMemoryDestination(*data_->bytes);
  if (!raster_ || raster_->PixelWidth() == 0 || raster_->PixelHeight() == 0) return;

  data_->width = raster_->PixelWidth();
  data_->height = raster_->PixelHeight();

  // Shares the pixels when the raster is 24-bit already; rows are only read.
  TBitmap copy;
  copy.CopyPicture(raster_.get());
  copy.SetRasterFormat(rf24Bit);

  Guarded(context, [&] { context.SetUp(data_->width, data_->height, options_); });
  if (options_.GrayMode) data_->grayscale = true;
  // The stride is known, so a picture one row high needs no row 1.
  const uint8_t* top = copy.RowAddressForReading(0);
  const ptrdiff_t step = copy.RowStep();
  try {
    Progress(TProgressStage::Starting, 0, false, TRect(), std::string());
    Guarded(context, [&] {
      jpeg_start_compress(&info, TRUE);
      WriteProfile(info, iccProfile_);
      while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(top + step * static_cast<ptrdiff_t>(info.next_scanline));
        if (jpeg_write_scanlines(&info, &row, 1) != 1) break;
      }
      jpeg_finish_compress(&info);
    });
  } catch (const EAbort&) {
    NewData();
    Progress(TProgressStage::Ending, 0, false, TRect(), std::string());
    return;
  } catch (...) {
    Progress(TProgressStage::Ending, 0, false, TRect(), std::string());
    throw;
  }
  Progress(TProgressStage::Ending, 100, false, TRect(), std::string());
}

struct TJPEGDecodeEnd::TState {
  Decompressor context;
  bool wholePicture = false;
};

TJPEGDecodeEnd::TJPEGDecodeEnd() = default;
TJPEGDecodeEnd::TJPEGDecodeEnd(TJPEGDecodeEnd&& other) noexcept = default;
TJPEGDecodeEnd& TJPEGDecodeEnd::operator=(TJPEGDecodeEnd&& other) noexcept = default;
TJPEGDecodeEnd::~TJPEGDecodeEnd() = default;

void TJPEGDecodeEnd::Finish() {
  if (!state_) return;
  const std::unique_ptr<TState> state = std::move(state_);
  Guarded(state->context, [&] { jpeg_finish_decompress(&state->context.info); });
}

bool TJPEGDecodeEnd::HoldsWholePicture() const { return state_ && state_->wholePicture; }

void TJPEGImage::DecodeRows(TRowReceiver& receiver) { DecodeRowsThrough(nullptr, receiver).Finish(); }

void TJPEGImage::DecodeRowsFrom(TStream& stream, TRowReceiver& receiver) {
  DecodeRowsLeavingEnd(stream, receiver).Finish();
}

TJPEGDecodeEnd TJPEGImage::DecodeRowsLeavingEnd(TStream& stream, TRowReceiver& receiver) {
  NewData();
  raster_.reset();
  return DecodeRowsThrough(&stream, receiver);
}

TJPEGDecodeEnd TJPEGImage::DecodeRowsThrough(TStream* stream, TRowReceiver& receiver) {
  // On the heap: the library's record must not move when the end is handed on.
  auto state = std::make_unique<TJPEGDecodeEnd::TState>();
  Decompressor& context = state->context;
  jpeg_decompress_struct& info = context.info;
  static const std::string kNothing;
  const std::string& bytes = data_->bytes ? *data_->bytes : kNothing;
  bool cmyk = false;
  bool multipleScans = false;
  const size_t pixelBytes = receiver.BytesPerPixel() == 4 ? 4 : 3;
  Guarded(context, [&] {
    context.Create();
    info.progress = &context.progress.pub;  // for the limits on scans and work
    if (stream != nullptr) {
      context.UseStreamSource(*stream);
    } else {
      context.UseMemorySource(bytes);
    }
    info.mem->max_memory_to_use = LibraryMemoryLimit();
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    iccProfile_ = ProfileOf(info);
    multipleScans = jpeg_has_multiple_scans(&info);
    SetUpDecoding(info, options_, cmyk);
    // The quantizer works on three components only.
    if (pixelBytes == 4 && info.out_color_space == JCS_EXT_BGR && !info.quantize_colors) {
      info.out_color_space = JCS_EXT_BGRX;
    }
  });
  if (stream != nullptr) RecordHeader(info.image_width, info.image_height, info.jpeg_color_space == JCS_GRAYSCALE, multipleScans);
  CheckPixelLimit(info);
  context.work.Begin(&info, stream != nullptr ? stream->Size() : static_cast<int64_t>(bytes.size()));
  // However the decoding ends, the receiver is done with the library's
  // blocks before any of them goes: declared after `state`, this ends first.
  struct TBlocksGoing {
    CodecContext& context;
    TRowReceiver& receiver;
    ~TBlocksGoing() {
      context.blockReceiver = nullptr;
      receiver.LargeBlocksGoing();
    }
  } blocksGoing{context, receiver};
  context.blockReceiver = &receiver;
  Guarded(context, [&] { jpeg_start_decompress(&info); });
  const bool palette8 = info.quantize_colors != FALSE;
  // Nothing may be written outside a row.
  if (info.output_components != (palette8 ? 1 : cmyk ? 4 : static_cast<int>(pixelBytes))) {
    throw EJPEG(JERR_CONVERSION_NOTIMPL);
  }
  const size_t width = info.output_width;
  // Palette indices and four-component samples are read into a row of
  // their own and converted as a 24-bit raster converts them.
  std::vector<TPaletteEntry> palette;
  if (palette8) palette = info.colormap != nullptr ? PaletteFromColourMap(info) : TBitmap::HalftonePalette();
  std::vector<uint8_t> sampleRow(palette8 || cmyk ? (cmyk ? 4 : 1) * width : 0);
  receiver.Begin(static_cast<int32_t>(info.output_width), static_cast<int32_t>(info.output_height));
  while (info.output_scanline < info.output_height) {
    int32_t capacity = 0;
    uint8_t* const* rows = receiver.BandToFill(capacity);
    int32_t filled = 0;
    Guarded(context, [&] {
      while (filled < capacity && info.output_scanline < info.output_height) {
        JSAMPROW target = sampleRow.empty() ? rows[filled] : sampleRow.data();
        if (jpeg_read_scanlines(&info, &target, 1) != 1) break;
        if (cmyk) CmykToBgr(sampleRow.data(), rows[filled], width, info.saw_Adobe_marker, pixelBytes);
        if (palette8) IndicesToBgr(sampleRow.data(), rows[filled], width, palette, pixelBytes);
        ++filled;
      }
    });
    receiver.BandFilled(filled);
    if (filled == 0) break;
  }
  state->wholePicture = multipleScans;
  TJPEGDecodeEnd end;
  end.state_ = std::move(state);
  return end;
}

TBitmap& TJPEGImage::DecodedRaster() {
  if (!raster_) Decode();
  return *raster_;
}

void TJPEGImage::CopyPicture(const TBitmap& raster) {
  NewData();
  raster_ = std::make_unique<TBitmap>();
  raster_->CopyPicture(&raster);
}

struct TJPEGRowEncoder::TState {
  Compressor context;
  std::string stream;
};

TJPEGRowEncoder::TJPEGRowEncoder() = default;
TJPEGRowEncoder::~TJPEGRowEncoder() = default;

void TJPEGRowEncoder::Start(int32_t width, int32_t height, const TJPEGOptions& options,
                            const std::string& iccProfile) {
  state_.reset();
  auto state = std::make_unique<TState>();
  Compressor& context = state->context;
  Guarded(context, [&] {
    context.Create();  // which clears the record
    context.UseMemoryDestination(state->stream);
    context.SetUp(width, height, options);
    jpeg_start_compress(&context.info, TRUE);
    WriteProfile(context.info, iccProfile);
  });
  state_ = std::move(state);
}

void TJPEGRowEncoder::TakeRow(const uint8_t* row) {
  Compressor& context = state_->context;
  JSAMPROW sample = const_cast<JSAMPROW>(row);  // only read
  Guarded(context, [&] { jpeg_write_scanlines(&context.info, &sample, 1); });
}

std::string TJPEGRowEncoder::Finish() {
  const std::unique_ptr<TState> state = std::move(state_);
  Guarded(state->context, [&] { jpeg_finish_compress(&state->context.info); });
  return std::move(state->stream);
}

}  // namespace shrinkwell

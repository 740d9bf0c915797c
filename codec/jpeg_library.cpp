#include "jpeg_library.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <new>

namespace shrinkwell {
namespace jpeg_library {

namespace {

uint32_t TickCount() {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

[[noreturn]] void ErrorExit(j_common_ptr info) {
  CodecContext& context = CodecContext::Of(info);
  context.code = info->err->msg_code;
  std::longjmp(context.jump, 1);
}
// Warnings and trace messages never stop the work.
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}
void FormatMessage(j_common_ptr, char*) {}
void ResetErrorMgr(j_common_ptr info) {
  info->err->num_warnings = 0;
  info->err->msg_code = 0;
}

void ProgressMonitor(j_common_ptr info) {
  CodecContext& context = CodecContext::Of(info);
  // A scan passes over every block it covers: a few bytes per scan could
  // make a small file cost minutes. Real files have a dozen scans, and
  // their work stays within the budget their size gives.
  if (info->is_decompressor) {
    const auto& decoding = *reinterpret_cast<j_decompress_ptr>(info);
    // Making the report may itself run out of memory: nothing is thrown
    // through the library's frames.
    try {
      if (decoding.input_scan_number > kMaxScans) {
        context.pending = std::make_exception_ptr(
            EOutOfResources(Format("Die JPEG-Datei hat mehr als %d Scans", kMaxScans)));
      } else if (!context.work.Follow(decoding)) {
        context.pending = std::make_exception_ptr(context.work.TooMuch(decoding));
      }
    } catch (...) {
      context.pending = std::current_exception();
    }
    CodecContext::LeaveIfPending(info);
  }
  CodecContext::Progress& progress = context.progress;
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
  CodecContext::LeaveIfPending(info);
}

PieceSource& SourceOf(j_decompress_ptr info) { return *reinterpret_cast<PieceSource*>(info->src); }

void InitSource(j_decompress_ptr info) { SourceOf(info).startOfFile = true; }

boolean FillInputBuffer(j_decompress_ptr info) {
  PieceSource& source = SourceOf(info);
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

void SkipInputData(j_decompress_ptr info, long count) {
  if (count <= 0) return;
  PieceSource& source = SourceOf(info);
  while (static_cast<unsigned long>(count) > source.pub.bytes_in_buffer) {
    count -= static_cast<long>(source.pub.bytes_in_buffer);
    FillInputBuffer(info);
  }
  source.pub.next_input_byte += count;
  source.pub.bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

MemoryDestination& DestinationOf(j_compress_ptr info) { return *reinterpret_cast<MemoryDestination*>(info->dest); }

void InitDestination(j_compress_ptr info) {
  MemoryDestination& destination = DestinationOf(info);
  destination.buffer = static_cast<JOCTET*>(
      (*info->mem->alloc_small)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE, kBufferSize));
  destination.pub.next_output_byte = destination.buffer;
  destination.pub.free_in_buffer = kBufferSize;
}

void Append(j_compress_ptr info, size_t count) {
  MemoryDestination& destination = DestinationOf(info);
  try {
    destination.stream->append(reinterpret_cast<const char*>(destination.buffer), count);
  } catch (const std::bad_alloc&) {
    CodecContext& context = CodecContext::Of(reinterpret_cast<j_common_ptr>(info));
    try {
      context.pending =
          std::make_exception_ptr(EStreamError("Expandieren des Speicher-Stream wegen Speichermangel nicht möglich"));
    } catch (...) {
      context.pending = std::current_exception();  // no memory even for the report
    }
  } catch (...) {
    CodecContext::Of(reinterpret_cast<j_common_ptr>(info)).pending = std::current_exception();
  }
  CodecContext::LeaveIfPending(reinterpret_cast<j_common_ptr>(info));
}

boolean EmptyOutputBuffer(j_compress_ptr info) {
  Append(info, kBufferSize);
  MemoryDestination& destination = DestinationOf(info);
  destination.pub.next_output_byte = destination.buffer;
  destination.pub.free_in_buffer = kBufferSize;
  return TRUE;
}

void TermDestination(j_compress_ptr info) {
  const size_t used = kBufferSize - DestinationOf(info).pub.free_in_buffer;
  if (used > 0) Append(info, used);
}

}  // namespace

void DecodeWork::Begin(j_decompress_ptr info, int64_t bytes) {
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

// Scans read without a report (a buffered decode) count as covering every
// block; a buffered decode also makes an output pass over every block for
// each scan it shows.
bool DecodeWork::Follow(const jpeg_decompress_struct& info) {
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

EOutOfResources DecodeWork::TooMuch(const jpeg_decompress_struct& info) const {
  return EOutOfResources(Format("Die JPEG-Datei verlangt zu viel Arbeit für ihre %lld Bytes "
                                "(%u x %u Pixel, %d Scans bis hier)",
                                static_cast<long long>(fileBytes), info.image_width, info.image_height,
                                info.input_scan_number));
}

CodecContext::CodecContext() {
  error.error_exit = ErrorExit;
  error.emit_message = EmitMessage;
  error.output_message = OutputMessage;
  error.format_message = FormatMessage;
  error.reset_error_mgr = ResetErrorMgr;
  progress.pub.progress_monitor = ProgressMonitor;
}

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

[[noreturn]] void LibraryError(j_common_ptr info, int code) {
  info->err->msg_code = code;
  (*info->err->error_exit)(info);
  std::abort();  // error_exit never returns
}

// The next piece, where it lies (the library only reads it); empty at the
// end. A failing stream's exception leaves the library, to be raised once
// its frames are gone.
size_t PieceSource::Fetch(j_decompress_ptr info, const JOCTET*& piece) {
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
void PieceSource::Stage(j_decompress_ptr info) {
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

Decompressor::Decompressor() {
  info.err = &error;
  info.client_data = static_cast<CodecContext*>(this);
}

Decompressor::~Decompressor() {
  CoefficientsGoing();
  if (created) jpeg_destroy_decompress(&info);
}

void Decompressor::Create() {
  created = true;
  jpeg_CreateDecompress(&info, JPEG_LIB_VERSION, sizeof info);
}

namespace {

void UsePieces(jpeg_decompress_struct& info, PieceSource& source) {
  source.position = 0;
  source.pub.init_source = InitSource;
  source.pub.fill_input_buffer = FillInputBuffer;
  source.pub.skip_input_data = SkipInputData;
  source.pub.resync_to_restart = jpeg_resync_to_restart;
  source.pub.term_source = TermSource;
  source.pub.bytes_in_buffer = 0;
  source.pub.next_input_byte = nullptr;
  info.src = &source.pub;
}

}  // namespace

void Decompressor::UseMemorySource(const std::string& bytes) {
  source.bytes = &bytes;
  UsePieces(info, source);
}

void Decompressor::UseStreamSource(TStream& stream) {
  source.stream = &stream;
  source.staging = static_cast<JOCTET*>(
      (*info.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&info), JPOOL_PERMANENT, kStreamPiece));
  UsePieces(info, source);
}

namespace {

// libjpeg allocates an array in memory in pieces of at most this many bytes.
constexpr size_t kOnePieceBelow = 1000000000;

Decompressor& DecompressorOf(j_common_ptr info) { return static_cast<Decompressor&>(CodecContext::Of(info)); }

jvirt_barray_ptr RequestArray(j_common_ptr info, int pool, boolean preZero, JDIMENSION blocksPerRow, JDIMENSION rows,
                              JDIMENSION maxAccess) {
  Decompressor& context = DecompressorOf(info);
  const jvirt_barray_ptr array = context.requestArray(info, pool, preZero, blocksPerRow, rows, maxAccess);
  if (context.coefficientArrayCount < MAX_COMPONENTS) {
    context.coefficientArrays[context.coefficientArrayCount++] = {
        array, static_cast<size_t>(blocksPerRow) * rows * sizeof(JBLOCK), blocksPerRow, false};
  }
  return array;
}

JBLOCKARRAY AccessArray(j_common_ptr info, jvirt_barray_ptr array, JDIMENSION startRow, JDIMENSION rowCount,
                        boolean writable) {
  Decompressor& context = DecompressorOf(info);
  const JBLOCKARRAY rows = context.accessArray(info, array, startRow, rowCount, writable);
  for (int i = 0; i < context.coefficientArrayCount; ++i) {
    Decompressor::CoefficientArray& known = context.coefficientArrays[i];
    if (known.array != array || known.told) continue;
    known.told = true;
    // Told only where the array lies in one piece from its first row on, as
    // libjpeg keeps an array below a gigabyte: the rows given out follow
    // each other.
    bool onePiece = startRow == 0 && rowCount > 0 && known.bytes < kOnePieceBelow;
    for (JDIMENSION row = 1; onePiece && row < rowCount; ++row) onePiece = rows[row] == rows[0] + row * known.blocksPerRow;
    if (!onePiece) break;
    context.coefficientsTold = true;
    try {
      context.coefficientObserver(reinterpret_cast<uint8_t*>(rows[0]), known.bytes);
    } catch (...) {
      // Only a hint.
    }
  }
  return rows;
}

}  // namespace

void Decompressor::CoefficientsGoing() noexcept {
  if (!coefficientsTold) return;
  coefficientsTold = false;
  try {
    coefficientObserver(nullptr, 0);
  } catch (...) {
    // Only a hint.
  }
}

void Decompressor::WatchCoefficients(const TJPEGImage::TCoefficientObserver& observer) {
  if (!observer) return;
  coefficientObserver = observer;
  requestArray = info.mem->request_virt_barray;
  accessArray = info.mem->access_virt_barray;
  info.mem->request_virt_barray = RequestArray;
  info.mem->access_virt_barray = AccessArray;
}

Compressor::Compressor() {
  info.err = &error;
  info.client_data = static_cast<CodecContext*>(this);
}

Compressor::~Compressor() {
  if (created) jpeg_destroy_compress(&info);
}

void Compressor::Create() {
  created = true;
  jpeg_CreateCompress(&info, JPEG_LIB_VERSION, sizeof info);
}

void Compressor::UseMemoryDestination(std::string& stream) {
  destination.stream = &stream;
  destination.pub.init_destination = InitDestination;
  destination.pub.empty_output_buffer = EmptyOutputBuffer;
  destination.pub.term_destination = TermDestination;
  info.dest = &destination.pub;
}

void Compressor::SetUp(int32_t width, int32_t height, const TJPEGOptions& options) {
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

}  // namespace jpeg_library
}  // namespace shrinkwell

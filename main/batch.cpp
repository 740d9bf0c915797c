#include "batch.h"

#include <exception>
#include <new>

#include "console.h"
#include "exif_reader.h"
#include "graphics.h"
#include "jpeg.h"
#include "shrink.h"
#include "errors.h"
#include "system.h"
#include "wide_names.h"
#include "work_buffers.h"

namespace shrinkwell {

namespace {

const char16_t kSourceScratch[] = u"1.$$$";
const char16_t kOutputScratch[] = u"2.$$$";

void WriteShortBanner() {
  console::WriteLine("Shrinkwell 1.1, Compiled 28.07.2012");
  console::WriteLine("Written by the Shrinkwell developers. Free to use and to pass on.");
  console::WriteLine();
}

void WriteLongBannerAndUsage() {
  console::WriteLine("Shrinkwell 1.2, Compiled 28.07.2012");
  console::WriteLine();
  console::WriteLine("Written by the Shrinkwell developers. Free to use and to pass on.");
  console::WriteLine();
  console::WriteLine("E-mail: shrinkwell@example.org");
  console::WriteLine("Homepage: https://shrinkwell.example.org");
  console::WriteLine();
  console::WriteLine("With thanks to the authors of the EXIF metadata reader.");
  console::WriteLine();
  console::WriteLine();
  console::WriteLine("USAGE:");
  console::WriteLine("Drag and drop the photos to be resized on this program's executable.");
  console::WriteLine();
  console::WriteLine();
  console::WriteLine("Press Enter to close this window.");
}

// The orientation text of the photo's EXIF data, "Normal" without one.
std::string OrientationOf(const std::string& scratchName) {
  TimgData metadata(255);
  metadata.ScanJpegFile(scratchName);
  std::string orientation = "Normal";
  if (metadata.HasExif() && metadata.ImageInfo()->TagIndexByName("Orientation") >= 0) {
    orientation = metadata.ImageInfo()->TagTextByName("Orientation");
  }
  return orientation;
}

// Makes the quarter-size upright copy of one photo. Returns the text that
// ends its progress line. Errors that end the run pass through.
std::string ProcessPhoto(const std::u16string& argument, const std::u16string& extension, TWorkBuffers& buffers) {
  const std::u16string outputName = OutputNameFor(argument, extension);
  const std::string sourceScratch = ToNarrow(kSourceScratch);
  auto raster = std::make_unique<TBitmap>();
  auto jpeg = std::make_unique<TJPEGImage>();

  // A failed copy must not let an old scratch file from an earlier run be
  // taken for this photo.
  if (!CopyFileTo(argument, kSourceScratch, false)) {
    throw EFOpenError(Format("Datei %s kann nicht geöffnet werden. %s", ExpandFileName(sourceScratch).c_str(),
                             SystemErrorMessage(LastFileError()).c_str()));
  }
  const std::string orientation = OrientationOf(sourceScratch);
  jpeg->ReadFromFile(sourceScratch);
  RemoveFile(kSourceScratch);
  raster->CopyPicture(*jpeg);
  raster->SetRasterFormat(rf24Bit);
  ShrinkAndRotate(raster, orientation, buffers);
  jpeg->CopyPicture(*raster);
  jpeg->SetEncodeQuality(88);
  jpeg->WriteToFile(ToNarrow(kOutputScratch));

  if (MoveFileTo(kOutputScratch, outputName)) return " OK";
  // Never report success for a copy that was not stored, and never leave
  // the finished scratch file to be mistaken for another photo's.
  const bool exists = LastFileErrorIsTargetExists();
  const std::string reason = SystemErrorMessage(LastFileError());
  RemoveFile(kOutputScratch);
  return exists ? " skipped: " + ToNarrow(outputName) + " exists" : " failed: " + reason;
}

void RunLoop(TWorkBuffers& buffers) {
  const int count = ArgumentCount();
  for (int i = 1; i <= count; ++i) {
    const std::u16string argument = ArgumentAt(i);
    const std::string narrow = ToNarrow(argument);
    console::Write("[" + ZeroPad(i, 2) + "/" + ZeroPad(count, 2) + "] " + narrow);
    console::Flush();
    const std::string extension = ExtensionOf(narrow);
    std::string ending = " OK";
    if (IsExistingFile(argument) && IsJpegExtension(extension)) ending = ProcessPhoto(argument, ToWide(extension), buffers);
    console::WriteLine(ending);
  }
  console::Flush();
}

}  // namespace

std::string ZeroPad(int value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  return digits;
}

std::string ExtensionOf(const std::string& path) {
  const size_t last = path.find_last_of(".\\:/");
  if (last == std::string::npos || path[last] != '.') return std::string();
  return path.substr(last);
}

bool IsJpegExtension(const std::string& extension) {
  std::string upper = extension;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper == ".JPG" || upper == ".JPEG";
}

std::u16string OutputNameFor(const std::u16string& argument, const std::u16string& extension) {
  return argument.substr(0, argument.size() - extension.size()) + u"+" + extension;
}

int RunBatch() {
  try {
    TWorkBuffers buffers;
    if (ArgumentCount() > 0) {
      WriteShortBanner();
    } else {
      WriteLongBannerAndUsage();
      console::ReadLine();
    }
    RunLoop(buffers);
    return 0;
  } catch (const Exception& error) {
    console::WriteErrorReport(error.ClassName(), error.Address(), error.Message());
  } catch (const std::bad_alloc&) {
    const EOutOfMemory error(nullptr);
    console::WriteErrorReport(error.ClassName(), error.Address(), error.Message());
  } catch (const std::exception& error) {
    console::WriteErrorReport("Exception", nullptr, error.what());
  }
  return 1;
}

}  // namespace shrinkwell

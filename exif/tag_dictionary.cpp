#include "tag_dictionary.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>

#include "errors.h"

namespace shrinkwell {

namespace {

constexpr TTagRow Row(uint16_t tag, const char* name, const char* description = "", const char* valueMap = "",
                      const char* pattern = "", TagConverter converter = nullptr) {
  return TTagRow{tag, name, description, valueMap, pattern, converter, 0, 0};
}

bool tablesPrepared = false;

bool IsCapital(char c) { return c >= 'A' && c <= 'Z'; }
bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

// Splits "a, b, c" as the walks write three rationals, at the first ", " and
// the next one.
void SplitThree(const std::string& text, double& first, double& second, double& third) {
  const std::string rest = TextAfter(text, ", ");
  first = RationalTextToNumber(TextBefore(text, ", "));
  second = RationalTextToNumber(TextBefore(rest, ", "));
  third = RationalTextToNumber(TextAfter(rest, ", "));
}

// A pattern is applied to a floating value only when its one conversion is a
// floating one; anything else would hand printf the wrong argument type.
bool IsFloatPattern(const std::string& pattern) {
  int conversions = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    ++i;
    if (i < pattern.size() && pattern[i] == '%') continue;
    while (i < pattern.size() && std::string("-+ #0").find(pattern[i]) != std::string::npos) ++i;
    while (i < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[i]))) ++i;
    if (i < pattern.size() && pattern[i] == '.') {
      ++i;
      while (i < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[i]))) ++i;
    }
    if (i >= pattern.size() || std::string("fFeEgG").find(pattern[i]) == std::string::npos) return false;
    ++conversions;
  }
  return conversions == 1;
}

constexpr TTagRow kExifRows[] = {
    Row(0x0001, "InteroperabilityIndex"),
    Row(0x0002, "InteroperabilityVersion"),
    Row(0x000B, "ACDComment"),
    Row(0x00FE, "NewSubfileType"),
    Row(0x00FF, "SubfileType"),
    Row(0x0100, "ImageWidth"),
    Row(0x0101, "ImageLength"),
    Row(0x0102, "BitsPerSample"),
    Row(0x0103, "Compression", "", "6:Jpeg,3:Uncompressed,1:TIFF"),
    Row(0x0106, "PhotometricInterpretation", "", "1:Monochrome,2:RGB,6:YCbCr"),
    Row(0x010A, "FillOrder"),
    Row(0x010D, "DocumentName"),
    Row(0x010E, "ImageDescription"),
    Row(0x010F, "Make"),
    Row(0x0110, "Model"),
    Row(0x0111, "StripOffsets"),
    Row(0x0112, "Orientation", "", "1:Normal,3:Rotated 180\xB0" ",6:CounterClockwise 90\xB0" ",8:Clockwise 90\xB0"),
    Row(0x0115, "SamplesPerPixel"),
    Row(0x0116, "RowsPerStrip"),
    Row(0x0117, "StripByteCounts"),
    Row(0x0118, "MinSampleValue"),
    Row(0x0119, "MaxSampleValue"),
    Row(0x011A, "XResolution", "", "", "%5.2f"),
    Row(0x011B, "YResolution", "", "", "%5.2f"),
    Row(0x011C, "PlanarConfiguration"),
    Row(0x011D, "PageName"),
    Row(0x011E, "XPosition"),
    Row(0x011F, "YPosition"),
    Row(0x0120, "FreeOffsets"),
    Row(0x0121, "FreeByteCounts"),
    Row(0x0122, "GrayReponseUnit"),
    Row(0x0123, "GrayReponseCurve"),
    Row(0x0124, "T4Options"),
    Row(0x0125, "T6Options"),
    Row(0x0128, "ResolutionUnit", "", "1:None Specified,2:Inch,3:Centimeter"),
    Row(0x0129, "PageNumber"),
    Row(0x012D, "TransferFunction"),
    Row(0x0131, "Software"),
    Row(0x0132, "DateTime"),
    Row(0x013B, "Artist"),
    Row(0x013C, "HostComputer"),
    Row(0x013D, "Predictor"),
    Row(0x013E, "WhitePoint"),
    Row(0x013F, "PrimaryChromaticities"),
    Row(0x0140, "ColorMap"),
    Row(0x0141, "HalfToneHints"),
    Row(0x0142, "TileWidth"),
    Row(0x0143, "TileLength"),
    Row(0x0144, "TileOffsets"),
    Row(0x0145, "TileByteCounts"),
    Row(0x014A, "SubIFDs"),
    Row(0x014C, "InkSet"),
    Row(0x014D, "InkNames"),
    Row(0x014E, "NumberOfInks"),
    Row(0x0150, "DotRange"),
    Row(0x0151, "TargetPrinter"),
    Row(0x0152, "ExtraSample"),
    Row(0x0153, "SampleFormat"),
    Row(0x0154, "SMinSampleValue"),
    Row(0x0155, "SMaxSampleValue"),
    Row(0x0156, "TransferRange"),
    Row(0x0157, "ClipPath"),
    Row(0x0158, "XClipPathUnits"),
    Row(0x0159, "YClipPathUnits"),
    Row(0x015A, "Indexed"),
    Row(0x015B, "JPEGTables"),
    Row(0x015F, "OPIProxy"),
    Row(0x0200, "JPEGProc"),
    Row(0x0201, "JPEGInterchangeFormat"),
    Row(0x0202, "JPEGInterchangeFormatLength"),
    Row(0x0203, "JPEGRestartInterval"),
    Row(0x0205, "JPEGLosslessPredictors"),
    Row(0x0206, "JPEGPointTransforms"),
    Row(0x0207, "JPEGQTables"),
    Row(0x0208, "JPEGDCTables"),
    Row(0x0209, "JPEGACTables"),
    Row(0x0211, "YCbCrCoefficients"),
    Row(0x0212, "YCbCrSubSampling"),
    Row(0x0213, "YCbCrPositioning", "", "1:Centered,2:Co-sited"),
    Row(0x0214, "ReferenceBlackWhite"),
    Row(0x02BC, "ExtensibleMetadataPlatform"),
    Row(0x0301, "Gamma"),
    Row(0x0302, "ICCProfileDescriptor"),
    Row(0x0303, "SRGBRenderingIntent"),
    Row(0x0304, "ImageTitle"),
    Row(0x1000, "RelatedImageFileFormat"),
    Row(0x1001, "RelatedImageWidth"),
    Row(0x1002, "RelatedImageHeight"),
    Row(0x5001, "ResolutionXUnit"),
    Row(0x5002, "ResolutionYUnit"),
    Row(0x5003, "ResolutionXLengthUnit"),
    Row(0x5004, "ResolutionYLengthUnit"),
    Row(0x5005, "PrintFlags"),
    Row(0x5006, "PrintFlagsVersion"),
    Row(0x5007, "PrintFlagsCrop"),
    Row(0x5008, "PrintFlagsBleedWidth"),
    Row(0x5009, "PrintFlagsBleedWidthScale"),
    Row(0x500A, "HalftoneLPI"),
    Row(0x500B, "HalftoneLPIUnit"),
    Row(0x500C, "HalftoneDegree"),
    Row(0x500D, "HalftoneShape"),
    Row(0x500E, "HalftoneMisc"),
    Row(0x500F, "HalftoneScreen"),
    Row(0x5010, "JPEGQuality"),
    Row(0x5011, "GridSize"),
    Row(0x5012, "ThumbnailFormat"),
    Row(0x5013, "ThumbnailWidth"),
    Row(0x5014, "ThumbnailHeight"),
    Row(0x5015, "ThumbnailColorDepth"),
    Row(0x5016, "ThumbnailPlanes"),
    Row(0x5017, "ThumbnailRawBytes"),
    Row(0x5018, "ThumbnailSize"),
    Row(0x5019, "ThumbnailCompressedSize"),
    Row(0x501A, "ColorTransferFunction"),
    Row(0x501B, "ThumbnailData"),
    Row(0x5020, "ThumbnailImageWidth"),
    Row(0x5021, "ThumbnailImageHeight"),
    Row(0x5022, "ThumbnailBitsPerSample"),
    Row(0x5023, "ThumbnailCompression"),
    Row(0x5024, "ThumbnailPhotometricInterp"),
    Row(0x5025, "ThumbnailImageDescription"),
    Row(0x5026, "ThumbnailEquipMake"),
    Row(0x5027, "ThumbnailEquipModel"),
    Row(0x5028, "ThumbnailStripOffsets"),
    Row(0x5029, "ThumbnailOrientation"),
    Row(0x502A, "ThumbnailSamplesPerPixel"),
    Row(0x502B, "ThumbnailRowsPerStrip"),
    Row(0x502C, "ThumbnailStripBytesCount"),
    Row(0x502D, "ThumbnailResolutionX"),
    Row(0x502E, "ThumbnailResolutionY"),
    Row(0x502F, "ThumbnailPlanarConfig"),
    Row(0x5030, "ThumbnailResolutionUnit"),
    Row(0x5031, "ThumbnailTransferFunction"),
    Row(0x5032, "ThumbnailSoftwareUsed"),
    Row(0x5033, "ThumbnailDateTime"),
    Row(0x5034, "ThumbnailArtist"),
    Row(0x5035, "ThumbnailWhitePoint"),
    Row(0x5036, "ThumbnailPrimaryChromaticities"),
    Row(0x5037, "ThumbnailYCbCrCoefficients"),
    Row(0x5038, "ThumbnailYCbCrSubsampling"),
    Row(0x5039, "ThumbnailYCbCrPositioning"),
    Row(0x503A, "ThumbnailRefBlackWhite"),
    Row(0x503B, "ThumbnailCopyRight"),
    Row(0x5090, "LuminanceTable"),
    Row(0x5091, "ChrominanceTable"),
    Row(0x5100, "FrameDelay"),
    Row(0x5101, "LoopCount"),
    Row(0x5110, "PixelUnit"),
    Row(0x5111, "PixelPerUnitX"),
    Row(0x5112, "PixelPerUnitY"),
    Row(0x5113, "PaletteHistogram"),
    Row(0x800D, "ImageID"),
    Row(0x80E3, "Matteing"),
    Row(0x80E4, "DataType"),
    Row(0x80E5, "ImageDepth"),
    Row(0x80E6, "TileDepth"),
    Row(0x828D, "CFARepeatPatternDim"),
    Row(0x828E, "CFAPattern"),
    Row(0x828F, "BatteryLevel"),
    Row(0x8298, "Copyright"),
    Row(0x829A, "ExposureTime", "", "", "%s sec"),
    Row(0x829D, "FNumber", "", "", "F%0.1f"),
    Row(0x83BB, "IPTC/NAA", "IPTC/NAA"),
    Row(0x84E3, "IT8RasterPadding"),
    Row(0x84E5, "IT8ColorTable"),
    Row(0x8649, "ImageResourceInformation"),
    Row(0x8769, "ExifOffset"),
    Row(0x8773, "InterColorProfile"),
    Row(0x8822, "ExposureProgram", "", "0:Unidentified,1:Manual,2:Normal,3:Aperture priority,4:Shutter priority,5:Creative(slow),6:Action(high-speed),7:Portrait mode,8:Landscape mode"),
    Row(0x8824, "SpectralSensitivity"),
    Row(0x8825, "GPSInfo"),
    Row(0x8827, "ISOSpeedRatings"),
    Row(0x8828, "OECF"),
    Row(0x8829, "Interlace"),
    Row(0x882A, "TimeZoneOffset"),
    Row(0x882B, "SelfTimerMode"),
    Row(0x9000, "ExifVersion"),
    Row(0x9003, "DateTimeOriginal"),
    Row(0x9004, "DateTimeDigitized"),
    Row(0x9101, "ComponentsConfiguration", "", "", "", ComponentsText),
    Row(0x9102, "CompressedBitsPerPixel"),
    Row(0x9201, "ShutterSpeedValue", "", "", "", ShutterSpeedText),
    Row(0x9202, "ApertureValue", "", "", "F%0.1f"),
    Row(0x9203, "BrightnessValue"),
    Row(0x9204, "ExposureBiasValue"),
    Row(0x9205, "MaxApertureValue", "", "", "F%0.1f"),
    Row(0x9206, "SubjectDistance"),
    Row(0x9207, "MeteringMode", "", "0:Unknown,1:Average,2:Center,3:Spot,4:MultiSpot,5:MultiSegment,6:Partial"),
    Row(0x9208, "LightSource", "", "0:Unidentified,1:Daylight,2:Fluorescent,3:Tungsten,10:Flash,17:Std A,18:Std B,19:Std C"),
    Row(0x9209, "Flash", "", "", "", FlashText),
    Row(0x920A, "FocalLength", "", "", "%5.2f mm"),
    Row(0x920B, "FlashEnergy"),
    Row(0x920C, "SpatialFrequencyResponse"),
    Row(0x920D, "Noise"),
    Row(0x920E, "FocalPlaneXResolution"),
    Row(0x920F, "FocalPlaneYResolution"),
    Row(0x9210, "FocalPlaneResolutionUnit", "", "1:None Specified,2:Inch,3:Centimeter"),
    Row(0x9211, "ImageNumber"),
    Row(0x9212, "SecurityClassification"),
    Row(0x9213, "ImageHistory"),
    Row(0x9214, "SubjectLocation"),
    Row(0x9215, "ExposureIndex"),
    Row(0x9216, "TIFF/EPStandardID"),
    Row(0x9217, "SensingMethod"),
    Row(0x923F, "StoNits"),
    Row(0x927C, "MakerNote"),
    Row(0x9286, "UserComment", "", "", "", UserCommentText),
    Row(0x9290, "SubSecTime"),
    Row(0x9291, "SubSecTimeOriginal"),
    Row(0x9292, "SubSecTimeDigitized"),
    Row(0x953C, "ImageSourceData"),
    Row(0x9C9B, "Title", "", "", "", UnicodeByteText),
    Row(0x9C9C, "Comments", "", "", "", UnicodeByteText),
    Row(0x9C9D, "Author", "", "", "", UnicodeByteText),
    Row(0x9C9E, "Keywords", "", "", "", UnicodeByteText),
    Row(0x9C9F, "Subject", "", "", "", UnicodeByteText),
    Row(0xA000, "FlashPixVersion"),
    Row(0xA001, "ColorSpace", "", "0:sBW,1:sRGB"),
    Row(0xA002, "ExifImageWidth"),
    Row(0xA003, "ExifImageLength"),
    Row(0xA004, "RelatedSoundFile"),
    Row(0xA005, "InteroperabilityOffset"),
    Row(0xA20B, "FlashEnergy"),
    Row(0xA20C, "SpatialFrequencyResponse"),
    Row(0xA20E, "FocalPlaneXResolution"),
    Row(0xA20F, "FocalPlaneYResolution"),
    Row(0xA210, "FocalPlaneResolutionUnit", "", "1:None Specified,2:Inch,3:Centimeter"),
    Row(0xA211, "ImageNumber"),
    Row(0xA212, "SecurityClassification"),
    Row(0xA213, "ImageHistory"),
    Row(0xA214, "SubjectLocation"),
    Row(0xA215, "ExposureIndex"),
    Row(0xA216, "TIFF/EPStandardID", "TIFF/EPStandardID"),
    Row(0xA217, "SensingMethod", "", "0:Unknown,1:MonochromeArea,2:OneChipColorArea,3:TwoChipColorArea,4:ThreeChipColorArea,5:ColorSequentialArea,6:MonochromeLinear,7:TriLinear,8:ColorSequentialLinear"),
    Row(0xA300, "FileSource", "", "1:Unknown,3:Digital Still Camera"),
    Row(0xA301, "SceneType", "", "0:Unknown,1:Directly Photographed"),
    Row(0xA302, "CFAPattern"),
    Row(0xA401, "CustomRendered", "", "0:Normal process,1:Custom process"),
    Row(0xA402, "ExposureMode", "", "0:Auto,1:Manual,2:Auto bracket"),
    Row(0xA403, "WhiteBalance", "", "0:Auto,1:Manual"),
    Row(0xA404, "DigitalZoomRatio"),
    Row(0xA405, "FocalLengthin35mmFilm", "Focal Length in 35mm Film", "", "%5.2f mm"),
    Row(0xA406, "SceneCaptureType", "", "0:Standard,1:Landscape,2:Portrait,3:Night scene"),
    Row(0xA407, "GainControl", "", "0:None,1:Low gain up,2:High gain up,3:Low gain down,4:High gain down"),
    Row(0xA408, "Contrast", "", "0:Normal,1:Soft,2:Hard"),
    Row(0xA409, "Saturation", "", "0:Normal,1:Low,2:High"),
    Row(0xA40A, "Sharpness", "", "0:Normal,1:Soft,2:Hard"),
    Row(0xA40B, "DeviceSettingDescription"),
    Row(0xA40C, "SubjectDistanceRange", "", "0:Unknown,1:Macro,2:Close view,3:Distant view"),
    Row(0xA420, "ImageUniqueID"),
    Row(0, "Unknown"),
};

constexpr TTagRow kGpsRows[] = {
    Row(0x00, "GPSVersionID"),
    Row(0x01, "GPSLatitudeRef"),
    Row(0x02, "GPSLatitude", "", "", "", GpsPositionText),
    Row(0x03, "GPSLongitudeRef"),
    Row(0x04, "GPSLongitude", "", "", "", GpsPositionText),
    Row(0x05, "GPSAltitudeRef", "", "0:Sealevel"),
    Row(0x06, "GPSAltitude"),
    Row(0x07, "GPSTimeStamp", "", "", "", GpsTimeText),
    Row(0x08, "GPSSatellites"),
    Row(0x09, "GPSStatus"),
    Row(0x0A, "GPSMeasureMode"),
    Row(0x0B, "GPSDOP"),
    Row(0x0C, "GPSSpeedRef"),
    Row(0x0D, "GPSSpeed"),
    Row(0x0E, "GPSTrackRef"),
    Row(0x0F, "GPSTrack"),
    Row(0x10, "GPSImageDirectionRef"),
    Row(0x11, "GPSImageDirection"),
    Row(0x12, "GPSMapDatum"),
    Row(0x13, "GPSDestLatitudeRef"),
    Row(0x14, "GPSDestLatitude", "", "", "", GpsPositionText),
    Row(0x15, "GPSDestLongitudeRef"),
    Row(0x16, "GPSDestLongitude", "", "", "", GpsPositionText),
    Row(0x17, "GPSDestBearingkRef"),
    Row(0x18, "GPSDestBearing"),
    Row(0x19, "GPSDestDistanceRef"),
    Row(0x1A, "GPSDestDistance"),
    Row(0x1B, "GPSProcessingMode"),
    Row(0x1C, "GPSAreaInformation"),
    Row(0x1D, "GPSDateStamp"),
    Row(0x1E, "GPSDifferential"),
};

}  // namespace

TTagTable<TTagEntry, kExifTableRows> ExifTagTable(kExifRows);
TTagTable<TTagEntry, kGpsTableRows> GpsTagTable(kGpsRows);

TTagEntry EntryOf(const TTagRow& row) {
  TTagEntry entry;
  entry.iptcRecord = row.iptcRecord;
  entry.tag = row.tag;
  entry.name = row.name;
  entry.description = row.description;
  entry.valueMap = row.valueMap;
  entry.formatPattern = row.formatPattern;
  entry.size = row.size;
  entry.converter = row.converter;
  return entry;
}

const TTagEntry& UnknownTagEntry() { return ExifTagTable[kExifTableRows - 1]; }

int TypeSize(uint32_t fieldType) {
  static const int sizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return fieldType <= 12 ? sizes[fieldType] : 0;
}

void PrepareTagTables(bool splitWords) {
  if (tablesPrepared) return;
  tablesPrepared = true;
  auto fill = [splitWords](TTagEntry& row) {
    if (row.description.empty()) row.description = splitWords ? SplitAtCapitals(row.name) : row.name;
  };
  for (TTagEntry& row : ExifTagTable) fill(row);
  for (TTagEntry& row : GpsTagTable) fill(row);
}

std::string SplitAtCapitals(const std::string& text) {
  if (text.empty()) return text;
  std::string result(1, text[0]);
  bool previousCapital = true;
  for (size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (IsCapital(c)) {
      if (!previousCapital) result += ' ';
      previousCapital = true;
    } else {
      previousCapital = false;
    }
    result += c;
  }
  return result;
}

TTagEntry LookupTagEntry(uint16_t tag, int directoryKind) {
  TTagEntry result = UnknownTagEntry();
  if (directoryKind == kMainDirectory || directoryKind == kThumbnailDirectory) {
    const TTagEntry* rows = ExifTagTable;
    for (int i = 0; i < kExifTableRows - 1; ++i)
      if (rows[i].tag == tag) result = rows[i];
  } else if (directoryKind == kGpsDirectory) {
    for (const TTagEntry& row : GpsTagTable)
      if (row.tag == tag) result = row;
  }
  return result;
}

int TableIndexOfTag(uint16_t tag, const TTagEntry* table, int lastIndex) {
  for (int i = 0; i <= lastIndex; ++i)
    if (table[i].tag == tag) return i;
  return -1;
}

std::string TableValueMapOf(uint16_t tag, const TTagEntry* table, int lastIndex) {
  std::string map;
  for (int i = 0; i <= lastIndex; ++i)
    if (table[i].tag == tag) map = table[i].valueMap;
  return map;
}

int ExifTableIndexByName(const std::string& name) {
  const std::string wanted = LowerText(name);
  const TTagEntry* rows = ExifTagTable;
  for (int i = 0; i < kExifTableRows - 1; ++i)
    if (LowerText(rows[i].name) == wanted) return i;
  return -1;
}

std::string DecodeMapValue(const std::string& map, const std::string& code) {
  const std::string key = "," + TrimText(code) + ":";
  const std::string list = "," + map + ",";
  const size_t at = list.find(key);
  if (at == std::string::npos) return std::string();
  const size_t from = at + key.size();
  return list.substr(from, list.find(',', from) - from);
}

std::string PrintableText(const std::string& text) {
  std::string result = text.substr(0, 50);
  for (char& c : result)
    if (static_cast<unsigned char>(c) < 32) c = '.';
  return result;
}

double RationalTextToNumber(const std::string& text) {
  const std::string trimmed = TrimText(text);
  int32_t whole = 0;
  std::string fraction = trimmed;
  const size_t blank = trimmed.find(' ');
  if (blank != std::string::npos) {
    if (!ParseInt32(trimmed.substr(0, blank), whole)) return 0;
    fraction = trimmed.substr(blank + 1);
  }
  const size_t slash = fraction.find('/');
  int32_t numerator = 0;
  int32_t denominator = 0;
  if (slash == std::string::npos || !ParseInt32(fraction.substr(0, slash), numerator) ||
      !ParseInt32(fraction.substr(slash + 1), denominator) || denominator == 0)
    return 0;
  // The sum is taken in 32-bit arithmetic, wrapping as the stored integers do.
  const uint32_t sum = static_cast<uint32_t>(whole) * static_cast<uint32_t>(denominator) +
                       static_cast<uint32_t>(numerator);
  return static_cast<double>(static_cast<int32_t>(sum)) / denominator;
}

std::string ComponentsText(const std::string& text) {
  static const char* const names[7] = {"", "Y", "Cb", "Cr", "R", "G", "B"};
  std::string result;
  for (size_t i = 1; i <= 4 && i < text.size(); ++i) {
    const unsigned char code = static_cast<unsigned char>(text[i]);
    if (code >= 1 && code <= 6) result += names[code];
  }
  return result;
}

std::string GpsPositionText(const std::string& text) {
  double degrees, minutes, seconds;
  SplitThree(text, degrees, minutes, seconds);
  if (seconds == 0) {
    seconds = (minutes - std::trunc(minutes)) * 100 * 0.6;
    minutes = std::trunc(minutes);
  }
  return Format("%0.0f Degrees %0.0f Minutes %0.0f Seconds", degrees, minutes, seconds);
}

std::string GpsTimeText(const std::string& text) {
  double hours, minutes, seconds;
  SplitThree(text, hours, minutes, seconds);
  return Format("%0.0f:%0.0f:%0.0f", hours, minutes, seconds);
}

std::string FlashText(const std::string& text) {
  int32_t v = 0;
  if (!ParseInt32(text, v)) throw EInvalidOperation(Format("'%s' ist keine ganze Zahl", text.c_str()));
  std::string result = (v & 1) ? "On" : "Off";
  switch (v & 6) {
    case 2: result += ", UNKNOWN"; break;
    case 4: result += ", no strobe return"; break;
    case 6: result += ", strobe return"; break;
  }
  switch (v & 0x18) {
    case 0x08: result += ", forced"; break;
    case 0x10: result += ", surpressed"; break;
    case 0x18: result += ", auto mode"; break;
  }
  if (v & 0x20) result += ", no flash function";
  if (v & 0x40) result += ", red-eye reduction";
  return result;
}

std::string ShutterSpeedText(const std::string& text) {
  const double tv = RationalTextToNumber(text);
  const double seconds = std::pow(2.0, -tv);
  std::string result = Format("%4.4f sec", seconds);
  if (seconds <= 0.5) {
    const double speed = std::nearbyint(std::pow(2.0, tv));
    // A speed beyond 64 bits is no real shutter speed; it is left out.
    if (speed < 9.2e18) result += Format(" (1/%lld)", static_cast<long long>(speed));
  }
  return result;
}

std::string UserCommentText(const std::string& text) { return text.size() > 8 ? text.substr(8) : std::string(); }

std::string UnicodeByteText(const std::string& text) {
  std::string result;
  const std::vector<std::string> items = TextItems(text, ",");
  // Every other item, up to the last comma: the low bytes of UTF-16 units.
  for (size_t k = 0; k + 1 < items.size(); k += 2) {
    int32_t v = 0;
    if (!ParseInt32(items[k], v)) throw EInvalidOperation(Format("'%s' ist keine ganze Zahl", items[k].c_str()));
    if ((v & 0xFF) != 0) result += static_cast<char>(v & 0xFF);
  }
  return result;
}

std::string TextBefore(const std::string& text, const std::string& separator) {
  if (separator.empty()) return text;
  const size_t at = text.find(separator);
  return at == std::string::npos ? text : text.substr(0, at);
}

std::string TextAfter(const std::string& text, const std::string& separator) {
  if (separator.empty()) return text;
  const size_t at = text.find(separator);
  return at == std::string::npos ? std::string() : text.substr(at + separator.size());
}

std::string TextItem(const std::string& text, const std::string& separator, int k) {
  if (separator.empty()) return text;
  // Found in place: item k of a long list costs its position, not k copies.
  size_t from = 0;
  for (int i = 1; i < k; ++i) {
    const size_t at = text.find(separator, from);
    if (at == std::string::npos) return std::string();
    from = at + separator.size();
  }
  const size_t end = text.find(separator, from);
  return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

std::vector<std::string> TextItems(const std::string& text, const std::string& separator) {
  std::vector<std::string> items;
  if (separator.empty()) return {text};
  size_t from = 0;
  for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, from)) {
    items.push_back(text.substr(from, at - from));
    from = at + separator.size();
  }
  items.push_back(text.substr(from));
  return items;
}

int SeparatorCount(const std::string& text, const std::string& separator) {
  if (separator.empty()) return 0;
  int count = 0;
  for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, at + separator.size()))
    ++count;
  return count;
}

bool ParseInt32(const std::string& text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  int64_t result = 0;
  for (; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    result = result * 10 + (text[i] - '0');
    if (result > 2147483648LL) return false;
  }
  if (negative) result = -result;
  if (result > std::numeric_limits<int32_t>::max() || result < std::numeric_limits<int32_t>::min()) return false;
  value = static_cast<int32_t>(result);
  return true;
}

std::string TrimText(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlankOrControl(text[first])) ++first;
  while (last > first && IsBlankOrControl(text[last - 1])) --last;
  return text.substr(first, last - first);
}

std::string UpperText(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string LowerText(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string FormatNumber(const std::string& pattern, double value) {
  if (!IsFloatPattern(pattern)) return pattern;
  return Format(pattern.c_str(), value);
}

int32_t RoundToInt32(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= std::numeric_limits<int32_t>::min() && rounded <= std::numeric_limits<int32_t>::max())) return 0;
  return static_cast<int32_t>(rounded);
}

}  // namespace shrinkwell

#include "maker_notes.h"

#include <cctype>

#include "errors.h"
#include "exif_reader.h"

namespace shrinkwell {

TImageInfo* currentImageInfo = nullptr;
bool keepPlainValue = false;

namespace {

// A maker table row: the label is the name unless given.
constexpr TTagRow Row(uint16_t tag, const char* name, const char* label = nullptr, const char* map = "",
                      TagConverter converter = nullptr) {
  return TTagRow{tag, name, label ? label : name, map, "", converter, 0, 0};
}

constexpr TTagRow Mapped(uint16_t tag, const char* name, const char* map) { return Row(tag, name, nullptr, map); }

constexpr TTagRow kNikonOldRows[] = {
    Row(0x0002, "FamilyID"),
    // The missing comma after "SXGA Fine" is the table as cameras are known by.
    Mapped(0x0003, "Quality",
           "1:Vga Basic,2:Vga Normal,3:Vga Fine,4:SXGA Basic,5:SXGA Normal,6:SXGA Fine10:2 Mpixel Basic,"
           "11:2 Mpixel Normal,12:2 Mpixel Fine"),
    Mapped(0x0004, "ColorMode", "1:Color,2:Monochrome"),
    Mapped(0x0005, "ImageAdjustment", "0:Normal,1:Bright+,2:Bright-,3:Contrast+,4:Contrast-"),
    Mapped(0x0006, "ISOSpeed", "0:ISO80,2:ISO160,4:ISO320,5:ISO100"),
    Mapped(0x0007, "WhiteBalance",
           "0:Auto,1:Preset,2:Daylight,3:Incandescense,4:Fluorescence,5:Cloudy,6:SpeedLight"),
    Row(0x0008, "Focus"),
    Row(0x0009, "Skip"),
    Row(0x000A, "DigitalZoom"),
    Mapped(0x000B, "Converter", "0:Not used,1:Used"),
    Row(0x0F00, "Skip"),
};

constexpr TTagRow kNikonRows[] = {
    Row(0x0001, "FamilyID", "Family ID"),
    Row(0x0002, "ISOSpeed", "ISO Speed"),
    Row(0x0003, "ColorMode", "Color Mode"),
    Row(0x0004, "Quality"),
    Row(0x0005, "WhiteBalance", "White Balance"),
    Row(0x0006, "ImageSharpening", "Image Sharpening"),
    Row(0x0007, "FocusMode", "Focus Mode"),
    Row(0x0008, "FlashSetting", "Flash Setting"),
    Row(0x0009, "AutoFlashMode", "Auto Flash Mode"),
    Row(0x000A, "Skip"),
    Row(0x000B, "WhiteBiasValue", "White Bias Value"),
    Row(0x000F, "DigitalZoom", "Digital Zoom"),
    Row(0x0010, "Skip"),
    Row(0x0011, "Skip"),
    Row(0x0080, "ImageAdjustment", "Image Adjustment"),
    Row(0x0081, "ImageAdjustment", "Image Adjustment"),
    Row(0x0082, "Adapter"),
    Row(0x0084, "LensInformation", "Lens information", "", NikonLensText),
    Row(0x0085, "ManualFocusDistance", "Manual Focus Distance"),
    Row(0x0086, "DigitalZoom", "Digital Zoom"),
    Row(0x0088, "FocusArea", "Focus Area"),
    Row(0x0089, "Mode"),
    Row(0x008D, "ColorMode", "Color Mode", "", NikonColorModeText),
    Row(0x008F, "SceneMode", "Scene Mode"),
    Row(0x0092, "HueAdjustment", "Hue Adjustment"),
    Row(0x0094, "Saturation"),
    Row(0x0095, "NoiseReduction", "Noise Reduction"),
    Row(0x0F00, "Skip"),
};

constexpr TTagRow kOlympusRows[] = {
    Row(0x0200, "SpecialMode"),
    Mapped(0x0201, "JpegQual", "1:SQ,2:HQ,3:SHQ,4:Raw"),
    // "0=Normal" is not an entry of the map: only code 1 has a text.
    Mapped(0x0202, "Macro", "0=Normal,1:Macro;"),
    Row(0x0203, "Skip"),
    Row(0x0204, "DigiZoom", "Digital Zoom Ratio"),
    Row(0x0205, "Skip"),
    Row(0x0206, "Skip"),
    Row(0x0207, "Firmware"),
    Row(0x0208, "PictInfo", "Picture Info"),
    Row(0x0209, "CameraID", "Camera ID"),
    Row(0x0F00, "Skip"),
    Row(0x1004, "FlashMode", "Flash Mode"),
    Row(0x1006, "Bracket"),
    Row(0x100B, "FocusMode", "Focus Mode"),
    Row(0x100C, "FocusDistance", "Focus Distance"),
    Row(0x100D, "Zoom"),
    Row(0x100E, "MacroFocus", "Macro Focus"),
    Row(0x100F, "Sharpness"),
    Row(0x1011, "ColorMatrix", "Color Matrix"),
    Row(0x1012, "BlackLevel", "Black Level"),
    Row(0x1015, "WhiteBalance", "White Balance"),
    Row(0x1017, "RedBias", "Red Bias"),
    Row(0x1018, "BlueBias", "Blue Bias"),
    Row(0x101A, "SerialNumber"),
    Row(0x1023, "FlashBias", "Flash Bias"),
    Row(0x1029, "Contrast"),
    Row(0x102A, "SharpnessFactor", "Sharpness Factor"),
    Row(0x102B, "ColorControl", "Color Control"),
    Row(0x102C, "ValidBits", "Valid Bits"),
    Row(0x102D, "Coring", "Coring Filter"),
    Row(0x102E, "FinalWidth", "Final Width"),
    Row(0x102F, "FinalHeight", "Final Height"),
    Row(0x1034, "CompressionRatio", "Compression Ratio"),
};

constexpr TTagRow kCasioRows[] = {
    Mapped(0x0001, "RecordingMode", "1:Single Shutter,2:Panorama,3:Night Scene,4:Portrait,5:Landscape"),
    Mapped(0x0002, "Quality", "1:Economy,2:Normal,3:Fine"),
    Mapped(0x0003, "FocusingMode", "2:Macro,3:Auto Focus,4:Manual Focus,5:Infinity"),
    Mapped(0x0004, "FlashMode", "1:Auto,2:On,3:Off,4:Red Eye Reduction"),
    Mapped(0x0005, "FlashIntensity", "11:Weak,13:Normal,15:Strong"),
    Row(0x0006, "ObjectDistance"),
    Mapped(0x0007, "WhiteBalance", "1:Auto,2:Tungsten,3:Daylight,4:Fluorescent,5:Shade,129:Manual"),
    Row(0x0008, "Skip"),
    Row(0x0009, "Skip"),
    Mapped(0x000A, "DigitalZoom", "65536:Off,65537:2X Digital Zoom"),
    Mapped(0x000B, "Sharpness", "0:Normal,1:Soft,2:Hard"),
    Mapped(0x000C, "Contrast", "0:Normal,1:Low,2:High"),
    Mapped(0x000D, "Saturation", "0:Normal,1:Low,2:High"),
    Row(0x000E, "Skip"),
    Row(0x000F, "Skip"),
    Row(0x0010, "Skip"),
    Row(0x0011, "Skip"),
    Row(0x0012, "Skip"),
    Row(0x0013, "Skip"),
    Mapped(0x0014, "CCDSensitivity", "64:Normal,125:+1.0,250:+2.0,244:+3.0,80:Normal,100:High"),
    Row(0x0015, "Skip"),
    Row(0x0016, "Skip"),
    Row(0x0017, "Skip"),
    Row(0x0018, "Skip"),
    Row(0x0019, "Skip"),
    Row(0x001A, "Skip"),
};

constexpr TTagRow kCasioQvcRows[] = {
    Row(0x0002, "ThumbnailDimensions", "Thumbnail Dimensions"),
    Row(0x0003, "ThumbnailSize", "Thumbnail Size"),
    Row(0x0004, "ThumbnailOffset", "Thumbnail OffSet"),
    Mapped(0x0008, "Quality", "1:Fine,2:Super Fine"),
    Mapped(0x0009, "ImageSize",
           "0:640 x 480,4:1600 x 1200,5:2048 x 1536,20:2288 x 1712,21:2592 x 1944,22:2304 x 1728,36:3008 x 2008"),
    Mapped(0x000D, "FocusMode", "0:Normal,1:Macro"),
    Mapped(0x0014, "IsoSensitivity", "3:50,4:64,6:100,9:200"),
    Mapped(0x0019, "WhiteBalance", "0:Auto,1:Daylight,2:Shade,3:Tungsten,4:Fluorescent,5:Manual"),
    Row(0x001D, "FocalLength", "Focal Length (.1 mm)"),
    Mapped(0x001F, "Saturation", "0:-1,1:Normal,2:+1"),
    Mapped(0x0020, "Contrast", "0:-1,1:Normal,2:+1"),
    Mapped(0x0021, "Sharpness", "0:-1,1:Normal,2:+1"),
    Row(0x0E00, "PIM", "\tPrint Image Matching Info"),
    Row(0x2000, "Skip"),
    Row(0x2001, "Skip"),
    Row(0x2002, "Skip"),
    Row(0x2003, "Skip"),
    Row(0x2011, "WhiteBalanceBias", "White Balance Bias"),
    Row(0x2013, "Skip"),
    Row(0x2012, "WhiteBalance", "White Balance", "0:Manual,1:Auto,4:Flash,12:Flash"),
    Row(0x2021, "Skip"),
    Row(0x2022, "ObjectDistance", "Object Distance (mm)"),
    Row(0x2023, "Skip"),
    Row(0x2031, "Skip"),
    Row(0x2032, "Skip"),
    Row(0x2033, "Skip"),
    Row(0x2034, "FlashDistance", "Flash Distance"),
    Row(0x3000, "RecordMode", "Record Mode", "2:Normal"),
    Row(0x3001, "SelfTimer", "Self Timer", "0:Off,1:On"),
    Mapped(0x3002, "Quality", "1:Economy,2:Normal,3:Fine"),
    Row(0x3003, "FocusMode", "Focus Mode", "1:Fixed,3:Auto Focus,6:Multi-Area Auto Focus"),
    Row(0x3005, "Skip"),
    Row(0x3006, "TimeZone", "Time Zone"),
    Row(0x3007, "BestshotMode", "Bestshot Mode", "0:Off,1:On"),
    Row(0x3011, "Skip"),
    Row(0x3012, "Skip"),
    Row(0x3013, "Skip"),
    Row(0x3014, "CCDSensitivity", "CCD Sensitivity"),
    Row(0x3015, "ColorMode", "Color Mode", "0:Off,1:On"),
    Mapped(0x3016, "Enhancement", "0:Off,1:On"),
    Mapped(0x3017, "Filter", "0:Off,1:On"),
    Row(0x3018, "Skip"),
    Row(0x3019, "Skip"),
    Row(0x301A, "Skip"),
    Row(0x301B, "Skip"),
};

constexpr TTagRow kFujiRows[] = {
    Row(0x0000, "Version"),
    Row(0x1000, "Quality"),
    Mapped(0x1001, "Sharpness", "1:Soft,2:Soft,3:Normal,4:Hard,5:Hard"),
    Mapped(0x1002, "WhiteBalance",
           "0:Auto,256:Daylight,512:Cloudy,768:DaylightColor-fluorescence,769:DaywhiteColor-fluorescence,"
           "770:White-fluorescence,1024:Incandenscense,3840:Custom white balance."),
    Mapped(0x1003, "Color", "0:Normal,256:High,512:Low"),
    Mapped(0x1004, "Tone", "0:Normal,256:High,512:Low"),
    Mapped(0x1010, "FlashMode", "0:Auto,1:On,2:Off,3:Red-eye reduction"),
    Row(0x1011, "FlashStrength"),
    Mapped(0x1020, "Macro", "0:Off,1:On"),
    Mapped(0x1021, "Focusmode", "0:Auto Focus,1:Manual Focus"),
    Mapped(0x1030, "SlowSync", "0:Off,1:On"),
    Mapped(0x1031, "PictureMode",
           "0:Auto,1:Portrait scene,2:Landscape scene,4:Sports scene,5:Night scene,6:Program AE,"
           "256:Aperture prior AE,512:Shutter prior AE,768:Manual exposure"),
    Row(0x1032, "Skip"),
    Mapped(0x1100, "ContTake/Bracket", "0:Off,1:On"),
    Row(0x1200, "Skip"),
    Mapped(0x1300, "BlurWarning", "0:No blur warning,1:Blur warning"),
    Mapped(0x1301, "FocusWarning", "0:Auto Focus good,1:Out of focus"),
    Mapped(0x1302, "AEWarning", "0:AE good,1:Over exposure"),
};

constexpr TTagRow kCanonRows[] = {
    Row(0x0000, "Skip"),
    Row(0x0001, "ExposureInfo1", nullptr, "", CanonCameraSettingsText),
    Row(0x0002, "Skip"),
    Row(0x0003, "Skip"),
    Row(0x0004, "ExposureInfo2", nullptr, "", CanonShotInfoText),
    Row(0x0006, "ImageType"),
    Row(0x0007, "FirmwareVersion"),
    Row(0x0008, "ImageNumber"),
    Row(0x0009, "OwnerName"),
    Row(0x000A, "Skip"),
    Row(0x000B, "Skip"),
    Row(0x000C, "CameraSerialNumber"),
    Row(0x000D, "Skip"),
    Row(0x000E, "Skip"),
    Row(0x000F, "CustomFunctions", nullptr, "", CanonCustomFunctionsText),
    Row(0x0010, "Skip"),
};

constexpr TTagRow kSeikoRows[] = {
    Row(0x0200, "Special Mode"),
    Row(0x0201, "JpegQuality"),
    Row(0x0202, "Macro"),
    Row(0x0203, "Skip"),
    Row(0x0204, "DigiZoom"),
    Row(0x0209, "CameraID"),
    Row(0x020A, "Comments"),
    Row(0x020B, "Width"),
    Row(0x020C, "Height"),
    Row(0x020D, "SoftRelease"),
    Row(0x0300, "??"),
    Row(0x0F00, "skip"),
};

constexpr TTagRow kSanyoRows[] = {
    Row(0x0200, "Special Mode"),
    Row(0x0201, "JpegQuality"),
    Row(0x0202, "Macro"),
    Row(0x0203, "Skip"),
    Row(0x0204, "DigiZoom"),
    Row(0x0F00, "DataDump"),
};

constexpr TTagRow kMinoltaRows[] = {
    Row(0x0000, "ModelID"),
    Row(0x0E00, "PIMdata"),
};

}  // namespace

const TTagTable<const TTagEntry, kNikonOldTableRows> NikonOldTable(kNikonOldRows);
const TTagTable<const TTagEntry, kNikonTableRows> NikonTable(kNikonRows);
const TTagTable<const TTagEntry, kOlympusTableRows> OlympusTable(kOlympusRows);
const TTagTable<const TTagEntry, kCasioTableRows> CasioTable(kCasioRows);
const TTagTable<const TTagEntry, kCasioQvcTableRows> CasioQvcTable(kCasioQvcRows);
const TTagTable<const TTagEntry, kFujiTableRows> FujiTable(kFujiRows);
const TTagTable<const TTagEntry, kCanonTableRows> CanonTable(kCanonRows);
const TTagTable<const TTagEntry, kSeikoTableRows> SeikoTable(kSeikoRows);
const TTagTable<const TTagEntry, kSanyoTableRows> SanyoTable(kSanyoRows);
const TTagTable<const TTagEntry, kMinoltaTableRows> MinoltaTable(kMinoltaRows);

// ---------------------------------------------------------------------------
// Recognising the maker

namespace {

struct MakerWalk {
  const TTagEntry* table;
  int rows;
  int64_t dirOffset;
  int64_t adjust;
  int64_t fallbackBase;
};

bool BeginsWith(const std::string& text, const char* start) { return text.compare(0, std::string(start).size(), start) == 0; }

// The character after the model name's first blank, or its first character.
char ModelLetter(const std::string& model) {
  const size_t blank = model.find(' ');
  const size_t at = blank == std::string::npos ? 0 : blank + 1;
  return at < model.size() ? model[at] : '\0';
}

// Restores a byte order set for one maker's walk, however the walk ends.
class ByteOrderKeeper {
 public:
  explicit ByteOrderKeeper(tEndInd& reader) : reader_(reader), saved_(reader.bigEndian) {}
  ~ByteOrderKeeper() { reader_.bigEndian = saved_; }
  ByteOrderKeeper(const ByteOrderKeeper&) = delete;
  ByteOrderKeeper& operator=(const ByteOrderKeeper&) = delete;

 private:
  tEndInd& reader_;
  bool saved_;
};

}  // namespace

bool TmsInfo::DecodeMakerNote(TImageInfo* info) {
  makerName.clear();
  imageInfo = info;
  currentImageInfo = info;
  if (!info) return false;

  const std::string key = UpperText(info->cameraMake.substr(0, 5));
  const std::string& note = info->makerNote;
  const int64_t notePos = info->makerNotePos;
  MakerWalk walk{nullptr, 0, 0, 0, 0};
  if (key == "NIKON") {
    const std::string& version = info->exifVersion;
    // Byte strings compare by their first differing byte, a longer text
    // being greater when the shorter one is its start.
    if (version > "0210" || (version.empty() && ModelLetter(info->cameraModel) == 'D' && tiffSource))
      walk = {NikonTable, kNikonTableRows, 18, 9, 0};
    else if (BeginsWith(note, "Nikon"))
      walk = {NikonOldTable, kNikonOldTableRows, 8, notePos, 0};
    else
      walk = {NikonTable, kNikonTableRows, 0, notePos - 8, 0};
  } else if (key == "OLYMP") {
    walk = {OlympusTable, kOlympusTableRows, 8, notePos, 9};
  } else if (key == "CASIO") {
    if (BeginsWith(note, "QVC"))
      walk = {CasioQvcTable, kCasioQvcTableRows, 6, notePos - 2, 0};
    else
      walk = {CasioTable, kCasioTableRows, 0, notePos - 8, 0};
  } else if (key == "FUJIF") {
    walk = {FujiTable, kFujiTableRows, 12, 13, 0};
  } else if (key == "CANON") {
    walk = {CanonTable, kCanonTableRows, 0, notePos - 8, 0};
  } else if (key == "SEIKO") {
    walk = {SeikoTable, kSeikoTableRows, 8, notePos, 0};
  } else if (key == "SANYO") {
    walk = {SanyoTable, kSanyoTableRows, 8, notePos, 0};
  } else if (key == "MINOL") {
    walk = {MinoltaTable, kMinoltaTableRows, 0, notePos - 8, 0};
  } else {
    return false;
  }

  {
    // The image goes away after the scan: the pointer must not outlive it.
    struct Release {
      ~Release() { currentImageInfo = nullptr; }
    } release;
    ByteOrderKeeper keeper(*info);
    // Fuji writes its note little-endian whatever the EXIF data uses.
    if (key == "FUJIF") info->bigEndian = false;
    info->WalkMakerDirectory(note, walk.table, walk.rows - 1, walk.dirOffset, walk.adjust, walk.fallbackBase);
  }
  makerName = info->cameraMake;
  return true;
}

// ---------------------------------------------------------------------------
// Converters

std::string NikonColorModeText(const std::string& text) {
  const std::string mode = text.substr(text.empty() ? 0 : 1, 5);
  if (mode == "MODE1") return "Mode1 (sRGB)";
  if (mode == "MODE2") return "Mode 2 (Adobe RGB)";
  if (mode == "MODE3") return "Mode 3 (sRGB): higher saturation";
  return mode;
}

std::string NikonLensText(const std::string& text) {
  double numbers[4];
  for (int k = 0; k < 4; ++k) numbers[k] = RationalTextToNumber(TextItem(text, ", ", k + 1));
  return Format("%0.1f-%0.1f(mm)  F%0.1f-F%0.1f", numbers[0], numbers[1], numbers[2], numbers[3]);
}

namespace {

// The line of one setting whose text is known.
std::string SettingLine(const std::string& label, const std::string& text) {
  if (TrimText(text).empty()) return std::string();
  if (currentImageInfo) currentImageInfo->AddTextTag(label, text, kTypeAscii);
  return "\r\n" + label + valueSeparator + text;
}

struct Setting {
  int element;  // counted from 0
  const char* label;
  const char* map;  // nullptr: the value itself
};

const char kLowNormalHigh[] = "65535:Low,0:Normal,1:High";

const Setting kCameraSettings[] = {
    {1, "Macro mode", "1:Macro,2:Normal"},
    {2, "Self Timer", nullptr},
    {3, "Compression Rate", "0:SuperFine,1:Fine,2:Normal,3:Basic,5:SuperFine"},
    {4, "Flash Mode",
     "0:Not fired,1:Auto,2:On,3:Red-eye,4:Slow sync,5:Auto+red-eye,6:On+red eye,16:External flash"},
    {5, "Drive Mode", "0:Single,1:Continuous"},
    {7, "Focus Mode", "0:One-Shot,1:AI Servo,2:AI Focus,3:MF,4:Single,5:Continuous,6:MF"},
    {10, "Image Size", "0:Large,1:Medium,2:Small,4:5MPixel,5:2 MPixel,6:1.5 MPixel"},
    {11, "Easy Shoot",
     "0:Full Auto,1:Manual,2:Landscape,3:Fast Shutter,4:Slow Shutter,5:Night,6:B&W,7:Sepia,8:Portrait,"
     "9:Sports,10:Macro/Close-Up,11:Pan Focus"},
    {13, "Contrast", kLowNormalHigh},
    {14, "Saturation", kLowNormalHigh},
    {15, "Sharpness", kLowNormalHigh},
    {16, "CCD ISO", "0:Not used,15:auto,16:50,17:100,18:200,19:400"},
    {17, "Metering Mode", kLowNormalHigh},
    {19, "AF Point", kLowNormalHigh},
    {20, "Exposure Mode", kLowNormalHigh},
    {24, "Long focal", nullptr},
    {25, "Short focal", nullptr},
    {26, "Focal Units", nullptr},
    {29, "Flash Details", nullptr},
    {32, "Focus Mode", kLowNormalHigh},
};

const Setting kShotInfo[] = {
    {7, "White balance", "0:Auto,1:Sunny,2:Cloudy,3:Tungsten,4:Flourescent,5:Flash,6:Custom"},
    {9, "Sequence Number", nullptr},
    {11, "OpticalZoom Step", nullptr},
    {14, "AF point", nullptr},
    {15, "Flash bias",
     "65472:-2 EV,65484:-1.67 EV,65488:-1.50 EV,65492:-1.33 EV,65504:-1 EV,65516:-0.67 EV,65520:-0.50 EV,"
     "65524:-0.33 EV,0:0 EV,12:0.33 EV,16:0.50 EV,20:0.67 EV,32:1 EV,44:1.33 EV,48:1.50 EV,52:1.67 EV,64:2 EV"},
    {19, "Distance", nullptr},
};

// Function numbers 1 to 15, in order.
const Setting kCustomFunctions[] = {
    {1, "Noise Reduction", "0: Off,1: On"},
    {2, "Shutter AE Lock Button", "0:AF/AE lock,1:AE lock/AF,2:AF/AF lock,3:AE+release/AE+AF"},
    {3, "Mirror Lockup", "0:Disable,1:Enable"},
    {4, "Exposure Level", "0:1/2 stop,1:1/3 stop"},
    {5, "AF Assist", "0:On (auto),1:Off"},
    {6, "AV Shutter Speed", "0:Automatic,1: 1/200 (fixed)"},
    {7, "AEB Sequence", "0:0, -, + / Enabled1: 0, -, + / Disabled,2: -, 0, + / Enabled,3: -, 0, + / Disabled"},
    {8, "Shutter Sync", "0:1st-curtain sync,1: 2nd-curtain sync"},
    {9, "Lens AF Button", "0:AF stop,1:Operate AF,2:Lock AE and start timer"},
    {10, "Fill Flash Reduction", "0:Enable,1:Disable"},
    {11, "Menu Return", "0:Top,1:Previous (volatile),2:Previous"},
    {12, "Set Button", "0:Not assigned,1:Change quality,2:Change ISO speed,3:Select parameters"},
    {13, "Sensor Cleaning", "0:Disable,1:Enable"},
    {14, "Superimposed Display", "0: On,1: Off"},
    {15, "Shutter Release w/o CF Card", "0:Enable,1:Disable"},
};

template <size_t N>
std::string SettingLines(const std::string& values, const Setting (&settings)[N]) {
  keepPlainValue = true;
  std::string lines;
  for (const Setting& s : settings)
    lines += s.map ? MappedSettingLine(values, s.label, s.element, s.map) : PlainSettingLine(values, s.label, s.element);
  return lines;
}

}  // namespace

std::string MappedSettingLine(const std::string& values, const std::string& label, int index,
                              const std::string& map) {
  return SettingLine(label, DecodeMapValue(map, TextItem(values, ",", index + 1)));
}

std::string PlainSettingLine(const std::string& values, const std::string& label, int index) {
  return SettingLine(label, TextItem(values, ",", index + 1));
}

std::string CodeSettingLine(const std::string& label, int32_t code, const std::string& map) {
  return SettingLine(label, DecodeMapValue(map, std::to_string(code)));
}

std::string CanonCameraSettingsText(const std::string& text) { return SettingLines(text, kCameraSettings); }

std::string CanonShotInfoText(const std::string& text) { return SettingLines(text, kShotInfo); }

std::string CanonCustomFunctionsText(const std::string& text) {
  keepPlainValue = true;
  std::string lines;
  for (const std::string& item : TextItems(text, ",")) {
    int32_t value = 0;
    if (!ParseInt32(TrimText(item), value)) continue;
    const int32_t function = value / 256;
    if (function < 1 || function > 15) continue;
    const Setting& s = kCustomFunctions[function - 1];
    lines += CodeSettingLine(s.label, value % 256, s.map);
  }
  return lines;
}

}  // namespace shrinkwell

// Makers' notes: recognising the maker of a MakerNote value, the makers' tag
// tables, and the converters that turn some makers' values into text.
#pragma once

#include <cstdint>
#include <string>

#include "tag_dictionary.h"

namespace shrinkwell {

class TImageInfo;

// Decodes the maker note kept by one directory walk; lives for one call.
class TmsInfo {
 public:
  TmsInfo(bool tiffSource, TImageInfo* imageInfo) : tiffSource(tiffSource), imageInfo(imageInfo) {}

  // True when the maker was recognised and its directory walked.
  bool DecodeMakerNote(TImageInfo* info);

  bool tiffSource;
  TImageInfo* imageInfo;  // not owned
  std::string makerName;  // the full Make text once a maker was recognised
};

// Process-wide state of the decoding; one reader works at a time.
// The image that the Canon converters add their settings to.
extern TImageInfo* currentImageInfo;
// Set by a converter that wants the walk to keep the plain value with the tag
// and to put the converter's lines before the tag's own line.
extern bool keepPlainValue;

// The makers' tables. Every row carries its label; a label "Skip" (any case)
// makes the walk pass the tag by.
constexpr int kNikonOldTableRows = 11;
constexpr int kNikonTableRows = 28;
constexpr int kOlympusTableRows = 33;
constexpr int kCasioTableRows = 26;
constexpr int kCasioQvcTableRows = 45;
constexpr int kFujiTableRows = 18;
constexpr int kCanonTableRows = 16;
constexpr int kSeikoTableRows = 12;
constexpr int kSanyoTableRows = 6;
constexpr int kMinoltaTableRows = 2;

extern const TTagTable<const TTagEntry, kNikonOldTableRows> NikonOldTable;
extern const TTagTable<const TTagEntry, kNikonTableRows> NikonTable;
extern const TTagTable<const TTagEntry, kOlympusTableRows> OlympusTable;
extern const TTagTable<const TTagEntry, kCasioTableRows> CasioTable;
extern const TTagTable<const TTagEntry, kCasioQvcTableRows> CasioQvcTable;
extern const TTagTable<const TTagEntry, kFujiTableRows> FujiTable;
extern const TTagTable<const TTagEntry, kCanonTableRows> CanonTable;
extern const TTagTable<const TTagEntry, kSeikoTableRows> SeikoTable;
extern const TTagTable<const TTagEntry, kSanyoTableRows> SanyoTable;
extern const TTagTable<const TTagEntry, kMinoltaTableRows> MinoltaTable;

// Converters of maker tags.
std::string NikonColorModeText(const std::string& text);
std::string NikonLensText(const std::string& text);
std::string CanonCameraSettingsText(const std::string& text);
std::string CanonShotInfoText(const std::string& text);
std::string CanonCustomFunctionsText(const std::string& text);

// One decoded setting: empty text, or a line break, the label, " = " and the
// setting's text, which is also added to currentImageInfo as a tag named label.
// index counts the elements of the ", "-joined value list from 0.
std::string MappedSettingLine(const std::string& values, const std::string& label, int index,
                              const std::string& map);
std::string PlainSettingLine(const std::string& values, const std::string& label, int index);
std::string CodeSettingLine(const std::string& label, int32_t code, const std::string& map);

}  // namespace shrinkwell

// The tag dictionary of TIFF/EXIF and GPS directories and the operations that
// turn tag values into display text. All texts are single-byte strings; the
// degree sign is the byte 0xB0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace shrinkwell {

// Turns a value text into its display text.
using TagConverter = std::string (*)(const std::string& text);

// One record type for dictionary rows, stored tags, maker-note rows and IPTC
// datasets. Copied by value.
struct TTagEntry {
  int32_t origin = 0;         // 0: standard directory, 1: maker note
  uint16_t fieldType = 0;     // TIFF field type of the stored value
  uint16_t iptcRecord = 0;    // IPTC record number
  uint16_t tag = 0;           // tag number; all comparisons use these 16 bits
  std::string name;           // search name
  std::string description;    // display label
  std::string valueMap;       // "code:text,code:text", empty when none
  std::string valueText;      // stored tags: the value as display text
  std::string rawValue;       // stored tags: the value's bytes
  int32_t valueOffset = 0;    // stored tags: 1-based position in the EXIF data
  std::string formatPattern;  // printf-style pattern, empty when none
  int32_t size = 0;           // stored tags: length of rawValue
  TagConverter converter = nullptr;
};

// A table row as the source text holds it: constant data, which costs
// nothing until the table is used.
struct TTagRow {
  uint16_t tag = 0;
  const char* name = "";
  const char* description = "";
  const char* valueMap = "";
  const char* formatPattern = "";
  TagConverter converter = nullptr;
  uint16_t iptcRecord = 0;
  int32_t size = 0;
};

TTagEntry EntryOf(const TTagRow& row);

// A process-wide table of N rows, used as the array of TTagEntry it stands
// for (Entry: TTagEntry, or const TTagEntry for a read-only table). The
// entries are made from the constant rows on first use, once, whichever
// thread comes first: a run that reads no metadata, or no maker's note,
// never builds the tables it does not need.
template <typename Entry, size_t N>
class TTagTable {
 public:
  explicit constexpr TTagTable(const TTagRow (&rows)[N]) : rows_(rows) {}
  TTagTable(const TTagTable&) = delete;
  TTagTable& operator=(const TTagTable&) = delete;

  operator Entry*() const { return Entries(); }
  Entry* begin() const { return Entries(); }
  Entry* end() const { return Entries() + N; }

 private:
  Entry* Entries() const {
    std::call_once(built_, [this] {
      entries_ = std::make_unique<TTagEntry[]>(N);
      for (size_t i = 0; i < N; ++i) entries_[i] = EntryOf(rows_[i]);
    });
    return entries_.get();
  }

  const TTagRow (&rows_)[N];
  mutable std::once_flag built_;
  mutable std::unique_ptr<TTagEntry[]> entries_;
};

// TIFF field types.
enum : uint16_t {
  kTypeByte = 1, kTypeAscii = 2, kTypeShort = 3, kTypeLong = 4, kTypeRational = 5,
  kTypeSByte = 6, kTypeUndefined = 7, kTypeSShort = 8, kTypeSLong = 9,
  kTypeSRational = 10, kTypeFloat = 11, kTypeDouble = 12,
};

// Bytes per component of a field type; 0 for type 0 and for any type above 12.
int TypeSize(uint32_t fieldType);

// Directory kinds as the lookup knows them.
enum : int { kMainDirectory = 1, kGpsDirectory = 2, kThumbnailDirectory = 4 };

constexpr int kExifTableRows = 251;  // 250 tags and the closing "Unknown" row
constexpr int kGpsTableRows = 31;

// Process-wide tables; only PrepareTagTables writes them (their labels).
extern TTagTable<TTagEntry, kExifTableRows> ExifTagTable;
extern TTagTable<TTagEntry, kGpsTableRows> GpsTagTable;
// The closing row of ExifTagTable: tag 0, name "Unknown".
const TTagEntry& UnknownTagEntry();

// Fills the empty labels of both tables once per process.
void PrepareTagTables(bool splitWords);
std::string SplitAtCapitals(const std::string& text);

TTagEntry LookupTagEntry(uint16_t tag, int directoryKind);
int TableIndexOfTag(uint16_t tag, const TTagEntry* table, int lastIndex);
std::string TableValueMapOf(uint16_t tag, const TTagEntry* table, int lastIndex);
int ExifTableIndexByName(const std::string& name);

std::string DecodeMapValue(const std::string& map, const std::string& code);
std::string PrintableText(const std::string& text);
double RationalTextToNumber(const std::string& text);

// Converters.
std::string ComponentsText(const std::string& text);
std::string GpsPositionText(const std::string& text);
std::string GpsTimeText(const std::string& text);
std::string FlashText(const std::string& text);  // EInvalidOperation when not a whole number
std::string ShutterSpeedText(const std::string& text);
std::string UserCommentText(const std::string& text);
std::string UnicodeByteText(const std::string& text);

// Text helpers shared with the maker-note decoders.
std::string TextBefore(const std::string& text, const std::string& separator);
std::string TextAfter(const std::string& text, const std::string& separator);
std::string TextItem(const std::string& text, const std::string& separator, int k);  // k counted from 1
// All items, in one pass; an empty separator gives the text as one item.
std::vector<std::string> TextItems(const std::string& text, const std::string& separator);
int SeparatorCount(const std::string& text, const std::string& separator);

// A decimal 32-bit integer with an optional sign. Leading blanks are allowed,
// as the value lists that the walks write have a blank after each comma;
// anything else around the digits makes it false.
bool ParseInt32(const std::string& text, int32_t& value);

// Blanks and control characters removed at both ends.
std::string TrimText(const std::string& text);
std::string UpperText(std::string text);
std::string LowerText(std::string text);

// printf-style formatting of one floating value with a table pattern; the
// decimal separator is the current locale's.
std::string FormatNumber(const std::string& pattern, double value);
// Nearest integer, a tie going to the even neighbour; 0 when out of range.
int32_t RoundToInt32(double value);

}  // namespace shrinkwell

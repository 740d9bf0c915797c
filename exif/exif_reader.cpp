#include "exif_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <exception>
#include <limits>

#include "errors.h"
#include "file_stream.h"
#include "maker_notes.h"
#include "system.h"
#include "iptc.h"

namespace shrinkwell {

std::set<std::pair<int64_t, int64_t>> visitedDirectories;
bool useConverters = true;
const char* const valueSeparator = " = ";

namespace {

const char kExifHeaderMark[] = {'E', 'x', 'i', 'f', '\0'};
constexpr int kJpegSectionSlots = 20;
constexpr int kTiffReadLimit = 256000;
// Offset base of a TIFF-structured file: data position 1 holds file offset 8.
constexpr int64_t kTiffOffsetBase = -7;
constexpr int64_t kJpegOffsetBase = 9;

const char kIllegalDirectory[] = "Illegally sized directory";

// The count bytes of data from 1-based position pos, cut at the end of data.
// A position outside data gives nothing: a value is never read from outside.
std::string CopyBytes(const std::string& data, int64_t pos, int64_t count) {
  if (pos < 1 || count <= 0 || pos > static_cast<int64_t>(data.size())) return std::string();
  const int64_t available = static_cast<int64_t>(data.size()) - pos + 1;
  return data.substr(static_cast<size_t>(pos - 1), static_cast<size_t>(count < available ? count : available));
}

const char kTooManyTags[] = "Too many tags";

// Restores a reader's content when a nested reading (the maker note) has
// pointed it elsewhere, whatever way that reading ends.
class ContentKeeper {
 public:
  explicit ContentKeeper(tEndInd& reader) : reader_(reader), saved_(reader.GetContent()) {}
  ~ContentKeeper() { reader_.SetContent(saved_); }
  ContentKeeper(const ContentKeeper&) = delete;
  ContentKeeper& operator=(const ContentKeeper&) = delete;

 private:
  tEndInd& reader_;
  std::string saved_;
};

}  // namespace

void MarkVisited(int64_t offsetBase, int64_t dirStart) { visitedDirectories.emplace(offsetBase, dirStart); }

bool WasVisited(int64_t offsetBase, int64_t dirStart) {
  return visitedDirectories.count({offsetBase, dirStart}) != 0;
}

// ---------------------------------------------------------------------------
// tEndInd

bool tEndInd::Holds(int64_t pos, int64_t count) const {
  return pos >= 1 && count >= 0 && pos - 1 + count <= static_cast<int64_t>(content.size());
}

uint16_t tEndInd::Read16(int64_t pos) const {
  if (!Holds(pos, 2)) throw EReadError(Format("Lesen außerhalb der Daten an Position %lld", static_cast<long long>(pos)));
  const auto b0 = static_cast<unsigned char>(content[static_cast<size_t>(pos - 1)]);
  const auto b1 = static_cast<unsigned char>(content[static_cast<size_t>(pos)]);
  return static_cast<uint16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0);
}

int32_t tEndInd::Read32(int64_t pos) const {
  if (!Holds(pos, 4)) throw EReadError(Format("Lesen außerhalb der Daten an Position %lld", static_cast<long long>(pos)));
  const uint32_t first = Read16(pos);
  const uint32_t second = Read16(pos + 2);
  return static_cast<int32_t>(bigEndian ? (first << 16) | second : (second << 16) | first);
}

// ---------------------------------------------------------------------------
// TImageInfo

struct TImageInfo::Frame {
  int64_t dirStart;
  int64_t offsetBase;
  int64_t length;
  int kind;
  int count;
  int next;
  bool storePending;  // the entry that opened the sub-directory on top waits here
  TTagEntry pending;
};

TImageInfo::TImageInfo(TimgData* owner, int buildMode) : owner(owner), buildMode(buildMode) {
  PrepareTagTables(true);
  visitedDirectories.clear();
}

int TImageInfo::AddTag(const TTagEntry& entry) {
  if (entry.tag == 0) return TagCount() - 1;
  if (TagCount() >= kMaxTags) {
    owner->errorText = kTooManyTags;
  } else {
    tags.push_back(entry);
  }
  return TagCount() - 1;
}

std::string TImageInfo::TakeValue(const std::string& data, int64_t pos, int64_t count) {
  // The first bytes of every value are always taken, so that a few huge
  // values cannot cost the small ones after them; only what lies beyond
  // counts against the section's budget.
  constexpr int64_t kAlwaysTaken = 256;
  if (valueBytesLeft_ < 0) valueBytesLeft_ = 4 * static_cast<int64_t>(content.size()) + 65536;
  const int64_t beyond = count > kAlwaysTaken ? std::min(count - kAlwaysTaken, valueBytesLeft_) : 0;
  std::string value = CopyBytes(data, pos, std::min(count, kAlwaysTaken) + beyond);
  valueBytesLeft_ -= std::max<int64_t>(0, static_cast<int64_t>(value.size()) - kAlwaysTaken);
  return value;
}

bool TImageInfo::CountEntry() {
  if (entriesLeft_ > 0) {
    --entriesLeft_;
    return true;
  }
  owner->errorText = kTooManyTags;
  return false;
}

int TImageInfo::TagIndexByName(const std::string& name) const {
  const std::string wanted = UpperText(name);
  for (size_t i = 0; i < tags.size(); ++i)
    if (UpperText(tags[i].name) == wanted) return static_cast<int>(i);
  return -1;
}

std::string TImageInfo::TagTextByName(const std::string& name) const {
  const int index = TagIndexByName(name);
  return index >= 0 ? tags[static_cast<size_t>(index)].valueText : std::string();
}

int32_t TImageInfo::BytesToInteger(const std::string& bytes) const {
  uint32_t result = 0;
  const size_t n = bytes.size();
  for (size_t i = 0; i < n; ++i) {
    const size_t at = bigEndian ? i : n - 1 - i;
    result = result * 256 + static_cast<unsigned char>(bytes[at]);
  }
  return static_cast<int32_t>(result);
}

double TImageInfo::TagValueNumber(const std::string& raw, uint32_t fieldType) const {
  switch (fieldType) {
    case kTypeByte: case kTypeShort: case kTypeLong:
    case kTypeSByte: case kTypeSShort: case kTypeSLong:
      return BytesToInteger(raw);
    case kTypeRational: case kTypeSRational: {
      if (raw.size() < 8) return 0;
      const int32_t denominator = BytesToInteger(raw.substr(4, 4));
      if (denominator == 0) return 0;
      return static_cast<double>(BytesToInteger(raw.substr(0, 4))) / denominator;
    }
    case kTypeFloat: {
      if (raw.size() < 4) return 0;
      const uint32_t bits = static_cast<uint32_t>(BytesToInteger(raw.substr(0, 4)));
      float value;
      std::memcpy(&value, &bits, sizeof value);
      return value;
    }
    case kTypeDouble: {
      if (raw.size() < 8) return 0;
      const uint64_t high = static_cast<uint32_t>(BytesToInteger(raw.substr(bigEndian ? 0 : 4, 4)));
      const uint64_t low = static_cast<uint32_t>(BytesToInteger(raw.substr(bigEndian ? 4 : 0, 4)));
      const uint64_t bits = (high << 32) | low;
      double value;
      std::memcpy(&value, &bits, sizeof value);
      return value;
    }
    default:
      return 0;
  }
}

std::string TImageInfo::FormatTagValue(const std::string& raw, uint32_t fieldType, const std::string& map,
                                       const std::string& pattern) const {
  const int size = TypeSize(fieldType);
  if (size == 0) return "0";
  size_t count = raw.size() / static_cast<size_t>(size);
  if (count > 128) count = 128;
  std::string text;
  for (size_t k = 0; k < count; ++k) {
    if (!text.empty()) text += ", ";
    const std::string item = raw.substr(k * static_cast<size_t>(size), static_cast<size_t>(size));
    switch (fieldType) {
      case kTypeByte: case kTypeShort: case kTypeLong:
      case kTypeSByte: case kTypeSShort: case kTypeSLong: {
        const std::string number = std::to_string(BytesToInteger(item));
        text += map.empty() ? number : DecodeMapValue(map, number);
        break;
      }
      case kTypeRational: case kTypeSRational:
        text += Format("%d/%d", BytesToInteger(item.substr(0, 4)), BytesToInteger(item.substr(4, 4)));
        break;
      case kTypeFloat: case kTypeDouble:
        text += "-9999.99";
        break;
      default:
        text += "?";
    }
  }
  if (!pattern.empty()) {
    const size_t at = pattern.find("%s");
    if (at != std::string::npos)
      text = pattern.substr(0, at) + text + pattern.substr(at + 2);
    else
      text = FormatNumber(pattern, TagValueNumber(raw, fieldType));
  }
  return text;
}

// ---------------------------------------------------------------------------
// Makers' notes and derived camera values

const TTagEntry EmptyTagEntry;

bool TImageInfo::DecodeMakerNote() {
  TmsInfo decoder(tiffSource, this);
  return decoder.DecodeMakerNote(this);
}

void TImageInfo::WalkMakerDirectory(const std::string& data, const TTagEntry* table, int lastIndex, int64_t dirOffset,
                                    int64_t adjust, int64_t fallbackBase) {
  const int64_t dirStart = dirOffset + 1;  // 1-based position of the entry count
  const int64_t base = dirStart - adjust + 1;
  const bool buildTags = buildMode == 4 || buildMode == 255;
  const int64_t dataSize = static_cast<int64_t>(data.size());
  SetContent(data);
  try {
    // A note too short for its own entry count holds no entries.
    const int count = Holds(dirStart, 2) ? Read16(dirStart) : 0;
    for (int i = 0; i < count; ++i) {
      const int64_t entryPos = dirStart + 2 + 12 * static_cast<int64_t>(i);
      // Maker notes are often cut short: the walk ends where the entries do.
      if (!Holds(entryPos, 12) || !CountEntry()) break;
      const uint16_t tag = Read16(entryPos);
      const uint16_t type = Read16(entryPos + 2);
      const int32_t components = Read32(entryPos + 4);
      const int32_t byteCount =
          static_cast<int32_t>(static_cast<uint32_t>(TypeSize(type)) * static_cast<uint32_t>(components));
      int64_t offset = 0;
      int64_t valuePos = entryPos + 8;
      if (byteCount > 4) {
        offset = Read32(entryPos + 8);
        valuePos = base + offset;
      }
      // A value that lies wholly inside the note is read from it, one that
      // ends on its last byte included; any other from the EXIF data.
      const bool inside = valuePos >= 1 && valuePos - 1 + byteCount <= dataSize;
      const std::string raw = inside ? TakeValue(data, valuePos, byteCount)
                                     : TakeValue(owner->GetContent(), fallbackBase + offset, byteCount);

      const int row = TableIndexOfTag(tag, table, lastIndex);
      const TTagEntry* found = row >= 0 ? &table[row] : nullptr;
      const std::string label = found ? found->description : "Unknown";
      if (UpperText(label) == "SKIP") continue;
      if (!buildTags) continue;

      // Unlike the standard directories, ASCII values are quoted and cut at
      // their first NUL, UNDEFINED values quoted whole.
      const std::string quoted = "\"" + raw + "\"";
      std::string valueText;
      if (type == kTypeAscii) {
        valueText = "\"" + raw.substr(0, raw.find('\0')) + "\"";
      } else if (type == kTypeUndefined) {
        valueText = quoted;
      } else {
        try {
          const std::string map = useConverters ? TableValueMapOf(tag, table, lastIndex) : std::string();
          valueText = FormatTagValue(raw, type, map, found ? found->formatPattern : std::string());
        } catch (const std::exception&) {
          valueText = quoted;
        }
      }
      keepPlainValue = false;
      const std::string shown =
          found && found->converter && useConverters ? found->converter(valueText) : PrintableText(valueText);
      if (keepPlainValue)
        makerText += shown + "\r\n" + label + valueSeparator + valueText;
      else
        makerText += "\r\n" + label + valueSeparator + shown;

      if (found) {
        try {
          TTagEntry entry = *found;
          entry.origin = 1;
          entry.valueText = keepPlainValue ? valueText : shown;
          entry.rawValue = raw;
          entry.fieldType = type;
          AddTag(entry);
        } catch (const std::exception&) {
          // A tag that cannot be stored is lost; the walk goes on.
        }
      }
    }
  } catch (const std::exception& error) {
    // Whatever goes wrong in a maker's note ends only that walk.
    owner->errorText = std::string("Error Detected = ") + error.what();
  }
  SetContent(owner->GetContent());
}

void TImageInfo::AddTextTag(const std::string& name, const std::string& value, uint16_t fieldType) {
  if (buildMode != 4 && buildMode != 255) return;
  try {
    // Such entries are only ever found by name, so they carry no tag number.
    TTagEntry entry;
    entry.origin = 1;
    entry.fieldType = fieldType;
    entry.name = name;
    entry.description = name;
    entry.valueText = value;
    entry.rawValue = value;
    entry.size = static_cast<int32_t>(value.size());
    if (TagCount() >= kMaxTags) {
      owner->errorText = kTooManyTags;
      return;
    }
    tags.push_back(std::move(entry));
  } catch (const std::exception&) {
    // A value that cannot be stored is lost.
  }
}

TTagEntry TImageInfo::TagByName(const std::string& name) const {
  const int index = TagIndexByName(name);
  return index >= 0 ? tags[static_cast<size_t>(index)] : EmptyTagEntry;
}

double TImageInfo::NumberByName(const std::string& name) const {
  const TTagEntry entry = TagByName(name);
  return entry.tag != 0 ? TagValueNumber(entry.rawValue, entry.fieldType) : 0;
}

int32_t TImageInfo::IntegerByName(const std::string& name) const { return RoundToInt32(NumberByName(name)); }

void TImageInfo::DeriveFocalLength35() {
  constexpr double kFilmDiagonal = 43.26661531;  // millimetres, of a 36 x 24 mm frame
  if (TagIndexByName("FocalLengthin35mmFilm") >= 0) return;
  int32_t unit = IntegerByName("FocalPlaneResolutionUnit");
  if (unit < 1) unit = IntegerByName("ResolutionUnit");
  const double mmPerUnit = unit == 2 ? 25.4 : unit == 3 ? 10.0 : 0.0;
  const double focal = NumberByName("FocalLength");
  if (mmPerUnit == 0 || focal == 0) return;

  double planeWidth = 0;
  double planeHeight = 0;
  const int32_t xRes = IntegerByName("FocalPlaneXResolution");
  if (xRes > 0) planeWidth = width * mmPerUnit / xRes;
  const int32_t yRes = IntegerByName("FocalPlaneYResolution");
  if (yRes > 0) planeHeight = height * mmPerUnit / yRes;
  if (!(planeWidth * planeHeight > 0)) return;

  const double value = focal * kFilmDiagonal / std::sqrt(planeWidth * planeWidth + planeHeight * planeHeight);
  const int row = ExifTableIndexByName("FocalLengthIn35mmFilm");
  if (row < 0) return;
  TTagEntry entry = ExifTagTable[row];
  entry.valueText = FormatNumber("%5.2f", value);
  entry.rawValue.clear();
  entry.formatPattern = "%s mm";
  entry.fieldType = kTypeSRational;
  AddTag(entry);
  infoText += "\r\n" + entry.description + valueSeparator + entry.valueText;
}

void TImageInfo::StoreEntry(TTagEntry entry) {
  try {
    AddTag(entry);
  } catch (const std::exception&) {
    // A tag that cannot be stored is lost; the walk goes on.
  }
}

void TImageInfo::OpenDirectory(std::vector<Frame>& frames, int64_t start, int64_t base, int64_t span, int kind) {
  MarkVisited(base, start);
  Frame frame{start, base, span, kind, 0, 0, false, TTagEntry()};
  if (!Holds(start, 2)) {
    owner->errorText = kIllegalDirectory;
  } else {
    const int count = Read16(start);
    if (2 + 12 * static_cast<int64_t>(count) > base + span)
      owner->errorText = kIllegalDirectory;
    else
      frame.count = count;
  }
  frames.push_back(std::move(frame));
}

void TImageInfo::WalkDirectory(int64_t dirStart, int64_t offsetBase, int64_t length, int kind) {
  // Sub-directories are walked depth first, each at once, on a stack of our
  // own: a chain of thousands of directories must not exhaust the call stack.
  std::vector<Frame> frames;
  entryRead_.assign(content.size() + 1, false);
  // Ends the directory on top; its parent stores the entry that led to it.
  auto close = [&]() {
    frames.pop_back();
    if (frames.empty() || !frames.back().storePending) return;
    frames.back().storePending = false;
    StoreEntry(std::move(frames.back().pending));
  };

  OpenDirectory(frames, dirStart, offsetBase, length, kind);
  while (!frames.empty()) {
    if (frames.back().next >= frames.back().count) {
      close();
      continue;
    }
    try {
      ReadEntry(frames);
    } catch (const std::exception&) {
      // An error inside a sub-directory is swallowed at the entry that leads
      // to it; one in the first directory ends the walk.
      if (frames.size() == 1) throw;
      close();
    }
  }
}

bool TImageInfo::ReadEntry(std::vector<Frame>& frames) {
  Frame& frame = frames.back();
  const int64_t entryPos = frame.dirStart + 2 + 12 * static_cast<int64_t>(frame.next);
  ++frame.next;
  if (!Holds(entryPos, 12)) {
    // The rest of the directory lies outside the data.
    owner->errorText = kIllegalDirectory;
    frame.next = frame.count;
    return false;
  }
  // Entries shared with a directory read before are not read again: the
  // rest of this one lies there too, or is made to look so by a hostile
  // file. And a section has only so many entries to read.
  if (entryRead_[static_cast<size_t>(entryPos)] || !CountEntry()) {
    frame.next = frame.count;
    return false;
  }
  entryRead_[static_cast<size_t>(entryPos)] = true;
  const int64_t offsetBase = frame.offsetBase;
  const uint16_t tag = Read16(entryPos);
  const uint16_t type = Read16(entryPos + 2);
  const int32_t components = Read32(entryPos + 4);
  // A 32-bit signed product, wrapping as the stored field does.
  const int32_t byteCount =
      static_cast<int32_t>(static_cast<uint32_t>(TypeSize(type)) * static_cast<uint32_t>(components));
  if (byteCount == 0) return false;
  const int64_t valuePos = byteCount <= 4 ? entryPos + 8 : Read32(entryPos + 8) + offsetBase;
  const std::string raw = TakeValue(content, valuePos, byteCount);

  const bool buildText = buildMode == 2 || buildMode == 255;
  const bool buildTags = buildMode == 4 || buildMode == 255;
  TTagEntry entry = LookupTagEntry(tag, frame.kind);
  std::string valueText;
  if (buildText || buildTags) {
    if (type == kTypeAscii) {
      valueText = raw;
      if (static_cast<int64_t>(valueText.size()) == byteCount && valueText.back() == '\0') valueText.pop_back();
    } else if (type == kTypeUndefined) {
      valueText = "\"" + raw.substr(0, raw.find('\0')) + "\"";
    } else {
      valueText = FormatTagValue(raw, type, entry.valueMap, entry.formatPattern);
    }
    if (entry.tag != 0 && entry.converter && useConverters) {
      try {
        valueText = entry.converter(valueText);
      } catch (const std::exception& error) {
        // A value its converter cannot read costs only its own text: it is
        // shown as a value without a converter, and the walk goes on.
        owner->errorText = error.what();
        valueText = PrintableText(valueText);
      }
    } else {
      valueText = PrintableText(valueText);
    }
    if (tag == 0x9286) {  // UserComment: the text after its 8-byte character code, all of it
      comment = TrimText(CopyBytes(raw, 9, static_cast<int64_t>(byteCount) - 8));
      valueText = comment;
      commentPos = static_cast<int32_t>(valuePos);
      // A count too large for the field wraps negative: no comment then.
      commentLength = byteCount > 8 ? byteCount - 8 : 0;
    }
    if (buildText) infoText += "\r\n" + entry.description + valueSeparator + valueText;
  }

  int subKind = 0;
  switch (tag) {
    case 0x8769: case 0xA005: case 0x014A: subKind = kMainDirectory; break;
    case 0x8825: subKind = kGpsDirectory; break;
    case 0x010F: cameraMake = valueText.substr(0, 32); break;
    case 0x0110: cameraModel = valueText.substr(0, 40); break;
    case 0x9000: exifVersion = raw.substr(0, 6); break;
    case 0x0132:
      dateTimePos = static_cast<int32_t>(valuePos);
      dateTime = valueText.substr(0, 20);
      break;
    case 0x9003:
      dateTimeOriginalPos = static_cast<int32_t>(valuePos);
      dateTime = valueText.substr(0, 20);
      break;
    case 0x9004: dateTimeDigitizedPos = static_cast<int32_t>(valuePos); break;
    case 0x9209: flash = RoundToInt32(TagValueNumber(raw, type)); break;
    case 0x0100: case 0xA002:
      widthPos = static_cast<int32_t>(entryPos + 8);
      width = RoundToInt32(TagValueNumber(raw, type));
      break;
    case 0x0101: case 0xA003:
      heightPos = static_cast<int32_t>(entryPos + 8);
      height = RoundToInt32(TagValueNumber(raw, type));
      break;
    case 0x927C: {
      // Only the first: a file with thousands of maker notes would cost
      // their number times the section's size.
      if (makerNoteSeen_) break;
      makerNoteSeen_ = true;
      makerNote = raw;
      makerNotePos = static_cast<int32_t>(valuePos);
      ContentKeeper keeper(*this);
      makerNoteDecoded = DecodeMakerNote();
      break;
    }
  }

  if (buildTags) {
    entry.valueText = valueText;
    entry.rawValue = raw;
    entry.valueOffset = static_cast<int32_t>(valuePos);
    entry.size = static_cast<int32_t>(raw.size());
    entry.fieldType = type;
  }
  if (subKind != 0) {
    try {
      const int64_t start = Read32(valuePos) + offsetBase;
      if (!WasVisited(offsetBase, start)) {
        const int64_t span = frame.length;
        OpenDirectory(frames, start, offsetBase, span, subKind);
        // frames may have moved; the parent is the one below the new top.
        Frame& parent = frames[frames.size() - 2];
        if (buildTags) {
          parent.storePending = true;
          parent.pending = std::move(entry);
        }
        return true;
      }
    } catch (const std::exception&) {
      // An unreadable sub-directory start is passed over.
    }
  }
  if (buildTags) StoreEntry(std::move(entry));
  return false;
}

// ---------------------------------------------------------------------------
// TimgData

TimgData::TimgData(int buildMode) : buildMode(buildMode) { Reset(); }

TimgData::~TimgData() = default;

void TimgData::Reset() {
  sectionCount = 0;
  exifSection = iptcSection = commentSection = headerSection = nullptr;
  fileName.clear();
  fileDateTime = 0;
  fileSize = 0;
  errorText.clear();
  openError = 0;
  exifInfo.reset();
  iptcInfo.reset();
  bigEndian = false;
}

bool TimgData::ScanJpegFile(const std::string& name) {
  TFileStream file(name, TFileStream::Mode::OpenRead);
  return ScanJpegFile(file);
}

bool TimgData::ScanJpegFile(TStream& file) {
  tiffSource = false;
  TReadAheadStream stream(file);
  try {
    return ScanJpegStream(stream);
  } catch (const std::exception& error) {
    errorText = error.what();
    return false;
  }
}

bool TimgData::ScanJpegStream(TStream& stream) {
  unsigned char start[2];
  if (stream.Read(start, 2) != 2 || start[0] != 0xFF || start[1] != 0xD8) return false;
  sectionCount = 0;
  while (sectionCount < kJpegSectionSlots) {
    unsigned char marker = 0xFF;
    do {
      if (stream.Read(&marker, 1) != 1) return HasMetadata();
    } while (marker == 0xFF);

    unsigned char lengthBytes[2];
    if (stream.Read(lengthBytes, 2) != 2) return HasMetadata();
    const int32_t length = lengthBytes[0] * 256 + lengthBytes[1];
    // A length below 2 cannot cover its own field: not a sound JPEG file.
    if (length < 2) return false;

    ++sectionCount;
    tSection& slot = Slot(sectionCount);
    slot.marker = marker;
    slot.length = length;
    slot.data.assign(reinterpret_cast<const char*>(lengthBytes), 2);
    try {
      std::string body(static_cast<size_t>(length - 2), '\0');
      // A body cut short by the end of the file keeps what arrived.
      body.resize(stream.Read(&body[0], body.size()));
      slot.data += body;
    } catch (const std::exception&) {
      continue;
    }

    if (sectionCount == 5 && !HasMetadata()) return false;
    switch (marker) {
      case 0xD9:
      case 0xDA:
        return HasMetadata();
      case 0xE0:
        headerSection = &slot;
        break;
      case 0xE1:
        if (sectionCount > 5 || exifSection) {
          --sectionCount;  // dropped: the next section reuses the slot
          break;
        }
        exifSection = &slot;
        exifInfo = std::make_unique<TImageInfo>(this, buildMode);
        SetContent(slot.data);
        ProcessExifHeader();
        break;
      case 0xED:
        // The first APP13 section; the IPTC reader attaches to it here. Its
        // datasets are read only on request, never during the scan.
        if (!iptcSection) {
          iptcSection = &slot;
          iptcInfo = std::make_unique<TIPTCdata>(this);
        }
        break;
      case 0xFE:
        commentSection = &slot;
        break;
      default:
        break;
    }
  }
  return HasMetadata();
}

void TimgData::ProcessExifHeader() {
  if (!exifInfo) exifInfo = std::make_unique<TImageInfo>(this, buildMode);
  // The header must hold the mark, the byte order and the first offset.
  if (content.size() < 16 || content.compare(2, 5, kExifHeaderMark, 5) != 0) {
    errorText = "Incorrect Exif header";
    return;
  }
  const std::string order = content.substr(8, 2);
  if (order == "II") {
    bigEndian = false;
  } else if (order == "MM") {
    bigEndian = true;
  } else {
    errorText = "Invalid Exif alignment marker";
    return;
  }
  exifInfo->infoText.clear();
  exifInfo->SetContent(content);
  exifInfo->bigEndian = bigEndian;
  const int32_t first = Read32(13);
  const int64_t dirStart = first == 0 ? 17 : static_cast<int64_t>(first) + kJpegOffsetBase;
  const int64_t length = exifSection ? exifSection->length : static_cast<int64_t>(content.size());
  exifInfo->WalkDirectory(dirStart, kJpegOffsetBase, length - 6, kMainDirectory);
  if (!errorText.empty()) exifInfo->DeriveFocalLength35();
}

bool TimgData::ReadTiffFile(const std::string& name) {
  TFileStream file(name, TFileStream::Mode::OpenRead);
  return ReadTiffFile(file);
}

bool TimgData::ReadTiffFile(TStream& file) {
  struct SourceFlag {
    bool& flag;
    ~SourceFlag() { flag = false; }
  } resetLater{tiffSource};
  tiffSource = true;
  try {
    return ReadTiffStream(file);
  } catch (const std::exception& error) {
    errorText = error.what();
    return false;
  }
}

bool TimgData::ReadTiffStream(TStream& stream) {
  char mark[2];
  if (stream.Read(mark, 2) != 2) return false;
  const std::string order(mark, 2);
  if (order != "II" && order != "MM") return false;
  char header[6];  // the number 42 and the first offset; the walk starts at file offset 8
  stream.Read(header, sizeof header);

  tSection& slot = Slot(1);
  // Only the bytes that arrived: a shorter file leaves no undefined tail.
  slot.data.assign(kTiffReadLimit, '\0');
  slot.data.resize(stream.Read(&slot.data[0], slot.data.size()));
  sectionCount = 1;
  exifSection = &slot;

  exifInfo = std::make_unique<TImageInfo>(this, buildMode);
  exifInfo->tiffSource = tiffSource;
  exifInfo->infoText.clear();
  exifInfo->SetContent(slot.data);
  SetContent(slot.data);
  exifInfo->bigEndian = order == "MM";
  exifInfo->WalkDirectory(1, kTiffOffsetBase, kTiffReadLimit, kMainDirectory);
  exifInfo->DeriveFocalLength35();
  return true;
}

void TimgData::ReadFileInfo(const TFileStream& file, const std::string& name) {
  const TFileFacts facts = file.Facts();
  fileName = name;
  fileDateTime = facts.modifiedDays;  // days since 1899-12-30 in local time, the usual date-time count
  fileSize = facts.size > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                               : static_cast<int32_t>(facts.size);
}

bool TimgData::ReadMetadataFile(const std::string& name) {
  int error = 0;
  // Opened once: every later look at the file goes through this handle.
  const std::unique_ptr<TFileStream> file = TFileStream::OpenForReading(name, error);
  if (!file) {
    Reset();
    openError = error;
    return false;
  }
  return ReadMetadataFile(*file, name);
}

bool TimgData::ReadMetadataFile(TFileStream& stream, const std::string& name) {
  Reset();
  bool result = false;
  TFileStream* const file = &stream;
  file->Seek(0);
  ReadFileInfo(*file, name);
  try {
    errorText = "Not an EXIF file";
    const size_t slash = name.find_last_of('/');
    const size_t dot = name.find_last_of('.');
    const std::string extension =
        dot == std::string::npos || (slash != std::string::npos && dot < slash) ? std::string()
                                                                                : LowerText(name.substr(dot));
    if (extension == ".jpg" || extension == ".jpeg" || extension == ".jpe") {
      if (ScanJpegFile(*file)) {
        errorText = "<none>";
        result = true;
      }
    } else if (extension == ".tif" || extension == ".tiff" || extension == ".nef") {
      if (ReadTiffFile(*file)) {
        errorText = "<none>";
        result = true;
      }
    }
  } catch (const std::exception&) {
    errorText = "Illegal Exif construction";
  }
  return result;
}

}  // namespace shrinkwell

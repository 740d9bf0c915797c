#include "iptc.h"

#include <algorithm>
#include <map>
#include <memory>
#include <unordered_set>

#include "errors.h"
#include "exif_reader.h"

namespace shrinkwell {

namespace {

constexpr TTagRow Row(uint16_t record, uint16_t dataset, const char* name, const char* label, int32_t size) {
  return TTagRow{dataset, name, label, "", "", nullptr, record, size};
}

const char kSignature[] = "Photoshop 3.0";
constexpr int64_t kSignatureLength = sizeof kSignature - 1;
constexpr unsigned char kDatasetMark = 0x1C;
// Maximum length given to datasets the table does not know.
constexpr int32_t kCustomSize = 64;

// Datasets a file may hold several times; they are kept as one comma list.
bool IsListDataset(uint16_t dataset) { return dataset == 20 || dataset == 25; }

bool IsSplitByte(char c) { return static_cast<unsigned char>(c) <= ' '; }

constexpr TTagRow kIptcRows[] = {
    Row(2, 0, "SKIP", "Record Version", 64),
    Row(2, 3, "ObjectType", "Object Type Ref", 67),
    Row(2, 4, "ObjectAttr", "Object Attribute Ref", 67),
    Row(2, 5, "ObjectName", "Object name", 64),
    Row(2, 7, "EditStatus", "Edit Status", 64),
    Row(2, 8, "EditorialUpdate", "Editorial Update", 2),
    Row(2, 10, "Urgency", "Urgency", 1),
    Row(2, 12, "SubRef", "Subject Reference", 236),
    Row(2, 15, "Category", "Category", 3),
    Row(2, 20, "SuppCategory", "Supplemental category", 32),
    Row(2, 22, "FixtureID", "Fixture ID", 32),
    Row(2, 25, "Keywords", "Keywords", 64),
    Row(2, 26, "ContentLocCode", "Content Location Code", 3),
    Row(2, 27, "ContentLocName", "Content Location Name", 64),
    Row(2, 30, "ReleaseDate", "Release Date", 8),
    Row(2, 35, "ReleaseTime", "Release Time", 11),
    Row(2, 37, "ExpireDate", "Expiration Date", 8),
    Row(2, 38, "ExpireTime", "Expiration Time", 11),
    Row(2, 40, "SpecialInstru", "Special Instructions", 256),
    Row(2, 42, "ActionAdvised", "Action Advised", 2),
    Row(2, 45, "RefService", "Reference Service", 10),
    Row(2, 47, "RefDate", "Reference Date", 8),
    Row(2, 50, "RefNumber", "Reference Number", 8),
    Row(2, 55, "DateCreated", "Date created", 8),
    Row(2, 60, "TimeCreated", "Time created", 11),
    Row(2, 62, "DigitizeDate", "Digital Creation Date", 8),
    Row(2, 63, "DigitizeTime", "Digital Creation Time", 11),
    Row(2, 65, "OriginatingProgram", "Originating Program", 32),
    Row(2, 70, "ProgramVersion", "Program version", 10),
    Row(2, 75, "ObjectCycle", "Object Cycle", 1),
    Row(2, 80, "ByLine", "ByLine", 32),
    Row(2, 85, "ByLineTitle", "ByLine Title", 32),
    Row(2, 90, "City", "City", 32),
    Row(2, 92, "SubLocation", "Sublocation", 32),
    Row(2, 95, "State", "Province/State", 32),
    Row(2, 100, "LocationCode", "Country/Primary Location Code", 3),
    Row(2, 101, "LocationName", "Country/Primary Location Name", 64),
    Row(2, 103, "TransmissionRef", "Original Transmission Reference", 32),
    Row(2, 105, "ImageHeadline", "Image headline", 256),
    Row(2, 110, "ImageCredit", "Image credit", 32),
    Row(2, 115, "Source", "Source", 32),
    Row(2, 116, "Copyright", "Copyright Notice", 128),
    Row(2, 118, "Contact", "Contact", 128),
    Row(2, 120, "ImageCaption", "Image caption", 2000),
    Row(2, 122, "ImageCaptionWriter", "Image caption writer", 32),
    Row(2, 130, "ImageType", "Image type", 2),
    Row(2, 131, "Orientation", "Image Orientation", 1),
    Row(2, 135, "LangID", "Language ID", 3),
    Row(8, 10, "Subfile", "Subfile", 2),
};

}  // namespace

const TTagTable<const TTagEntry, kIptcTableRows> IptcTagTable(kIptcRows);

int IptcTableIndexByName(const std::string& name) {
  const std::string wanted = LowerText(name);
  for (int i = 0; i < kIptcTableRows; ++i)
    if (LowerText(IptcTagTable[i].name) == wanted) return i;
  return -1;
}

// ---------------------------------------------------------------------------
// Comma lists

std::vector<std::string> ReadCommaText(const std::string& text) {
  std::vector<std::string> items;
  const size_t end = text.size();
  size_t p = 0;
  while (p < end && IsSplitByte(text[p])) ++p;
  while (p < end) {
    std::string item;
    if (text[p] == '"') {
      // Up to the closing quote, or to the end when there is none.
      ++p;
      while (p < end) {
        if (text[p] == '"') {
          if (p + 1 < end && text[p + 1] == '"') {
            item += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        item += text[p++];
      }
    } else {
      const size_t from = p;
      while (p < end && !IsSplitByte(text[p]) && text[p] != ',') ++p;
      item = text.substr(from, p - from);
    }
    items.push_back(std::move(item));
    while (p < end && IsSplitByte(text[p])) ++p;
    if (p < end && text[p] == ',') {
      // A comma at the very end still closes an (empty) item.
      if (p + 1 == end) items.emplace_back();
      do {
        ++p;
      } while (p < end && IsSplitByte(text[p]));
    }
  }
  return items;
}

std::string WriteCommaText(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string& item = items[i];
    if (i > 0) text += ',';
    bool quote = false;
    for (char c : item) quote = quote || IsSplitByte(c) || c == ',' || c == '"';
    if (!quote) {
      text += item;
      continue;
    }
    text += '"';
    for (char c : item) {
      if (c == '"') text += '"';
      text += c;
    }
    text += '"';
  }
  return text;
}

std::string MergeCommaLists(const std::string& existing, const std::string& added) {
  std::vector<std::string> items = ReadCommaText(existing);
  // Looked up, not compared with every item: one keyword dataset of 64 KB
  // holds some 30000 items, and comparing each with those before it took
  // seconds.
  std::unordered_set<std::string> present;  // upper case
  for (const std::string& have : items) present.insert(UpperText(have));
  for (const std::string& raw : ReadCommaText(added)) {
    std::string item = TrimText(raw);
    if (present.insert(UpperText(item)).second) items.push_back(std::move(item));
  }
  return WriteCommaText(items);
}

// ---------------------------------------------------------------------------
// Section data

TTagEntry ReadDataset(const std::string& text, int64_t& pos) {
  const auto byteAt = [&text](int64_t at) -> unsigned {
    return at >= 1 && at <= static_cast<int64_t>(text.size()) ? static_cast<unsigned char>(text[at - 1]) : 0u;
  };
  TTagEntry entry;
  const unsigned record = byteAt(pos);
  const auto dataset = static_cast<uint16_t>(byteAt(pos + 1));
  const int64_t length = byteAt(pos + 2) * 256 + byteAt(pos + 3);
  pos += 4;

  if (record == 2 || record == 8) {
    // A length running past the section is cut at its end.
    const int64_t available = std::max<int64_t>(0, static_cast<int64_t>(text.size()) - pos + 1);
    const int64_t taken = std::min(length, available);
    const std::string value = taken > 0 ? text.substr(static_cast<size_t>(pos - 1), static_cast<size_t>(taken)) : "";

    const TTagEntry* row = nullptr;
    for (const TTagEntry& candidate : IptcTagTable) {
      if (candidate.tag == dataset && candidate.iptcRecord == record) {
        row = &candidate;
        break;
      }
    }
    if (row && row->name != "SKIP") {
      entry = *row;
    } else {
      // Dataset 0, the record version, gets tag 0 here and is never stored.
      entry.name = entry.description = "Custom_" + std::to_string(dataset);
      entry.tag = dataset;
      entry.iptcRecord = static_cast<uint16_t>(record);
      entry.size = kCustomSize;
    }
    entry.valueText = value;
  }
  // The marker byte before the next dataset is passed over.
  pos += length + 1;
  return entry;
}

// ---------------------------------------------------------------------------
// TIPTCdata

int TIPTCdata::DatasetIndexByName(const std::string& name) const {
  const std::string wanted = UpperText(name);
  for (size_t i = 0; i < datasets.size(); ++i)
    if (UpperText(datasets[i].name) == wanted) return static_cast<int>(i);
  return -1;
}

void TIPTCdata::RemoveDataset(const std::string& name) {
  const int i = DatasetIndexByName(name);
  if (i >= 0) datasets.erase(datasets.begin() + i);
}

int TIPTCdata::SetDatasetValue(const std::string& name, const std::string& value) {
  const int i = DatasetIndexByName(name);
  if (i >= 0) {
    // An empty value leaves the stored one as it is.
    if (!value.empty()) datasets[static_cast<size_t>(i)].valueText = value;
    return i;
  }
  const int row = IptcTableIndexByName(name);
  if (row < 0) return -1;
  TTagEntry entry = IptcTagTable[row];
  entry.valueText = value;
  return AddDataset(entry);
}

int TIPTCdata::AppendListValue(const std::string& name, const std::string& value) {
  const int i = DatasetIndexByName(name);
  if (i < 0) return SetDatasetValue(name, MergeCommaLists(std::string(), value));
  if (!value.empty()) {
    TTagEntry& stored = datasets[static_cast<size_t>(i)];
    stored.valueText = MergeCommaLists(stored.valueText, value);
  }
  return i;
}

int TIPTCdata::StoreValue(const std::string& name, const std::string& value) {
  const int row = IptcTableIndexByName(name);
  if (row < 0) return -1;
  if (IsListDataset(IptcTagTable[row].tag)) return AppendListValue(name, value);
  return SetDatasetValue(name, value);
}

std::string TIPTCdata::DatasetTextByName(const std::string& name, const std::string& defaultText) const {
  const int i = DatasetIndexByName(name);
  return i >= 0 ? datasets[static_cast<size_t>(i)].valueText : defaultText;
}

bool TIPTCdata::ReadIptcFromFile(const std::string& fileName) {
  ClearDatasets();
  if (!owner) return false;
  // The owner's read starts with a reset that frees its IPTC reader. When
  // that is this object, it is taken out for the read and put back after it,
  // even when the read raises, so that this object and every pointer to it
  // stay valid; the reader the scan created meanwhile is dropped.
  struct KeepSelf {
    TimgData& owner;
    std::unique_ptr<TIPTCdata> self;
    ~KeepSelf() {
      if (self) owner.iptcInfo = std::move(self);
    }
  } keep{*owner, nullptr};
  if (owner->iptcInfo.get() == this) keep.self = std::move(owner->iptcInfo);
  owner->ReadMetadataFile(fileName);
  if (keep.self) owner->iptcInfo = std::move(keep.self);
  if (const tSection* section = owner->IptcSection()) ParseIptc(section->data);
  return HasIptc();
}

void TIPTCdata::ParseIptc(const std::string& text) {
  ClearDatasets();
  const size_t signature = text.find(kSignature);
  // Without the signature the section is not a resource block and its bytes
  // are not taken for datasets.
  if (signature == std::string::npos) return;
  const int64_t length = static_cast<int64_t>(text.size());
  // 1-based position just after the signature.
  const int64_t from = static_cast<int64_t>(signature) + 1 + kSignatureLength;

  // The first dataset of record 2 or 8; the resource headers before it are
  // not interpreted. i is the 1-based position of a candidate mark.
  int64_t pos = 0;
  for (int64_t i = from; i < length; ++i) {
    const auto mark = static_cast<unsigned char>(text[static_cast<size_t>(i - 1)]);
    const auto next = static_cast<unsigned char>(text[static_cast<size_t>(i)]);
    if (mark == kDatasetMark && (next == 2 || next == 8)) {
      pos = i + 1;
      break;
    }
  }
  if (pos == 0) return;

  // A list dataset repeated thousands of times (a photo with thousands of
  // keywords) is merged in one pass: merging each into the written list
  // again would cost their number times the list's length.
  struct TList {
    int index;
    std::vector<std::string> items;
    std::unordered_set<std::string> seen;  // upper case
  };
  std::map<std::string, TList> lists;  // by upper-case name
  while (pos < length - 2) {
    const TTagEntry entry = ReadDataset(text, pos);
    // Only the table's list rows (record 2) merge; a record-8 dataset of
    // the same number is kept like any other.
    if (entry.iptcRecord != 2 || !IsListDataset(entry.tag)) {
      AddDataset(entry);
      continue;
    }
    const std::string key = UpperText(entry.name);
    auto found = lists.find(key);
    if (found == lists.end()) {
      const int index = AppendListValue(entry.name, entry.valueText);
      TList list{index, {}, {}};
      if (index >= 0) list.items = ReadCommaText(datasets[static_cast<size_t>(index)].valueText);
      for (const std::string& item : list.items) list.seen.insert(UpperText(item));
      lists.emplace(key, std::move(list));
      continue;
    }
    TList& list = found->second;
    if (entry.valueText.empty() || list.index < 0) continue;
    for (const std::string& raw : ReadCommaText(entry.valueText)) {
      std::string item = TrimText(raw);
      if (list.seen.insert(UpperText(item)).second) list.items.push_back(std::move(item));
    }
    // As the written list would read back: one empty item is no item.
    if (list.items.size() == 1 && list.items[0].empty()) {
      list.items.clear();
      list.seen.clear();
    }
  }
  for (const auto& [key, list] : lists) {
    if (list.index >= 0) datasets[static_cast<size_t>(list.index)].valueText = WriteCommaText(list.items);
  }
}

int TIPTCdata::AddDataset(const TTagEntry& entry) {
  if (entry.tag == 0) return -1;
  datasets.push_back(entry);
  return static_cast<int>(datasets.size()) - 1;
}

void TIPTCdata::SetDatasetCount(int count) {
  if (count < 0) count = 0;
  if (count < DatasetCount()) datasets.resize(static_cast<size_t>(count));
}

TTagEntry TIPTCdata::DatasetAt(int index) const {
  if (index < 0 || index >= DatasetCount())
    throw EInvalidOperation(Format("Listenindex überschreitet das Maximum (%d)", index));
  return datasets[static_cast<size_t>(index)];
}

}  // namespace shrinkwell

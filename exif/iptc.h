// The IPTC datasets of a JPEG file's APP13 section: caption, keywords,
// credits, dates and the like, as image editors store them after the
// signature "Photoshop 3.0". Values are kept byte for byte; positions in the
// section data are 1-based, as everywhere in the metadata reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tag_dictionary.h"

namespace shrinkwell {

class TimgData;

constexpr int kIptcTableRows = 49;

// Dataset number, record, search name, label and maximum length of every
// known dataset. Row 0 is the record-version dataset, named "SKIP": it is
// never stored.
extern const TTagTable<const TTagEntry, kIptcTableRows> IptcTagTable;

// Reads the dataset whose record number is at 1-based position pos of text
// and moves pos to the record number of the next one. Data that would run
// past the end of text is cut there. Records other than 2 and 8 give an empty
// entry; unknown datasets of those records are named "Custom_" + number.
TTagEntry ReadDataset(const std::string& text, int64_t& pos);

// Both texts read as comma lists; the items of added that are not yet
// present (letter case ignored) are appended, and the result is written back
// as a comma list.
std::string MergeCommaLists(const std::string& existing, const std::string& added);

// The comma-list rules: reading splits at commas, blanks and control
// characters outside double quotes, where a doubled quote stands for one;
// writing quotes every item that holds a blank, control character, comma or
// double quote.
std::vector<std::string> ReadCommaText(const std::string& text);
std::string WriteCommaText(const std::vector<std::string>& items);

class TIPTCdata {
 public:
  explicit TIPTCdata(TimgData* owner) : owner(owner) {}
  TIPTCdata(const TIPTCdata&) = delete;
  TIPTCdata& operator=(const TIPTCdata&) = delete;

  // Queries and changes by name; names are compared ignoring letter case.
  // The results are dataset indexes, or -1 when the name is neither stored
  // nor a row of the table.
  int DatasetIndexByName(const std::string& name) const;
  void RemoveDataset(const std::string& name);
  int SetDatasetValue(const std::string& name, const std::string& value);
  int AppendListValue(const std::string& name, const std::string& value);
  int StoreValue(const std::string& name, const std::string& value);
  std::string DatasetTextByName(const std::string& name, const std::string& defaultText) const;

  // Reads the file through the owner and parses the owner's IPTC section.
  // Called on the owner's own reader, this object stays the owner's reader
  // (the owner's reset does not free it) and holds the new file's datasets.
  bool ReadIptcFromFile(const std::string& fileName);

  // Replaces the datasets by those of an APP13 section's data.
  void ParseIptc(const std::string& sectionData);
  // Appends a copy; an entry with dataset number 0 is not stored and gives -1.
  int AddDataset(const TTagEntry& entry);
  void ClearDatasets() { datasets.clear(); }

  bool HasIptc() const { return !datasets.empty(); }
  int DatasetCount() const { return static_cast<int>(datasets.size()); }
  // Drops the datasets from index count on; a count outside 0 to
  // DatasetCount() is brought into that range.
  void SetDatasetCount(int count);
  // EInvalidOperation when index is not that of a stored dataset.
  TTagEntry DatasetAt(int index) const;
  TimgData* Owner() const { return owner; }

 private:
  TimgData* owner;  // not owned
  std::vector<TTagEntry> datasets;
};

// Row of IptcTagTable whose name equals name, letter case ignored; -1 if none.
int IptcTableIndexByName(const std::string& name);

}  // namespace shrinkwell

// The metadata reader: the marker sections at the head of a JPEG file, the
// EXIF directories of its APP1 section, and the tag list built from them.
// Positions in byte strings are 1-based throughout (position 1 is the first
// byte); an offset read from TIFF data becomes a position by adding an offset
// base (9 for the EXIF section of a JPEG file).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tag_dictionary.h"

namespace shrinkwell {

class TStream;
class TFileStream;
class TimgData;
class TIPTCdata;

// A byte string and the byte order of the integers read from it.
class tEndInd {
 public:
  bool bigEndian = false;

  // The 16-bit unsigned and 32-bit signed integers at 1-based position pos.
  // A read outside the content raises EReadError; callers check first, this
  // is the last line of defence against hostile offsets.
  uint16_t Read16(int64_t pos) const;
  int32_t Read32(int64_t pos) const;
  // True when the count bytes from 1-based position pos lie inside content.
  bool Holds(int64_t pos, int64_t count) const;

  void SetContent(const std::string& text) { content = text; }
  const std::string& GetContent() const { return content; }

 protected:
  std::string content;
};

// One slot of the section table.
struct tSection {
  std::string data;    // from the length field on: positions 1-2 are the length bytes
  int32_t marker = 0;  // the byte after 0xFF
  int32_t length = 0;  // the big-endian length field (counts its own two bytes)
};

// The result of the EXIF walk: tag list, info text and summary fields.
//
// No section can cost more than linear time in its size, whatever its bytes
// say: each directory entry is read once, however many directories point
// into it (a directory that reaches an entry read before ends there); only
// the first maker note is walked; at most kMaxTags entries are read and
// tags stored per section; and beyond the first 256 bytes of each, the
// values read may add up to at most four times the section's size plus 64
// KiB, beyond which they are cut. Real photos stay far below these bounds
// (a few hundred tags, values of a few kilobytes but for the maker note).
class TImageInfo : public tEndInd {
 public:
  static constexpr int kMaxTags = 4096;

  TImageInfo(TimgData* owner, int buildMode);
  TImageInfo(const TImageInfo&) = delete;
  TImageInfo& operator=(const TImageInfo&) = delete;

  // The walk of one directory and, depth first, of every directory it leads
  // to. dirStart is the position of the entry count; kind 1 or 2.
  void WalkDirectory(int64_t dirStart, int64_t offsetBase, int64_t length, int kind);
  // Adds a copy unless its tag is 0; returns the index of the last entry.
  int AddTag(const TTagEntry& entry);

  // Queries by name, letter case ignored; -1 / empty text when not stored.
  int TagIndexByName(const std::string& name) const;
  std::string TagTextByName(const std::string& name) const;

  // Value text helpers; they read integers in this object's byte order.
  int32_t BytesToInteger(const std::string& bytes) const;
  double TagValueNumber(const std::string& raw, uint32_t fieldType) const;
  std::string FormatTagValue(const std::string& raw, uint32_t fieldType, const std::string& map,
                             const std::string& pattern) const;

  // Walks a maker's directory inside the maker-note bytes data. dirOffset is
  // where its entry count lies in data, counted from 0; an offset X read from
  // an entry denotes 1-based position dirOffset + 2 - adjust + X of data, and
  // a value that does not lie inside data is read from the owner's EXIF data
  // at position fallbackBase + X. Adds lines to makerText and entries
  // (origin 1) to the tag list; the content is the EXIF data again after.
  void WalkMakerDirectory(const std::string& data, const TTagEntry* table, int lastIndex, int64_t dirOffset,
                          int64_t adjust, int64_t fallbackBase);
  // Adds a named text value to the tag list, whatever its tag number.
  void AddTextTag(const std::string& name, const std::string& value, uint16_t fieldType);

  // Queries by name for numbers: the stored tag or a copy of EmptyTagEntry,
  // its value as a number (0 when not stored), and that rounded.
  TTagEntry TagByName(const std::string& name) const;
  double NumberByName(const std::string& name) const;
  int32_t IntegerByName(const std::string& name) const;

  // Derived camera values, computed once after a walk that recorded a
  // problem and always after a TIFF walk: the focal length in 35 mm film,
  // unless the photo states it.
  void DeriveFocalLength35();

  const std::vector<TTagEntry>& Tags() const { return tags; }
  int TagCount() const { return static_cast<int>(tags.size()); }
  TimgData* Owner() const { return owner; }
  int BuildMode() const { return buildMode; }

  std::string exifVersion;  // at most 6 bytes
  std::string cameraMake;   // at most 32
  std::string cameraModel;  // at most 40
  std::string dateTime;     // at most 20
  int32_t height = 0;
  int32_t width = 0;
  int32_t heightPos = 0;
  int32_t widthPos = 0;
  int32_t flash = 0;
  std::string makerNote;
  bool tiffSource = false;
  std::string comment;
  int32_t commentPos = 0;
  int32_t commentLength = 0;
  int32_t dateTimePos = 0;
  int32_t dateTimeOriginalPos = 0;
  int32_t dateTimeDigitizedPos = 0;
  std::string infoText;
  std::string makerText;
  bool makerNoteDecoded = false;
  int32_t makerNotePos = 0;

 private:
  struct Frame;
  // Steps of one directory entry; returns true when it opened a sub-directory
  // (pushed onto frames), whose entry is stored once that walk is over.
  bool ReadEntry(std::vector<Frame>& frames);
  // Marks the directory visited and pushes it with its checked entry count.
  void OpenDirectory(std::vector<Frame>& frames, int64_t start, int64_t base, int64_t span, int kind);
  void StoreEntry(TTagEntry entry);
  // The MakerNote entry: a TmsInfo decodes the maker's directory. The result
  // says whether a maker was recognised and its directory walked.
  bool DecodeMakerNote();
  // The count bytes of data from 1-based position pos, cut at the end of
  // data and at what is left of the section's value budget.
  std::string TakeValue(const std::string& data, int64_t pos, int64_t count);
  // Counts one entry read; false (and the problem recorded) when the
  // section has had its share.
  bool CountEntry();

  std::vector<TTagEntry> tags;
  TimgData* owner;
  int buildMode;
  // The bounds on the work of one section.
  std::vector<bool> entryRead_;  // by 1-based position in the EXIF data
  int entriesLeft_ = kMaxTags;
  int64_t valueBytesLeft_ = -1;  // set when the walk starts
  bool makerNoteSeen_ = false;
};

// The per-file metadata reader.
class TimgData : public tEndInd {
 public:
  explicit TimgData(int buildMode);
  ~TimgData();
  TimgData(const TimgData&) = delete;
  TimgData& operator=(const TimgData&) = delete;

  void Reset();
  // Opening failures (EFOpenError) pass through; any other error ends the
  // scan with false, keeping what was found so far.
  bool ScanJpegFile(const std::string& fileName);
  // The same on a file opened already, read from its start.
  bool ScanJpegFile(TStream& file);
  bool ScanJpegStream(TStream& stream);
  bool ReadTiffFile(const std::string& fileName);
  bool ReadTiffFile(TStream& file);
  bool ReadTiffStream(TStream& stream);
  // Opens the file once and picks the reader by the name's extension;
  // never raises. A file that cannot be opened (missing, unreadable, no
  // regular file) gives false and its error code in openError.
  bool ReadMetadataFile(const std::string& fileName);
  // The same on a file opened already, read from its start.
  bool ReadMetadataFile(TFileStream& file, const std::string& fileName);
  // Records the open file's name, size and time of last writing.
  void ReadFileInfo(const TFileStream& file, const std::string& fileName);
  // Header check and start of the walk of the EXIF section in content.
  void ProcessExifHeader();

  bool HasMetadata() const { return exifSection || commentSection || iptcSection; }
  bool HasExif() const { return exifSection != nullptr; }

  TImageInfo* ImageInfo() const { return exifInfo.get(); }
  // Slots numbered 1 to 21.
  const tSection& Section(int number) const { return sectionTable.at(static_cast<size_t>(number - 1)); }
  int SectionCount() const { return sectionCount; }
  const tSection* ExifSection() const { return exifSection; }
  const tSection* IptcSection() const { return iptcSection; }
  // Created empty for the first APP13 section; its datasets are read on request.
  TIPTCdata* IptcInfo() const { return iptcInfo.get(); }
  const tSection* CommentSection() const { return commentSection; }
  const tSection* HeaderSection() const { return headerSection; }
  int BuildMode() const { return buildMode; }

  bool tiffSource = false;
  std::string fileName;
  double fileDateTime = 0;  // days since 1899-12-30, local time
  int32_t fileSize = 0;
  std::string errorText;
  int openError = 0;  // why ReadMetadataFile could not open its file

 private:
  tSection& Slot(int number) { return sectionTable.at(static_cast<size_t>(number - 1)); }

  std::array<tSection, 21> sectionTable;
  int buildMode;
  int sectionCount = 0;
  tSection* exifSection = nullptr;
  // The first APP13 section; the IPTC reader attaches to it.
  tSection* iptcSection = nullptr;
  tSection* commentSection = nullptr;
  tSection* headerSection = nullptr;
  std::unique_ptr<TImageInfo> exifInfo;
  std::unique_ptr<TIPTCdata> iptcInfo;
  // Keeps itself alive across this reader's reset when it reads a file.
  friend class TIPTCdata;
};

// Process-wide state of the reader; one reader works at a time.
// (offset base, start) of the directories walked since the last TImageInfo
// was created.
extern std::set<std::pair<int64_t, int64_t>> visitedDirectories;
extern bool useConverters;
extern const char* const valueSeparator;  // " = "
// What TagByName gives for a name that is not stored: every field empty.
extern const TTagEntry EmptyTagEntry;

void MarkVisited(int64_t offsetBase, int64_t dirStart);
bool WasVisited(int64_t offsetBase, int64_t dirStart);

}  // namespace shrinkwell

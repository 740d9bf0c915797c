// shrinkwell-meta [OPTION]... FILE...: shows what the metadata reader finds in
// each file, in UTF-8: as lines for people, as chosen values for scripts
// (-t), or as one JSON object per file (--json). See man/shrinkwell-meta.1.
#include <getopt.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ansi_text.h"
#include "errors.h"
#include "exif_reader.h"
#include "file_stream.h"
#include "icc_profile.h"
#include "jpeg.h"
#include "iptc.h"
#include "system.h"

namespace {

using shrinkwell::TImageInfo;
using shrinkwell::TTagEntry;

constexpr int kAllRead = 0, kSomeUnread = 1, kBadUsage = 2;
const char kProgram[] = "shrinkwell-meta";

struct Options {
  std::vector<std::string> tags;  // -t, in the order given
  bool json = false;
  bool all = false;
  std::vector<std::string> files;
};

// ---------------------------------------------------------------------------
// Command line

void PrintHelp() {
  std::printf(
      "Usage: %s [OPTION]... FILE...\n"
      "Shows the metadata of JPEG and TIFF photos: EXIF tags, maker's note, IPTC datasets.\n"
      "\n"
      "  -t, --tag=NAME  print only this tag's value, one line per tag and file; NAME is a\n"
      "                  tag's name or description, letter case ignored (repeatable)\n"
      "      --json      print one JSON object per file, each on one line\n"
      "  -a, --all       also show maker-note tags the tables do not know (\"Unknown\")\n"
      "  -h, --help      show this help and exit\n"
      "  -V, --version   show the version and exit\n"
      "\n"
      "With several files, each -t line starts with the file name and a tab.\n"
      "Exit status: 0 every file read, 1 some file unreadable or without metadata,\n"
      "2 bad usage. See man shrinkwell-meta.\n",
      kProgram);
}

// Fills options; an exit status when the run should end here.
std::optional<int> ParseCommandLine(int argc, char** argv, Options& options) {
  enum { kJson = 256 };
  static const option kLong[] = {{"tag", required_argument, nullptr, 't'}, {"json", no_argument, nullptr, kJson},
                                 {"all", no_argument, nullptr, 'a'},       {"help", no_argument, nullptr, 'h'},
                                 {"version", no_argument, nullptr, 'V'},   {nullptr, 0, nullptr, 0}};
  auto bad = [](const char* reason) {
    if (reason) std::fprintf(stderr, "%s: %s\n", kProgram, reason);
    std::fprintf(stderr, "Try '%s --help' for more information.\n", kProgram);
    return kBadUsage;
  };
  int c;
  while ((c = getopt_long(argc, argv, "t:ahV", kLong, nullptr)) != -1) {
    switch (c) {
      case 't': options.tags.push_back(optarg); break;
      case kJson: options.json = true; break;
      case 'a': options.all = true; break;
      case 'h': PrintHelp(); return kAllRead;
      case 'V': std::printf("%s %s\n", kProgram, SHRINKWELL_VERSION); return kAllRead;
      default: return bad(nullptr);  // getopt_long has said why
    }
  }
  if (options.json && !options.tags.empty()) return bad("--json and -t cannot be combined");
  for (int i = optind; i < argc; ++i) options.files.push_back(argv[i]);
  if (options.files.empty()) return bad("no file named");
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// Values

// Control characters inside a value are shown, not acted upon: a NUL
// would end the printed text and hide the rest of the value.
std::string Visible(const std::string& line) {
  static const char* const kNamed[32] = {"\\0", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, "\\t", "\\n", nullptr, nullptr, "\\r"};
  std::string shown;
  for (char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 32 && byte != 127) {
      shown += c;
    } else if (byte < 32 && kNamed[byte] != nullptr) {
      shown += kNamed[byte];
    } else {
      shown += shrinkwell::Format("\\x%02X", byte);
    }
  }
  return shrinkwell::AnsiToUtf8(shown);
}

// The value of a one-component number as its field type says: the
// reader's own helper leaves unsigned 32-bit values and signed 8- and
// 16-bit ones with the wrong sign, and reads x/0 as 0.
std::optional<double> NumberOf(const TImageInfo& info, const std::string& raw, uint16_t type) {
  const auto integer = [&](size_t at, size_t size) {
    return static_cast<uint32_t>(info.BytesToInteger(raw.substr(at, size)));
  };
  if (raw.size() != static_cast<size_t>(shrinkwell::TypeSize(type))) return std::nullopt;
  switch (type) {
    case shrinkwell::kTypeByte: case shrinkwell::kTypeShort: case shrinkwell::kTypeLong: return integer(0, raw.size());
    case shrinkwell::kTypeSByte: return static_cast<int8_t>(integer(0, 1));
    case shrinkwell::kTypeSShort: return static_cast<int16_t>(integer(0, 2));
    case shrinkwell::kTypeSLong: return static_cast<int32_t>(integer(0, 4));
    case shrinkwell::kTypeRational:
      if (integer(4, 4) == 0) return std::nullopt;
      return static_cast<double>(integer(0, 4)) / integer(4, 4);
    case shrinkwell::kTypeSRational:
      if (integer(4, 4) == 0) return std::nullopt;
      return static_cast<double>(static_cast<int32_t>(integer(0, 4))) / static_cast<int32_t>(integer(4, 4));
    case shrinkwell::kTypeFloat: case shrinkwell::kTypeDouble: {
      const double value = info.TagValueNumber(raw, type);
      if (std::isfinite(value)) return value;
      return std::nullopt;
    }
    default: return std::nullopt;
  }
}

struct GpsPosition {
  double latitude = 0, longitude = 0;
};

// Degrees, minutes and seconds (as many as are stored) with the sign of
// their reference letter: south and west are negative.
std::optional<double> Degrees(const TImageInfo& info, const std::string& name, char negative) {
  const int index = info.TagIndexByName(name);
  const int refIndex = info.TagIndexByName(name + "Ref");
  if (index < 0) return std::nullopt;
  const TTagEntry& tag = info.Tags()[static_cast<size_t>(index)];
  if (tag.fieldType != shrinkwell::kTypeRational || tag.rawValue.size() < 8) return std::nullopt;
  double degrees = 0, unit = 1;
  for (size_t at = 0; at + 8 <= tag.rawValue.size() && at < 24; at += 8, unit /= 60) {
    const auto part = NumberOf(info, tag.rawValue.substr(at, 8), tag.fieldType);
    if (!part) return std::nullopt;
    degrees += *part * unit;
  }
  const std::string ref = refIndex >= 0 ? info.Tags()[static_cast<size_t>(refIndex)].valueText : std::string();
  if (!ref.empty() && (ref[0] == negative || ref[0] == negative - 'A' + 'a')) degrees = -degrees;
  return degrees;
}

std::optional<GpsPosition> PositionOf(const TImageInfo& info) {
  const auto latitude = Degrees(info, "GPSLatitude", 'S'), longitude = Degrees(info, "GPSLongitude", 'W');
  if (!latitude || !longitude || std::fabs(*latitude) > 90 || std::fabs(*longitude) > 180) return std::nullopt;
  return GpsPosition{*latitude, *longitude};
}

// Always with a full stop, whatever the locale: a decimal comma would
// make "latitude, longitude" ambiguous.
std::string DecimalText(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
  return std::string(text, result.ptr);
}

// ---------------------------------------------------------------------------
// One file

// What was found in one file, in the order the lines are printed: EXIF
// tags, maker-note tags, IPTC datasets.
struct Metadata {
  std::string error;  // why nothing was read; empty when the file was read
  const TImageInfo* info = nullptr;
  std::vector<TTagEntry> iptc;
  std::optional<GpsPosition> gps;
  std::optional<shrinkwell::TIccFacts> icc;  // the colour profile, if the file carries one
};

// "sRGB IEC61966-2.1 (RGB)": the profile's description and colour space.
std::string IccText(const shrinkwell::TIccFacts& icc) {
  const std::string space = "(" + (icc.colourSpace.empty() ? std::string("?") : icc.colourSpace) + ")";
  return icc.description.empty() ? space : icc.description + " " + space;
}

Metadata Read(shrinkwell::TimgData& reader, const std::string& file) {
  Metadata found;
  int error = 0;
  // Opened once; the metadata and the colour profile are read through it.
  const std::unique_ptr<shrinkwell::TFileStream> stream = shrinkwell::TFileStream::OpenForReading(file, error);
  if (!stream) {
    found.error = shrinkwell::SystemErrorMessage(error);
    return found;
  }
  const bool read = reader.ReadMetadataFile(*stream, file);
  stream->Seek(0);
  const std::string profile = shrinkwell::ReadIccProfile(*stream);
  if (!profile.empty()) found.icc = shrinkwell::IccFactsOf(profile);
  if (!read) {
    found.error = shrinkwell::AnsiToUtf8(reader.errorText.empty() ? "Not an EXIF file" : reader.errorText);
    return found;
  }
  found.info = reader.ImageInfo();
  if (found.info) found.gps = PositionOf(*found.info);
  if (shrinkwell::TIPTCdata* iptc = reader.IptcInfo()) {
    iptc->ParseIptc(reader.IptcSection()->data);
    for (int k = 0; k < iptc->DatasetCount(); ++k) found.iptc.push_back(iptc->DatasetAt(k));
  }
  return found;
}

// Maker-note lines whose tag the tables do not hold; only --all shows them.
bool IsUnknownLine(const std::string& line) {
  return line.compare(0, 7, "Unknown") == 0 && line.compare(7, 3, shrinkwell::valueSeparator) == 0;
}

// The reader's lines end in CR LF and its texts are single-byte.
std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find("\r\n", from);
    if (end == std::string::npos) end = text.size();
    if (end > from) lines.push_back(text.substr(from, end - from));
    from = end + 2;
  }
  return lines;
}

void PrintPlain(const std::string& file, const Metadata& found, const shrinkwell::TimgData& reader, bool all) {
  std::printf("%s\n", file.c_str());
  const std::string error = found.error.empty() ? shrinkwell::AnsiToUtf8(reader.errorText) : found.error;
  std::printf("  errorText = %s\n", error.c_str());
  if (found.icc) std::printf("  ICC Profile = %s\n", Visible(IccText(*found.icc)).c_str());
  if (found.info) {
    for (const std::string& line : LinesOf(found.info->infoText)) std::printf("  %s\n", Visible(line).c_str());
    if (found.gps) {
      std::printf("  GPS Position = %s, %s\n", DecimalText(found.gps->latitude).c_str(),
                  DecimalText(found.gps->longitude).c_str());
    }
    if (!found.info->makerText.empty()) {
      std::printf("  makerText:\n");
      for (const std::string& line : LinesOf(found.info->makerText)) {
        if (all || !IsUnknownLine(line)) std::printf("  %s\n", Visible(line).c_str());
      }
    }
  }
  if (!found.iptc.empty()) {
    std::printf("  IPTC:\n");
    for (const TTagEntry& dataset : found.iptc) {
      std::printf("  %s\n", Visible(dataset.description + shrinkwell::valueSeparator + dataset.valueText).c_str());
    }
  }
  std::printf("\n");
}

// The first tag named so, by name or description, searched in the order
// the plain output shows them, so that both agree; empty when none is.
std::string SelectedValue(const Metadata& found, const std::string& wanted) {
  const std::string upper = shrinkwell::UpperText(wanted);
  const auto matches = [&](const TTagEntry& tag) {
    return shrinkwell::UpperText(tag.name) == upper || shrinkwell::UpperText(tag.description) == upper;
  };
  if (found.info) {
    for (int origin : {0, 1}) {
      for (const TTagEntry& tag : found.info->Tags()) {
        if (tag.origin == origin && matches(tag)) return tag.valueText;
      }
      if (origin == 0 && found.gps && (upper == "GPSPOSITION" || upper == "GPS POSITION"))
        return DecimalText(found.gps->latitude) + ", " + DecimalText(found.gps->longitude);
    }
  }
  for (const TTagEntry& dataset : found.iptc) {
    if (matches(dataset)) return dataset.valueText;
  }
  if (found.icc && (upper == "ICC PROFILE" || upper == "ICCPROFILE")) return IccText(*found.icc);
  return std::string();
}

void PrintSelected(const std::string& file, const Metadata& found, const Options& options) {
  const std::string prefix = options.files.size() > 1 ? file + "\t" : std::string();
  for (const std::string& wanted : options.tags) {
    std::printf("%s%s\n", prefix.c_str(), Visible(SelectedValue(found, wanted)).c_str());
  }
}

nlohmann::ordered_json TagObject(const TTagEntry& tag, const TImageInfo* info) {
  nlohmann::ordered_json object;
  object["name"] = shrinkwell::AnsiToUtf8(tag.name);
  object["description"] = shrinkwell::AnsiToUtf8(tag.description);
  object["value"] = shrinkwell::AnsiToUtf8(tag.valueText);
  if (info) {
    if (const auto number = NumberOf(*info, tag.rawValue, tag.fieldType)) {
      // Whole numbers as such: 1, not 1.0.
      if (std::trunc(*number) == *number && std::fabs(*number) < 9e15)
        object["number"] = static_cast<int64_t>(*number);
      else
        object["number"] = *number;
    }
  }
  return object;
}

void PrintJson(const std::string& file, const Metadata& found, bool all) {
  nlohmann::ordered_json object;
  object["file"] = file;
  object["error"] = found.error.empty() ? nullptr : nlohmann::ordered_json(found.error);
  object["iccProfile"] = nullptr;
  if (found.icc) object["iccProfile"] = {{"description", found.icc->description}, {"colourSpace", found.icc->colourSpace}};
  object["exif"] = nlohmann::ordered_json::array();
  object["makerNote"] = nlohmann::ordered_json::array();
  object["iptc"] = nlohmann::ordered_json::array();
  if (found.info) {
    for (const TTagEntry& tag : found.info->Tags())
      object[tag.origin == 0 ? "exif" : "makerNote"].push_back(TagObject(tag, found.info));
    if (all) {
      // Unknown tags are not stored; their lines are all that is left of them.
      for (const std::string& line : LinesOf(found.info->makerText)) {
        if (!IsUnknownLine(line)) continue;
        TTagEntry unknown;
        unknown.name = unknown.description = "Unknown";
        unknown.valueText = line.substr(7 + std::strlen(shrinkwell::valueSeparator));
        object["makerNote"].push_back(TagObject(unknown, nullptr));
      }
    }
  }
  for (const TTagEntry& dataset : found.iptc) object["iptc"].push_back(TagObject(dataset, nullptr));
  if (found.gps) object["gps"] = {{"latitude", found.gps->latitude}, {"longitude", found.gps->longitude}};
  // File names are bytes; one that is no UTF-8 still gives valid JSON.
  std::printf("%s\n", object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  shrinkwell::UseUserLocale();
  Options options;
  if (const auto status = ParseCommandLine(argc, argv, options)) return *status;

  int status = kAllRead;
  for (const std::string& file : options.files) {
    shrinkwell::TimgData reader(255);
    const Metadata found = Read(reader, file);
    if (!found.error.empty()) {
      std::fprintf(stderr, "%s: %s: %s\n", kProgram, file.c_str(), found.error.c_str());
      status = kSomeUnread;
    }
    if (options.json) {
      PrintJson(file, found, options.all);
    } else if (!options.tags.empty()) {
      if (found.error.empty()) PrintSelected(file, found, options);
    } else {
      PrintPlain(file, found, reader, options.all);
    }
  }
  // Output that could not be written is a failure too: a full disk must
  // not pass for an empty result.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "%s: standard output: %s\n", kProgram, std::strerror(errno));
    return kSomeUnread;
  }
  return status;
}

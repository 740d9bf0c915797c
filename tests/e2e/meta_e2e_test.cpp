// The metadata viewer run as a user or a script would: its command line and
// exit statuses, -t selections and JSON, on a generated file head and over
// every corpus file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "exif_builder.h"
#include "fixtures.h"
#include "run_program.h"
#include "temp_dir.h"

using testing_support::RunProgram;
using testing_support::TempDir;

namespace {

const std::string kMeta = SHRINKWELL_META_EXE;
const std::string kCorpus = SHRINKWELL_CORPUS_DIR;

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(kCorpus)) {
    if (entry.is_regular_file() && entry.path().extension() != ".md") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

#define SKIP_WITHOUT_CORPUS() \
  if (!std::filesystem::is_directory(kCorpus)) GTEST_SKIP() << "no corpus folder at " << kCorpus

// A JPEG head whose EXIF holds a Latin-1 text, control characters, numbers
// of the types whose sign is easily lost, and a position south and west.
std::string GeneratedHead() {
  using namespace exiftest;
  TiffBuilder tiff(true);
  const size_t first = tiff.AddDirectory({
      Ascii(0x010F, std::string("Caf\xE9\0", 5)),          // Make
      Undefined(0x9286, std::string("ASCII\0\0\0a\tb\0c", 13)),  // UserComment, kept whole
      Short(0x0112, {6}),                                  // Orientation
      RawEntry(0x8827, 8, 1, std::string("\xFF\xFB", 2)),  // ISOSpeedRatings as a signed short: -5
      Long(0xA002, {3000000000u}),                         // ExifImageWidth above 2^31
      Rational(0x9204, {0xFFFFFFFEu, 3}, 10),              // ExposureBiasValue -2/3
      Long(0x8825, {0}),                                   // GPSInfo, set below
  });
  const size_t gps = tiff.AddDirectory({
      Ascii(1, std::string("S\0", 2)), Rational(2, {33, 1, 51, 1, 5400, 100}),
      Ascii(3, std::string("W\0", 2)), Rational(4, {151, 1, 12, 1, 3600, 100}),
  });
  tiff.Patch32(TiffBuilder::ValueField(first, 6), static_cast<uint32_t>(gps));
  return JpegHead({Segment(0xE1, tiff.ExifPayload())});
}

// The "  Label = value" lines of each file's block in the plain output.
using Blocks = std::map<std::string, std::vector<std::pair<std::string, std::string>>>;
Blocks PlainBlocks(const std::string& out) {
  Blocks blocks;
  std::istringstream lines(out);
  std::string line, file;
  while (std::getline(lines, line)) {
    if (!line.empty() && line[0] != ' ') {
      file = line;
      blocks[file];
    } else if (line.size() > 2 && line.find(" = ") != std::string::npos) {
      const size_t at = line.find(" = ");
      blocks[file].emplace_back(line.substr(2, at - 2), line.substr(at + 3));
    }
  }
  return blocks;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

TEST(MetaViewer, CommandLineAndExitStatuses) {
  TempDir dir;
  const std::string photo = dir.Write("photo.jpg", GeneratedHead());
  const std::string plain = dir.Write("plain.jpg", fixtures::EncodeJpeg(fixtures::SolidPicture(8, 8, 1, 2, 3)));
  const std::string missing = dir / "missing.jpg";
  const std::string pipe = dir / "pipe.jpg";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } cases[] = {
      {{"--version"}, 0, "shrinkwell-meta 1.", ""},
      {{"--help"}, 0, "--json", ""},
      {{}, 2, "", "no file named"},
      {{"--bogus", photo}, 2, "", "unrecognized option"},
      {{photo, "-t"}, 2, "", "requires an argument"},
      {{"--json", "-t", "Make", photo}, 2, "", "cannot be combined"},
      {{photo}, 0, "  Make = Caf\xC3\xA9\n", ""},
      {{plain, photo}, 1, "  Make = Caf\xC3\xA9\n", plain + ": Not an EXIF file\n"},
      // The files after one that cannot be opened are still read.
      {{missing, photo}, 1, "  Make = Caf\xC3\xA9\n", missing + ": No such file or directory\n"},
      {{dir.Path()}, 1, "", dir.Path() + ": Is a directory\n"},
      // A pipe is reported at once, never waited on.
      {{pipe, photo}, 1, "  Make = Caf\xC3\xA9\n", pipe + ": Not a regular file\n"},
  };
  for (const Case& c : cases) {
    const auto run = RunProgram(kMeta, c.args, dir.Path(), {"", "", false, false, 60});
    EXPECT_FALSE(run.timedOut);
    const std::string what = c.args.empty() ? "(no arguments)" : c.args[0];
    EXPECT_EQ(run.status, c.status) << what << "\n" << run.err;
    EXPECT_NE(run.out.find(c.out), std::string::npos) << what << "\n" << run.out;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << what << "\n" << run.err;
    if (c.status == 2) {
      EXPECT_TRUE(run.out.empty()) << what;
    }
  }
}

TEST(MetaViewer, SelectsTagsByNameOrDescriptionOneValuePerLine) {
  TempDir dir;
  const std::string photo = dir.Write("photo.jpg", GeneratedHead());
  const std::string other = dir.Write("other.jpg", GeneratedHead());
  const std::vector<std::string> tags = {"-t", "Orientation",   "-t", "user comment", "-t", "make",
                                         "-t", "GPS Position", "-t", "NoSuchTag"};
  const std::string values[] = {"CounterClockwise 90\xC2\xB0", "a\\tb\\0c", "Caf\xC3\xA9", "-33.865000, -151.210000", ""};

  std::vector<std::string> args = tags;
  args.push_back(photo);
  auto run = RunProgram(kMeta, args, dir.Path());
  EXPECT_EQ(run.status, 0);
  std::string expected;
  for (const std::string& value : values) expected += value + "\n";
  EXPECT_EQ(run.out, expected);

  // With several files each line names its file, as grep does.
  args.push_back(other);
  run = RunProgram(kMeta, args, dir.Path());
  expected.clear();
  for (const std::string& file : {photo, other}) {
    for (const std::string& value : values) expected += file + "\t" + value + "\n";
  }
  EXPECT_EQ(run.out, expected);
}

TEST(MetaViewer, JsonGivesNumbersWithTheirSignAndDecimalDegrees) {
  TempDir dir;
  const std::string photo = dir.Write("photo.jpg", GeneratedHead());
  const auto run = RunProgram(kMeta, {"--json", photo}, dir.Path());
  ASSERT_EQ(run.status, 0) << run.err;
  const auto object = nlohmann::json::parse(run.out);
  EXPECT_EQ(object["file"], photo);
  EXPECT_TRUE(object["error"].is_null());
  std::map<std::string, nlohmann::json> exif;
  for (const auto& tag : object["exif"]) exif[tag["name"]] = tag;
  EXPECT_EQ(exif["Make"]["value"], "Caf\xC3\xA9");
  EXPECT_FALSE(exif["Make"].contains("number"));
  EXPECT_EQ(exif["UserComment"]["value"], std::string("a\tb\0c", 5));
  EXPECT_EQ(exif["Orientation"]["number"], 6);
  EXPECT_EQ(exif["ISOSpeedRatings"]["number"], -5);
  EXPECT_EQ(exif["ExifImageWidth"]["number"], 3000000000ll);
  EXPECT_NEAR(exif["ExposureBiasValue"]["number"].get<double>(), -2.0 / 3, 1e-12);
  EXPECT_NEAR(object["gps"]["latitude"].get<double>(), -(33 + 51 / 60.0 + 54 / 3600.0), 1e-9);
  EXPECT_NEAR(object["gps"]["longitude"].get<double>(), -(151 + 12 / 60.0 + 36 / 3600.0), 1e-9);
}

// Every corpus file read with --all, as recorded in
// corpus_viewer_outputs.txt (scripts/record-viewer-outputs.sh writes it):
// a changed table row whose code some photo carries fails with the photo
// and the line. The run also shows that no file does harm, and that
// exactly the files that gave no metadata are named on standard error.
TEST(MetaViewer, EveryCorpusFileGivesItsRecordedOutput) {
  SKIP_WITHOUT_CORPUS();
  std::vector<std::string> files;
  for (const std::string& file : CorpusFiles()) files.push_back(std::filesystem::relative(file, kCorpus).string());
  ASSERT_GT(files.size(), 200u);
  std::vector<std::string> arguments = {"--all"};
  arguments.insert(arguments.end(), files.begin(), files.end());
  ::setenv("LC_ALL", "C.UTF-8", 1);  // the decimal point the record was made with
  const auto run = RunProgram(kMeta, arguments, kCorpus);
  ::unsetenv("LC_ALL");
  EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
  EXPECT_EQ(run.status, 1);

  // Each file's lines, from its name's line to the next file's.
  const auto split = [&files](const std::string& text) {
    std::map<std::string, std::vector<std::string>> blocks;
    const std::set<std::string> names(files.begin(), files.end());
    std::istringstream lines(text);
    std::string line, file;
    while (std::getline(lines, line)) {
      if (names.count(line) != 0) file = line;
      blocks[file].push_back(line);
    }
    return blocks;
  };
  const auto now = split(run.out);
  const auto recorded = split(fixtures::ReadFile(SHRINKWELL_RECORDED_VIEWER_OUTPUTS));
  for (const std::string& file : files) {
    const auto got = now.find(file);
    ASSERT_NE(got, now.end()) << file << " not read";
    const bool read = got->second.size() > 1 && got->second[1] == "  errorText = <none>";
    EXPECT_EQ(run.err.find(file + ": ") == std::string::npos, read) << file;
    const auto want = recorded.find(file);
    if (want == recorded.end()) {
      ADD_FAILURE() << file << " has no recorded output";
      continue;
    }
    const auto& [a, b] = std::pair(want->second, got->second);
    const size_t common = std::min(a.size(), b.size());
    const size_t at = std::mismatch(a.begin(), a.begin() + static_cast<ptrdiff_t>(common), b.begin()).first - a.begin();
    if (at < common || a.size() != b.size()) {
      ADD_FAILURE() << file << ", line " << at + 1 << ":\n  recorded: " << (at < a.size() ? a[at] : "(none)")
                    << "\n  now:      " << (at < b.size() ? b[at] : "(none)");
    }
  }
  if (HasFailure()) {
    std::cout << "Where the change is meant: bash scripts/record-viewer-outputs.sh (it shows what changed)\n";
  }
}

TEST(MetaViewer, ShowsMakerNotesAndIptcDatasetsAsWritten) {
  const std::string iptc = kCorpus + "/makernotes/IPTC.jpg", canon = kCorpus + "/cameras/Canon_PowerShot_S40.jpg",
                    ricoh = kCorpus + "/makernotes/Ricoh2.jpg";
  for (const std::string& file : {iptc, canon, ricoh}) {
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "no corpus file " << file;
  }
  TempDir dir;
  const auto run = RunProgram(kMeta, {iptc, canon, ricoh}, dir.Path());
  ASSERT_EQ(run.status, 0);
  for (const char* line : {"  City = Kingston\n", "  Country/Primary Location Name = Canada\n",
                           "  Supplemental category = amazing,image,utilities\n", "  Image caption = A witty caption\n",
                           "  Model = Canon PowerShot S40\n", "  Exposure Time = 1/500 sec\n", "  makerText:\n",
                           "  Compression Rate = SuperFine\n",
                           // NUL bytes inside a value are shown, and the rest of the value with them.
                           "  User Comment = GCM_TAG\\0Information\\0Roundabout\\0No\\0Good\\0E"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line;
  }
}

TEST(MetaViewer, UnknownMakerNoteTagsOnlyWithAll) {
  SKIP_WITHOUT_CORPUS();
  const auto files = CorpusFiles();
  TempDir dir;
  // Unknown and known lines of the maker's notes.
  auto count = [&](std::vector<std::string> args) {
    args.insert(args.end(), files.begin(), files.end());
    std::istringstream lines(RunProgram(kMeta, args, dir.Path()).out);
    std::string line;
    bool inNote = false;
    int counts[2] = {0, 0};
    while (std::getline(lines, line)) {
      if (line.empty() || line == "  IPTC:" || line == "  makerText:") inNote = line == "  makerText:";
      else if (inNote) ++counts[line.compare(0, 12, "  Unknown = ") == 0 ? 0 : 1];
    }
    return std::make_pair(counts[0], counts[1]);
  };
  const auto shown = count({}), all = count({"--all"});
  EXPECT_EQ(shown.first, 0);
  EXPECT_GT(all.first, 0);
  EXPECT_EQ(all.second, shown.second);
}

// Every corpus file's JSON parses; and -t prints for each tag, by name or
// description, what the plain output's line for that tag says.
TEST(MetaViewer, JsonAndTagSelectionsAgreeWithPlainOutput) {
  SKIP_WITHOUT_CORPUS();
  const auto files = CorpusFiles();
  TempDir dir;
  auto withFiles = [&](std::vector<std::string> args) {
    args.insert(args.end(), files.begin(), files.end());
    return RunProgram(kMeta, args, dir.Path());
  };
  const auto json = withFiles({"--json"}), plain = withFiles({});
  const Blocks blocks = PlainBlocks(plain.out);

  std::vector<nlohmann::json> objects;
  std::istringstream lines(json.out);
  std::string line;
  while (std::getline(lines, line)) {
    try {
      objects.push_back(nlohmann::json::parse(line));  // refuses text that is no UTF-8
    } catch (const std::exception& error) {
      ADD_FAILURE() << error.what() << "\n" << line.substr(0, 200);
    }
  }
  ASSERT_EQ(objects.size(), files.size());
  EXPECT_EQ(json.status, plain.status);

  const std::vector<std::string> wanted = {"Make",          "Model",       "Orientation",   "DateTimeOriginal",
                                           "Exposure Time", "FNumber",     "Flash",         "GPSLatitude",
                                           "GPSPosition",   "Quality",     "Macro mode",    "White balance",
                                           "Keywords",      "City",        "Image caption", "Focal Length in 35mm Film"};
  std::vector<std::string> args;
  for (const std::string& name : wanted) args.insert(args.end(), {"-t", name});
  const auto selected = withFiles(args);

  std::string expected;
  int found = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const nlohmann::json& object = objects[i];
    ASSERT_EQ(object["file"], files[i]);
    for (const char* list : {"exif", "makerNote", "iptc"}) {
      for (const auto& tag : object[list]) {
        EXPECT_TRUE(tag["name"].is_string() && tag["description"].is_string() && tag["value"].is_string());
        if (tag.contains("number")) {
          EXPECT_TRUE(tag["number"].is_number()) << files[i];
        }
      }
    }
    if (!object["error"].is_null()) continue;
    for (const std::string& name : wanted) {
      // The tag's label as the plain output shows it, found through the JSON.
      std::string label = Upper(name) == "GPSPOSITION" && object.contains("gps") ? "GPS POSITION" : "";
      for (const char* list : {"exif", "makerNote", "iptc"}) {
        for (const auto& tag : object[list]) {
          if (label.empty() && (Upper(tag["name"]) == Upper(name) || Upper(tag["description"]) == Upper(name)))
            label = Upper(tag["description"]);
        }
      }
      std::string value;
      for (const auto& [shownLabel, shownValue] : blocks.at(files[i])) {
        if (!label.empty() && Upper(shownLabel) == label) {
          value = shownValue;
          ++found;
          break;
        }
      }
      expected += files[i] + "\t" + value + "\n";
    }
  }
  EXPECT_GT(found, 500);
  EXPECT_EQ(selected.out, expected);
}

// Real work end to end: photos in, quarter-size upright copies out.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

#include <jpeglib.h>

#include "fixtures.h"
#include "run_program.h"
#include "temp_dir.h"

using testing_support::ConsoleLines;
using testing_support::RunProgram;
using testing_support::TempDir;

namespace {

const std::string kProgram = SHRINKWELL_EXE;
const std::string kCorpus = SHRINKWELL_CORPUS_DIR;
#if defined(__x86_64__)
const char kProcessor[] = "x86-64";
#elif defined(__aarch64__)
const char kProcessor[] = "arm64";
#else
const char kProcessor[] = "another processor";
#endif

fixtures::RgbPicture Decoded(const std::string& path) {
  fixtures::RgbPicture picture;
  EXPECT_TRUE(fixtures::DecodeJpeg(fixtures::ReadFile(path), picture)) << path;
  return picture;
}

// Mean absolute difference per channel byte of two pictures of one size.
double MeanDifference(const fixtures::RgbPicture& a, const fixtures::RgbPicture& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.empty()) return 1e9;
  double total = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) total += std::abs(int(a.rgb[i]) - int(b.rgb[i]));
  return total / static_cast<double>(a.rgb.size());
}

// The frame marker: 0xC0 baseline, 0xC2 progressive.
int FrameMarker(const std::string& jpeg) {
  for (size_t i = 2; i + 4 <= jpeg.size();) {
    const int marker = static_cast<uint8_t>(jpeg[i + 1]);
    if (marker >= 0xC0 && marker <= 0xC2) return marker;
    i += 2 + (static_cast<uint8_t>(jpeg[i + 2]) << 8 | static_cast<uint8_t>(jpeg[i + 3]));
  }
  return -1;
}

// A picture whose top-left quarter is red and the rest blue, so that every
// turn and mirror can be told from the result.
fixtures::RgbPicture MarkedPicture(int w, int h) {
  fixtures::RgbPicture p = fixtures::SolidPicture(w, h, 20, 40, 220);
  for (int y = 0; y < h / 2; ++y)
    for (int x = 0; x < w / 2; ++x) {
      uint8_t* px = p.At(x, y);
      px[0] = 230, px[1] = 30, px[2] = 30;
    }
  return p;
}

bool IsRed(const fixtures::RgbPicture& p, int x, int y) {
  const uint8_t* px = p.At(x, y);
  return px[0] > 180 && px[2] < 80;
}

// Corpus path -> SHA-256 of the output, "none" for no output, or "report:"
// and the error class.
std::map<std::string, std::string> RecordedOutputs() {
  std::map<std::string, std::string> table;
  std::istringstream lines(fixtures::ReadFile(SHRINKWELL_RECORDED_OUTPUTS));
  std::string line;
  while (std::getline(lines, line)) {
    const size_t gap = line.find("  ");
    if (gap != std::string::npos) table[line.substr(gap + 2)] = line.substr(0, gap);
  }
  return table;
}

std::string Sha256Of(const std::string& path) {
  const auto run = RunProgram("/usr/bin/sha256sum", {path}, "/");
  return run.status == 0 ? run.out.substr(0, 64) : "sha256sum failed: " + run.err;
}

std::string Sha256OfBytes(const std::string& bytes) {
  TempDir dir;
  return Sha256Of(dir.Write("bytes", bytes));
}

// Recorded sums of copies hold for the libjpeg they were made with, which
// FloatRoundTrip tells apart from others (another version, processor or
// SIMD setting): why not, when this one is another; empty when it is the
// same. The first line of golden_outputs.sha256 records it.
std::string OtherLibjpeg() {
  const std::string mark = "# float round trip of the libjpeg: ";
  std::istringstream lines(fixtures::ReadFile(SHRINKWELL_GOLDEN_OUTPUTS));
  std::string line, recorded;
  while (std::getline(lines, line)) {
    if (line.rfind(mark, 0) == 0) recorded = line.substr(mark.size(), 64);
  }
  const std::string here = Sha256OfBytes(fixtures::FloatRoundTrip());
  if (recorded.empty() || here == recorded) return std::string();
  return "the recorded sums hold for a libjpeg whose float round trip gives " + recorded + "; this one (libjpeg-turbo " +
         std::to_string(LIBJPEG_TURBO_VERSION_NUMBER) + " on " + kProcessor + ") gives " + here + ": not compared";
}

}  // namespace

TEST(Photos, BecomeQuarterSizeCopiesBesideTheSource) {
  TempDir photos, work;
  struct Case {
    std::string name, output;
    int w, h;
    bool progressive;
  };
  const std::vector<Case> cases = {{"holiday.jpg", "holiday+.jpg", 640, 480, false},
                                   {"DSC01.JPEG", "DSC01+.JPEG", 333, 251, true},
                                   {"Mixed Case.Jpg", "Mixed Case+.Jpg", 100, 64, false},
                                   {"\xC3\xA9t\xC3\xA9 \xE6\x97\xA5.jpeg", "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5+.jpeg", 64, 96, false}};
  std::vector<std::string> arguments;
  std::map<std::string, std::string> sources;
  uint32_t seed = 1;
  for (const Case& c : cases) {
    const std::string bytes = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(c.w, c.h, seed++), {92, c.progressive, false});
    fixtures::WriteFile(photos / c.name, bytes);
    sources[c.name] = bytes;
    arguments.push_back(photos / c.name);
  }
  const auto run = RunProgram(kProgram, arguments, work.Path());
  ASSERT_EQ(run.status, 0) << run.err;
  const auto lines = ConsoleLines(run.out);
  ASSERT_EQ(lines.size(), 3 + cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(lines[3 + i], "[0" + std::to_string(i + 1) + "/04] " + arguments[i] + " OK");
    EXPECT_EQ(fixtures::ReadFile(photos / c.name), sources[c.name]) << "source written";
    const std::string output = fixtures::ReadFile(photos / c.output);
    EXPECT_EQ(output.compare(0, 4, "\xFF\xD8\xFF\xE0"), 0) << "a JFIF file";
    EXPECT_EQ(FrameMarker(output), c.progressive ? 0xC2 : 0xC0) << c.name;
    const auto picture = Decoded(photos / c.output);
    EXPECT_EQ(picture.width, c.w / 2 / 2) << c.name;
    EXPECT_EQ(picture.height, c.h / 2 / 2) << c.name;
  }
  EXPECT_TRUE(std::filesystem::is_empty(work.Path())) << "scratch files left";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(photos.Path()), {}), 8);
}

TEST(Photos, ContentSurvivesTheShrink) {
  // A smooth picture shrunk by the program against the same picture made at
  // quarter size directly: only filter and JPEG rounding may differ.
  TempDir dir;
  fixtures::RgbPicture big(fixtures::SolidPicture(400, 300, 0, 0, 0)), small(fixtures::SolidPicture(100, 75, 0, 0, 0));
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 400; ++x) {
      uint8_t* p = big.At(x, y);
      p[0] = static_cast<uint8_t>(x * 255 / 399), p[1] = static_cast<uint8_t>(y * 255 / 299), p[2] = 128;
    }
  for (int y = 0; y < 75; ++y)
    for (int x = 0; x < 100; ++x) {
      const uint8_t* src = big.At(4 * x + 1, 4 * y + 1);
      std::copy(src, src + 3, small.At(x, y));
    }
  fixtures::WriteFile(dir / "ramp.jpg", fixtures::EncodeJpeg(big, {95, false, false}));
  ASSERT_EQ(RunProgram(kProgram, {"ramp.jpg"}, dir.Path()).status, 0);
  EXPECT_LT(MeanDifference(Decoded(dir / "ramp+.jpg"), small), 3.0);
}

TEST(Photos, SecondRunLeavesTheFirstOutputsAlone) {
  TempDir dir;
  fixtures::WriteFile(dir / "a.jpg", fixtures::EncodeJpeg(fixtures::PhotoLikePicture(200, 120, 5)));
  fixtures::WriteFile(dir / "b.JPG", fixtures::EncodeJpeg(fixtures::PhotoLikePicture(120, 200, 6)));
  ASSERT_EQ(RunProgram(kProgram, {"a.jpg", "b.JPG"}, dir.Path()).status, 0);
  const std::string firstA = fixtures::ReadFile(dir / "a+.jpg"), firstB = fixtures::ReadFile(dir / "b+.JPG");

  const auto again = RunProgram(kProgram, {"a.jpg", "b.JPG"}, dir.Path());
  EXPECT_EQ(again.status, 0);
  const auto lines = ConsoleLines(again.out);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3], "[01/02] a.jpg skipped: a+.jpg exists");
  EXPECT_EQ(lines[4], "[02/02] b.JPG skipped: b+.JPG exists");
  EXPECT_EQ(fixtures::ReadFile(dir / "a+.jpg"), firstA);
  EXPECT_EQ(fixtures::ReadFile(dir / "b+.JPG"), firstB);
  EXPECT_FALSE(std::filesystem::exists(dir / "2.$$$"));
  EXPECT_FALSE(std::filesystem::exists(dir / "1.$$$"));
}

TEST(Photos, OutputThatCannotBeStoredIsReportedNotOk) {
  TempDir dir;
  // A source name of the longest length a folder takes: "+" makes the
  // output name one too long, so the move fails for another reason than an
  // existing output.
  const std::string longName = std::string(251, 'x') + ".jpg";
  for (const std::string& name : {std::string("a.jpg"), longName, std::string("b.jpg")}) {
    fixtures::WriteFile(dir / name, fixtures::EncodeJpeg(fixtures::PhotoLikePicture(64, 64, 5)));
  }
  const auto run = RunProgram(kProgram, {"a.jpg", longName, "b.jpg"}, dir.Path());
  EXPECT_EQ(run.status, 2) << run.err;
  const auto lines = ConsoleLines(run.out);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3], "[01/03] a.jpg OK");
  EXPECT_EQ(lines[4], "[02/03] " + longName + " failed: File name too long");
  EXPECT_EQ(lines[5], "[03/03] b.jpg OK");
  EXPECT_TRUE(std::filesystem::exists(dir / "b+.jpg"));
  EXPECT_FALSE(std::filesystem::exists(dir / "2.$$$"));
}

TEST(Photos, TurnedUprightByTheirOrientationTag) {
  TempDir dir;
  const fixtures::RgbPicture marked = MarkedPicture(160, 96);
  struct Case {
    int orientation;
    int w, h;          // of the output
    int redX, redY;    // a pixel that must be red in the output
  };
  // The red quarter sits top-left in the stored picture.
  const Case cases[] = {{1, 40, 24, 2, 2},  {3, 40, 24, 37, 21}, {6, 24, 40, 21, 2},
                        {8, 24, 40, 2, 37}, {2, 40, 24, 2, 2},   {0, 40, 24, 2, 2}};
  for (const Case& c : cases) {
    std::string bytes = fixtures::EncodeJpeg(marked, {95, false, false});
    if (c.orientation != 0) {
      for (bool bigEndian : {true, false}) {
        const std::string name = "o" + std::to_string(c.orientation) + (bigEndian ? "m" : "i");
        fixtures::WriteFile(dir / (name + ".jpg"), fixtures::InsertSegmentAfterSoi(bytes, 0xE1,
                                    fixtures::ExifOrientationPayload(static_cast<uint16_t>(c.orientation), bigEndian)));
        ASSERT_EQ(RunProgram(kProgram, {name + ".jpg"}, dir.Path()).status, 0);
        const auto out = Decoded(dir / (name + "+.jpg"));
        ASSERT_EQ(out.width, c.w) << name;
        ASSERT_EQ(out.height, c.h) << name;
        EXPECT_TRUE(IsRed(out, c.redX, c.redY)) << name;
        int red = 0;
        for (int y = 0; y < out.height; ++y)
          for (int x = 0; x < out.width; ++x) red += IsRed(out, x, y);
        EXPECT_NEAR(red, out.width * out.height / 4, out.width + out.height) << name;
      }
    } else {
      fixtures::WriteFile(dir / "plain.jpg", bytes);
      ASSERT_EQ(RunProgram(kProgram, {"plain.jpg"}, dir.Path()).status, 0);
      const auto out = Decoded(dir / "plain+.jpg");
      EXPECT_EQ(out.width, c.w);
      EXPECT_TRUE(IsRed(out, c.redX, c.redY));
    }
  }
}

TEST(Photos, CorpusOrientationSetComesOutUpright) {
  const std::string folder = kCorpus + "/orientation";
  if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no corpus";
  TempDir dir;
  for (const char* kind : {"Landscape", "Portrait"}) {
    for (int tag = 0; tag <= 8; ++tag) {
      const std::string name = std::string(kind) + "_" + std::to_string(tag);
      std::filesystem::copy_file(folder + "/" + name + ".jpg", dir / (name + ".jpg"));
    }
    std::vector<std::string> arguments;
    for (int tag = 0; tag <= 8; ++tag) arguments.push_back(std::string(kind) + "_" + std::to_string(tag) + ".jpg");
    const auto run = RunProgram(kProgram, arguments, dir.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    const auto upright = Decoded(dir / (std::string(kind) + "_1+.jpg"));
    for (int tag = 0; tag <= 8; ++tag) {
      const std::string name = std::string(kind) + "_" + std::to_string(tag);
      const auto stored = Decoded(dir / (name + ".jpg"));
      const auto out = Decoded(dir / (name + "+.jpg"));
      const bool turned = tag == 3 || tag == 6 || tag == 8;
      const bool quarterTurn = tag == 6 || tag == 8;
      EXPECT_EQ(out.width, (quarterTurn ? stored.height : stored.width) / 4) << name;
      EXPECT_EQ(out.height, (quarterTurn ? stored.width : stored.height) / 4) << name;
      // Turned ones now look like the upright photo (but for the tag number
      // drawn into each); mirrored ones are left as stored, far from it.
      if (turned || tag == 0) {
        EXPECT_LT(MeanDifference(out, upright), 15.0) << name;
      }
      if (tag == 2 || tag == 4) {
        EXPECT_GT(MeanDifference(out, upright), 25.0) << name;
      }
    }
  }
}

// Every corpus file gives the output bytes (or the report) recorded in
// corpus_outputs.sha256: a change of the pixel path that moves one byte of
// one photo shows here. The sums are of the copies without their colour
// profile, which must be the photo's own, byte for byte, where the photo's
// is for RGB data, and none otherwise.
TEST(Photos, EveryCorpusFileGivesItsRecordedOutput) {
  if (!std::filesystem::is_directory(kCorpus)) GTEST_SKIP() << "no corpus at " << kCorpus;
  const std::string other = OtherLibjpeg();
  if (!other.empty()) GTEST_SKIP() << other;
  const std::map<std::string, std::string> expected = RecordedOutputs();
  ASSERT_GT(expected.size(), 200u);
  TempDir dir;
  size_t seen = 0, profiled = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(kCorpus)) {
    const std::string extension = entry.path().extension().string();
    if (!entry.is_regular_file() || (extension != ".jpg" && extension != ".jpeg" && extension != ".JPG")) continue;
    const std::string relative = std::filesystem::relative(entry.path(), kCorpus).string();
    const auto recorded = expected.find(relative);
    ASSERT_NE(recorded, expected.end()) << relative << " has no recorded output";
    ++seen;
    // Work on a copy: outputs land beside the source, never in the corpus.
    const std::string name = "photo" + extension, output = "photo+" + extension;
    std::filesystem::remove_all(dir.Path());
    std::filesystem::create_directories(dir.Path());
    std::filesystem::copy_file(entry.path(), dir / name);
    const auto run = RunProgram(kProgram, {name}, dir.Path());
    const std::string what = relative + "\n" + run.err;
    EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << what;
    EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << what;
    if (recorded->second == "none") {  // too small to give a picture
      EXPECT_EQ(run.status, 0) << what;
      EXPECT_FALSE(std::filesystem::exists(dir / output)) << what;
    } else if (run.status == 0) {
      EXPECT_EQ(run.err, "") << what;
      const std::string copy = fixtures::ReadFile(dir / output);
      EXPECT_EQ(Sha256OfBytes(fixtures::WithoutIccProfile(copy)), recorded->second) << what;
      const std::string profile = fixtures::IccProfileOf(fixtures::ReadFile(entry.path().string()));
      const bool rgbProfile = profile.size() >= 20 && profile.compare(16, 4, "RGB ") == 0;
      profiled += rgbProfile;
      EXPECT_EQ(fixtures::IccProfileOf(copy), rgbProfile ? profile : std::string()) << what;
    } else {
      EXPECT_EQ(run.status, 1) << what;
      const std::string className = run.err.substr(10, run.err.find(' ', 10) - 10);  // "Exception EJPEG in ..."
      EXPECT_EQ("report:" + className, recorded->second) << what;
      EXPECT_FALSE(std::filesystem::exists(dir / output)) << what;
    }
    EXPECT_EQ(fixtures::ReadFile(dir / name), fixtures::ReadFile(entry.path().string())) << "source written: " << what;
  }
  EXPECT_EQ(seen, expected.size()) << "recorded photos missing from the corpus";
  EXPECT_GT(profiled, 0u) << "no photo with an RGB profile was stored";
}

// The golden set's copies, byte for byte, wherever the project is cloned.
// With another libjpeg the test says so and skips.
TEST(Photos, GoldenSetGivesItsRecordedOutputs) {
  std::map<std::string, std::string> recorded;
  std::string recordedRoundTrip;
  std::istringstream lines(fixtures::ReadFile(SHRINKWELL_GOLDEN_OUTPUTS));
  for (std::string line; std::getline(lines, line);) {
    const std::string mark = "# float round trip of the libjpeg: ";
    if (line.rfind(mark, 0) == 0) recordedRoundTrip = line.substr(mark.size(), 64);
    const size_t gap = line.find("  ");
    if (line[0] != '#' && gap != std::string::npos) recorded[line.substr(gap + 2)] = line.substr(0, gap);
  }
  const std::string other = OtherLibjpeg();
  if (!other.empty()) GTEST_SKIP() << other;
  const std::string roundTrip = Sha256OfBytes(fixtures::FloatRoundTrip());
  const std::string here = "libjpeg-turbo " + std::to_string(LIBJPEG_TURBO_VERSION_NUMBER) + " on " + kProcessor;
  TempDir dir;
  std::vector<std::string> names;
  for (const auto& [name, bytes] : fixtures::GoldenSet()) names.push_back(dir.Write(name, bytes));
  const auto run = RunProgram(kProgram, names, dir.Path());
  EXPECT_EQ(run.status, 0) << run.err;
  std::string actual = "# float round trip of the libjpeg: " + roundTrip + "  (" + here + ")\n";
  for (const auto& [name, bytes] : fixtures::GoldenSet()) {
    const std::string copy = dir / (name.substr(0, name.size() - 4) + "+.jpg");
    const std::string sum = std::filesystem::exists(copy) ? Sha256Of(copy) : "none";
    actual += sum + "  " + name + "\n";
    EXPECT_EQ(sum, recorded[name]) << name;
  }
  if (HasFailure() || recordedRoundTrip.empty()) {
    fixtures::WriteFile(SHRINKWELL_GOLDEN_NEW, actual);
    ADD_FAILURE() << "the sums of this build are in " << SHRINKWELL_GOLDEN_NEW << "; where the change is meant, cp it to "
                  << SHRINKWELL_GOLDEN_OUTPUTS;
  }
}

TEST(Photos, WiderThanTheInitialBuffersIsShrunkWhole) {
  // 4104 pixels wide: the buffers grow, and the right end of the copy holds
  // the right end of the photo, not the wrap-around of a too-small buffer.
  TempDir dir;
  fixtures::RgbPicture wide = fixtures::SolidPicture(4104, 48, 30, 30, 30);
  for (int y = 0; y < 48; ++y)
    for (int x = 4000; x < 4104; ++x) {
      uint8_t* p = wide.At(x, y);
      p[0] = 240, p[1] = 200, p[2] = 20;
    }
  fixtures::WriteFile(dir / "wide.jpg", fixtures::EncodeJpeg(wide, {95, false, false}));
  ASSERT_EQ(RunProgram(kProgram, {"wide.jpg"}, dir.Path()).status, 0);
  const auto out = Decoded(dir / "wide+.jpg");
  ASSERT_EQ(out.width, 1026);
  ASSERT_EQ(out.height, 12);
  for (int y = 0; y < 12; ++y) {
    EXPECT_NEAR(out.At(1020, y)[0], 240, 12);
    EXPECT_NEAR(out.At(1020, y)[2], 20, 12);
    EXPECT_NEAR(out.At(500, y)[0], 30, 12);
  }
}

TEST(Photos, PhotosInFlightShowAndStoreWhatOneAfterAnotherWould) {
  // With any number of photos in flight, the console and every byte stored
  // are those of a run on one core, one photo after another: with an
  // output already there, a file that is no photo, and a photo that cannot
  // be decoded in the middle, which ends every run at its own turn. Photos
  // with restart markers, one damaged below its middle, are decoded in two
  // parts whenever a processor is free: alone, always.
  std::vector<std::pair<std::string, std::string>> files;
  for (uint32_t i = 0; i < 6; ++i) {
    fixtures::EncodeOptions options{90, i == 4};
    options.restartRows = i % 2;
    options.lumaSampling = i == 3 ? 21 : 22;
    files.push_back({"p" + std::to_string(i) + ".jpg", fixtures::EncodeJpeg(fixtures::PhotoLikePicture(900, 600, 40 + i), options)});
  }
  std::string damaged = files[1].second;
  for (size_t at = damaged.size() * 3 / 4; at < damaged.size() * 3 / 4 + 40; ++at) {
    const auto byte = static_cast<uint8_t>(damaged[at]);
    if (byte != 0xFF && byte != 0xA5 && static_cast<uint8_t>(damaged[at - 1]) != 0xFF) damaged[at] ^= 0x5A;
  }
  files.push_back({"damaged.jpg", damaged});
  // Its scan names a Huffman table that is not there: the decode in two
  // fails, and the one decoder says so in its own words.
  std::string noTable = files[1].second;
  const size_t scan = noTable.find("\xFF\xDA");
  for (size_t c = 0; c < 3; ++c) noTable[scan + 6 + 2 * c] = '\x33';
  files.push_back({"notable.jpg", noTable});
  files.push_back({"broken.jpg", "\xFF\xD8\xFF\xE0 not a photo"});
  files.push_back({"after.jpg", fixtures::EncodeJpeg(fixtures::PhotoLikePicture(300, 200, 50))});
  const std::vector<std::string> order = {"p0.jpg", "p1.jpg", "notes.txt", "p2.jpg", "p3.jpg", "p4.jpg", "p5.jpg", "broken.jpg", "after.jpg"};
  const std::vector<std::string> whole = {"p0.jpg", "p1.jpg", "notes.txt", "p2.jpg", "p3.jpg", "p4.jpg", "p5.jpg"};
  // The first: held to one processor, without a setting.
  const std::vector<std::string> threads = {"", "1", "2", "8", "64", "0", "many"};
  const std::vector<std::string> alone = {"p1.jpg"}, damagedAlone = {"damaged.jpg"}, noTableAlone = {"notable.jpg"};
  for (int round = 0; round < 2; ++round) {
    for (const auto& arguments : {whole, order, alone, damagedAlone, noTableAlone}) {
      std::map<std::string, std::string> first;
      std::string firstConsole;
      int firstStatus = -1;
      for (const std::string& setting : threads) {
        TempDir dir;
        for (const auto& [name, bytes] : files) fixtures::WriteFile(dir / name, bytes);
        fixtures::WriteFile(dir / "notes.txt", "not a photo");
        fixtures::WriteFile(dir / "p3+.jpg", "there before");
        testing_support::RunOptions options;
        options.oneProcessor = setting.empty();
        if (!setting.empty()) options.environment = {"SHRINKWELL_THREADS=" + setting};
        const auto run = RunProgram(kProgram, arguments, dir.Path(), options);
        const std::string console = run.out + run.err.substr(0, run.err.find(" in Modul"));
        std::map<std::string, std::string> outputs;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
          outputs[entry.path().filename().string()] = fixtures::ReadFile(entry.path().string());
        }
        if (setting.empty()) {
          first = outputs;
          firstConsole = console;
          firstStatus = run.status;
          if (arguments == order) {
            EXPECT_EQ(outputs.count("after+.jpg"), 0u) << "nothing after the broken photo is stored";
          }
          continue;
        }
        EXPECT_EQ(console, firstConsole) << "SHRINKWELL_THREADS=" << setting;
        EXPECT_EQ(run.status, firstStatus) << "SHRINKWELL_THREADS=" << setting;
        EXPECT_TRUE(outputs == first) << "SHRINKWELL_THREADS=" << setting;
      }
    }
  }
}

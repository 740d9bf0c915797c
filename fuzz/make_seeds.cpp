// make_seeds FOLDER: writes generated starting inputs for every fuzz target
// into FOLDER/<target>/, each in the layout its target reads (see the
// comment at the top of fuzz/<target>.cpp). Small files that reach what
// real photos seldom do: both byte orders, every maker's note, IPTC
// lists, progressive, grayscale and CMYK pictures.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "exif_builder.h"
#include "fixtures.h"

namespace {

using namespace exiftest;
namespace fs = std::filesystem;

class SeedFolder {
 public:
  SeedFolder(const fs::path& root, const char* target) : folder_(root / target) { fs::create_directories(folder_); }
  // prefix: the target's leading bytes that pick how the rest is read.
  void Write(const std::string& name, const std::string& prefix, const std::string& bytes) const {
    fixtures::WriteFile((folder_ / name).string(), prefix + bytes);
  }

 private:
  fs::path folder_;
};

std::string Byte(unsigned value) { return std::string(1, static_cast<char>(value & 0xFF)); }
std::string Big16(unsigned value) { return Byte(value >> 8) + Byte(value); }
const char* Order(bool big) { return big ? "mm" : "ii"; }

uint32_t NumberAt(const std::string& data, size_t at, bool big) {
  uint32_t value = 0;
  for (int k = 0; k < 4; ++k)
    value = (value << 8) | static_cast<unsigned char>(data[at + static_cast<size_t>(big ? k : 3 - k)]);
  return value;
}

// A camera's TIFF data: IFD0 (Make, Model, Orientation, links to the EXIF
// and GPS directories), the EXIF directory with the maker's note and a
// GPS directory. makeNote gets the note's offset in the TIFF data.
std::string CameraTiff(bool big, const std::string& make, const std::string& model, const std::string& version,
                       const std::function<std::string(uint32_t)>& makeNote) {
  auto build = [&](const std::string& note, uint32_t* noteOffset) {
    TiffBuilder tiff(big);
    const size_t ifd0 = tiff.AddDirectory({Ascii(0x010F, make + '\0'), Ascii(0x0110, model + '\0'), Short(0x0112, {6}),
                                           Long(0x8769, {0}), Long(0x8825, {0})});
    std::vector<Entry> exifEntries = {Rational(0x920A, {73, 10}), Short(0xA002, {640}), Short(0xA003, {480}),
                                      Undefined(0x9286, std::string("ASCII\0\0\0A comment", 17)),
                                      Undefined(0x927C, note)};
    if (!version.empty()) exifEntries.insert(exifEntries.begin(), Undefined(0x9000, version));
    const size_t exifDir = tiff.AddDirectory(exifEntries);
    tiff.Patch32(TiffBuilder::ValueField(ifd0, 3), static_cast<uint32_t>(exifDir));
    const size_t gpsDir = tiff.AddDirectory({Ascii(0x0001, std::string("N\0", 2)), Rational(0x0002, {52, 1, 31, 1, 7, 1})});
    tiff.Patch32(TiffBuilder::ValueField(ifd0, 4), static_cast<uint32_t>(gpsDir));
    if (noteOffset)
      *noteOffset = NumberAt(tiff.Data(), TiffBuilder::ValueField(exifDir, static_cast<int>(exifEntries.size()) - 1), big);
    return tiff.Data();
  };
  uint32_t offset = 0;
  build(makeNote(0), &offset);
  return build(makeNote(offset), nullptr);
}

// How a maker's directory counts its value offsets.
enum class Origin { Tiff, Note, EmbeddedTiff };

struct MakerSeed {
  const char* name;
  int camera;  // row of kCameras in fuzz_maker_notes.cpp
  unsigned flags;
  std::string prefix;  // the maker's header before the directory
  Origin origin;
  std::vector<Entry> entries;
};

// The note: the header, then the directory, its offsets counted as the
// maker does. noteOffset is the note's offset in the TIFF data.
std::string MakerNote(const MakerSeed& seed, bool big, uint32_t noteOffset) {
  if (seed.origin == Origin::Note) return seed.prefix + DirectoryBlock(seed.entries, false, static_cast<uint32_t>(seed.prefix.size()));
  if (seed.origin == Origin::EmbeddedTiff) {
    const std::string header = std::string(big ? "MM" : "II") + TiffBuilder(big).Number(42, 2) + TiffBuilder(big).Number(8, 4);
    return seed.prefix + header + DirectoryBlock(seed.entries, big, 8);
  }
  return seed.prefix + DirectoryBlock(seed.entries, big, noteOffset + static_cast<uint32_t>(seed.prefix.size()));
}

std::vector<MakerSeed> MakerSeeds() {
  const std::string nikon2("Nikon\0\x02\x10\0\0", 10);
  const std::vector<Entry> nikon = {Short(0x0002, {0, 200}), Ascii(0x0004, "FINE  "),
                                    Rational(0x0084, {180, 10, 700, 10, 35, 10, 45, 10}), Ascii(0x008D, "MODE1   ")};
  return {
      {"nikon-v2", 0, 0, nikon2, Origin::EmbeddedTiff, nikon},
      {"nikon-v1", 1, 0, std::string("Nikon\0\x01\0", 8), Origin::Tiff,
       {Short(0x0003, {2}), Short(0x0004, {1}), Short(0x0007, {5}), Rational(0x000A, {0, 100})}},
      {"nikon-bare", 1, 0, "", Origin::Tiff, nikon},
      {"nikon-d-tiff", 2, 2, nikon2, Origin::EmbeddedTiff, nikon},
      {"olympus", 3, 0, std::string("OLYMP\0\x01\0", 8), Origin::Tiff,
       {Long(0x0200, {0, 0, 0}), Short(0x0201, {2}), Short(0x0202, {1}), Ascii(0x0207, "SX753"),
        Undefined(0x0209, std::string(32, 'C'))}},
      {"casio-qvc", 4, 0, std::string("QVC\0\0\0", 6), Origin::Tiff,
       {Short(0x0009, {20}), Short(0x0014, {6}), Long(0x001D, {58}), Ascii(0x3006, "Europe/Berlin")}},
      {"casio", 4, 0, "", Origin::Tiff, {Short(0x0001, {1}), Short(0x0002, {3}), Long(0x000A, {65537}), Short(0x0014, {64})}},
      {"fuji", 5, 0, std::string("FUJIFILM\x0C\0\0\0", 12), Origin::Note,
       {Undefined(0x0000, "0130"), Ascii(0x1000, "NORMAL "), Short(0x1001, {3}), Short(0x1002, {256}), Short(0x1031, {0})}},
      {"canon", 6, 0, "", Origin::Tiff,
       {Short(0x0001, {40, 2, 0, 4, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
        Short(0x0004, {0, 0, 160, 128, 256, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
        Ascii(0x0006, "IMG:PowerShot S40 JPEG"), Ascii(0x0009, "Owner"), Short(0x000F, {0x0101, 0x0301, 0x0C02})}},
      {"seiko", 7, 0, std::string("SEIKO\0\x01\0", 8), Origin::Tiff,
       {Long(0x0200, {0, 0, 0}), Ascii(0x0209, "EPSON PhotoPC"), Long(0x020B, {2048}), Long(0x020C, {1536})}},
      {"sanyo", 8, 0, std::string("SANYO\0\x01\0", 8), Origin::Tiff,
       {Long(0x0200, {0, 0, 0}), Short(0x0201, {2}), Undefined(0x0F00, std::string(40, '\x5A'))}},
      {"minolta", 9, 0, "", Origin::Tiff, {Undefined(0x0000, "MLT0"), Undefined(0x0E00, std::string(64, 'P'))}},
  };
}

const char* const kCameraMakes[] = {"NIKON CORPORATION", "NIKON", "NIKON CORPORATION", "OLYMPUS OPTICAL CO.,LTD",
                                    "CASIO COMPUTER CO.,LTD.", "FUJIFILM", "Canon", "SEIKO EPSON CORP.",
                                    "SANYO Electric Co.,Ltd.", "Minolta Co., Ltd."};
const char* const kCameraVersions[] = {"0221", "0210", "", "0210", "0221", "0210", "0220", "0210", "0210", "0210"};

// An APP13 payload of IPTC datasets.
std::string IptcSectionData(const std::string& datasets) {
  const std::string payload = PhotoshopIptcPayload(datasets);
  return Big16(static_cast<unsigned>(payload.size() + 2)) + payload;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds FOLDER\n");
    return 2;
  }
  const fs::path root(argv[1]);
  const SeedFolder metadata(root, "fuzz_metadata");
  const SeedFolder iptc(root, "fuzz_iptc");
  const SeedFolder makers(root, "fuzz_maker_notes");
  const SeedFolder codec(root, "fuzz_codec");
  const SeedFolder icc(root, "fuzz_icc");
  enum : unsigned { kBatchDriver = 0, kViewerJpeg = 1, kViewerTiff = 2 };

  const fixtures::RgbPicture picture = fixtures::PhotoLikePicture(40, 30, 7);
  const std::string plain = fixtures::EncodeJpeg(picture);
  const std::string keywords = IptcDataset(2, 25, "mountains") + IptcDataset(2, 25, "\"Alps, Swiss\"") +
                               IptcDataset(2, 25, "lake") + IptcDataset(2, 120, "Evening at the lake") +
                               IptcDataset(2, 80, "A. Photographer") + IptcDataset(2, 20, "Travel") +
                               IptcDataset(2, 0, Big16(4)) + IptcDataset(2, 200, "custom") +
                               IptcDataset(8, 10, Big16(1));

  // Orientation in both byte orders, as the batch driver and the viewer read it.
  for (bool big : {true, false}) {
    for (unsigned orientation : {1u, 3u, 6u, 8u}) {
      const std::string photo = fixtures::InsertSegmentAfterSoi(plain, 0xE1, fixtures::ExifOrientationPayload(
                                                                                 static_cast<uint16_t>(orientation), big));
      const std::string name = "orientation-" + std::to_string(orientation) + "-" + Order(big);
      metadata.Write(name + "-batch", Byte(kBatchDriver), photo);
      metadata.Write(name + "-viewer", Byte(kViewerJpeg), photo);
    }
  }

  // Every maker's note: on its own, inside a JPEG file's EXIF data, and
  // inside a TIFF file.
  for (const MakerSeed& seed : MakerSeeds()) {
    for (bool big : {true, false}) {
      const std::string make = kCameraMakes[seed.camera];
      const std::string model = seed.camera == 2 ? "NIKON D1" : "Model";
      uint32_t noteOffset = 0;  // the last call's is the note's place
      const std::string tiff = CameraTiff(big, make, model, kCameraVersions[seed.camera], [&](uint32_t offset) {
        noteOffset = offset;
        return MakerNote(seed, big, offset);
      });
      const std::string name = std::string(seed.name) + "-" + Order(big);
      const std::string section = Big16(static_cast<unsigned>(tiff.size() + 8)) + std::string("Exif\0\0", 6) + tiff;
      metadata.Write(name + "-viewer", Byte(kViewerJpeg), fixtures::InsertSegmentAfterSoi(plain, 0xE1, section.substr(2)));
      metadata.Write(name + "-tiff", Byte(kViewerTiff), tiff);

      // The note alone, at its place in the section data (position 9 is the
      // TIFF header).
      const std::string note = MakerNote(seed, big, noteOffset);
      const std::string header = Byte(static_cast<unsigned>(seed.camera)) + Byte(seed.flags | (big ? 1u : 0u)) +
                                 Big16(9 + noteOffset) + Big16(static_cast<unsigned>(note.size()));
      makers.Write(name, header, section);
    }
  }

  // IPTC: lists, a caption, record 8, a custom dataset; and a last dataset
  // whose length runs past the end.
  metadata.Write("iptc-viewer", Byte(kViewerJpeg), fixtures::InsertSegmentAfterSoi(plain, 0xED, PhotoshopIptcPayload(keywords)));
  metadata.Write("comment-viewer", Byte(kViewerJpeg), fixtures::InsertSegmentAfterSoi(plain, 0xFE, "A comment"));
  iptc.Write("keywords", "", IptcSectionData(keywords));
  iptc.Write("cut-short", "", IptcSectionData(keywords + IptcDataset(2, 105, "Headline", 4000)));

  // Pictures of every kind the decoder takes, and some it refuses.
  fixtures::EncodeOptions progressive;
  progressive.progressive = true;
  fixtures::EncodeOptions gray;
  gray.grayscale = true;
  fixtures::EncodeOptions arithmetic;
  arithmetic.arithmetic = true;
  std::vector<uint8_t> inks(4 * 24 * 20);
  for (size_t i = 0; i < inks.size(); ++i) inks[i] = static_cast<uint8_t>(i * 37 % 251);
  std::vector<uint8_t> twoComponents(2 * 16 * 16, 128);
  const std::vector<std::pair<std::string, std::string>> pictures = {
      {"baseline", plain},
      {"progressive", fixtures::EncodeJpeg(fixtures::PhotoLikePicture(37, 29, 3), progressive)},
      {"grayscale", fixtures::EncodeJpeg(fixtures::PhotoLikePicture(33, 17, 4), gray)},
      {"cmyk", fixtures::EncodeSamples(24, 20, 4, inks, fixtures::SampleSpace::Cmyk)},
      {"ycck", fixtures::EncodeSamples(24, 20, 4, inks, fixtures::SampleSpace::Ycck)},
      {"two-components", fixtures::EncodeSamples(16, 16, 2, twoComponents, fixtures::SampleSpace::Unknown)},
      {"arithmetic", fixtures::EncodeJpeg(picture, arithmetic)},
      {"smallest", fixtures::EncodeJpeg(fixtures::PhotoLikePicture(4, 4, 5))},
      {"announces-more", fixtures::WithFrameSize(plain, 400, 300)},
  };
  unsigned turn = 0;
  for (const auto& [name, bytes] : pictures) {
    codec.Write(name, Byte(turn++), bytes);
    metadata.Write(name + "-batch", Byte(kBatchDriver), bytes);
  }
  // Restart markers at every MCU row and every other, decoded in two parts
  // too (bit 3), cut at the middle and near the bottom.
  fixtures::EncodeOptions restarts;
  restarts.restartRows = 1;
  codec.Write("restart-rows", Byte(8 | 0x80), fixtures::EncodeJpeg(fixtures::PhotoLikePicture(96, 80, 6), restarts));
  restarts.restartRows = 2;
  restarts.lumaSampling = 21;
  codec.Write("restart-pairs-turned", Byte(8 | 1 | 0xE0), fixtures::EncodeJpeg(fixtures::PhotoLikePicture(70, 120, 7), restarts));
  codec.Write("orientation-6", Byte(2), fixtures::InsertSegmentAfterSoi(plain, 0xE1, fixtures::ExifOrientationPayload(6)));

  // Colour profiles: version 2 descriptions, and a version 4 one in UTF-16.
  const std::string rgb = fixtures::IccProfile("RGB ", "Wide RGB");
  icc.Write("rgb-v2", "", rgb);
  icc.Write("gray-v2", "", fixtures::IccProfile("GRAY", "Gray 2.2"));
  std::string v4 = rgb.substr(0, 144);
  const std::string text("\0D\0i\0s\0p\0l\0a\0y\0 \0P\0\x33", 20);
  v4 += std::string("mluc\0\0\0\0\0\0\0\x01\0\0\0\x0C" "enUS\0\0\0\x14\0\0\0\x1C", 28) + text;
  v4[128 + 15] = static_cast<char>(28 + text.size());  // the tag's size
  icc.Write("display-v4", "", v4);
  codec.Write("profile-rgb", Byte(1), fixtures::WithIccProfile(plain, rgb));
  return 0;
}

// Writes a handful of synthetic example photos into a folder, so that a new
// user can see Shrinkwell work without photos of their own; with --sizes,
// shows each example's size in pixels beside its copy's, so that "a
// quarter, upright" shows without an image viewer.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "fixtures.h"

namespace {

struct Example {
  const char* name;
  int width, height;  // of the upright scene
  int orientation;    // 0: no EXIF segment
  bool progressive;
};
const Example kExamples[] = {
    {"beach.jpg", 2400, 1600, 1, false},
    {"tower portrait.JPG", 1600, 2400, 6, false},
    {"upside down.jpeg", 1600, 1200, 3, true},
    {"no exif.jpg", 1200, 800, 0, false},
};

// The copy's name, as Shrinkwell makes it: a "+" before the extension.
std::string CopyName(const std::string& name) {
  const size_t dot = name.rfind('.');
  return name.substr(0, dot) + "+" + name.substr(dot);
}

std::string SizeOf(const std::string& path) {
  fixtures::RgbPicture picture;
  if (!fixtures::DecodeJpeg(fixtures::ReadFile(path), picture)) return "(none)";
  return std::to_string(picture.width) + " x " + std::to_string(picture.height);
}

int PrintSizes(const std::string& folder) {
  std::printf("%-20s %-13s %-12s %-13s %s\n", "example", "stored", "orientation", "upright", "copy");
  for (const Example& e : kExamples) {
    const std::string orientation = e.orientation == 0 ? "none" : std::to_string(e.orientation);
    std::printf("%-20s %-13s %-12s %-13s %s\n", e.name, SizeOf(folder + "/" + e.name).c_str(), orientation.c_str(),
                (std::to_string(e.width) + " x " + std::to_string(e.height)).c_str(),
                SizeOf(folder + "/" + CopyName(e.name)).c_str());
  }
  return 0;
}

// The stored picture of a camera that was held turned: what the tag undoes.
fixtures::RgbPicture AsStored(const fixtures::RgbPicture& upright, int orientation) {
  if (orientation != 3 && orientation != 6 && orientation != 8) return upright;
  const bool quarter = orientation != 3;
  fixtures::RgbPicture stored = fixtures::SolidPicture(quarter ? upright.height : upright.width,
                                                       quarter ? upright.width : upright.height, 0, 0, 0);
  for (int y = 0; y < upright.height; ++y) {
    for (int x = 0; x < upright.width; ++x) {
      int sx = x, sy = y;
      if (orientation == 3) sx = upright.width - 1 - x, sy = upright.height - 1 - y;
      if (orientation == 6) sx = y, sy = upright.width - 1 - x;   // turned back a quarter counter-clockwise
      if (orientation == 8) sx = upright.height - 1 - y, sy = x;  // turned back a quarter clockwise
      const uint8_t* from = upright.At(x, y);
      std::copy(from, from + 3, stored.At(sx, sy));
    }
  }
  return stored;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--sizes") == 0) return PrintSizes(argv[2]);
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_example_photos FOLDER | make_example_photos --sizes FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  uint32_t seed = 1;
  for (const Example& e : kExamples) {
    // The scene as it should look; stored turned, as the camera wrote it.
    const auto stored = AsStored(fixtures::PhotoLikePicture(e.width, e.height, seed++), e.orientation);
    std::string bytes = fixtures::EncodeJpeg(stored, {92, e.progressive, false});
    if (e.orientation != 0) {
      bytes = fixtures::InsertSegmentAfterSoi(bytes, 0xE1, fixtures::ExifOrientationPayload(
                                                               static_cast<uint16_t>(e.orientation)));
    }
    const std::string path = folder + "/" + e.name;
    fixtures::WriteFile(path, bytes);
    std::printf("%s (%dx%d, orientation %d)\n", path.c_str(), stored.width, stored.height, e.orientation);
  }
  return 0;
}

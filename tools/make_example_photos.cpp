// Writes a handful of synthetic example photos into a folder, so that a new
// user can see Shrinkwell work without photos of their own.
#include <cstdio>
#include <string>

#include "fixtures.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_example_photos FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  struct Example {
    const char* name;
    int width, height;
    int orientation;  // 0: no EXIF segment
    bool progressive;
  };
  const Example examples[] = {
      {"beach.jpg", 2400, 1600, 1, false},
      {"tower portrait.JPG", 2400, 1600, 6, false},
      {"upside down.jpeg", 1600, 1200, 3, true},
      {"no exif.jpg", 1200, 800, 0, false},
  };
  uint32_t seed = 1;
  for (const Example& e : examples) {
    std::string bytes = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(e.width, e.height, seed++),
                                             {92, e.progressive, false});
    if (e.orientation != 0) {
      bytes = fixtures::InsertSegmentAfterSoi(bytes, 0xE1, fixtures::ExifOrientationPayload(
                                                               static_cast<uint16_t>(e.orientation)));
    }
    const std::string path = folder + "/" + e.name;
    fixtures::WriteFile(path, bytes);
    std::printf("%s (%dx%d)\n", path.c_str(), e.width, e.height);
  }
  return 0;
}

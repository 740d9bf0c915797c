#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <map>

#include <jpeglib.h>
#include <jerror.h>

#include "jpeg.h"

using namespace shrinkwell;

namespace {

std::vector<std::string> JpegFiles(const std::string& folder) {
  std::vector<std::string> files;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return files;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower.size() > 4 && (lower.rfind(".jpg") == lower.size() - 4 || lower.rfind(".jpeg") == lower.size() - 5)) {
      files.push_back(folder + "/" + name);
    }
  }
  closedir(dir);
  std::sort(files.begin(), files.end());
  return files;
}

// Decodes a file as the batch driver does and encodes the result again;
// returns the EJPEG code, or 0 when all went through.
int DecodeAndEncode(const std::string& path) {
  TJPEGImage image;
  try {
    image.ReadFromFile(path);
    TBitmap raster;
    raster.CopyPicture(image);
    raster.SetRasterFormat(rf24Bit);
    EXPECT_EQ(raster.PixelWidth(), image.PixelWidth()) << path;
    image.CopyPicture(raster);
    image.SetEncodeQuality(88);
    image.EnsureEncoded();
    EXPECT_GT(image.CompressedBytes()->size(), 20u) << path;
  } catch (const EJPEG& e) {
    return e.ErrorCode();
  }
  return 0;
}

}  // namespace

TEST(JpegCorpus, CodecAndCameraFilesDecodeOrEndInTheirError) {
  const std::string root = SHRINKWELL_CORPUS_DIR;
  std::vector<std::string> files = JpegFiles(root + "/codec");
  const auto cameras = JpegFiles(root + "/cameras");
  files.insert(files.end(), cameras.begin(), cameras.end());
  if (files.empty()) GTEST_SKIP() << "no corpus at " << root;
  const std::map<std::string, int> expected = {
      {"testimgari.jpg", JERR_ARITH_NOTIMPL},
      {"testorig12.jpg", JERR_BAD_PRECISION},  // 12-bit samples
  };
  for (const auto& path : files) {
    const std::string name = path.substr(path.rfind('/') + 1);
    const auto known = expected.find(name);
    EXPECT_EQ(DecodeAndEncode(path), known == expected.end() ? 0 : known->second) << path;
  }
}

TEST(JpegCorpus, BrokenFilesEndInACodecErrorOrARefusalAtWorst) {
  const auto files = JpegFiles(std::string(SHRINKWELL_CORPUS_DIR) + "/broken");
  if (files.empty()) GTEST_SKIP() << "no broken files in the corpus";
  for (const auto& path : files) {
    try {
      DecodeAndEncode(path);
    } catch (const EOutOfResources&) {
      // announcing more picture than its bytes can hold: refused
    } catch (const EInvalidGraphicOperation&) {
      // a picture the codec reports with a row outside the raster would land here
      ADD_FAILURE() << "row index error for " << path;
    }
  }
}

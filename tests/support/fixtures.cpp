#include "fixtures.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <csetjmp>

#include <jpeglib.h>

namespace fixtures {

namespace {

uint32_t NextRandom(uint32_t& state) {
  // xorshift32: fixed sequence for a given seed on every platform.
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

uint8_t Clamp(int value) { return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); }

}  // namespace

RgbPicture PhotoLikePicture(int width, int height, uint32_t seed) {
  RgbPicture picture;
  picture.width = width;
  picture.height = height;
  picture.rgb.resize(3 * static_cast<size_t>(width) * height);
  uint32_t state = seed * 2654435761u + 1u;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int noise = static_cast<int>(NextRandom(state) % 25) - 12;
      // Sky-like gradient above, textured ground below, a few hard edges.
      const bool ground = y > height / 2 + (x % 97) / 4;
      const bool block = ((x / 37) + (y / 29)) % 7 == 0;
      int r = ground ? 90 + (x * 60) / (width ? width : 1) : 120 + (y * 100) / (height ? height : 1);
      int g = ground ? 110 + ((x ^ y) & 31) : 160 + (y * 60) / (height ? height : 1);
      int b = ground ? 60 + ((x * y) & 15) : 230 - (y * 40) / (height ? height : 1);
      if (block) {
        r = 220 - r / 3;
        g = g / 2;
        b = 40 + b / 4;
      }
      uint8_t* p = picture.At(x, y);
      p[0] = Clamp(r + noise);
      p[1] = Clamp(g + noise / 2);
      p[2] = Clamp(b - noise);
    }
  }
  return picture;
}

RgbPicture SolidPicture(int width, int height, uint8_t red, uint8_t green, uint8_t blue) {
  RgbPicture picture;
  picture.width = width;
  picture.height = height;
  picture.rgb.resize(3 * static_cast<size_t>(width) * height);
  for (size_t i = 0; i < picture.rgb.size(); i += 3) {
    picture.rgb[i] = red;
    picture.rgb[i + 1] = green;
    picture.rgb[i + 2] = blue;
  }
  return picture;
}

std::string EncodeJpeg(const RgbPicture& picture, const EncodeOptions& options) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);  // fixtures are always valid; library errors abort
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(picture.width);
  cinfo.image_height = static_cast<JDIMENSION>(picture.height);
  cinfo.input_components = options.grayscale ? 1 : 3;
  cinfo.in_color_space = options.grayscale ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, options.quality, TRUE);
  if (options.progressive) jpeg_simple_progression(&cinfo);
  if (options.arithmetic) cinfo.arith_code = TRUE;
  cinfo.restart_in_rows = options.restartRows;
  if (options.floatDct) cinfo.dct_method = JDCT_FLOAT;
  if (!options.grayscale) {
    cinfo.comp_info[0].h_samp_factor = options.lumaSampling / 10;
    cinfo.comp_info[0].v_samp_factor = options.lumaSampling % 10;
  }
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(3 * static_cast<size_t>(picture.width));
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = static_cast<int>(cinfo.next_scanline);
    const uint8_t* src = picture.At(0, y);
    if (options.grayscale) {
      for (int x = 0; x < picture.width; ++x) {
        const uint8_t* p = src + 3 * x;
        row[x] = static_cast<uint8_t>((299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000);
      }
    } else {
      std::memcpy(row.data(), src, row.size());
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string bytes(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  return bytes;
}

std::string EncodeSamples(int width, int height, int components, const std::vector<uint8_t>& samples,
                          SampleSpace space, int quality) {
  if (samples.size() != static_cast<size_t>(width) * height * components) throw std::invalid_argument("sample count");
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = space == SampleSpace::Unknown ? JCS_UNKNOWN : JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, space == SampleSpace::Unknown ? JCS_UNKNOWN : space == SampleSpace::Ycck ? JCS_YCCK : JCS_CMYK);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&samples[static_cast<size_t>(cinfo.next_scanline) * width * components]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string bytes(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  return bytes;
}

namespace {

struct JumpingErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

void JumpOut(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JumpingErrorManager*>(cinfo->err)->jump, 1); }
void Quiet(j_common_ptr, int) {}

}  // namespace

bool DecodeJpeg(const std::string& jpeg, RgbPicture& picture, bool floatDct) {
  jpeg_decompress_struct cinfo;
  JumpingErrorManager errors;
  cinfo.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = JumpOut;
  errors.base.emit_message = Quiet;
  jpeg_create_decompress(&cinfo);
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(jpeg.data()), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  if (floatDct) cinfo.dct_method = JDCT_FLOAT;
  jpeg_start_decompress(&cinfo);
  picture.width = static_cast<int>(cinfo.output_width);
  picture.height = static_cast<int>(cinfo.output_height);
  picture.rgb.assign(3 * static_cast<size_t>(picture.width) * picture.height, 0);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[1] = {picture.At(0, static_cast<int>(cinfo.output_scanline))};
    jpeg_read_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

std::string FloatRoundTrip() {
  const RgbPicture picture = PhotoLikePicture(96, 64, 88);
  std::string all;
  for (const bool progressive : {false, true}) {
    const std::string encoded = EncodeJpeg(picture, {88, progressive, false, false, 0, true});
    RgbPicture decoded;
    DecodeJpeg(encoded, decoded, true);
    all += encoded;
    all.append(reinterpret_cast<const char*>(decoded.rgb.data()), decoded.rgb.size());
  }
  return all;
}

std::string InsertSegmentAfterSoi(const std::string& jpeg, uint8_t marker, const std::string& payload) {
  const size_t length = payload.size() + 2;
  if (length > 0xFFFF) throw std::invalid_argument("segment too long");
  std::string segment;
  segment += static_cast<char>(0xFF);
  segment += static_cast<char>(marker);
  segment += static_cast<char>(length >> 8);
  segment += static_cast<char>(length & 0xFF);
  segment += payload;
  return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

std::string WithFrameSize(const std::string& jpeg, uint16_t width, uint16_t height) {
  std::string out = jpeg;
  for (size_t i = 2; i + 9 <= out.size();) {
    const uint8_t marker = static_cast<uint8_t>(out[i + 1]);
    if (marker >= 0xC0 && marker <= 0xC2) {
      out[i + 5] = static_cast<char>(height >> 8);
      out[i + 6] = static_cast<char>(height & 0xFF);
      out[i + 7] = static_cast<char>(width >> 8);
      out[i + 8] = static_cast<char>(width & 0xFF);
      return out;
    }
    i += 2 + (static_cast<uint8_t>(out[i + 2]) << 8 | static_cast<uint8_t>(out[i + 3]));
  }
  throw std::invalid_argument("no frame header");
}

std::string IccProfile(const std::string& colourSpace, const std::string& description) {
  auto put32 = [](std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
  };
  std::string desc = "desc" + std::string(4, '\0');
  put32(desc, static_cast<uint32_t>(description.size() + 1));
  desc += description + '\0';
  desc += std::string(4 + 4 + 2 + 1 + 67, '\0');  // no Unicode text, no ScriptCode text
  std::string header(128, '\0');
  header.replace(4, 4, "none");
  header[8] = 2, header[9] = 0x10;  // version 2.1
  header.replace(12, 4, "mntr");
  header.replace(16, 4, colourSpace);
  header.replace(20, 4, "XYZ ");
  header.replace(36, 4, "acsp");
  std::string table;
  put32(table, 1);
  table += "desc";
  put32(table, 128 + 16);
  put32(table, static_cast<uint32_t>(desc.size()));
  std::string profile = header + table + desc;
  std::string size;
  put32(size, static_cast<uint32_t>(profile.size()));
  return profile.replace(0, 4, size);
}

std::string WithIccProfile(const std::string& jpeg, const std::string& profile) {
  return InsertSegmentAfterSoi(jpeg, 0xE2, std::string("ICC_PROFILE\0\x01\x01", 14) + profile);
}

std::string IccProfileOf(const std::string& jpeg) {
  jpeg_decompress_struct cinfo;
  JumpingErrorManager errors;
  cinfo.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = JumpOut;
  errors.base.emit_message = Quiet;
  jpeg_create_decompress(&cinfo);
  std::string profile;
  if (setjmp(errors.jump) == 0) {
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(jpeg.data()), static_cast<unsigned long>(jpeg.size()));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    JOCTET* data = nullptr;
    unsigned int length = 0;
    if (jpeg_read_icc_profile(&cinfo, &data, &length)) {
      profile.assign(reinterpret_cast<const char*>(data), length);
      std::free(data);
    }
  }
  jpeg_destroy_decompress(&cinfo);
  return profile;
}

std::string WithoutIccProfile(const std::string& jpeg) {
  std::string out = jpeg.substr(0, 2);
  size_t i = 2;
  while (i + 4 <= jpeg.size() && static_cast<uint8_t>(jpeg[i]) == 0xFF && static_cast<uint8_t>(jpeg[i + 1]) != 0xDA) {
    const size_t length = static_cast<uint8_t>(jpeg[i + 2]) << 8 | static_cast<uint8_t>(jpeg[i + 3]);
    const bool profileChunk = static_cast<uint8_t>(jpeg[i + 1]) == 0xE2 && jpeg.compare(i + 4, 12, std::string("ICC_PROFILE\0", 12)) == 0;
    if (!profileChunk) out += jpeg.substr(i, 2 + length);
    i += 2 + length;
  }
  return out + jpeg.substr(std::min(i, jpeg.size()));
}

std::vector<std::pair<std::string, std::string>> GoldenSet() {
  std::vector<std::pair<std::string, std::string>> set;
  const std::string scene = EncodeJpeg(PhotoLikePicture(200, 136, 61), {90, false, false});
  const std::string progressive = EncodeJpeg(PhotoLikePicture(200, 136, 62), {90, true, false});
  const auto turned = [](const std::string& jpeg, int orientation) {
    return InsertSegmentAfterSoi(jpeg, 0xE1, ExifOrientationPayload(static_cast<uint16_t>(orientation)));
  };
  for (int orientation = 1; orientation <= 8; ++orientation) {
    set.push_back({"orientation-" + std::to_string(orientation) + ".jpg", turned(scene, orientation)});
  }
  set.push_back({"progressive.jpg", progressive});
  set.push_back({"progressive-orientation-6.jpg", turned(progressive, 6)});
  set.push_back({"gray.jpg", EncodeJpeg(PhotoLikePicture(200, 136, 63), {90, false, true})});
  const RgbPicture inks = PhotoLikePicture(120, 80, 64);
  std::vector<uint8_t> cmyk;
  for (size_t i = 0; i < inks.rgb.size(); i += 3) {
    cmyk.insert(cmyk.end(), {static_cast<uint8_t>(255 - inks.rgb[i]), static_cast<uint8_t>(255 - inks.rgb[i + 1]),
                             static_cast<uint8_t>(255 - inks.rgb[i + 2]), static_cast<uint8_t>(i % 251)});
  }
  set.push_back({"cmyk.jpg", EncodeSamples(120, 80, 4, cmyk, SampleSpace::Cmyk)});
  set.push_back({"ycck.jpg", EncodeSamples(120, 80, 4, cmyk, SampleSpace::Ycck)});
  set.push_back({"odd-size.jpg", EncodeJpeg(PhotoLikePicture(203, 77, 65), {90, false, false})});
  set.push_back({"odd-size-orientation-8.jpg",
                 turned(EncodeJpeg(PhotoLikePicture(77, 203, 66), {90, true, false}), 8)});
  set.push_back({"smallest.jpg", EncodeJpeg(PhotoLikePicture(4, 4, 67), {90, false, false})});
  set.push_back({"one-row.jpg", EncodeJpeg(PhotoLikePicture(300, 1, 68), {90, false, false})});
  set.push_back({"wide.jpg", EncodeJpeg(PhotoLikePicture(4104, 40, 69), {90, false, false})});
  // A profile for RGB data travels with the copy; one for gray data not.
  set.push_back({"profile-rgb.jpg", WithIccProfile(turned(scene, 6), IccProfile("RGB ", "Wide RGB"))});
  set.push_back({"profile-gray.jpg",
                 WithIccProfile(EncodeJpeg(PhotoLikePicture(200, 136, 70), {90, false, true}),
                                          IccProfile("GRAY", "Gray 2.2"))});
  return set;
}

std::string ExifOrientationPayload(uint16_t orientation, bool bigEndian) {
  std::string out("Exif\0\0", 6);
  auto put16 = [&](uint16_t v) {
    if (bigEndian) {
      out += static_cast<char>(v >> 8);
      out += static_cast<char>(v & 0xFF);
    } else {
      out += static_cast<char>(v & 0xFF);
      out += static_cast<char>(v >> 8);
    }
  };
  auto put32 = [&](uint32_t v) {
    if (bigEndian) {
      put16(static_cast<uint16_t>(v >> 16));
      put16(static_cast<uint16_t>(v & 0xFFFF));
    } else {
      put16(static_cast<uint16_t>(v & 0xFFFF));
      put16(static_cast<uint16_t>(v >> 16));
    }
  };
  out += bigEndian ? "MM" : "II";
  put16(42);
  put32(8);      // first directory right after the header
  put16(1);      // one entry
  put16(0x0112); // Orientation
  put16(3);      // SHORT
  put32(1);
  put16(orientation);
  put16(0);      // value padding
  put32(0);      // no next directory
  return out;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace fixtures

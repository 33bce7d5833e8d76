// The netpbm codec through the image file interface, on every build.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "host/imageio/image_file.h"
#include "support/host_image.h"
#include "host/imageio/netpbm.h"

namespace fs = std::filesystem;
using namespace veltrane::host;

namespace {

using test_support::bytesOf;
using test_support::makeImage;
using test_support::valuesOf;

class NetpbmTest : public test_support::TempFolderTest {
 protected:
  std::string put(const std::string& name, const std::string& bytes) const {
    std::ofstream(file(name), std::ios::binary) << bytes;
    return file(name);
  }
  std::string slurp(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
};

TEST_F(NetpbmTest, RoundTripsKeepSamplesAlphaAndDepth) {
  FileInfo info;
  const std::vector<std::uint8_t> rgb8 = {0, 1, 2, 127, 128, 129, 253, 254, 255, 10, 200, 30};
  const std::vector<std::uint8_t> alpha8 = {0, 9, 128, 255};
  writeImageFile(file("rgba8.pam"), makeImage(2, 2, 3, SampleDepth::u8, rgb8, alpha8), FileInfo{});
  HostImage back = readImageFile(file("rgba8.pam"), &info);
  EXPECT_EQ(info.format, "pam");
  EXPECT_TRUE(info.hasAlpha);
  EXPECT_EQ(back.channels, 3);
  EXPECT_EQ(back.pixels, rgb8);
  EXPECT_EQ(back.alpha, alpha8);

  const std::vector<std::uint16_t> grey16 = {0, 1, 16384, 32767, 32768, 12345};
  for (const char* name : {"grey16.pam", "grey16.pgm"}) {
    SCOPED_TRACE(name);
    writeImageFile(file(name), makeImage(3, 2, 1, SampleDepth::u16, bytesOf(grey16)), FileInfo{});
    back = readImageFile(file(name), &info);
    EXPECT_EQ(back.depth, SampleDepth::u16);
    EXPECT_EQ(info.bitsPerSample, 16);
    EXPECT_EQ(valuesOf<std::uint16_t>(back.pixels), grey16);
  }

  // Linear light outside 0..1, and rows in the right order.
  const std::vector<float> rgbf = {0.0f, 0.5f, 1.0f, -0.25f, 7.5f, 1e-6f, 3.0f, 2.0f, 1.0f};
  writeImageFile(file("rgbf.pfm"), makeImage(1, 3, 3, SampleDepth::f32, bytesOf(rgbf)), FileInfo{});
  back = readImageFile(file("rgbf.pfm"), &info);
  EXPECT_EQ(info.format, "pfm");
  EXPECT_EQ(valuesOf<float>(back.pixels), rgbf);

  // Depths a format cannot hold: floats clamped into 16 bits, 8 bits widened to float.
  writeImageFile(file("float.ppm"), makeImage(1, 1, 3, SampleDepth::f32, bytesOf(std::vector<float>{-1.0f, 0.5f, 2.0f})),
                 FileInfo{});
  EXPECT_EQ(valuesOf<std::uint16_t>(readImageFile(file("float.ppm")).pixels),
            (std::vector<std::uint16_t>{0, fileToHost16(32768), 32768}));
  writeImageFile(file("byte.pfm"), makeImage(1, 1, 1, SampleDepth::u8, {51}), FileInfo{});
  EXPECT_EQ(valuesOf<float>(readImageFile(file("byte.pfm")).pixels), std::vector<float>{51.0f / 255.0f});
}

TEST_F(NetpbmTest, WritesTheStandardLayouts) {
  writeImageFile(file("g.pam"), makeImage(2, 1, 1, SampleDepth::u16, bytesOf(std::vector<std::uint16_t>{32768, 1})),
                 FileInfo{});
  EXPECT_EQ(slurp("g.pam"), "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 1\nMAXVAL 65535\nTUPLTYPE GRAYSCALE\nENDHDR\n" +
                                std::string("\xff\xff\x00\x02", 4));

  // Little-endian (negative scale), bottom row first.
  writeImageFile(file("g.pfm"), makeImage(1, 2, 1, SampleDepth::f32, bytesOf(std::vector<float>{1.0f, 2.0f})),
                 FileInfo{});
  EXPECT_EQ(slurp("g.pfm"), std::string("Pf\n1 2\n-1.0\n\x00\x00\x00\x40\x00\x00\x80\x3f", 20));

  writeImageFile(file("c.ppm"), makeImage(1, 1, 3, SampleDepth::u8, {1, 2, 3}), FileInfo{});
  EXPECT_EQ(slurp("c.ppm"), "P6\n1 1\n255\n\x01\x02\x03");
}

TEST_F(NetpbmTest, ReadsTheVariantsOtherProgramsWrite) {
  FileInfo info;
  // Comments, a 12-bit maxval (scaled to the full range).
  HostImage image =
      readImageFile(put("a.pgm", "P5\n# made elsewhere\n2 1 # size\n4095\n" + std::string("\x0f\xff\x08\x00", 4)), &info);
  EXPECT_EQ(info.bitsPerSample, 12);
  EXPECT_EQ(valuesOf<std::uint16_t>(image.pixels),
            (std::vector<std::uint16_t>{32768, fileToHost16(static_cast<std::uint16_t>((2048u * 65535 + 2047) / 4095))}));

  image = readImageFile(put("b.ppm", "P3\n1 2\n15\n15 0 7\n1 2 3\n"));
  EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{255, 0, 119, 17, 34, 51}));

  // Big-endian floats, stored bottom row first.
  image = readImageFile(put("c.pfm", "Pf\n1 2\n1.0\n" + std::string("\x40\x00\x00\x00\x3f\x80\x00\x00", 8)));
  EXPECT_EQ(valuesOf<float>(image.pixels), (std::vector<float>{1.0f, 2.0f}));

  image = readImageFile(put("d.pam", std::string("P7\nWIDTH 1\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\n"
                                                 "TUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n\x10\x20")));
  EXPECT_EQ(image.channels, 1);
  EXPECT_EQ(image.pixels, std::vector<std::uint8_t>{0x10});
  EXPECT_EQ(image.alpha, std::vector<std::uint8_t>{0x20});
}

TEST_F(NetpbmTest, BadFilesGiveErrorsNamingThemAndTheFault) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* fault;
  };
  const std::vector<Case> cases = {
      {"magic.pgm", "GIF89a", "not a PGM"},
      {"cut.pgm", "P5\n4 4\n255\n0123456789", "cut short"},
      {"cut16.ppm", "P6 1 1 65535\n\x01", "cut short"},
      // A header claiming 16 EiB of pixels, and nothing after it.
      {"huge.pam", "P7\nWIDTH 2147483647\nHEIGHT 2147483647\nDEPTH 4\nMAXVAL 65535\nENDHDR\n", "too large"},
      {"big.ppm", "P6\n10000 10000\n255\n", "cut short"},
      {"wide.pgm", "P5\n99999999999 1\n255\n", "larger than"},
      {"zero.pgm", "P5\n0 1\n255\n", "is 0"},
      {"over.pgm", "P5\n1 1\n100\n\x65", "exceeds the maxval"},
      {"tuple.pam", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n\x01", "depth of 3"},
      {"cmyk.pam", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\n0000", "not supported"},
      {"noend.pam", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\n", "ENDHDR"},
      {"scale.pfm", "PF\n1 1\nbig\n", "scale"},
      {"long.pgm", "P5\n#" + std::string(70000, 'x'), "longer than"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = put(c.name, c.bytes);
    try {
      readImageFile(path);
      ADD_FAILURE() << "no error";
    } catch (const ImageFileError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.fault), std::string::npos) << e.what();
    }
  }
}

TEST_F(NetpbmTest, OtherFormatsAreRefusedNamingTheOnesThisBuildHandles) {
  EXPECT_THROW(
      {
        try {
          writeImageFile(file("x.xyz"), makeImage(1, 1, 1, SampleDepth::u8, {1}), FileInfo{});
        } catch (const ImageFileError& e) {
          EXPECT_NE(std::string(e.what()).find(imageFormatList()), std::string::npos) << e.what();
          throw;
        }
      },
      ImageFileError);
  EXPECT_FALSE(fs::exists(dir_ / "x.xyz"));
}

}  // namespace

#include "host/imageio/image_file.h"
#include "support/host_image.h"

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace veltrane::host;

namespace {

using test_support::bytesOf;
using test_support::makeImage;
using test_support::valuesOf;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ImageFileTest : public test_support::TempFolderTest {
 protected:
  std::vector<std::string> listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    return names;
  }
  // Files with layouts or types this library never writes.
  void writeDirect(const std::string& path, OIIO::ImageSpec spec, const void* data) const {
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out && out->open(path, spec) && out->write_image(spec.format, data) && out->close());
  }

  HostImage roundTrip(const std::string& name, const HostImage& image, FileInfo* info) const {
    writeImageFile(file(name), image, FileInfo{});
    return readImageFile(file(name), info);
  }
};

TEST(SixteenBitMapping, RoundsToNearestAndHostValuesSurviveTheFile) {
  EXPECT_EQ(fileToHost16(65535), 32768);
  EXPECT_EQ(hostToFile16(32768), 65535);
  for (std::uint32_t h = 0; h <= hostMax16; ++h) {
    const auto host = static_cast<std::uint16_t>(h);
    ASSERT_EQ(hostToFile16(host), std::lround(h * 65535.0 / 32768.0)) << h;
    ASSERT_EQ(fileToHost16(hostToFile16(host)), h);
  }
  for (std::uint32_t v = 0; v <= 65535; ++v) {
    const auto file = static_cast<std::uint16_t>(v);
    ASSERT_EQ(fileToHost16(file), std::lround(v * 32768.0 / 65535.0)) << v;
    ASSERT_LE(std::abs(hostToFile16(fileToHost16(file)) - static_cast<int>(v)), 1) << v;
  }
}

TEST_F(ImageFileTest, RoundTripsKeepSamplesAlphaAndDepth) {
  FileInfo info;
  // PNG 8-bit RGB.
  const std::vector<std::uint8_t> rgb8 = {0, 1, 2, 127, 128, 129, 253, 254, 255, 10, 200, 30};
  HostImage back = roundTrip("rgb8.png", makeImage(2, 2, 3, SampleDepth::u8, rgb8), &info);
  EXPECT_EQ(info.format, "png");
  EXPECT_EQ(back.depth, SampleDepth::u8);
  EXPECT_EQ(back.channels, 3);
  EXPECT_EQ(back.pixels, rgb8);
  EXPECT_FALSE(back.hasAlpha());

  // PNG 16-bit grey, including both ends of the host range.
  const std::vector<std::uint16_t> grey16 = {0, 1, 16384, 32767, 32768, 12345};
  back = roundTrip("grey16.png", makeImage(3, 2, 1, SampleDepth::u16, bytesOf(grey16)), &info);
  EXPECT_EQ(back.depth, SampleDepth::u16);
  EXPECT_EQ(back.channels, 1);
  EXPECT_EQ(valuesOf<std::uint16_t>(back.pixels), grey16);

  // TIFF float RGB: linear light outside 0..1 is kept.
  const std::vector<float> rgbf = {0.0f, 0.5f, 1.0f, -0.25f, 7.5f, 1e-6f};
  back = roundTrip("rgbf.tif", makeImage(2, 1, 3, SampleDepth::f32, bytesOf(rgbf)), &info);
  EXPECT_EQ(info.format, "tiff");
  EXPECT_EQ(back.depth, SampleDepth::f32);
  EXPECT_EQ(valuesOf<float>(back.pixels), rgbf);

  // TIFF 16-bit RGBA: alpha in file values; colour under zero alpha must not
  // be lost to premultiplication.
  const std::vector<std::uint16_t> rgb16 = {32768, 100, 7, 0, 32768, 3};
  const std::vector<std::uint16_t> alpha16 = {0, 65535};
  back = roundTrip("rgba16.tif", makeImage(2, 1, 3, SampleDepth::u16, bytesOf(rgb16), bytesOf(alpha16)), &info);
  EXPECT_TRUE(info.hasAlpha);
  EXPECT_FALSE(info.alphaAssociated);
  EXPECT_EQ(back.channels, 3);
  EXPECT_EQ(valuesOf<std::uint16_t>(back.pixels), rgb16);
  EXPECT_EQ(valuesOf<std::uint16_t>(back.alpha), alpha16);

  // PNG grey + alpha, straight alpha as PNG stores it.
  const std::vector<std::uint8_t> grey8 = {200, 90}, alpha8 = {0, 17};
  back = roundTrip("ga8.png", makeImage(2, 1, 1, SampleDepth::u8, grey8, alpha8), &info);
  EXPECT_EQ(back.pixels, grey8);
  EXPECT_EQ(back.alpha, alpha8);
}

TEST_F(ImageFileTest, FormatsThatCannotHoldTheDepthGetTheNearestOne) {
  // JPEG: 8-bit only, no alpha. 16-bit host values come back near h * 255 / 32768.
  std::vector<std::uint16_t> flat(8 * 8 * 3, 16384);
  FileInfo info;
  HostImage back = roundTrip(
      "flat.jpg", makeImage(8, 8, 3, SampleDepth::u16, bytesOf(flat), std::vector<std::uint8_t>(128, 0xff)), &info);
  EXPECT_EQ(info.format, "jpeg");
  EXPECT_EQ(back.depth, SampleDepth::u8);
  EXPECT_FALSE(back.hasAlpha());
  for (std::uint8_t v : back.pixels) ASSERT_NEAR(v, 128, 2);

  // PNG cannot hold float: written as 16-bit, clamped to 0..1.
  const std::vector<float> rgbf = {0.0f, 0.5f, 1.0f, -1.0f, 2.0f, 0.25f};
  back = roundTrip("float.png", makeImage(2, 1, 3, SampleDepth::f32, bytesOf(rgbf)), &info);
  EXPECT_EQ(back.depth, SampleDepth::u16);
  EXPECT_EQ(valuesOf<std::uint16_t>(back.pixels),
            (std::vector<std::uint16_t>{0, 16384, 32768, 0, 32768, fileToHost16(16384)}));
}

TEST_F(ImageFileTest, ReadsTypesAndKeepsMetadataTheHostDoesNotHandle) {
  // Half floats read as f32; the colour profile, resolution and stored type
  // reach the output.
  OIIO::ImageSpec spec(2, 1, 3, OIIO::TypeDesc::HALF);
  const std::vector<std::uint8_t> icc = {1, 2, 3, 4, 5, 6, 7, 8};
  spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, static_cast<int>(icc.size())), icc.data());
  spec.attribute("tiff:half", 1);
  spec.attribute("XResolution", 300.0f);
  spec.attribute("ResolutionUnit", "in");
  const std::vector<float> values = {0.5f, 1.0f, 2.0f, 0.25f, 0.0f, 65504.0f};
  std::vector<std::uint16_t> halves(values.size());
  OIIO::convert_pixel_values(OIIO::TypeDesc::FLOAT, values.data(), OIIO::TypeDesc::HALF, halves.data(),
                             static_cast<int>(values.size()));
  writeDirect(file("half.tif"), spec, halves.data());

  FileInfo info;
  HostImage image = readImageFile(file("half.tif"), &info);
  EXPECT_EQ(info.bitsPerSample, 16);
  EXPECT_EQ(image.depth, SampleDepth::f32);
  EXPECT_EQ(valuesOf<float>(image.pixels), values);

  writeImageFile(file("copy.tif"), image, info);
  auto in = OIIO::ImageInput::open(file("copy.tif"));
  ASSERT_TRUE(in);
  const OIIO::ParamValue* profile = in->spec().find_attribute("ICCProfile");
  ASSERT_NE(profile, nullptr);
  EXPECT_EQ(std::vector<std::uint8_t>(static_cast<const std::uint8_t*>(profile->data()),
                                      static_cast<const std::uint8_t*>(profile->data()) + profile->datasize()),
            icc);
  EXPECT_FLOAT_EQ(in->spec().get_float_attribute("XResolution"), 300.0f);
  EXPECT_EQ(in->spec().format, OIIO::TypeDesc::HALF);  // same format and depth: the stored type too
}

TEST_F(ImageFileTest, BadFilesGiveErrorsNamingThem) {
  auto expectError = [](auto&& call, const std::string& path, const std::string& detail = "") {
    try {
      call();
      FAIL() << "no error for " << path;
    } catch (const ImageFileError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(detail), std::string::npos) << e.what();
    }
  };
  const std::string missing = file("missing.png");
  expectError([&] { readImageFile(missing); }, missing);

  const std::string garbage = file("garbage.png");
  std::ofstream(garbage, std::ios::binary) << "this is not an image";
  expectError([&] { readImageFile(garbage); }, garbage);

  // Valid files cut short: some readers only leave a message and fill in the rest.
  const std::vector<std::uint8_t> ramp = [] {
    std::vector<std::uint8_t> v(64 * 64 * 3);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint8_t>(i * 7);
    return v;
  }();
  for (const std::string ext : {".tif", ".jpg"}) {
    writeImageFile(file("whole" + ext), makeImage(64, 64, 3, SampleDepth::u8, ramp), FileInfo{});
    const std::string cut = file("cut" + ext);
    const std::string whole = slurp(file("whole" + ext));
    std::ofstream(cut, std::ios::binary) << whole.substr(0, whole.size() / 2);
    expectError([&] { readImageFile(cut); }, cut);
  }

  const std::string five = file("five.tif");
  const std::vector<std::uint8_t> samples(2 * 2 * 5, 9);
  writeDirect(five, OIIO::ImageSpec(2, 2, 5, OIIO::TypeDesc::UINT8), samples.data());
  expectError([&] { readImageFile(five); }, five, "5 channels");

  const std::string mask = file("mask.png");
  writeImageFile(mask, makeImage(4, 2, 1, SampleDepth::u8, std::vector<std::uint8_t>(8, 255)), FileInfo{});
  expectError([&] { readMaskFile(mask, 4, 3); }, mask, "4x2");
}

TEST_F(ImageFileTest, FailedWritesLeaveNoTemporaryAndKeepTheTarget) {
  const HostImage grey = makeImage(2, 2, 1, SampleDepth::u8, {1, 2, 3, 4});

  const std::string noDir = file("absent/out.png");
  EXPECT_THROW(writeImageFile(noDir, grey, FileInfo{}), ImageFileError);

  fs::create_directory(dir_ / "target.png");
  EXPECT_THROW(writeImageFile(file("target.png"), grey, FileInfo{}), ImageFileError);
  EXPECT_TRUE(fs::is_directory(dir_ / "target.png"));

  // A format that holds colour only refuses a grey image; the old file stays.
  std::ofstream(file("old.hdr"), std::ios::binary) << "previous contents";
  EXPECT_THROW(writeImageFile(file("old.hdr"), grey, FileInfo{}), ImageFileError);
  EXPECT_EQ(slurp(file("old.hdr")), "previous contents");

  auto names = listing();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"old.hdr", "target.png"}));

  // A successful write replaces the target and leaves nothing else.
  std::ofstream(file("old.png"), std::ios::binary) << "previous contents";
  writeImageFile(file("old.png"), grey, FileInfo{});
  EXPECT_EQ(readImageFile(file("old.png")).pixels, grey.pixels);
  EXPECT_EQ(listing().size(), 3u);
}

TEST_F(ImageFileTest, EveryOfferedFormatReadsBackWhatWasWritten) {
  // The write checks its own result: a format whose writer changes the
  // samples of a lossless file would fail here.
  std::vector<std::uint8_t> rgb(16 * 8 * 3), grey(16 * 8), alpha(16 * 8);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 29 + 3);
  for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<std::uint8_t>(i * 13 + 1);
  for (std::size_t i = 0; i < alpha.size(); ++i) alpha[i] = static_cast<std::uint8_t>(255 - i);
  for (const ImageFormat& format : imageFormats()) {
    SCOPED_TRACE(format.name);
    const bool lossy = format.name == "jpeg" || format.name == "hdr";
    const std::string name = file("rgba" + format.extensions.front());
    writeImageFile(name, makeImage(16, 8, 3, SampleDepth::u8, rgb, alpha), FileInfo{});
    const HostImage back = readImageFile(name);
    ASSERT_EQ(back.channels, 3);
    if (!lossy && back.depth == SampleDepth::u8) {
      EXPECT_EQ(back.pixels, rgb);
    }
    if (back.hasAlpha() && back.depth == SampleDepth::u8) {
      EXPECT_EQ(back.alpha, alpha);
    }
    if (format.name == "hdr") continue;  // colour only
    const std::string greyName = file("grey" + format.extensions.front());
    writeImageFile(greyName, makeImage(16, 8, 1, SampleDepth::u8, grey), FileInfo{});
    const HostImage greyBack = readImageFile(greyName);
    if (!lossy && greyBack.depth == SampleDepth::u8) {
      EXPECT_EQ(greyBack.pixels, grey);
    }
  }
  EXPECT_EQ(listing().size(), 2 * imageFormats().size() - 1) << "a temporary was left";
}

TEST_F(ImageFileTest, MasksAreEightBitGrey) {
  const std::vector<std::uint16_t> grey16 = {0, 32768, 16384, 128};
  writeImageFile(file("m16.png"), makeImage(2, 2, 1, SampleDepth::u16, bytesOf(grey16)), FileInfo{});
  const HostImage mask = readMaskFile(file("m16.png"), 2, 2);
  EXPECT_EQ(mask.depth, SampleDepth::u8);
  EXPECT_EQ(mask.channels, 1);
  EXPECT_EQ(mask.pixels, (std::vector<std::uint8_t>{0, 255, 128, 1}));

  writeImageFile(file("rgb-grey.png"), makeImage(2, 1, 3, SampleDepth::u8, {9, 9, 9, 60, 60, 60}), FileInfo{});
  EXPECT_EQ(readMaskFile(file("rgb-grey.png"), 2, 1).pixels, (std::vector<std::uint8_t>{9, 60}));
  writeImageFile(file("colour.png"), makeImage(2, 1, 3, SampleDepth::u8, {9, 9, 9, 60, 61, 60}), FileInfo{});
  EXPECT_THROW(readMaskFile(file("colour.png"), 2, 1), ImageFileError);
}

}  // namespace

// The Windows Imaging Component back end: what it writes reads back the
// same, failures leave nothing behind, and a thread's COM state is left as
// it was found.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "host/imageio/image_file.h"
#include "support/host_image.h"

namespace fs = std::filesystem;
using namespace veltrane::host;

namespace {

using test_support::patternImage;

class WicFileTest : public test_support::TempFolderTest {
 protected:
  std::vector<std::string> listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string put(const std::string& name, const std::string& bytes) const {
    std::ofstream(file(name), std::ios::binary) << bytes;
    return file(name);
  }
  std::string slurp(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void expectError(const std::string& path, const std::string& detail, bool write = false,
                   const HostImage& image = {}, const ReadLimits& limits = {}) const {
    try {
      if (write) writeImageFile(path, image, FileInfo{});
      else readImageFile(path, nullptr, limits);
      ADD_FAILURE() << "no error for " << path;
    } catch (const ImageFileError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find(path), std::string::npos) << what;
      EXPECT_NE(what.find(detail), std::string::npos) << what;
      EXPECT_EQ(what.find('\n'), std::string::npos) << what;
    }
  }
};

TEST_F(WicFileTest, WrittenFilesReadBackWithTheirSamplesAlphaAndDepth) {
  struct Case {
    const char* name;
    std::int32_t channels;
    bool alpha;
    SampleDepth depth;
    std::int32_t readChannels;  // grey + alpha and encoders without grey give RGB with equal channels
  };
  const Case cases[] = {
      {"grey8.png", 1, false, SampleDepth::u8, 1},  {"ga8.png", 1, true, SampleDepth::u8, 3},
      {"rgb8.png", 3, false, SampleDepth::u8, 3},   {"rgba8.png", 3, true, SampleDepth::u8, 3},
      {"grey16.png", 1, false, SampleDepth::u16, 1}, {"ga16.png", 1, true, SampleDepth::u16, 3},
      {"rgb16.png", 3, false, SampleDepth::u16, 3}, {"rgba16.png", 3, true, SampleDepth::u16, 3},
      {"grey8.tif", 1, false, SampleDepth::u8, 1},  {"rgb8.tif", 3, false, SampleDepth::u8, 3},
      {"rgba8.tif", 3, true, SampleDepth::u8, 3},   {"rgb16.tif", 3, false, SampleDepth::u16, 3},
      {"rgba16.tif", 3, true, SampleDepth::u16, 3}, {"rgb8.bmp", 3, false, SampleDepth::u8, 3},
      {"grey8.bmp", 1, false, SampleDepth::u8, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const HostImage image = patternImage(40, 30, c.channels, c.depth, c.alpha);
    writeImageFile(file(c.name), image, FileInfo{});
    FileInfo info;
    const HostImage back = readImageFile(file(c.name), &info);
    ASSERT_EQ(back.channels, c.readChannels);
    EXPECT_EQ(back.depth, c.depth);
    EXPECT_EQ(info.hasAlpha, c.alpha);
    EXPECT_EQ(back.alpha, image.alpha);
    EXPECT_EQ(back.pixels, c.channels == c.readChannels ? image.pixels : [&] {
      // Grey written as three equal channels.
      std::vector<std::uint8_t> rgb;
      const std::size_t sample = static_cast<std::size_t>(bytesPerSample(c.depth));
      for (std::size_t i = 0; i < image.pixels.size(); i += sample)
        for (int k = 0; k < 3; ++k) rgb.insert(rgb.end(), &image.pixels[i], &image.pixels[i] + sample);
      return rgb;
    }());
  }

  // JPEG: 8-bit, no alpha, close to what was written.
  const HostImage rgb = patternImage(40, 30, 3, SampleDepth::u16, true);
  writeImageFile(file("photo.jpg"), rgb, FileInfo{});
  FileInfo info;
  const HostImage back = readImageFile(file("photo.jpg"), &info);
  EXPECT_EQ(info.format, "jpeg");
  EXPECT_EQ(back.depth, SampleDepth::u8);
  EXPECT_FALSE(back.hasAlpha());
  const HostImage rgb8 = patternImage(40, 30, 3, SampleDepth::u8, false);
  ASSERT_EQ(back.pixels.size(), rgb8.pixels.size());
  for (std::size_t i = 0; i < back.pixels.size(); ++i) ASSERT_NEAR(back.pixels[i], rgb8.pixels[i], 10) << i;
}

TEST_F(WicFileTest, FloatTiffIsWrittenExactlyOrRefusedCleanly) {
  // Whether the system's TIFF encoder takes float samples depends on the system.
  const HostImage image = patternImage(8, 4, 3, SampleDepth::f32, false);
  put("old.tif", "previous contents");
  try {
    writeImageFile(file("old.tif"), image, FileInfo{});
    const HostImage back = readImageFile(file("old.tif"));
    EXPECT_EQ(back.depth, SampleDepth::f32);
    EXPECT_EQ(back.pixels, image.pixels);
  } catch (const ImageFileError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot write 32-bit float RGB"), std::string::npos) << e.what();
    EXPECT_EQ(slurp("old.tif"), "previous contents");
  }
  EXPECT_EQ(listing(), std::vector<std::string>{"old.tif"});
}

TEST_F(WicFileTest, BadFilesAndTargetsAreRefusedNamingThem) {
  expectError(file("missing.png"), "no such file");
  expectError(put("garbage.png", "this is not an image"), "cannot open it as an image");
  expectError(put("garbage.jpg", "this is not an image either"), "cannot open it as an image");
  put("empty.tif", "");
  expectError(file("empty.tif"), "empty");

  // A PNG header claiming 30000 x 20000 pixels (within the pixel limit) in a
  // file of a few bytes is refused before any decoder allocates for it, as
  // is any image over the limit.
  writeImageFile(file("small.png"), patternImage(4, 4, 3, SampleDepth::u8, false), FileInfo{});
  std::string png = slurp("small.png");
  png[16] = png[17] = png[20] = png[21] = 0;
  png[18] = 0x75, png[19] = 0x30, png[22] = 0x4e, png[23] = 0x20;
  expectError(put("huge.png", png), "claims 30000x20000 pixels");
  expectError(file("small.png"), "4x4 pixels, more than the limit of 15", false, {}, ReadLimits{15});

  // Formats the system may decode but that are not offered: by name, and by
  // content under an offered name.
  const std::string gif("GIF89a\x01\0\x01\0\x80\0\0\0\0\0\xff\xff\xff,\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0;", 35);
  expectError(put("dot.gif", gif), "the .gif format is not supported; supported: .png");
  expectError(put("gif.png", gif), "the gif format is not supported");

  // A JPEG that stops before its end marker, which some decoders fill in.
  writeImageFile(file("whole.jpg"), patternImage(64, 64, 3, SampleDepth::u8, false), FileInfo{});
  const std::string jpeg = slurp("whole.jpg");
  expectError(put("cut.jpg", jpeg.substr(0, jpeg.size() - 2)), "ends too early");

  const HostImage grey = patternImage(4, 4, 1, SampleDepth::u8, false);
  expectError(file("out.xyz"), "unknown file name extension '.xyz'; supported: " + imageFormatList(), true, grey);
  put("kept.png", "previous contents");
  fs::create_directory(dir_ / "folder.png");
  expectError(file("folder.png"), "directory", true, grey);
  EXPECT_EQ(slurp("kept.png"), "previous contents");
  EXPECT_EQ(listing(), (std::vector<std::string>{"cut.jpg", "dot.gif", "empty.tif", "folder.png", "garbage.jpg",
                                                 "garbage.png", "gif.png", "huge.png", "kept.png", "small.png",
                                                 "whole.jpg"}));
}

// Each call enters and leaves COM itself; a thread its owner already put in
// a single-threaded apartment keeps it.
TEST_F(WicFileTest, ThreadsKeepTheirComState) {
  const HostImage image = patternImage(4, 4, 3, SampleDepth::u8, false);
  writeImageFile(file("a.png"), image, FileInfo{});
  HRESULT afterPlain = E_FAIL, afterApartment = E_FAIL;
  bool plainRead = false, apartmentRead = false;
  std::thread([&] {
    plainRead = readImageFile(file("a.png")).pixels == image.pixels;
    // Would fail with RPC_E_CHANGED_MODE had the read left the thread in COM.
    afterPlain = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(afterPlain)) ::CoUninitialize();
  }).join();
  std::thread([&] {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return;
    apartmentRead = readImageFile(file("a.png")).pixels == image.pixels;
    writeImageFile(file("b.png"), image, FileInfo{});
    afterApartment = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // S_FALSE: still in it
    if (SUCCEEDED(afterApartment)) ::CoUninitialize();
    ::CoUninitialize();
  }).join();
  EXPECT_TRUE(plainRead);
  EXPECT_EQ(afterPlain, S_OK);
  EXPECT_TRUE(apartmentRead);
  EXPECT_EQ(afterApartment, S_FALSE);
  EXPECT_EQ(readImageFile(file("b.png")).pixels, image.pixels);
}

}  // namespace

// Filtering files: what is written, what is kept, and the failures a user
// meets.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "command_runner.h"
#include "host/os/os.h"

namespace veltrane::e2e {
namespace {

using host::SampleDepth;

constexpr std::int32_t side = 64;

void expectSameGeometry(const host::HostImage& in, const host::HostImage& out) {
  EXPECT_EQ(out.width, in.width);
  EXPECT_EQ(out.height, in.height);
  EXPECT_EQ(out.channels, in.channels);
  EXPECT_EQ(out.depth, in.depth);
}

class FilterRunTest : public CommandTest {};

TEST_F(FilterRunTest, EveryDepthAndLayoutIsFilteredIntoTheSameKindOfFile) {
  struct Case {
    std::string name;
    std::int32_t channels;
    SampleDepth depth;
  };
  const std::vector<Case> cases = {
      {"rgb8.png", 3, SampleDepth::u8}, {"grey8.png", 1, SampleDepth::u8},
      {"rgb16.png", 3, SampleDepth::u16}, {"rgb16.tif", 3, SampleDepth::u16},
      {"rgb8.jpg", 3, SampleDepth::u8},
#ifndef _WIN32
      // Not every Windows system's TIFF encoder writes float samples (Wine's does not).
      {"rgb32.tif", 3, SampleDepth::f32},
#endif
      {"rgb8.pam", 3, SampleDepth::u8}, {"grey16.pam", 1, SampleDepth::u16},
      {"grey8.pgm", 1, SampleDepth::u8}, {"rgb16.ppm", 3, SampleDepth::u16},
      {"rgb32.pfm", 3, SampleDepth::f32}, {"grey32.pfm", 1, SampleDepth::f32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string input = writeNoisy(c.name, side, side, c.channels, c.depth);
    const std::string output = path(std::string("out-") + c.name);
    const CommandResult r = veltrane({VELTRANE_HALVANE_MODULE, input, output, "--no-registry"});
    ASSERT_EQ(r.status, 0) << r.err;
    const host::HostImage in = readImage(input);
    const host::HostImage out = readImage(output);
    expectSameGeometry(in, out);
    EXPECT_NE(out.pixels, in.pixels) << "the noise reducer left the noisy image as it was";
  }
}

TEST_F(FilterRunTest, PixelsOutsideTheRectangleAndTheAlphaChannelAreKept) {
  const std::string input = writeNoisy(imageName("in"), side, side, 3, SampleDepth::u8, true);
  const std::string output = path(imageName("out"));
  // top, left, bottom, right
  const CommandResult r = veltrane({VELTRANE_HALVANE_MODULE, input, output, "--rect", "8,16,40,56", "--no-registry"});
  ASSERT_EQ(r.status, 0) << r.err;
  const host::HostImage in = readImage(input);
  const host::HostImage out = readImage(output);
  expectSameGeometry(in, out);
  EXPECT_EQ(out.alpha, in.alpha);

  bool insideChanged = false;
  for (std::int32_t y = 0; y < side; ++y)
    for (std::int32_t x = 0; x < side; ++x) {
      const auto at = static_cast<std::size_t>((y * side + x) * 3);
      const bool same = std::memcmp(&in.pixels[at], &out.pixels[at], 3) == 0;
      if (y >= 8 && y < 40 && x >= 16 && x < 56) insideChanged |= !same;
      else ASSERT_TRUE(same) << "pixel " << x << "," << y << " outside the rectangle changed";
    }
  EXPECT_TRUE(insideChanged);
}

TEST_F(FilterRunTest, ModuleNamedByNameIsFoundNextToTheCommand) {
  const CommandResult about = veltrane({"about", "halvane"});
  EXPECT_EQ(about.status, 0) << about.err;
  EXPECT_NE(about.err.find("Halvane v2.3.0"), std::string::npos) << about.err;

  const std::string input = writeNoisy(imageName("in"), side, side, 3, SampleDepth::u8);
  const CommandResult r = veltrane({"halvane", input, path(imageName("out")), "--no-registry"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(exists(path(imageName("out"))));
}

TEST_F(FilterRunTest, NamesBeyondAsciiReachTheFilesAndTheModule) {
  namespace fs = std::filesystem;
  const std::string folder = path("módulo-日本");
  fs::create_directory(host::os::pathFromUtf8(folder));
  const fs::path moduleFile = fs::path(VELTRANE_HALVANE_MODULE).filename();
  const std::string module = folder + "/" + host::os::pathToUtf8(moduleFile);
  fs::copy_file(VELTRANE_HALVANE_MODULE, host::os::pathFromUtf8(module));
  const std::string input = writeNoisy(imageName("entrée-ß"), side, side, 3, SampleDepth::u8);
  const std::string output = path(imageName("résultat-ñ"));
  const std::string action = path("aktion-ü.json");
  const CommandResult r = veltrane({module, input, output, "--no-registry", "--record", action});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readImage(output).width, side);
  EXPECT_TRUE(exists(action));
}

TEST_F(FilterRunTest, TooSmallImageFailsWithThePluginsMessageAndLeavesTheOutputAlone) {
  const std::string input = writeNoisy(imageName("tiny"), 20, 20, 3, SampleDepth::u8);
  const std::string output = path(imageName("out"));
  {
    std::ofstream previous(output);
    previous << "an earlier result";
  }
  const CommandResult r = veltrane({VELTRANE_HALVANE_MODULE, input, output, "--no-registry"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Veltrane: Halvane error: Image is too small."), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("not written"), std::string::npos) << r.err;
  EXPECT_EQ(readText(output), "an earlier result");
}

TEST_F(FilterRunTest, HelpListsTheImageFormatsOfThisBuild) {
  const CommandResult r = veltrane({"--help"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string text = r.out;  // unwrapped
  std::erase(text, '\r');
  std::replace(text.begin(), text.end(), '\n', ' ');
  EXPECT_NE(text.find("Image formats (by extension): " + host::imageFormatList() + "."), std::string::npos) << r.out;
#ifdef _WIN32
  EXPECT_EQ(host::imageFormatList(), ".png, .jpg/.jpeg, .tif/.tiff, .bmp, .pam, .pfm, .pgm/.ppm");
#endif
}

TEST_F(FilterRunTest, FileAndUsageErrorsExitWithTwoNamingTheCulprit) {
  const std::string input = writeNoisy(imageName("in"), side, side, 3, SampleDepth::u8);
  const std::string grey = writeNoisy(imageName("grey"), side, side, 1, SampleDepth::u8);
  const std::string output = path(imageName("out"));
  struct Case {
    std::vector<std::string> args;
    std::string named;
  };
  const std::vector<Case> cases = {
      {{VELTRANE_HALVANE_MODULE, path(imageName("missing")), output}, imageName("missing")},
      {{VELTRANE_HALVANE_MODULE, input, output, "--set", "noSuchField=1"}, "noSuchField"},
      {{VELTRANE_HALVANE_MODULE, input, output, "--set", "reserved24=1"}, "reserved24"},
      {{VELTRANE_HALVANE_MODULE, input, output, "--set", "overallNoiseLevel=loud"}, "overallNoiseLevel"},
      {{VELTRANE_HALVANE_MODULE, input, output, "--set", "despeckle=2"}, "despeckle"},
      {{VELTRANE_HALVANE_MODULE, input, output, "--rect", "0,0,65,10"}, "--rect"},
      {{VELTRANE_HALVANE_MODULE, input, output, "--mask", path(imageName("nomask"))}, imageName("nomask")},
      {{VELTRANE_HALVANE_MODULE, input, output, "--replay", path("none.json")}, "none.json"},
      {{VELTRANE_HALVANE_MODULE, input, input}, imageName("in")},
      {{VELTRANE_HALVANE_MODULE, input, path("no/such/folder/" + imageName("out"))}, "no/such/folder"},
      {{path("nowhere.so"), input, output}, "nowhere.so"},
      {{VELTRANE_HALVANE_MODULE, input, output, "--tile", "0,8"}, "--tile"},
      {{VELTRANE_HALVANE_MODULE, grey, output, "--mode", "lab"}, imageName("grey")},
      {{VELTRANE_HALVANE_MODULE, input, path("out.xyz")}, "out.xyz"},
  };
  const std::string before = readText(input);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.named);
    std::vector<std::string> args = c.args;
    args.push_back("--no-registry");
    const CommandResult r = veltrane(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    EXPECT_FALSE(exists(output));
  }
  EXPECT_EQ(readText(input), before) << "the input file was touched";
}

TEST_F(FilterRunTest, CompareToolPutsInputAndResultSideBySide) {
  const std::string left = writeNoisy(imageName("left"), 40, 30, 3, SampleDepth::u8);
  const std::string right = writeNoisy(imageName("right"), 24, 30, 3, SampleDepth::u8);
  const CommandResult r = run(VELTRANE_COMPARE, {left, right, path(imageName("both"))});
  ASSERT_EQ(r.status, 0) << r.err;
  const host::HostImage l = readImage(left);
  const host::HostImage rr = readImage(right);
  const host::HostImage both = readImage(path(imageName("both")));
  ASSERT_EQ(both.height, 30);
  ASSERT_GT(both.width, 64);
  for (std::int32_t y = 0; y < 30; ++y) {
    const std::uint8_t* row = both.pixels.data() + y * both.rowBytes();
    EXPECT_EQ(std::memcmp(row, l.pixels.data() + y * l.rowBytes(), 40 * 3), 0);
    EXPECT_EQ(std::memcmp(row + both.rowBytes() - 24 * 3, rr.pixels.data() + y * rr.rowBytes(), 24 * 3), 0);
  }

  // --same compares decoded values, whatever the files' formats.
  host::writeImageFile(path("left.pam"), l, host::FileInfo{});
  EXPECT_EQ(run(VELTRANE_COMPARE, {"--same", left, path("left.pam")}).status, 0);
  EXPECT_EQ(run(VELTRANE_COMPARE, {"--same", left, right}).status, 1);
}

TEST_F(FilterRunTest, CompareToolCropsEachImageAndShowsGreyAsRgb) {
  const std::string colour = writeNoisy(imageName("colour"), 40, 30, 3, SampleDepth::u8);
  const std::string grey = writeNoisy(imageName("grey"), 40, 30, 1, SampleDepth::u8);
  const CommandResult r =
      run(VELTRANE_COMPARE, {"--crop", "5,4,10,20", colour, colour, grey, path(imageName("crops"))});
  ASSERT_EQ(r.status, 0) << r.err;
  const host::HostImage c = readImage(colour);
  const host::HostImage g = readImage(grey);
  const host::HostImage crops = readImage(path(imageName("crops")));
  ASSERT_EQ(crops.height, 20);
  ASSERT_EQ(crops.channels, 3);
  const std::int32_t step = (crops.width - 30) / 2 + 10;  // a crop and its gap
  ASSERT_EQ(crops.width, 3 * 10 + 2 * (step - 10));
  for (std::int32_t y = 0; y < 20; ++y) {
    const std::uint8_t* row = crops.pixels.data() + y * crops.rowBytes();
    const std::uint8_t* in = c.pixels.data() + (y + 4) * c.rowBytes() + 5 * 3;
    EXPECT_EQ(std::memcmp(row, in, 10 * 3), 0) << y;
    EXPECT_EQ(std::memcmp(row + step * 3, in, 10 * 3), 0) << y;
    for (std::int32_t x = 0; x < 10; ++x)
      for (std::int32_t p = 0; p < 3; ++p)
        ASSERT_EQ(row[(2 * step + x) * 3 + p], g.pixels[static_cast<std::size_t>((y + 4) * g.width + x + 5)]);
  }
  EXPECT_EQ(run(VELTRANE_COMPARE, {"--crop", "5,4,0,20", colour, colour, path(imageName("none"))}).status, 2);
}

TEST_F(FilterRunTest, MirelleWritesAGreyMatte) {
  const std::string input = writeNoisy(imageName("in"), side, side, 3, SampleDepth::u8);
  const std::string output = path(imageName("matte"));
  const CommandResult r = veltrane({"mirelle", input, output, "--no-registry"});
  ASSERT_EQ(r.status, 0) << r.err;
  const host::HostImage in = readImage(input);
  const host::HostImage out = readImage(output);
  expectSameGeometry(in, out);
  for (std::size_t i = 0; i < out.pixels.size(); i += 3) {
    ASSERT_EQ(out.pixels[i], out.pixels[i + 1]) << i;
    ASSERT_EQ(out.pixels[i], out.pixels[i + 2]) << i;
  }
  EXPECT_NE(out.pixels, in.pixels);
}

}  // namespace
}  // namespace veltrane::e2e

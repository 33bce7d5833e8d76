// Filtering files: what is written, what is kept, and the failures a user
// meets.
#include <cstring>
#include <fstream>

#include "command_runner.h"

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
    const char* name;
    std::int32_t channels;
    SampleDepth depth;
  };
  for (const Case& c : {Case{"rgb8.png", 3, SampleDepth::u8}, Case{"grey8.png", 1, SampleDepth::u8},
                        Case{"rgb16.png", 3, SampleDepth::u16}, Case{"rgb32.tif", 3, SampleDepth::f32}}) {
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
  const std::string input = writeNoisy("in.png", side, side, 3, SampleDepth::u8, true);
  const std::string output = path("out.png");
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

  const std::string input = writeNoisy("in.png", side, side, 3, SampleDepth::u8);
  const CommandResult r = veltrane({"halvane", input, path("out.png"), "--no-registry"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(exists(path("out.png")));
}

TEST_F(FilterRunTest, TooSmallImageFailsWithThePluginsMessageAndLeavesTheOutputAlone) {
  const std::string input = writeNoisy("tiny.png", 20, 20, 3, SampleDepth::u8);
  const std::string output = path("out.png");
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

TEST_F(FilterRunTest, FileAndUsageErrorsExitWithTwoNamingTheCulprit) {
  const std::string input = writeNoisy("in.png", side, side, 3, SampleDepth::u8);
  const std::string grey = writeNoisy("grey.png", side, side, 1, SampleDepth::u8);
  const std::string output = path("out.png");
  struct Case {
    std::vector<std::string> args;
    std::string named;
  };
  const std::vector<Case> cases = {
      {{VELTRANE_HALVANE_MODULE, path("missing.png"), output}, "missing.png"},
      {{VELTRANE_HALVANE_MODULE, input, output, "--set", "noSuchField=1"}, "noSuchField"},
      {{VELTRANE_HALVANE_MODULE, input, output, "--set", "reserved24=1"}, "reserved24"},
      {{VELTRANE_HALVANE_MODULE, input, output, "--set", "overallNoiseLevel=loud"}, "overallNoiseLevel"},
      {{VELTRANE_HALVANE_MODULE, input, output, "--set", "despeckle=2"}, "despeckle"},
      {{VELTRANE_HALVANE_MODULE, input, output, "--rect", "0,0,65,10"}, "--rect"},
      {{VELTRANE_HALVANE_MODULE, input, output, "--mask", path("nomask.png")}, "nomask.png"},
      {{VELTRANE_HALVANE_MODULE, input, output, "--replay", path("none.json")}, "none.json"},
      {{VELTRANE_HALVANE_MODULE, input, input}, "in.png"},
      {{VELTRANE_HALVANE_MODULE, input, path("no/such/folder/out.png")}, "no/such/folder"},
      {{path("nowhere.so"), input, output}, "nowhere.so"},
      {{VELTRANE_HALVANE_MODULE, input, output, "--tile", "0,8"}, "--tile"},
      {{VELTRANE_HALVANE_MODULE, grey, output, "--mode", "lab"}, "grey.png"},
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
  const std::string left = writeNoisy("left.png", 40, 30, 3, SampleDepth::u8);
  const std::string right = writeNoisy("right.png", 24, 30, 3, SampleDepth::u8);
  const CommandResult r = run(VELTRANE_COMPARE, {left, right, path("both.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  const host::HostImage l = readImage(left);
  const host::HostImage rr = readImage(right);
  const host::HostImage both = readImage(path("both.png"));
  ASSERT_EQ(both.height, 30);
  ASSERT_GT(both.width, 64);
  for (std::int32_t y = 0; y < 30; ++y) {
    const std::uint8_t* row = both.pixels.data() + y * both.rowBytes();
    EXPECT_EQ(std::memcmp(row, l.pixels.data() + y * l.rowBytes(), 40 * 3), 0);
    EXPECT_EQ(std::memcmp(row + both.rowBytes() - 24 * 3, rr.pixels.data() + y * rr.rowBytes(), 24 * 3), 0);
  }
}

TEST_F(FilterRunTest, MirelleWritesAGreyMatte) {
  const std::string input = writeNoisy("in.png", side, side, 3, SampleDepth::u8);
  const std::string output = path("matte.png");
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

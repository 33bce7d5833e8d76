// GIMP itself, headless in batch mode, runs both plug-ins through
// veltrane-gimp on small 8- and 16-bit images with a selection; the saved
// results must hold exactly the pixels veltrane writes for the same image,
// selection and settings. GIMP gets a configuration folder of its own inside
// the test's folder.
#include <cstring>
#include <filesystem>
#include <fstream>

#include "command_runner.h"

namespace veltrane::e2e {
namespace {

namespace fs = std::filesystem;
using host::SampleDepth;

constexpr std::int32_t width = 96;
constexpr std::int32_t height = 80;
// The selection: two overlapping rectangles (x, y, w, h), whose bounds the
// module filters with the union as mask.
constexpr std::int32_t first[4] = {10, 8, 50, 40};
constexpr std::int32_t second[4] = {40, 30, 40, 36};
constexpr std::int32_t bounds[4] = {10, 8, 80, 66};  // left, top, right, bottom

bool selected(std::int32_t x, std::int32_t y) {
  const auto in = [x, y](const std::int32_t* r) {
    return x >= r[0] && x < r[0] + r[2] && y >= r[1] && y < r[1] + r[3];
  };
  return in(first) || in(second);
}

struct Case {
  const char* plugin;
  SampleDepth depth;
  std::int32_t channels;
  bool alpha;
  // The procedure's run mode and its arguments after image and drawable, as
  // Script-Fu text, and the same settings for veltrane.
  std::string runMode;
  std::string gimpArguments;
  std::vector<std::string> veltraneArguments;
};

class GimpBatchTest : public CommandTest {
 protected:
  // A noisy image; its alpha, when it has one, is never fully transparent
  // (GIMP's PNG export may clear the colour of such pixels).
  std::string writeInput(const Case& c, const std::string& name) {
    const std::string file = writeNoisy(name, width, height, c.channels, c.depth);
    if (!c.alpha) return file;
    host::HostImage image = readImage(file);
    image.alpha.resize(static_cast<std::size_t>(image.alphaBytes()));
    for (std::size_t i = 0; i < image.alpha.size(); ++i) image.alpha[i] = static_cast<std::uint8_t>(128 + i % 97);
    host::writeImageFile(file, image, host::FileInfo{});
    return file;
  }

  std::string writeMask() {
    host::HostImage mask;
    mask.width = width;
    mask.height = height;
    mask.channels = 1;
    mask.pixels.resize(static_cast<std::size_t>(mask.pixelBytes()));
    for (std::int32_t y = 0; y < height; ++y)
      for (std::int32_t x = 0; x < width; ++x)
        mask.pixels[static_cast<std::size_t>(y * width + x)] = selected(x, y) ? 255 : 0;
    const std::string file = path("mask.png");
    host::writeImageFile(file, mask, host::FileInfo{});
    return file;
  }

  // GIMP's own folder, with the plug-in folder of this build linked into
  // its plug-ins.
  std::string gimpFolder() {
    const fs::path folder = fs::path(path("gimp-config"));
    fs::create_directories(folder / "plug-ins");
    fs::create_symlink(fs::path(VELTRANE_GIMP_PLUGIN_DIR), folder / "plug-ins" / "veltrane-gimp");
    return folder.string();
  }
};

std::string scriptString(const std::string& text) { return "\"" + text + "\""; }

// PNG for integer samples, TIFF for floats.
std::string extension(const Case& c) { return c.depth == SampleDepth::f32 ? ".tif" : ".png"; }

TEST_F(GimpBatchTest, BothPluginsAt8And16BitsAndHalvaneInFloatGiveVeltranesPixels) {
  const std::string action = path("mirelle-action.json");
  std::ofstream(action) << R"({"plugin": "mirelle", "values": [)"
                        << R"({"key": "brgH", "type": "float", "value": 25.0},)"
                        << R"({"key": "Blah", "type": "boolean", "value": false}]})";
  const std::vector<Case> cases = {
      {"halvane", SampleDepth::u8, 3, true, "RUN-NONINTERACTIVE", "\"\" \"\" 30 -1 -1 0.5 -1 -1 -1 -1 0 -1",
       {"--set", "overallNoiseLevel=30", "--set", "mixColorDetail=0.5", "--set", "alwaysProfile=0"}},
      {"halvane", SampleDepth::u16, 1, false, "RUN-NONINTERACTIVE", "\"\" \"\" -1 -1 -1 -1 -1 -1 -1 -1 1 -1",
       {"--set", "alwaysProfile=1"}},
      {"mirelle", SampleDepth::u8, 3, false, "RUN-NONINTERACTIVE",
       "\"\" " + scriptString(action) + " -1 -1 -1 -1 -1 -1 -1", {"--replay", action}},
      {"mirelle", SampleDepth::u16, 3, true, "RUN-NONINTERACTIVE", "\"\" \"\" 12 0.4 3 9 -1 -1 0",
       {"--set", "overallNoiseLevel=12", "--set", "highlightsNoiseLevel=0.4", "--set", "lowThreshold=3", "--set",
        "highThreshold=9", "--set", "alwaysProfile=0"}},
      {"halvane", SampleDepth::f32, 3, false, "RUN-NONINTERACTIVE", "\"\" \"\" 20 -1 -1 -1 -1 -1 -1 -1 0 -1",
       {"--set", "overallNoiseLevel=20", "--set", "alwaysProfile=0"}},
      // The settings remembered from the run before (Script-Fu passes every
      // argument, which this run mode ignores).
      {"halvane", SampleDepth::u8, 3, false, "RUN-WITH-LAST-VALS", "\"\" \"\" 5 -1 -1 -1 -1 -1 -1 -1 1 -1", {}},
  };

  const std::string mask = writeMask();
  std::string script;
  std::vector<std::string> inputs;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const std::string stem = std::string(c.plugin) + "-" + std::to_string(i);
    inputs.push_back(writeInput(c, path(stem + "-in" + extension(c))));
    const std::string in = scriptString(inputs.back());
    const std::string out = scriptString(path(stem + "-gimp" + extension(c)));
    script += "(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE " + in + " " + in + ")))"
              " (drawable (car (gimp-image-get-active-drawable image))))"
              " (gimp-image-select-rectangle image CHANNEL-OP-REPLACE " +
              std::to_string(first[0]) + " " + std::to_string(first[1]) + " " + std::to_string(first[2]) + " " +
              std::to_string(first[3]) + ")"
              " (gimp-image-select-rectangle image CHANNEL-OP-ADD " +
              std::to_string(second[0]) + " " + std::to_string(second[1]) + " " + std::to_string(second[2]) + " " +
              std::to_string(second[3]) + ")"
              " (plug-in-veltrane-" + c.plugin + " " + c.runMode + " image drawable " + c.gimpArguments + ")"
              " (gimp-file-save RUN-NONINTERACTIVE image drawable " + out + " " + out + ")"
              " (gimp-image-delete image))\n";
  }
  const std::string gimpDir = gimpFolder();
  const CommandResult gimp = run("/usr/bin/env", {"GIMP2_DIRECTORY=" + gimpDir, "XDG_CACHE_HOME=" + path("cache"),
                                                  VELTRANE_GIMP, "-i", "-n", "-d", "-f", "-b", script, "-b", "(gimp-quit 0)"});
  ASSERT_EQ(gimp.status, 0) << gimp.out << gimp.err;
  EXPECT_EQ(gimp.err.find("execution error"), std::string::npos) << gimp.err;

  const std::string rect = std::to_string(bounds[1]) + "," + std::to_string(bounds[0]) + "," +
                           std::to_string(bounds[3]) + "," + std::to_string(bounds[2]);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(std::string(c.plugin) + " case " + std::to_string(i));
    const std::string stem = std::string(c.plugin) + "-" + std::to_string(i);
    // The GIMP plug-in keeps its settings in the same registry as veltrane;
    // veltrane gets a registry of its own that sees the same runs.
    // GIMP 2.10 hands its plug-ins tiles of 128 x 128 pixels.
    std::vector<std::string> args{c.plugin, inputs[i], path(stem + "-veltrane" + extension(c)), "--rect", rect,
                                  "--mask", mask, "--tile", "128,128", "--registry", path("veltrane-registry.json")};
    args.insert(args.end(), c.veltraneArguments.begin(), c.veltraneArguments.end());
    const CommandResult v = veltrane(args);
    ASSERT_EQ(v.status, 0) << v.err;

    const host::HostImage input = readImage(inputs[i]);
    const host::HostImage fromGimp = readImage(path(stem + "-gimp" + extension(c)));
    const host::HostImage fromVeltrane = readImage(path(stem + "-veltrane" + extension(c)));
    ASSERT_EQ(fromGimp.depth, c.depth);
    ASSERT_EQ(fromGimp.channels, c.channels);
    EXPECT_TRUE(fromGimp.pixels == fromVeltrane.pixels) << "pixels differ from veltrane's";
    EXPECT_TRUE(fromGimp.alpha == input.alpha) << "alpha changed";
    EXPECT_NE(fromGimp.pixels, input.pixels);
    // Outside the selection's bounds every sample stays as it was (inside
    // them the matte covers the whole rectangle; veltrane's does too).
    const std::size_t pixelBytes = static_cast<std::size_t>(input.rowBytes() / width);
    std::size_t changedOutside = 0;
    for (std::int32_t y = 0; y < height; ++y)
      for (std::int32_t x = 0; x < width; ++x) {
        const std::size_t at = static_cast<std::size_t>(y * width + x) * pixelBytes;
        const bool inBounds = x >= bounds[0] && x < bounds[2] && y >= bounds[1] && y < bounds[3];
        if (!inBounds && std::memcmp(&fromGimp.pixels[at], &input.pixels[at], pixelBytes) != 0) ++changedOutside;
      }
    EXPECT_EQ(changedOutside, 0u);
  }
}

}  // namespace
}  // namespace veltrane::e2e

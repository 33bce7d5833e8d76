// The same pixels from every build: each plug-in runs on fixed synthetic
// images of each depth, and a hash of its output must equal the value below,
// which the Linux build produced. Input and output are netpbm files, or PNG
// and TIFF files through each build's own image library, whose lossless
// round trip must give the netpbm run's hash. The outputs stay in the build
// folder (pixel-equality/) so that the netpbm files of two builds can also be
// compared byte for byte (scripts/win-compare.sh).
#include <cstring>
#include <filesystem>

#include "command_runner.h"
#include "host/os/os.h"

namespace veltrane::e2e {
namespace {

using host::SampleDepth;

constexpr std::int32_t side = 300;

// Integer arithmetic only, so that every compiler makes the same image: a
// dark and a light half split by a slanted edge, a bright square, a gentle
// ramp, and noise of about 6% in every channel.
host::HostImage syntheticImage(SampleDepth depth) {
  host::HostImage image;
  image.width = side;
  image.height = side;
  image.channels = 3;
  image.depth = depth;
  image.pixels.resize(static_cast<std::size_t>(image.pixelBytes()));
  std::uint32_t state = 20261208;
  for (std::int32_t y = 0; y < side; ++y)
    for (std::int32_t x = 0; x < side; ++x)
      for (std::int32_t c = 0; c < 3; ++c) {
        state = state * 1664525u + 1013904223u;
        std::int32_t v = (x + y / 3 < side / 2 ? 18000 : 42000) + 40 * y + 3000 * c;  // of 65535
        if (x >= 180 && x < 250 && y >= 40 && y < 110) v = 60000 - 5000 * c;
        v += static_cast<std::int32_t>(state >> 20) - 2048;  // -2048 .. 2047
        const auto u = static_cast<std::uint32_t>(v < 0 ? 0 : v > 65535 ? 65535 : v);
        const std::size_t i = static_cast<std::size_t>((y * side + x) * 3 + c);
        switch (depth) {
          case SampleDepth::u8: image.pixels[i] = static_cast<std::uint8_t>(u >> 8); break;
          case SampleDepth::u16: {
            const std::uint16_t h = host::fileToHost16(static_cast<std::uint16_t>(u));
            std::memcpy(&image.pixels[i * 2], &h, 2);
            break;
          }
          case SampleDepth::f32: {
            const float f = static_cast<float>(u) / 65535.0f;
            std::memcpy(&image.pixels[i * 4], &f, 4);
            break;
          }
        }
      }
  return image;
}

// FNV-1a over the geometry and the samples as the host holds them.
std::uint64_t pixelHash(const host::HostImage& image) {
  std::uint64_t h = 14695981039346656037ull;
  const auto mix = [&h](const void* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      h ^= static_cast<const std::uint8_t*>(data)[i];
      h *= 1099511628211ull;
    }
  };
  const std::int32_t geometry[] = {image.width, image.height, image.channels, static_cast<std::int32_t>(image.depth)};
  mix(geometry, sizeof geometry);
  mix(image.pixels.data(), image.pixels.size());
  return h;
}

struct PluginRun {
  const char* file;  // in the output folder
  SampleDepth depth;
  std::uint64_t hash;
};

class PixelEqualityTest : public CommandTest {
 protected:
  void check(const char* plugin, const std::vector<std::string>& settings, const std::vector<PluginRun>& runs) {
    const std::filesystem::path folder = host::os::pathFromUtf8(VELTRANE_PIXEL_OUTPUT_DIR);
    std::filesystem::create_directories(folder);
    for (const PluginRun& run : runs) {
      SCOPED_TRACE(run.file);
      const std::string extension = std::filesystem::path(run.file).extension().string();
      const std::string input = path("in" + extension);
      host::writeImageFile(input, syntheticImage(run.depth), host::FileInfo{});
      const std::string output = host::os::pathToUtf8(folder / run.file);
      // A fixed memory allowance: the plug-in's tiling must not depend on the machine.
      std::vector<std::string> args{plugin, input, output, "--no-registry", "--max-space", "268435456", "-q"};
      args.insert(args.end(), settings.begin(), settings.end());
      const CommandResult r = veltrane(args);
      ASSERT_EQ(r.status, 0) << r.err;
      const host::HostImage out = readImage(output);
      EXPECT_EQ(out.depth, run.depth);
      EXPECT_EQ(pixelHash(out), run.hash) << std::hex << "0x" << pixelHash(out);
    }
  }
};

TEST_F(PixelEqualityTest, HalvaneGivesTheSamePixelsOnEveryBuild) {
  check("halvane", {"--set", "overallNoiseLevel=30", "--set", "fineSharpening=40"},
        {{"halvane-8.pam", SampleDepth::u8, 0xee74d9f5e75c6e8full},
         {"halvane-16.pam", SampleDepth::u16, 0x682fbcf5759f2838ull},
         {"halvane-32.pfm", SampleDepth::f32, 0xc4fbcdaad0ca560aull},
         {"halvane-16.png", SampleDepth::u16, 0x682fbcf5759f2838ull},
         {"halvane-8.tif", SampleDepth::u8, 0xee74d9f5e75c6e8full},
         {"halvane-16.tif", SampleDepth::u16, 0x682fbcf5759f2838ull}});
}

TEST_F(PixelEqualityTest, MirelleGivesTheSamePixelsOnEveryBuild) {
  check("mirelle", {"--set", "overallNoiseLevel=20"},
        {{"mirelle-8.pam", SampleDepth::u8, 0xc90968eb03fb119eull},
         {"mirelle-16.pam", SampleDepth::u16, 0x196a75c4dd6deaa5ull},
         {"mirelle-32.pfm", SampleDepth::f32, 0x0f26f1c495f4e861ull},
         {"mirelle-8.png", SampleDepth::u8, 0xc90968eb03fb119eull}});
}

}  // namespace
}  // namespace veltrane::e2e

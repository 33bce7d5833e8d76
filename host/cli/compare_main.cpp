// veltrane-compare: puts two images of the same size side by side, with a
// narrow grey gap between them, for looking at a filter's result next to
// its input.
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "host/imageio/image_file.h"
#include "host/os/os.h"

namespace {

using veltrane::host::HostImage;
using veltrane::host::SampleDepth;

constexpr std::int32_t gapWidth = 8;

// Mid-grey in the host's encoding of each depth.
void fillGrey(std::uint8_t* at, std::int64_t samples, SampleDepth depth) {
  for (std::int64_t i = 0; i < samples; ++i) {
    switch (depth) {
      case SampleDepth::u8: at[i] = 128; break;
      case SampleDepth::u16: {
        const std::uint16_t v = veltrane::host::hostMax16 / 2;
        std::memcpy(at + i * 2, &v, 2);
        break;
      }
      case SampleDepth::f32: {
        const float v = 0.2f;  // linear light: a mid-grey on screen
        std::memcpy(at + i * 4, &v, 4);
        break;
      }
    }
  }
}

HostImage sideBySide(const HostImage& left, const HostImage& right) {
  HostImage out;
  out.width = left.width + gapWidth + right.width;
  out.height = left.height;
  out.channels = left.channels;
  out.depth = left.depth;
  out.pixels.resize(static_cast<std::size_t>(out.pixelBytes()));
  const std::int64_t sampleBytes = veltrane::host::bytesPerSample(out.depth);
  const std::int64_t gapBytes = std::int64_t{gapWidth} * out.channels * sampleBytes;
  for (std::int32_t y = 0; y < out.height; ++y) {
    std::uint8_t* row = out.pixels.data() + y * out.rowBytes();
    std::memcpy(row, left.pixels.data() + y * left.rowBytes(), static_cast<std::size_t>(left.rowBytes()));
    fillGrey(row + left.rowBytes(), gapBytes / sampleBytes, out.depth);
    std::memcpy(row + left.rowBytes() + gapBytes, right.pixels.data() + y * right.rowBytes(),
                static_cast<std::size_t>(right.rowBytes()));
  }
  return out;
}

// Exit status 0 when both files decode to the same samples and alpha at the
// same size, channels and depth, 1 when they do not.
int same(const std::string& a, const std::string& b) {
  const HostImage left = veltrane::host::readImageFile(a);
  const HostImage right = veltrane::host::readImageFile(b);
  if (left.width == right.width && left.height == right.height && left.channels == right.channels &&
      left.depth == right.depth && left.pixels == right.pixels && left.alpha == right.alpha) {
    return 0;
  }
  std::cout << "'" << a << "' and '" << b << "' differ\n";
  return 1;
}

int run(const std::vector<std::string>& argv) {
  const std::size_t argc = argv.size();
  if (argc == 2 && (argv[1] == "--help" || argv[1] == "-h")) {
    std::cout << "usage: veltrane-compare LEFT RIGHT OUTPUT\n"
                 "       veltrane-compare --same A B\n"
                 "Writes LEFT and RIGHT (same size, channels and depth) side by side into OUTPUT.\n"
                 "--same: exit status 0 when A and B decode to the same pixels and alpha, 1 when not.\n";
    return 0;
  }
  if (argc == 4 && argv[1] == "--same") return same(argv[2], argv[3]);
  if (argc != 4) {
    std::cerr << "usage: veltrane-compare LEFT RIGHT OUTPUT | --same A B\n";
    return 2;
  }
  veltrane::host::FileInfo leftInfo;
  const HostImage left = veltrane::host::readImageFile(argv[1], &leftInfo);
  const HostImage right = veltrane::host::readImageFile(argv[2]);
  if (left.height != right.height || left.channels != right.channels || left.depth != right.depth) {
    std::cerr << "veltrane-compare: '" << argv[1] << "' and '" << argv[2]
              << "' differ in height, channels or depth\n";
    return 2;
  }
  veltrane::host::writeImageFile(argv[3], sideBySide(left, right), leftInfo);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(veltrane::host::os::utf8Arguments(argc, argv));
  } catch (const std::exception& e) {
    std::cerr << "veltrane-compare: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "veltrane-compare: unexpected error\n";
  }
  return 2;
}

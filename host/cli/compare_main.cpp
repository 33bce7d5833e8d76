// veltrane-compare: puts images of the same size side by side, with a
// narrow grey gap between them, for looking at a filter's result next to
// its input; optionally only a rectangle of each, at 100 %.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
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

// One grey image as RGB, for a matte next to colour images.
HostImage asRgb(const HostImage& grey) {
  if (grey.channels != 1) return grey;
  HostImage out = grey;
  out.channels = 3;
  out.pixels.resize(static_cast<std::size_t>(out.pixelBytes()));
  const std::int64_t n = veltrane::host::bytesPerSample(grey.depth);
  for (std::int64_t i = 0; i < grey.pixelCount(); ++i)
    for (std::int64_t c = 0; c < 3; ++c)
      std::memcpy(out.pixels.data() + (i * 3 + c) * n, grey.pixels.data() + i * n, static_cast<std::size_t>(n));
  return out;
}

struct Crop {
  std::int32_t left = 0, top = 0, width = 0, height = 0;
};

// The part of `image` inside `crop`, kept inside the image.
HostImage cropped(const HostImage& image, Crop crop) {
  crop.left = std::clamp(crop.left, 0, image.width);
  crop.top = std::clamp(crop.top, 0, image.height);
  crop.width = std::clamp(crop.width, 0, image.width - crop.left);
  crop.height = std::clamp(crop.height, 0, image.height - crop.top);
  HostImage out = image;
  out.width = crop.width;
  out.height = crop.height;
  out.alpha.clear();
  out.pixels.resize(static_cast<std::size_t>(out.pixelBytes()));
  const std::int64_t pixelBytes = image.channels * veltrane::host::bytesPerSample(image.depth);
  for (std::int32_t y = 0; y < out.height; ++y)
    std::memcpy(out.pixels.data() + y * out.rowBytes(),
                image.pixels.data() + (y + crop.top) * image.rowBytes() + crop.left * pixelBytes,
                static_cast<std::size_t>(out.rowBytes()));
  return out;
}

HostImage sideBySide(const std::vector<HostImage>& images) {
  HostImage out;
  out.height = images.front().height;
  out.channels = images.front().channels;
  out.depth = images.front().depth;
  for (const HostImage& image : images) out.width += image.width;
  out.width += gapWidth * static_cast<std::int32_t>(images.size() - 1);
  out.pixels.resize(static_cast<std::size_t>(out.pixelBytes()));
  const std::int64_t sampleBytes = veltrane::host::bytesPerSample(out.depth);
  const std::int64_t gapBytes = std::int64_t{gapWidth} * out.channels * sampleBytes;
  for (std::int32_t y = 0; y < out.height; ++y) {
    std::uint8_t* at = out.pixels.data() + y * out.rowBytes();
    for (std::size_t i = 0; i < images.size(); ++i) {
      if (i > 0) {
        fillGrey(at, gapBytes / sampleBytes, out.depth);
        at += gapBytes;
      }
      std::memcpy(at, images[i].pixels.data() + y * images[i].rowBytes(), static_cast<std::size_t>(images[i].rowBytes()));
      at += images[i].rowBytes();
    }
  }
  return out;
}

constexpr const char* usage =
    "usage: veltrane-compare [--crop LEFT,TOP,WIDTH,HEIGHT] IMAGE IMAGE [IMAGE...] OUTPUT\n"
    "       veltrane-compare --same A B\n";

// Exit status 2 naming the first of `names` that is not a regular file; 0 when all are.
int refuseIrregular(const std::vector<std::string>& names) {
  namespace os = veltrane::host::os;
  for (const std::string& name : names) {
    const std::string kind = os::notARegularFile(os::pathFromUtf8(name));
    if (!kind.empty()) {
      std::cerr << "veltrane-compare: '" << name << "': " << kind << ", not a regular file\n";
      return 2;
    }
  }
  return 0;
}

// Exit status 0 when both files decode to the same samples and alpha at the
// same size, channels and depth, 1 when they do not.
int same(const std::string& a, const std::string& b) {
  if (const int refused = refuseIrregular({a, b})) return refused;
  const HostImage left = veltrane::host::readImageFile(a);
  const HostImage right = veltrane::host::readImageFile(b);
  if (left.width == right.width && left.height == right.height && left.channels == right.channels &&
      left.depth == right.depth && left.pixels == right.pixels && left.alpha == right.alpha) {
    return 0;
  }
  std::cout << "'" << a << "' and '" << b << "' differ\n";
  return 1;
}

int run(std::vector<std::string> argv) {
  if (argv.size() == 2 && (argv[1] == "--help" || argv[1] == "-h")) {
    std::cout << usage
              << "Writes the IMAGEs (same height and depth; grey ones are shown as RGB) side by side into\n"
                 "OUTPUT; with --crop only that rectangle of each, at 100 %.\n"
                 "--same: exit status 0 when A and B decode to the same pixels and alpha, 1 when not.\n";
    return 0;
  }
  if (argv.size() == 4 && argv[1] == "--same") return same(argv[2], argv[3]);
  std::optional<Crop> crop;
  if (argv.size() > 2 && argv[1] == "--crop") {
    Crop c;
    char tail = 0;
    if (std::sscanf(argv[2].c_str(), "%d,%d,%d,%d%c", &c.left, &c.top, &c.width, &c.height, &tail) != 4 ||
        c.width <= 0 || c.height <= 0 || c.left < 0 || c.top < 0) {
      std::cerr << "veltrane-compare: --crop takes LEFT,TOP,WIDTH,HEIGHT in pixels\n";
      return 2;
    }
    crop = c;
    argv.erase(argv.begin() + 1, argv.begin() + 3);
  }
  if (argv.size() < 4) {
    std::cerr << usage;
    return 2;
  }
  namespace os = veltrane::host::os;
  const std::vector<std::string> inputs(argv.begin() + 1, argv.end() - 1);
  if (const int refused = refuseIrregular(std::vector<std::string>(argv.begin() + 1, argv.end()))) return refused;
  const auto outFile = os::pathFromUtf8(argv.back());
  for (const std::string& name : inputs) {
    if (os::sameFile(outFile, os::pathFromUtf8(name))) {
      std::cerr << "veltrane-compare: the output '" << argv.back() << "' is one of the images read; choose another name\n";
      return 2;
    }
  }
  veltrane::host::FileInfo firstInfo;
  std::vector<HostImage> images;
  for (std::size_t i = 1; i + 1 < argv.size(); ++i) {
    HostImage image = veltrane::host::readImageFile(argv[i], i == 1 ? &firstInfo : nullptr);
    if (crop) image = cropped(image, *crop);
    images.push_back(std::move(image));
  }
  const bool anyColour = std::any_of(images.begin(), images.end(), [](const HostImage& m) { return m.channels == 3; });
  for (HostImage& image : images)
    if (anyColour) image = asRgb(image);
  for (std::size_t i = 1; i < images.size(); ++i) {
    if (images[i].height != images[0].height || images[i].channels != images[0].channels ||
        images[i].depth != images[0].depth) {
      std::cerr << "veltrane-compare: '" << argv[1] << "' and '" << argv[i + 1]
                << "' differ in height, channels or depth\n";
      return 2;
    }
  }
  veltrane::host::writeImageFile(argv.back(), sideBySide(images), firstInfo);
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

// The region protocol: the plug-in names input, output and mask rectangles and
// plane ranges, and advance-state hands out copies of those pixels. Output
// copies go back into the image at the next delivery and whenever a call of
// the plug-in returns.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "host/sim/host_state.h"

namespace veltrane::host::detail {

using namespace hostapi;

namespace {

constexpr std::uint8_t rowPaddingByte = 0xCD;

VRect widen(const Rect16& r) noexcept { return {r.top, r.left, r.bottom, r.right}; }

// Row stride of a delivered tile: the packed width rounded up past a 16-byte
// boundary, so that a plug-in that ignores the row bytes shows it.
std::int64_t paddedRowBytes(std::int64_t packed) noexcept { return (packed / 16 + 1) * 16; }

// Samples step by step from `rect`; the tile is ceil(width / step) wide.
std::int64_t sampledExtent(std::int64_t extent, std::int32_t step) noexcept { return (extent + step - 1) / step; }

struct Source {
  const std::uint8_t* pixels;
  std::int32_t width;
  std::int32_t height;
  std::int32_t planes;
  std::int32_t bytesPerSample;
};

struct Tile {
  std::vector<std::uint8_t>* buffer;
  std::int64_t rowBytes = 0;
};

bool inside(const VRect& r, std::int32_t width, std::int32_t height) noexcept {
  return r.top >= 0 && r.left >= 0 && r.bottom <= height && r.right <= width;
}

// The sample written for a padding value 0..255 at this depth.
void paddingSample(std::int16_t padding, std::int32_t bytesPerSample, std::uint8_t* out) noexcept {
  const int v = std::clamp<int>(padding, 0, 255);
  if (bytesPerSample == 1) {
    out[0] = static_cast<std::uint8_t>(v);
  } else if (bytesPerSample == 2) {
    const auto s = static_cast<std::uint16_t>((v * 32768 + 127) / 255);
    std::memcpy(out, &s, 2);
  } else {
    const float f = static_cast<float>(v) / 255.0f;
    std::memcpy(out, &f, 4);
  }
}

// Copies planes lo..hi of `rect` sampled every `step` pixels into a new tile.
// Samples outside the source follow `padding`: -1 edge replication, -2 zero,
// 0..255 that value; the caller has refused -3 already.
OSErr copyIn(const Source& src, const VRect& rect, std::int32_t lo, std::int32_t hi, std::int32_t step,
             std::int16_t padding, Tile& tile) {
  const std::int32_t bps = src.bytesPerSample;
  const std::int32_t n = hi - lo + 1;
  const std::int64_t w = sampledExtent(std::int64_t{rect.right} - rect.left, step);
  const std::int64_t h = sampledExtent(std::int64_t{rect.bottom} - rect.top, step);
  const std::int64_t pixelBytes = std::int64_t{n} * bps;
  const std::int64_t rowBytes = paddedRowBytes(w * pixelBytes);
  if (rowBytes > std::numeric_limits<std::int32_t>::max()) return memFullErr;
  tile.buffer->assign(static_cast<std::size_t>(rowBytes * h), rowPaddingByte);
  tile.rowBytes = rowBytes;

  std::uint8_t fill[4] = {};
  if (padding >= 0) paddingSample(padding, bps, fill);
  const std::int64_t srcPixelBytes = std::int64_t{src.planes} * bps;
  const std::int64_t srcRowBytes = src.width * srcPixelBytes;
  const bool wholePixels = lo == 0 && n == src.planes && step == 1;

  for (std::int64_t y = 0; y < h; ++y) {
    std::uint8_t* out = tile.buffer->data() + y * rowBytes;
    std::int64_t sy = rect.top + y * step;
    const bool rowInside = sy >= 0 && sy < src.height;
    if (!rowInside && padding == paddingEdgeReplication) sy = std::clamp<std::int64_t>(sy, 0, src.height - 1);
    if (!rowInside && padding != paddingEdgeReplication) {
      for (std::int64_t x = 0; x < w * n; ++x) std::memcpy(out + x * bps, fill, static_cast<std::size_t>(bps));
      continue;
    }
    const std::uint8_t* row = src.pixels + sy * srcRowBytes;
    if (wholePixels && rect.left >= 0 && rect.right <= src.width) {
      std::memcpy(out, row + rect.left * srcPixelBytes, static_cast<std::size_t>(w * pixelBytes));
      continue;
    }
    for (std::int64_t x = 0; x < w; ++x, out += pixelBytes) {
      std::int64_t sx = rect.left + x * step;
      if (sx < 0 || sx >= src.width) {
        if (padding != paddingEdgeReplication) {
          for (std::int32_t p = 0; p < n; ++p) std::memcpy(out + p * bps, fill, static_cast<std::size_t>(bps));
          continue;
        }
        sx = std::clamp<std::int64_t>(sx, 0, src.width - 1);
      }
      std::memcpy(out, row + sx * srcPixelBytes + std::int64_t{lo} * bps, static_cast<std::size_t>(pixelBytes));
    }
  }
  return noErr;
}

// Checks a requested input (or mask) rectangle against the image and its
// padding rule; 0 when it may be delivered.
OSErr checkPadded(const VRect& rect, const Source& src, std::int16_t padding) noexcept {
  if (inside(rect, src.width, src.height)) return noErr;
  if (padding == paddingErrorOnBounds) return filterBadParameters;
  if (padding < paddingErrorOnBounds || padding > 255) return filterBadParameters;
  return noErr;
}

OSErr samplingStep(Fixed rate, std::int32_t* step) noexcept {
  // Integral steps only (the record offers sampling support 1).
  if (rate < fixedOne) return filterBadParameters;
  *step = rate / fixedOne;
  return noErr;
}

bool validPlanes(std::int32_t lo, std::int32_t hi, std::int32_t planes) noexcept {
  return lo >= 0 && lo <= hi && hi < planes;
}

}  // namespace

bool HostState::usesBigCoordinates() const noexcept {
  return record.bigDocumentData != nullptr && bigDocument.PluginUsing32BitCoordinates != 0;
}

VRect HostState::inRect() const noexcept { return usesBigCoordinates() ? bigDocument.inRect32 : widen(record.inRect); }

VRect HostState::outRect() const noexcept {
  return usesBigCoordinates() ? bigDocument.outRect32 : widen(record.outRect);
}

VRect HostState::maskRect() const noexcept {
  return usesBigCoordinates() ? bigDocument.maskRect32 : widen(record.maskRect);
}

void HostState::shortenRequests(std::int32_t rows) noexcept {
  const auto shorten = [rows](VRect r) {
    if (!isEmpty(r)) r.bottom = static_cast<std::int32_t>(std::min<std::int64_t>(r.bottom, std::int64_t{r.top} + rows));
    return r;
  };
  if (usesBigCoordinates()) {
    bigDocument.inRect32 = shorten(bigDocument.inRect32);
    bigDocument.outRect32 = shorten(bigDocument.outRect32);
    bigDocument.maskRect32 = shorten(bigDocument.maskRect32);
    return;
  }
  const auto narrow = [](const VRect& r) {
    return Rect16{static_cast<std::int16_t>(r.top), static_cast<std::int16_t>(r.left),
                  static_cast<std::int16_t>(r.bottom), static_cast<std::int16_t>(r.right)};
  };
  record.inRect = narrow(shorten(widen(record.inRect)));
  record.outRect = narrow(shorten(widen(record.outRect)));
  record.maskRect = narrow(shorten(widen(record.maskRect)));
}

bool HostState::anyRegionRequested() const noexcept {
  // A mask rectangle counts only when there is a mask to deliver.
  return !isEmpty(inRect()) || !isEmpty(outRect()) || (record.haveMask && !isEmpty(maskRect()));
}

void HostState::snapshotOriginal() { original = image.pixels; }

void HostState::flushOutput() noexcept {
  if (!staged.active) return;
  const std::int64_t bps = image.bytesPerSample();
  const std::int64_t pixelBytes = image.planes * bps;
  const std::int64_t n = staged.hiPlane - staged.loPlane + 1;
  const std::int64_t w = std::int64_t{staged.rect.right} - staged.rect.left;
  for (std::int64_t y = 0; y < std::int64_t{staged.rect.bottom} - staged.rect.top; ++y) {
    const std::uint8_t* from = outBuffer.data() + y * staged.rowBytes;
    std::uint8_t* to = image.pixels.data() + (staged.rect.top + y) * image.rowBytes() + staged.rect.left * pixelBytes +
                       staged.loPlane * bps;
    if (n == image.planes) {
      std::memcpy(to, from, static_cast<std::size_t>(w * pixelBytes));
      continue;
    }
    for (std::int64_t x = 0; x < w; ++x, from += n * bps, to += pixelBytes)
      std::memcpy(to, from, static_cast<std::size_t>(n * bps));
  }
}

void HostState::releaseRegions() noexcept {
  flushOutput();
  staged = StagedOutput{};
  inBuffer = {};
  outBuffer = {};
  maskBuffer = {};
  record.inData = nullptr;
  record.outData = nullptr;
  record.maskData = nullptr;
  record.inRowBytes = 0;
  record.outRowBytes = 0;
  record.maskRowBytes = 0;
}

OSErr HostState::deliverRegions() noexcept {
  // What the plug-in wrote into the last output tile lands first.
  releaseRegions();
  try {
    const auto bps = static_cast<std::int32_t>(image.bytesPerSample());
    if (options.rowsPerDelivery > 0) shortenRequests(options.rowsPerDelivery);
    const VRect in = inRect();
    const VRect out = outRect();
    const VRect mask = maskRect();
    const Source source{original.data(), image.width, image.height, image.planes, bps};
    const Source maskSource{options.mask.data(), image.width, image.height, 1, 1};
    const bool wantMask = record.haveMask && !isEmpty(mask);

    // Refuse the whole request before handing out anything.
    std::int32_t inStep = 1;
    std::int32_t maskStep = 1;
    if (!isEmpty(in)) {
      if (!validPlanes(record.inLoPlane, record.inHiPlane, image.planes)) return filterBadParameters;
      if (OSErr e = samplingStep(record.inputRate, &inStep)) return e;
      if (OSErr e = checkPadded(in, source, record.inputPadding)) return e;
    }
    if (!isEmpty(out)) {
      if (!validPlanes(record.outLoPlane, record.outHiPlane, image.planes)) return filterBadParameters;
      if (!inside(out, image.width, image.height)) return filterBadParameters;
    }
    if (wantMask) {
      if (OSErr e = samplingStep(record.maskRate, &maskStep)) return e;
      if (OSErr e = checkPadded(mask, maskSource, record.maskPadding)) return e;
    }

    if (!isEmpty(in)) {
      Tile tile{&inBuffer};
      if (OSErr e = copyIn(source, in, record.inLoPlane, record.inHiPlane, inStep, record.inputPadding, tile))
        return e;
      record.inData = inBuffer.data();
      record.inRowBytes = static_cast<std::int32_t>(tile.rowBytes);
      record.inColumnBytes = (record.inHiPlane - record.inLoPlane + 1) * bps;
      record.inPlaneBytes = bps;
    }
    if (!isEmpty(out)) {
      const Source destination{image.pixels.data(), image.width, image.height, image.planes, bps};
      Tile tile{&outBuffer};
      if (OSErr e = copyIn(destination, out, record.outLoPlane, record.outHiPlane, 1, 0, tile)) {
        releaseRegions();
        return e;
      }
      staged = {true, out, record.outLoPlane, record.outHiPlane, tile.rowBytes};
      record.outData = outBuffer.data();
      record.outRowBytes = static_cast<std::int32_t>(tile.rowBytes);
      record.outColumnBytes = (record.outHiPlane - record.outLoPlane + 1) * bps;
      record.outPlaneBytes = bps;
    }
    if (wantMask) {
      Tile tile{&maskBuffer};
      if (OSErr e = copyIn(maskSource, mask, 0, 0, maskStep, record.maskPadding, tile)) {
        releaseRegions();
        return e;
      }
      record.maskData = maskBuffer.data();
      record.maskRowBytes = static_cast<std::int32_t>(tile.rowBytes);
    }
    return noErr;
  } catch (...) {
    releaseRegions();
    return memFullErr;
  }
}

OSErr VELTRANE_HOSTAPI_CDECL advanceStateProc() noexcept {
  HostState* host = currentHost();
  if (!host) return filterBadParameters;
  ++host->stats.advanceStateCalls;
  return host->deliverRegions();
}

}  // namespace veltrane::host::detail

#include "ui/preview.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "hostapi/filter_record.h"
#include "image/color_luts.h"
#include "image/interleaved_byte_buffer.h"
#include "shell/host_call.h"
#include "shell/view_state.h"
#include "ui/dialog_template.h"

namespace veltrane::ui {

namespace {

constexpr std::int32_t wheelNotch = 120;
constexpr std::int32_t rgbMode = 3;

std::int32_t widthLimit(std::int32_t paneWidth, std::int32_t zoom) {
  return ((paneWidth / 2) / 4 * 8 / zoom) / 2;
}

std::int32_t heightLimit(std::int32_t paneHeight, std::int32_t zoom) {
  return (paneHeight / 4 * 4) / zoom;
}

// Moves the offset so that [start, start + size) lies inside [low, high).
std::int32_t keepInside(std::int32_t offset, std::int32_t start, std::int32_t size, std::int32_t low,
                        std::int32_t high) {
  if (start < low) return offset + (low - start);
  if (start + size > high) return offset - (start + size - high);
  return offset;
}

}  // namespace

PreviewWindow computePreviewWindow(const veltrane::Rect& filter, std::int32_t paneWidth,
                                   std::int32_t paneHeight, std::int32_t zoom, std::int32_t panH,
                                   std::int32_t panV) {
  PreviewWindow w;
  const std::int32_t fw = filter.width();
  const std::int32_t fh = filter.height();
  w.zoom = std::clamp(zoom, 1, 4);
  for (;;) {
    w.viewWidth = std::max(0, std::min(fw, widthLimit(paneWidth, w.zoom)));
    w.viewHeight = std::max(0, std::min(fh, heightLimit(paneHeight, w.zoom)));
    if (!tooSmallToFilter(w.viewWidth, w.viewHeight) || w.zoom == 1) break;
    --w.zoom;
  }
  // Measured from the filter rectangle's corner, so the window never shows
  // pixels outside a selection.
  const std::int32_t left = filter.left + (fw - w.viewWidth) / 2 + panH;
  const std::int32_t top = filter.top + (fh - w.viewHeight) / 2 + panV;
  w.panH = keepInside(panH, left, w.viewWidth, filter.left, filter.right);
  w.panV = keepInside(panV, top, w.viewHeight, filter.top, filter.bottom);
  w.window.left = filter.left + (fw - w.viewWidth) / 2 + w.panH;
  w.window.top = filter.top + (fh - w.viewHeight) / 2 + w.panV;
  w.window.right = w.window.left + w.viewWidth;
  w.window.bottom = w.window.top + w.viewHeight;
  return w;
}

std::int32_t zoomAfterWheel(std::int32_t zoom, std::int32_t delta) {
  const std::int32_t notches = delta / wheelNotch;
  if (notches == 0) return zoom;
  std::int32_t z = std::clamp(zoom, 1, 4) + std::clamp(notches, -4, 4);
  if (z == 3) z += notches > 0 ? 1 : -1;
  return std::clamp(z, 1, 4);
}

platform::Rect centredIn(const platform::Rect& area, std::int32_t width, std::int32_t height) {
  return platform::Rect{(area.left + area.left + area.width - width) / 2,
                        (area.top + area.top + area.height - height) / 2, width, height};
}

platform::Size overviewSize(std::int32_t areaWidth, std::int32_t areaHeight, std::int32_t paneWidth,
                            std::int32_t paneHeight) {
  if (areaWidth <= 0 || areaHeight <= 0) return {};
  std::int64_t w = areaWidth;
  std::int64_t h = areaHeight;
  if (areaWidth > paneWidth || areaHeight > paneHeight) {
    if (std::int64_t{areaHeight} * paneWidth > std::int64_t{paneHeight} * areaWidth) {
      h = paneHeight;
      w = std::int64_t{areaWidth} * paneHeight / areaHeight;
    } else {
      w = paneWidth;
      h = std::int64_t{areaHeight} * paneWidth / areaWidth;
    }
  }
  return {static_cast<std::int32_t>(std::max<std::int64_t>(1, w)),
          static_cast<std::int32_t>(std::max<std::int64_t>(1, h))};
}

platform::Rect overviewFrame(const veltrane::Rect& filter, const veltrane::Rect& window,
                             platform::Size overview) {
  if (filter.empty() || overview.width <= 0 || overview.height <= 0) return {};
  const float fw = static_cast<float>(filter.width());
  const float fh = static_cast<float>(filter.height());
  const auto scale = [](std::int32_t v, float whole, std::int32_t size) {
    return static_cast<std::int32_t>(static_cast<float>(v) / whole * static_cast<float>(size));
  };
  platform::Rect f;
  f.left = std::clamp(scale(window.left - filter.left, fw, overview.width), 0, overview.width - 1);
  f.top = std::clamp(scale(window.top - filter.top, fh, overview.height), 0, overview.height - 1);
  f.width = std::clamp(scale(window.width(), fw, overview.width), 1, overview.width - f.left);
  f.height = std::clamp(scale(window.height(), fh, overview.height), 1, overview.height - f.top);
  return f;
}

PanOffsets panCentredOn(const veltrane::Rect& filter, platform::Size overview, std::int32_t x,
                        std::int32_t y) {
  if (overview.width <= 0 || overview.height <= 0) return {};
  const auto offset = [](std::int32_t at, std::int32_t size, std::int32_t whole) {
    return static_cast<std::int32_t>(
        (static_cast<float>(at) / static_cast<float>(size) - 0.5f) * static_cast<float>(whole));
  };
  return {offset(x, overview.width, filter.width()), offset(y, overview.height, filter.height())};
}

namespace {

// Nearest-neighbour index into a source of sourceSize samples for index d
// of a destination of destSize samples; plain ratios when any side of the
// tile or cell is 1 or less.
std::int32_t nearestIndex(std::int32_t d, std::int32_t sourceSize, std::int32_t destSize,
                          bool plainRatio) {
  const double s = plainRatio ? double(d) * sourceSize / destSize
                              : double(d) * (sourceSize - 1) / (destSize - 1);
  return std::clamp(static_cast<std::int32_t>(s + 0.5), 0, sourceSize - 1);
}

// Tints a pixel towards red: the first channel to v / 2 + 127, the others
// to v / 2.
void tint(std::uint8_t* pixel) {
  pixel[0] = static_cast<std::uint8_t>(pixel[0] / 2 + 127);
  pixel[1] = static_cast<std::uint8_t>(pixel[1] / 2);
  pixel[2] = static_cast<std::uint8_t>(pixel[2] / 2);
}

// How host samples become the preview's bytes: the window keeps the
// encoded scale the engine works in, the overview maps the samples
// directly.
enum class Reduction { window, overview };

std::uint8_t byteFrom16(std::uint16_t v, Reduction kind) {
  if (kind == Reduction::window) return static_cast<std::uint8_t>(std::min(10 * std::int32_t{v} / 1285, 255));
  return static_cast<std::uint8_t>(std::min<std::int32_t>(v, 32768) * 255 / 32768);
}

std::uint8_t byteFrom32(float v, Reduction kind) {
  if (!(v > 0.0f)) v = 0.0f;  // NaN counts as 0
  if (v > 1.0f) v = 1.0f;
  if (kind == Reduction::overview) return static_cast<std::uint8_t>(v * 255.0f + 0.5f);
  const float scaled = encode(v) * (1.0f / 255.0f) * 255.0f;
  return static_cast<std::uint8_t>(std::min(scaled, 255.0f));
}

// Has the host deliver area (planes 0..planes-1) and samples it by nearest
// neighbour into a destWidth x destHeight block: put(x, y, channel, byte)
// receives three channels a pixel, a one-channel image giving the same byte
// to all three. False when the host refused (the result code is set) or
// delivered a tile too short for the area.
template <typename Put>
bool readSampled(const veltrane::Rect& area, std::int32_t planes, std::int32_t destWidth,
                 std::int32_t destHeight, Reduction kind, Put put) {
  if (requestInput(area, planes) != noErr) return false;
  const std::int32_t d = depth();
  const std::int32_t sampleBytes = d == 16 ? 2 : d == 32 ? 4 : 1;
  const std::int32_t tileWidth = area.width();
  const std::int32_t tileHeight = area.height();
  const auto* tile = static_cast<const std::uint8_t*>(inData());
  const std::ptrdiff_t rowBytes = inRowBytes();
  if (tile == nullptr || rowBytes < std::ptrdiff_t{tileWidth} * planes * sampleBytes) {
    setResult(badParameters);
    return false;
  }
  const bool plain = tileWidth <= 1 || tileHeight <= 1 || destWidth <= 1 || destHeight <= 1;
  for (std::int32_t y = 0; y < destHeight; ++y) {
    const std::uint8_t* row = tile + nearestIndex(y, tileHeight, destHeight, plain) * rowBytes;
    for (std::int32_t x = 0; x < destWidth; ++x) {
      const std::ptrdiff_t first = std::ptrdiff_t{nearestIndex(x, tileWidth, destWidth, plain)} * planes;
      for (std::int32_t p = 0; p < 3; ++p) {
        const std::ptrdiff_t at = first + (planes == 3 ? p : 0);
        std::uint8_t byte = 0;
        if (sampleBytes == 1) {
          byte = row[at];
        } else if (sampleBytes == 2) {
          std::uint16_t v = 0;
          std::memcpy(&v, row + at * 2, sizeof v);
          byte = byteFrom16(v, kind);
        } else {
          float v = 0.0f;
          std::memcpy(&v, row + at * 4, sizeof v);
          byte = byteFrom32(v, kind);
        }
        put(x, y, p, byte);
      }
    }
  }
  return true;
}

}  // namespace

// --- HostBlock ---

HostBlock::HostBlock(HostBlock&& other) noexcept
    : id_(std::exchange(other.id_, nullptr)), data_(std::exchange(other.data_, nullptr)) {}

HostBlock& HostBlock::operator=(HostBlock&& other) noexcept {
  if (this != &other) {
    release();
    id_ = std::exchange(other.id_, nullptr);
    data_ = std::exchange(other.data_, nullptr);
  }
  return *this;
}

bool HostBlock::allocate(std::int64_t size) noexcept {
  release();
  const HostServices& s = callContext().services;
  if (size <= 0 || !s.hasBufferSuite()) return false;
  HostBufferId id = nullptr;
  if (s.allocateBuffer(s.host, size, &id) != noErr || id == nullptr) return false;
  void* memory = s.lockBuffer(s.host, id, true);
  if (memory == nullptr) {
    s.freeBuffer(s.host, id);
    return false;
  }
  id_ = id;
  data_ = static_cast<std::uint8_t*>(memory);
  return true;
}

void HostBlock::release() noexcept {
  if (id_ == nullptr) return;
  const HostServices& s = callContext().services;
  if (s.hasBufferSuite()) {
    s.unlockBuffer(s.host, id_);
    s.freeBuffer(s.host, id_);
  }
  id_ = nullptr;
  data_ = nullptr;
}

// --- LivePreview ---

void LivePreview::releaseBuffers() noexcept {
  source_.release();
  result_.release();
}

void LivePreview::rebuild() {
  releaseBuffers();
  if (dialog_ == nullptr || currentResult() != noErr) return;
  const platform::Rect pane = dialog_->controlBounds(control::viewPane);
  ViewState& v = viewState();
  window_ = computePreviewWindow(getFilterRect(), pane.width, pane.height, v.zoomFactor,
                                 v.panOffsetH, v.panOffsetV);
  v.zoomFactor = window_.zoom;
  v.panOffsetH = window_.panH;
  v.panOffsetV = window_.panV;
  if (window_.viewWidth <= 0 || window_.viewHeight <= 0) return;
  if (!source_.allocate(planeSize() * 3) || !result_.allocate(planeSize() * 3)) {
    releaseBuffers();
    return;
  }
  if (!readWindow()) {
    releaseBuffers();
    return;
  }
  std::memcpy(result_.data(), source_.data(), static_cast<std::size_t>(planeSize() * 3));
  rebuildOverview();
}

// Reads the filter rectangle in a 4 x 4 grid of tiles and reduces each to
// its cell of the overview. The overview depends only on the image and the
// pane's size, so it is read again only when that size changed.
void LivePreview::rebuildOverview() {
  if (dialog_ == nullptr || currentResult() != noErr) return;
  const veltrane::Rect filter = getFilterRect();
  const platform::Rect pane = dialog_->controlBounds(control::overviewPane);
  const platform::Size size = overviewSize(filter.width(), filter.height(), pane.width, pane.height);
  if (overview_.held() && size == overviewSize_) return;
  overview_.release();
  overviewSize_ = {};
  if (size.width <= 0 || size.height <= 0) return;
  if (!overview_.allocate(std::int64_t{size.width} * size.height * 3)) return;

  const auto cuts = [](std::int32_t n) {
    return std::array<std::int32_t, 5>{0, n / 4, n / 2, 3 * n / 4, n};
  };
  const std::array<std::int32_t, 5> sx = cuts(filter.width());
  const std::array<std::int32_t, 5> sy = cuts(filter.height());
  const std::array<std::int32_t, 5> dx = cuts(size.width);
  const std::array<std::int32_t, 5> dy = cuts(size.height);
  const std::int32_t planes = checkPlanes();
  for (std::size_t j = 0; j < 4; ++j) {
    for (std::size_t i = 0; i < 4; ++i) {
      const std::int32_t cellW = dx[i + 1] - dx[i];
      const std::int32_t cellH = dy[j + 1] - dy[j];
      const veltrane::Rect tile{filter.top + sy[j], filter.left + sx[i], filter.top + sy[j + 1],
                                filter.left + sx[i + 1]};
      if (cellW <= 0 || cellH <= 0 || tile.empty()) continue;
      std::uint8_t* cell = overview_.data() + (std::int64_t{dy[j]} * size.width + dx[i]) * 3;
      const auto put = [&](std::int32_t x, std::int32_t y, std::int32_t p, std::uint8_t byte) {
        cell[(std::int64_t{y} * size.width + x) * 3 + p] = byte;
      };
      if (!readSampled(tile, planes, cellW, cellH, Reduction::overview, put)) {
        overview_.release();
        return;
      }
    }
  }
  overviewSize_ = size;
}

// Reads the window from the host as 8-bit samples into the three planes of
// the source; a one-channel image fills all three.
bool LivePreview::readWindow() {
  const std::int64_t plane = planeSize();
  const std::int32_t w = window_.viewWidth;
  std::uint8_t* planes = source_.data();
  return readSampled(window_.window, planesToRequest(), w, window_.viewHeight, Reduction::window,
                     [&](std::int32_t x, std::int32_t y, std::int32_t p, std::uint8_t byte) {
                       planes[p * plane + std::int64_t{y} * w + x] = byte;
                     });
}

ResultCode LivePreview::runEngine() {
  if (!result_.held() || !source_.held()) return noErr;
  const std::int32_t w = window_.viewWidth;
  InterleavedByteBuffer src;
  src.makeInterleaved(w, w, planeSize() * 3, source_.data());
  HostBlock dst;
  if (src.error != noErr || !dst.allocate(planeSize() * 3)) {
    src.releaseInterleaved();
    return outOfMemory;
  }
  ++engineRuns_;
  const ResultCode code = previewFilter(engine_, w, window_.viewHeight, window_.window, src.data,
                                        std::ptrdiff_t{w} * 3, dst.data(), std::ptrdiff_t{w} * 3);
  src.releaseInterleaved();
  if (code != noErr) return code;
  const std::int64_t plane = planeSize();
  std::uint8_t* red = result_.data();
  std::uint8_t* green = red + plane;
  std::uint8_t* blue = green + plane;
  const std::uint8_t* processed = dst.data();
  for (std::int64_t i = 0; i < plane; ++i, processed += 3) {
    red[i] = processed[0];
    green[i] = processed[1];
    blue[i] = processed[2];
  }
  return noErr;
}

void LivePreview::updatePreview(bool recompute) {
  live_ = true;
  if (hostapi::FilterRecord* r = filterRecord()) r->inputRate = hostapi::fixedOne;
  if (currentResult() != noErr) return;
  if (recompute && !showOriginal_ && source_.held() && runEngine() != noErr) return;
  if (dialog_ != nullptr) {
    dialog_->invalidate(control::viewPane, false);
    dialog_->invalidate(control::overviewPane, false);
  }
}

void LivePreview::onOpen(platform::DialogWindow& window) {
  if (!selectionHandler_) selectionHandler_ = [](const veltrane::Rect&, std::int32_t) {};
  dialog_ = &window;
  live_ = false;
  selectionMode_ = selectionOff;
  initialViewPane_ = window.controlBounds(control::viewPane);
  initialOverviewPane_ = window.controlBounds(control::overviewPane);
  const platform::Size client = window.clientSize();
  rightMargin_ = client.width - (initialViewPane_.left + initialViewPane_.width);
  bottomMargin_ = client.height - (initialViewPane_.top + initialViewPane_.height);
  showOriginal_ = window.isChecked(control::showOriginal);
  rebuild();
}

void LivePreview::onClose() {
  releaseBuffers();
  overview_.release();
  overviewSize_ = {};
  draggingView_ = false;
  draggingOverview_ = false;
  selectionMode_ = selectionOff;
  dialog_ = nullptr;
}

void LivePreview::onCommand(std::int32_t id) {
  if (dialog_ == nullptr) return;
  switch (id) {
    case control::showOriginal:
      showOriginal_ = dialog_->isChecked(id);
      updatePreview(!showOriginal_);
      return;
    case control::zoom100:
    case control::zoom200:
    case control::zoom400:
      viewState().zoomFactor = id == control::zoom100 ? 1 : id == control::zoom200 ? 2 : 4;
      rebuild();
      updatePreview(true);
      return;
    case control::selectNoise:
      setSelectionMode(selectionArmed);
      return;
    default:
      return;
  }
}

void LivePreview::setSelectionMode(std::int32_t mode) {
  selectionMode_ = mode;
  if (dialog_ != nullptr)
    dialog_->setCursor(mode == selectionOff ? platform::CursorShape::arrow : platform::CursorShape::crossHair);
}

bool LivePreview::imagePointAt(std::int32_t x, std::int32_t y, std::int32_t& imageX,
                               std::int32_t& imageY) const {
  if (dialog_ == nullptr || window_.viewWidth <= 0 || window_.viewHeight <= 0) return false;
  const std::int32_t n = std::max(1, window_.zoom);
  const platform::Rect block = centredIn(dialog_->controlBounds(control::viewPane),
                                         2 * n * window_.viewWidth, n * window_.viewHeight);
  const auto cell = [n](std::int32_t offset) {
    return offset >= 0 ? offset / n : -((n - 1 - offset) / n);  // rounds towards minus infinity
  };
  std::int32_t column = cell(x - block.left);
  if (column >= window_.viewWidth) column -= window_.viewWidth;  // the processed half
  imageX = window_.window.left + column;
  imageY = window_.window.top + cell(y - block.top);
  return block.contains(x, y);
}

// The second corner of a manual selection: corners that share a coordinate
// are moved one pixel apart outwards, both are kept inside the filter
// rectangle, and the handler gets the rectangle they span.
bool LivePreview::finishSelection(const platform::MouseEvent& event) {
  std::int32_t x1 = firstCornerX_;
  std::int32_t y1 = firstCornerY_;
  std::int32_t x2 = 0;
  std::int32_t y2 = 0;
  imagePointAt(event.x, event.y, x2, y2);
  const auto spread = [](std::int32_t& a, std::int32_t& b) {
    if (a != b) return;
    --a;
    ++b;
  };
  spread(x1, x2);
  spread(y1, y2);
  const veltrane::Rect filter = getFilterRect();
  const auto inside = [](std::int32_t v, std::int32_t low, std::int32_t high) {
    return std::clamp(v, low, std::max(low, high - 1));
  };
  x1 = inside(x1, filter.left, filter.right);
  x2 = inside(x2, filter.left, filter.right);
  y1 = inside(y1, filter.top, filter.bottom);
  y2 = inside(y2, filter.top, filter.bottom);
  const veltrane::Rect selected{std::min(y1, y2), std::min(x1, x2), std::max(y1, y2) + 1,
                                std::max(x1, x2) + 1};
  const std::int32_t mode = selectionMode_;
  selectionMode_ = selectionArmed;
  if (selectionHandler_) selectionHandler_(selected, mode);
  return true;
}

// Moves the window by (dx, dy) image pixels. The processed pixels that stay
// inside the window move with it; the rest of the processed half shows the
// newly read unprocessed pixels until the engine runs again.
void LivePreview::shiftWindow(std::int32_t dx, std::int32_t dy) {
  if (dx == 0 && dy == 0) return;
  ViewState& v = viewState();
  if (dialog_ == nullptr || !source_.held() || !result_.held()) {
    v.panOffsetH += dx;
    v.panOffsetV += dy;
    rebuild();
    return;
  }
  const PreviewWindow old = window_;
  const platform::Rect pane = dialog_->controlBounds(control::viewPane);
  const PreviewWindow next = computePreviewWindow(getFilterRect(), pane.width, pane.height, old.zoom,
                                                  old.panH + dx, old.panV + dy);
  if (next.viewWidth != old.viewWidth || next.viewHeight != old.viewHeight || next.zoom != old.zoom) {
    v.panOffsetH += dx;
    v.panOffsetV += dy;
    rebuild();
    return;
  }
  if (next.window == old.window) return;
  HostBlock moved;
  if (!moved.allocate(planeSize() * 3)) return;  // the window stays where it was
  window_ = next;
  v.panOffsetH = next.panH;
  v.panOffsetV = next.panV;
  if (!readWindow()) {
    releaseBuffers();
    return;
  }
  const std::int32_t w = next.viewWidth;
  const std::int64_t plane = planeSize();
  // The columns of the new window that the old one covered: [x0, x1).
  const std::int32_t x0 = std::clamp(old.window.left - next.window.left, 0, w);
  const std::int32_t x1 = std::clamp(old.window.right - next.window.left, 0, w);
  const std::int32_t shiftX = next.window.left - old.window.left;
  for (std::int32_t p = 0; p < 3; ++p) {
    for (std::int32_t y = 0; y < next.viewHeight; ++y) {
      const std::int64_t at = p * plane + std::int64_t{y} * w;
      std::uint8_t* out = moved.data() + at;
      std::memcpy(out, source_.data() + at, static_cast<std::size_t>(w));
      const std::int32_t oldY = y + next.window.top - old.window.top;
      if (oldY < 0 || oldY >= old.viewHeight || x1 <= x0) continue;
      const std::uint8_t* in = result_.data() + p * plane + std::int64_t{oldY} * w + x0 + shiftX;
      std::memcpy(out + x0, in, static_cast<std::size_t>(x1 - x0));
    }
  }
  result_ = std::move(moved);
}

void LivePreview::onMouseDown(const platform::MouseEvent& event) {
  const bool left = event.button == platform::MouseButton::left;
  if (left && selectionMode_ != selectionOff) {
    // Armed: a press on the view pane's picture starts a selection, any
    // other press ends the mode.
    std::int32_t x = 0;
    std::int32_t y = 0;
    if (event.pane == control::viewPane && imagePointAt(event.x, event.y, x, y)) {
      firstCornerX_ = x;
      firstCornerY_ = y;
      selectionMode_ = selectionDragging;
    } else {
      setSelectionMode(selectionOff);
    }
    updatePreview(false);
    return;
  }
  const bool dragButton = left || event.button == platform::MouseButton::right;
  if (event.pane == control::viewPane && dragButton) {
    draggingView_ = true;
    lastX_ = event.x;
    lastY_ = event.y;
    if (dialog_ != nullptr) dialog_->setFocus(control::viewPane);
  } else if (event.pane == control::overviewPane && dragButton && dialog_ != nullptr) {
    draggingOverview_ = true;
    dialog_->setFocus(control::overviewPane);
    const platform::Rect placed = overviewPlacement();
    const std::int32_t x = event.x - placed.left;
    const std::int32_t y = event.y - placed.top;
    if (overviewSize_.width > 0 &&
        !overviewFrame(getFilterRect(), window_.window, overviewSize_).contains(x, y)) {
      const PanOffsets centred = panCentredOn(getFilterRect(), overviewSize_, x, y);
      viewState().panOffsetH = centred.h;
      viewState().panOffsetV = centred.v;
      rebuild();
      updatePreview(true);
    }
    overviewStartX_ = event.x;
    overviewStartY_ = event.y;
    overviewStartPan_ = {viewState().panOffsetH, viewState().panOffsetV};
  }
  if (event.button == platform::MouseButton::left) updatePreview(false);
}

// Moves the window by the mouse's travel since the overview drag began,
// scaled from overview to image pixels, so the frame follows the pointer.
void LivePreview::moveWithOverview(std::int32_t x, std::int32_t y) {
  if (overviewSize_.width <= 0 || overviewSize_.height <= 0) return;
  const veltrane::Rect filter = getFilterRect();
  const auto scaled = [](std::int32_t travel, std::int32_t whole, std::int32_t size) {
    return static_cast<std::int32_t>(static_cast<float>(whole) / static_cast<float>(size) *
                                     static_cast<float>(travel));
  };
  const std::int32_t targetH =
      overviewStartPan_.h + scaled(x - overviewStartX_, filter.width(), overviewSize_.width);
  const std::int32_t targetV =
      overviewStartPan_.v + scaled(y - overviewStartY_, filter.height(), overviewSize_.height);
  shiftWindow(targetH - viewState().panOffsetH, targetV - viewState().panOffsetV);
}

void LivePreview::onMouseMove(const platform::MouseEvent& event) {
  if (draggingOverview_) {
    moveWithOverview(event.x, event.y);
    updatePreview(false);
    return;
  }
  if (!draggingView_) return;
  const std::int32_t n = std::max(1, window_.zoom);
  const std::int32_t dx = (lastX_ - event.x) / n;
  const std::int32_t dy = (lastY_ - event.y) / n;
  if (dx == 0 && dy == 0) return;
  lastX_ -= dx * n;
  lastY_ -= dy * n;
  shiftWindow(dx, dy);
  updatePreview(false);
}

bool LivePreview::onMouseUp(const platform::MouseEvent& event) {
  if (selectionMode_ == selectionDragging && event.button == platform::MouseButton::left)
    return finishSelection(event);
  if (draggingOverview_) {
    moveWithOverview(event.x, event.y);
    draggingOverview_ = false;
    updatePreview(true);
    return false;
  }
  if (!draggingView_) return false;
  onMouseMove(event);
  draggingView_ = false;
  updatePreview(true);
  return false;
}

void LivePreview::onMouseWheel(const platform::MouseEvent& event, std::int32_t delta) {
  if (event.pane != control::viewPane && event.pane != control::overviewPane) return;
  if (delta / wheelNotch == 0) return;
  viewState().zoomFactor = zoomAfterWheel(viewState().zoomFactor, delta);
  rebuild();
  updatePreview(true);
}

void LivePreview::onMouseLeave() {
  if (draggingView_ || draggingOverview_) updatePreview(true);
  draggingView_ = false;
  draggingOverview_ = false;
}

void LivePreview::onCaptureLost() {
  draggingView_ = false;
  draggingOverview_ = false;
}

void LivePreview::onSizeChanged() {
  if (dialog_ == nullptr) return;
  const platform::Size client = dialog_->clientSize();
  platform::Rect view = dialog_->controlBounds(control::viewPane);
  view.width = std::max(1, client.width - rightMargin_ - view.left);
  view.height = std::max(1, client.height - bottomMargin_ - view.top);
  dialog_->setControlBounds(control::viewPane, view);
  platform::Rect overview = dialog_->controlBounds(control::overviewPane);
  overview.width = std::max(1, client.width - rightMargin_ - overview.left);
  dialog_->setControlBounds(control::overviewPane, overview);
  dialog_->invalidate(control::viewPane, true);
  dialog_->invalidate(control::overviewPane, true);
  rebuild();
  if (live_) updatePreview(true);
}

void LivePreview::onPaint(std::int32_t paneId, platform::Canvas& canvas) {
  if (dialog_ == nullptr || currentResult() != noErr) return;
  if (paneId == control::viewPane) paintView(canvas);
  if (paneId == control::overviewPane) paintOverview(canvas);
  canvas.drawSizeGrip();
}

platform::Rect LivePreview::overviewPlacement() const {
  if (dialog_ == nullptr) return {};
  return centredIn(dialog_->controlBounds(control::overviewPane), overviewSize_.width,
                   overviewSize_.height);
}

// Copies the overview, tints the frame that marks the window (3-pixel bands
// inside its edges, or all of it when it is too small for bands) and shows it.
void LivePreview::paintOverview(platform::Canvas& canvas) {
  if (!overview_.held()) return;
  const std::int32_t ow = overviewSize_.width;
  const std::int32_t oh = overviewSize_.height;
  overviewShown_.assign(overview_.data(), overview_.data() + std::int64_t{ow} * oh * 3);
  const platform::Rect f = overviewFrame(getFilterRect(), window_.window, overviewSize_);
  constexpr std::int32_t band = 3;
  const bool bands = f.width > 6 && f.height > 6;
  for (std::int32_t y = f.top; y < f.top + f.height; ++y) {
    for (std::int32_t x = f.left; x < f.left + f.width; ++x) {
      const bool edge = x < f.left + band || x >= f.left + f.width - band || y < f.top + band ||
                        y >= f.top + f.height - band;
      if (!bands || edge) tint(overviewShown_.data() + (std::int64_t{y} * ow + x) * 3);
    }
  }
  showBlock(canvas, dialog_->controlBounds(control::overviewPane), overviewPlacement(),
            overviewShown_.data());
}

// Fills the pane around the block with the face colour and has the host
// show the block (3 bytes a pixel); the toolkit draws it when the host cannot.
void LivePreview::showBlock(platform::Canvas& canvas, const platform::Rect& pane,
                            const platform::Rect& block, std::uint8_t* pixels) {
  const std::int32_t bw = block.width;
  const std::int32_t bh = block.height;
  const std::int32_t paneBottom = pane.top + pane.height;
  const std::int32_t blockBottom = block.top + bh;
  if (block.top > pane.top) canvas.fillFace({pane.left, pane.top, pane.width, block.top - pane.top});
  if (paneBottom > blockBottom) canvas.fillFace({pane.left, blockBottom, pane.width, paneBottom - blockBottom});
  if (block.left > pane.left) canvas.fillFace({pane.left, block.top, block.left - pane.left, bh});
  const std::int32_t blockRight = block.left + bw;
  if (pane.left + pane.width > blockRight)
    canvas.fillFace({blockRight, block.top, pane.left + pane.width - blockRight, bh});

  hostapi::FilterRecord* r = filterRecord();
  bool shown = false;
  if (r != nullptr && r->displayPixels != nullptr) {
    hostapi::PSPixelMap map{};
    map.version = 1;
    map.bounds = hostapi::VRect{0, 0, bh, bw};
    map.imageMode = planesToRequest() == 3 ? eightBitMode(callContext().imageMode) : rgbMode;
    map.rowBytes = bw * 3;
    map.colBytes = 3;
    map.planeBytes = 1;
    map.baseAddr = pixels;
    const hostapi::VRect all{0, 0, bh, bw};
    shown = r->displayPixels(&map, &all, block.top, block.left, canvas.displayContext()) == noErr;
  }
  if (!shown) canvas.drawImage(block.left, block.top, platform::PixelView{pixels, bw, bh, 3, bw * 3});
}

// Builds the side-by-side block, each window pixel an n x n square, and
// shows it.
void LivePreview::paintView(platform::Canvas& canvas) {
  if (!result_.held()) return;
  const std::int32_t n = window_.zoom;
  const std::int32_t vw = window_.viewWidth;
  const std::int32_t vh = window_.viewHeight;
  const std::int32_t bw = 2 * n * vw;
  const std::int32_t bh = n * vh;
  const std::int64_t plane = planeSize();
  // While dragging, the processed half shows the processed pixels that
  // stayed in the window and the unprocessed ones that came into it.
  const std::uint8_t* right = showOriginal_ ? source_.data() : result_.data();
  // Every byte is written below: resizing keeps the block's memory from one
  // paint to the next without clearing it.
  const std::size_t blockRowBytes = static_cast<std::size_t>(bw) * 3;
  viewBlock_.resize(blockRowBytes * static_cast<std::size_t>(bh));
  for (std::int32_t wy = 0; wy < vh; ++wy) {
    std::uint8_t* first =
        viewBlock_.data() + static_cast<std::size_t>(wy) * static_cast<std::size_t>(n) * blockRowBytes;
    std::uint8_t* out = first;
    for (const std::uint8_t* half : {static_cast<const std::uint8_t*>(source_.data()), right}) {
      const std::uint8_t* red = half + std::int64_t{wy} * vw;
      const std::uint8_t* green = red + plane;
      const std::uint8_t* blue = green + plane;
      for (std::int32_t wx = 0; wx < vw; ++wx) {
        for (std::int32_t k = 0; k < n; ++k, out += 3) {
          out[0] = red[wx];
          out[1] = green[wx];
          out[2] = blue[wx];
        }
      }
    }
    // The other rows of the n x n squares repeat the first.
    for (std::int32_t k = 1; k < n; ++k)
      std::memcpy(first + static_cast<std::size_t>(k) * blockRowBytes, first, blockRowBytes);
  }

  // The window holds encoded samples; a 32-bit document shows them decoded.
  if (depth() == 32) {
    std::array<std::uint8_t, 256> shown{};
    const float* table = decodeLUT();
    for (std::size_t v = 0; v < shown.size(); ++v) {
      const auto i = static_cast<int>(16 * v);
      shown[v] = static_cast<std::uint8_t>(255.0f * (table != nullptr ? table[i] : decodeCurve(i)));
    }
    for (std::uint8_t& byte : viewBlock_) byte = shown[byte];
  }
  const platform::Rect pane = dialog_->controlBounds(control::viewPane);
  showBlock(canvas, pane, centredIn(pane, bw, bh), viewBlock_.data());
}

}  // namespace veltrane::ui

#include "ui/preview.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "hostapi/filter_record.h"
#include "image/interleaved_byte_buffer.h"
#include "shell/host_call.h"
#include "shell/view_state.h"
#include "ui/dialog_template.h"

namespace veltrane::ui {

namespace {

constexpr std::int32_t minimumSide = 24;
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
    if ((w.viewWidth > minimumSide && w.viewHeight > minimumSide) || w.zoom == 1) break;
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
}

// Reads the window from the host as 8-bit samples into the three planes of
// the source; a one-channel image fills all three.
bool LivePreview::readWindow() {
  const veltrane::Rect& w = window_.window;
  const std::int32_t planes = planesToRequest();
  uint8ImageProxyFromAdvanceState proxy;
  proxy.init(static_cast<std::int16_t>(planes), w.top, w.left, w.bottom, w.right);
  if (proxy.error != noErr || proxy.data == nullptr) {
    setResult(proxy.error != noErr ? proxy.error : badParameters);
    proxy.release();
    return false;
  }
  const std::int64_t plane = planeSize();
  for (std::int32_t y = 0; y < window_.viewHeight; ++y) {
    const std::uint8_t* row = proxy.data + static_cast<std::ptrdiff_t>(y) * proxy.rowStride;
    for (std::int32_t x = 0; x < window_.viewWidth; ++x) {
      const std::int64_t at = std::int64_t{y} * window_.viewWidth + x;
      for (std::int32_t p = 0; p < 3; ++p)
        source_.data()[p * plane + at] = row[std::ptrdiff_t{x} * planes + (planes == 3 ? p : 0)];
    }
  }
  proxy.release();
  return true;
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
  for (std::int64_t i = 0; i < plane; ++i)
    for (std::int32_t p = 0; p < 3; ++p) result_.data()[p * plane + i] = dst.data()[i * 3 + p];
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
  dialog_ = &window;
  live_ = false;
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
  draggingView_ = false;
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
    default:
      return;
  }
}

// Moves the window; the processed half shows the unprocessed pixels until
// the engine runs again.
void LivePreview::shiftWindow(std::int32_t dx, std::int32_t dy) {
  if (dx == 0 && dy == 0) return;
  viewState().panOffsetH += dx;
  viewState().panOffsetV += dy;
  rebuild();
}

void LivePreview::onMouseDown(const platform::MouseEvent& event) {
  if (event.pane == control::viewPane &&
      (event.button == platform::MouseButton::left || event.button == platform::MouseButton::right)) {
    draggingView_ = true;
    lastX_ = event.x;
    lastY_ = event.y;
    if (dialog_ != nullptr) dialog_->setFocus(control::viewPane);
  }
  if (event.button == platform::MouseButton::left) updatePreview(false);
}

void LivePreview::onMouseMove(const platform::MouseEvent& event) {
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

void LivePreview::onMouseUp(const platform::MouseEvent& event) {
  if (!draggingView_) return;
  onMouseMove(event);
  draggingView_ = false;
  updatePreview(true);
}

void LivePreview::onMouseWheel(const platform::MouseEvent& event, std::int32_t delta) {
  if (event.pane != control::viewPane && event.pane != control::overviewPane) return;
  if (delta / wheelNotch == 0) return;
  viewState().zoomFactor = zoomAfterWheel(viewState().zoomFactor, delta);
  rebuild();
  updatePreview(true);
}

void LivePreview::onMouseLeave() {
  if (draggingView_) updatePreview(true);
  draggingView_ = false;
}

void LivePreview::onCaptureLost() { draggingView_ = false; }

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
  if (paneId == control::viewPane && dialog_ != nullptr && currentResult() == noErr) paintView(canvas);
}

// Builds the side-by-side block, each window pixel an n x n square, and has
// the host show it; the toolkit draws it when the host cannot.
void LivePreview::paintView(platform::Canvas& canvas) {
  if (!result_.held()) return;
  const std::int32_t n = window_.zoom;
  const std::int32_t vw = window_.viewWidth;
  const std::int32_t vh = window_.viewHeight;
  const std::int32_t bw = 2 * n * vw;
  const std::int32_t bh = n * vh;
  const std::int64_t plane = planeSize();
  const std::uint8_t* right = (showOriginal_ || draggingView_) ? source_.data() : result_.data();
  viewBlock_.assign(static_cast<std::size_t>(std::int64_t{bw} * bh * 3), 0);
  for (std::int32_t y = 0; y < bh; ++y) {
    const std::int64_t srcRow = std::int64_t{y / n} * vw;
    std::uint8_t* out = viewBlock_.data() + static_cast<std::ptrdiff_t>(y) * bw * 3;
    for (std::int32_t x = 0; x < bw; ++x, out += 3) {
      const std::int32_t wx = x / n;
      const std::uint8_t* planes = wx < vw ? source_.data() : right;
      const std::int64_t at = srcRow + (wx < vw ? wx : wx - vw);
      for (std::int32_t p = 0; p < 3; ++p) out[p] = planes[p * plane + at];
    }
  }

  const platform::Rect pane = dialog_->controlBounds(control::viewPane);
  const platform::Rect block = centredIn(pane, bw, bh);
  // The face colour around the block.
  const std::int32_t paneBottom = pane.top + pane.height;
  const std::int32_t blockBottom = block.top + block.height;
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
    map.baseAddr = viewBlock_.data();
    const hostapi::VRect all{0, 0, bh, bw};
    shown = r->displayPixels(&map, &all, block.top, block.left, nullptr) == noErr;
  }
  if (!shown) canvas.drawImage(block.left, block.top, platform::PixelView{viewBlock_.data(), bw, bh, 3, bw * 3});
}

}  // namespace veltrane::ui

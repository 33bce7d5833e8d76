#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "framework/driver.h"
#include "image/region.h"
#include "platform/widgets.h"
#include "shell/call_context.h"
#include "ui/dialog.h"

namespace veltrane::ui {

// Which part of the filter rectangle the view pane shows.
struct PreviewWindow {
  std::int32_t zoom = 1;  // the factor actually used (may fall back)
  std::int32_t viewWidth = 0;
  std::int32_t viewHeight = 0;
  std::int32_t panH = 0;  // pan offsets after keeping the window inside
  std::int32_t panV = 0;
  veltrane::Rect window;  // document coordinates
};

// The window for a pane of paneWidth x paneHeight pixels at the given zoom
// (brought into 1..4) and pan offsets. The window is centred on the filter
// rectangle, shifted by the offsets and kept inside the rectangle; the
// offsets are corrected accordingly. While the engine would refuse the window
// as too small (tooSmallToFilter) the zoom drops by one step (4, 3, 2, 1).
PreviewWindow computePreviewWindow(const veltrane::Rect& filter, std::int32_t paneWidth,
                                   std::int32_t paneHeight, std::int32_t zoom, std::int32_t panH,
                                   std::int32_t panV);

// The zoom after a wheel turn of delta (120 per notch, positive zooms in):
// whole notches only, 3 skipped in the direction of travel, held in 1..4.
std::int32_t zoomAfterWheel(std::int32_t zoom, std::int32_t delta);

// A width x height block centred in area.
platform::Rect centredIn(const platform::Rect& area, std::int32_t width, std::int32_t height);

// The size of the overview of an areaWidth x areaHeight filter rectangle in
// a pane of paneWidth x paneHeight pixels: 1:1 when the area fits, else
// scaled to fit with the aspect ratio kept (never below 1 x 1).
platform::Size overviewSize(std::int32_t areaWidth, std::int32_t areaHeight, std::int32_t paneWidth,
                            std::int32_t paneHeight);

// The frame marking the window on an overview of the filter rectangle,
// relative to the overview's top-left corner and kept inside it.
platform::Rect overviewFrame(const veltrane::Rect& filter, const veltrane::Rect& window,
                             platform::Size overview);

// The pan offsets that centre the window on the point (x, y) of the
// overview, relative to its top-left corner (before keeping it inside).
struct PanOffsets {
  std::int32_t h = 0;
  std::int32_t v = 0;
};
PanOffsets panCentredOn(const veltrane::Rect& filter, platform::Size overview, std::int32_t x,
                        std::int32_t y);

// A block of host buffer memory, locked for its lifetime.
class HostBlock {
 public:
  HostBlock() = default;
  ~HostBlock() { release(); }
  HostBlock(const HostBlock&) = delete;
  HostBlock& operator=(const HostBlock&) = delete;
  HostBlock(HostBlock&& other) noexcept;
  HostBlock& operator=(HostBlock&& other) noexcept;

  // Replaces the held block by a new one of size bytes; false (and nothing
  // held) when the host cannot give it.
  bool allocate(std::int64_t size) noexcept;
  void release() noexcept;
  std::uint8_t* data() const noexcept { return data_; }
  bool held() const noexcept { return data_ != nullptr; }

 private:
  HostBufferId id_ = nullptr;
  std::uint8_t* data_ = nullptr;
};

// The live preview behind the filter dialog: the view pane shows the window
// unprocessed on the left and processed on the right, magnified by the zoom;
// the overview pane shows the whole filter rectangle with a frame marking the
// window, and clicking or dragging in it moves the window. A pan keeps the
// processed pixels that stay visible. The zoom and pan offsets live in
// viewState().
class LivePreview final : public PreviewSink {
 public:
  explicit LivePreview(const PieceEngine& engine) : engine_(engine) {}

  // Without a handler (none was installed before the dialog opened) a
  // selection does nothing.
  void setSelectionHandler(SelectionHandler handler) override { selectionHandler_ = std::move(handler); }
  // 0: none; 5: armed by Select noise manually; 6: a rectangle is being dragged.
  static constexpr std::int32_t selectionOff = 0;
  static constexpr std::int32_t selectionArmed = 5;
  static constexpr std::int32_t selectionDragging = 6;
  std::int32_t selectionMode() const noexcept { return selectionMode_; }

  void updatePreview(bool recompute) override;
  void onOpen(platform::DialogWindow& window) override;
  void onClose() override;
  void onCommand(std::int32_t id) override;
  void clearShowOriginal() override { showOriginal_ = false; }
  void onMouseDown(const platform::MouseEvent& event) override;
  void onMouseMove(const platform::MouseEvent& event) override;
  bool onMouseUp(const platform::MouseEvent& event) override;
  void onMouseWheel(const platform::MouseEvent& event, std::int32_t delta) override;
  void onMouseLeave() override;
  void onCaptureLost() override;
  void onSizeChanged() override;
  void onPaint(std::int32_t paneId, platform::Canvas& canvas) override;

  // Processes the window into the result planes: noErr, outOfMemory when the host
  // gives no buffer (the last result stays), or the engine's code.
  ResultCode runEngine();

  const PreviewWindow& window() const noexcept { return window_; }
  bool showingOriginal() const noexcept { return showOriginal_; }
  int engineRuns() const noexcept { return engineRuns_; }
  // The view pane's block as last painted: interleaved RGB rows.
  const std::vector<std::uint8_t>& lastViewBlock() const noexcept { return viewBlock_; }
  // The overview with its frame as last painted: interleaved RGB rows.
  const std::vector<std::uint8_t>& lastOverview() const noexcept { return overviewShown_; }
  platform::Size overviewImageSize() const noexcept { return overviewSize_; }
  // Where the overview image lies in the dialog (client coordinates).
  platform::Rect overviewPlacement() const;

 private:
  void rebuild();
  bool readWindow();
  void releaseBuffers() noexcept;
  void shiftWindow(std::int32_t dx, std::int32_t dy);
  void rebuildOverview();
  void paintView(platform::Canvas& canvas);
  void paintOverview(platform::Canvas& canvas);
  void showBlock(platform::Canvas& canvas, const platform::Rect& pane, const platform::Rect& block,
                 std::uint8_t* pixels);
  void moveWithOverview(std::int32_t x, std::int32_t y);
  void setSelectionMode(std::int32_t mode);
  // The image pixel shown at a client point of the view pane's block (either
  // half); false when the point lies outside the block. The pixel is
  // extrapolated from the block's grid either way.
  bool imagePointAt(std::int32_t x, std::int32_t y, std::int32_t& imageX, std::int32_t& imageY) const;
  bool finishSelection(const platform::MouseEvent& event);
  std::int64_t planeSize() const noexcept {
    return std::int64_t{window_.viewWidth} * window_.viewHeight;
  }

  const PieceEngine& engine_;
  platform::DialogWindow* dialog_ = nullptr;
  PreviewWindow window_;
  HostBlock source_;  // three planes of viewWidth x viewHeight bytes
  HostBlock result_;  // the processed window, same layout
  HostBlock overview_;  // the filter rectangle at overview size, 3 bytes a pixel
  platform::Size overviewSize_;
  std::vector<std::uint8_t> viewBlock_;
  std::vector<std::uint8_t> overviewShown_;
  platform::Rect initialViewPane_;
  platform::Rect initialOverviewPane_;
  std::int32_t rightMargin_ = 0;
  std::int32_t bottomMargin_ = 0;
  std::int32_t lastX_ = 0;
  std::int32_t lastY_ = 0;
  int engineRuns_ = 0;
  bool showOriginal_ = false;
  bool draggingView_ = false;
  bool draggingOverview_ = false;
  // An overview drag: where it started and the pan offsets then.
  std::int32_t overviewStartX_ = 0;
  std::int32_t overviewStartY_ = 0;
  PanOffsets overviewStartPan_;
  bool live_ = false;
  std::int32_t selectionMode_ = selectionOff;
  std::int32_t firstCornerX_ = 0;
  std::int32_t firstCornerY_ = 0;
  SelectionHandler selectionHandler_;
};

}  // namespace veltrane::ui

// The live preview: the window arithmetic, and the preview driven through the
// headless dialog over the in-memory host.
#include <gtest/gtest.h>

#include <cstring>

#include "../driver/sim_session.h"
#include "shell/parameters.h"
#include "shell/view_state.h"
#include "ui/dialog_template.h"
#include "ui/headless_widgets.h"
#include "ui/preview.h"

namespace veltrane::ui {
namespace {

TEST(PreviewWindow, SmallImageIsShownWholeAndCannotPan) {
  const veltrane::Rect filter{0, 0, 60, 80};
  const PreviewWindow w = computePreviewWindow(filter, 800, 600, 1, 35, -12);
  EXPECT_EQ(w.zoom, 1);
  EXPECT_EQ(w.viewWidth, 80);
  EXPECT_EQ(w.viewHeight, 60);
  EXPECT_EQ(w.panH, 0);
  EXPECT_EQ(w.panV, 0);
  EXPECT_EQ(w.window, filter);
}

TEST(PreviewWindow, ZoomFallsBackUntilTheWindowExceedsTheMinimum) {
  const veltrane::Rect filter{0, 0, 1000, 1000};
  // Width limit ((400 / 2) / 4 * 8 / n) / 2: 50 at n = 4.
  EXPECT_EQ(computePreviewWindow(filter, 400, 200, 4, 0, 0).zoom, 4);
  EXPECT_EQ(computePreviewWindow(filter, 400, 90, 4, 0, 0).zoom, 3);  // 22 -> 30
  EXPECT_EQ(computePreviewWindow(filter, 400, 60, 4, 0, 0).zoom, 2);  // 15, 20 -> 30
  const PreviewWindow w = computePreviewWindow(filter, 400, 40, 4, 0, 0);
  EXPECT_EQ(w.zoom, 1);
  EXPECT_EQ(w.viewHeight, 40);
  EXPECT_EQ(w.viewWidth, 200);
  // Out-of-range factors are brought into 1..4 first.
  EXPECT_EQ(computePreviewWindow(filter, 400, 200, 9, 0, 0).zoom, 4);
  EXPECT_EQ(computePreviewWindow(filter, 400, 200, -2, 0, 0).zoom, 1);
}

TEST(PreviewWindow, WheelStepsOneTwoFourNeverThree) {
  std::int32_t z = 1;
  const std::int32_t up[] = {2, 4, 4};
  for (std::int32_t expected : up) EXPECT_EQ(z = zoomAfterWheel(z, 120), expected);
  const std::int32_t down[] = {2, 1, 1};
  for (std::int32_t expected : down) EXPECT_EQ(z = zoomAfterWheel(z, -120), expected);
  EXPECT_EQ(zoomAfterWheel(2, 119), 2);
  EXPECT_EQ(zoomAfterWheel(1, 240), 4);
  EXPECT_EQ(zoomAfterWheel(4, -240), 2);
}

TEST(PreviewWindow, MeasuredFromTheFilterRectangleAndKeptInsideIt) {
  const veltrane::Rect filter{100, 200, 400, 700};  // 500 x 300, away from the corner
  PreviewWindow w = computePreviewWindow(filter, 200, 200, 1, 0, 0);
  ASSERT_EQ(w.viewWidth, 100);
  ASSERT_EQ(w.viewHeight, 200);
  EXPECT_EQ(w.window, (veltrane::Rect{150, 400, 350, 500}));

  w = computePreviewWindow(filter, 200, 200, 1, -1000, 1000);
  EXPECT_EQ(w.window, (veltrane::Rect{200, 200, 400, 300}));
  EXPECT_EQ(w.panH, -200);
  EXPECT_EQ(w.panV, 50);

  w = computePreviewWindow(filter, 200, 200, 1, 1000, -1000);
  EXPECT_EQ(w.window, (veltrane::Rect{100, 600, 300, 700}));
  EXPECT_EQ(w.panH, 200);
  EXPECT_EQ(w.panV, -50);

  w = computePreviewWindow(filter, 200, 200, 1, 7, -3);  // inside: kept as given
  EXPECT_EQ(w.window, (veltrane::Rect{147, 407, 347, 507}));
}

// The dialog with its preview over the in-memory host.
class LivePreviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setActiveDeliverable(halvaneDeliverable());
    viewState() = ViewState{};
  }

  testsupport::SimStatistics runDialog(testsupport::SimImage& image,
                                       const std::function<void(HeadlessDialog&, LivePreview&)>& script) {
    testsupport::SimSession session(image);
    LivePreview preview(halvaneEngine());
    HeadlessToolkit toolkit([&](HeadlessDialog& d) {
      script(d, preview);
      d.click(control::ok);
    });
    EXPECT_EQ(runFilterDialog(toolkit, DialogSetup{&halvaneDeliverable(), nullptr, &preview}), 1);
    return session.finish();
  }
  testsupport::MessageCapture messages;
};

TEST_F(LivePreviewTest, PaintsThroughTheHostAndShowOriginalSkipsTheEngine) {
  testsupport::SimImage image = testsupport::makeRgb8(300, 200);
  const testsupport::SimStatistics stats = runDialog(image, [](HeadlessDialog& d, LivePreview& p) {
    EXPECT_EQ(p.engineRuns(), 1);
    EXPECT_GT(d.paint(), 0);
    const PreviewWindow& w = p.window();
    ASSERT_GT(w.viewWidth, 24);
    const std::vector<std::uint8_t> processed = p.lastViewBlock();
    ASSERT_EQ(processed.size(), std::size_t(2 * w.zoom * w.viewWidth * w.zoom * w.viewHeight * 3));

    d.toggle(control::showOriginal);
    EXPECT_TRUE(p.showingOriginal());
    d.paint();
    EXPECT_EQ(p.engineRuns(), 1);
    // Both halves identical: the unprocessed window.
    const std::vector<std::uint8_t>& shown = p.lastViewBlock();
    const std::size_t half = std::size_t(w.zoom * w.viewWidth) * 3;
    for (std::size_t row = 0; row < std::size_t(w.zoom * w.viewHeight); ++row)
      ASSERT_EQ(std::memcmp(&shown[row * 2 * half], &shown[row * 2 * half + half], half), 0) << row;
    EXPECT_NE(shown, processed);

    d.toggle(control::showOriginal);
    EXPECT_EQ(p.engineRuns(), 2);
    d.paint();
    EXPECT_EQ(p.lastViewBlock(), processed);
  });
  EXPECT_GE(stats.displayPixelsCalls, 3);
  EXPECT_EQ(stats.invalidCalls, 0);
  EXPECT_EQ(stats.liveBuffers, 0);
}

TEST_F(LivePreviewTest, ZoomPanAndResizeRebuildTheWindowAndReleaseEveryBuffer) {
  testsupport::SimImage image = testsupport::makeRgb8(900, 700);
  const testsupport::SimStatistics stats = runDialog(image, [](HeadlessDialog& d, LivePreview& p) {
    d.click(control::zoom400);
    EXPECT_EQ(p.window().zoom, viewState().zoomFactor);
    d.click(control::zoom100);
    const veltrane::Rect before = p.window().window;
    const int runs = p.engineRuns();
    const platform::Rect pane = d.controlBounds(control::viewPane);
    const std::int32_t x = pane.left + pane.width / 2;
    const std::int32_t y = pane.top + pane.height / 2;
    // Dragging right shows pixels further left; the engine
    // runs once, at the release.
    d.mouseDown(platform::MouseButton::left, x, y);
    d.mouseMove(x + 10, y);
    EXPECT_EQ(p.window().window.left, before.left - 10);
    EXPECT_EQ(p.window().window.top, before.top);
    EXPECT_EQ(p.engineRuns(), runs);
    d.mouseUp(platform::MouseButton::left, x + 10, y);
    EXPECT_EQ(p.engineRuns(), runs + 1);
    EXPECT_EQ(viewState().panOffsetH, -10);

    d.wheel(120, x, y);
    EXPECT_EQ(viewState().zoomFactor, 2);
    const std::int32_t widthAt2 = p.window().viewWidth;
    const platform::Rect bounds = d.windowBounds();
    d.resize(bounds.width + 200, bounds.height + 100);
    EXPECT_EQ(d.controlBounds(control::viewPane).width, pane.width + 200);
    EXPECT_GT(p.window().viewWidth, widthAt2);
    d.paint();
  });
  EXPECT_EQ(stats.invalidCalls, 0);
  EXPECT_EQ(stats.liveBuffers, 0);
}

}  // namespace
}  // namespace veltrane::ui

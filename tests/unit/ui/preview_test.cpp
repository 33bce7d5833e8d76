// The live preview: the window arithmetic, and the preview driven through the
// headless dialog over the in-memory host.
#include <gtest/gtest.h>

#include <cstring>

#include "../driver/sim_session.h"
#include "profile/profiler.h"
#include "ui/number_text.h"
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

TEST(PreviewOverview, SizeFrameAndCentringOnAFilterRectangleAwayFromTheCorner) {
  EXPECT_EQ(overviewSize(800, 400, 200, 150), (platform::Size{200, 100}));  // wide: fills the width
  EXPECT_EQ(overviewSize(300, 600, 200, 150), (platform::Size{75, 150}));   // tall: fills the height
  EXPECT_EQ(overviewSize(100, 50, 200, 150), (platform::Size{100, 50}));    // fits: 1:1

  const veltrane::Rect filter{100, 200, 500, 1000};  // 800 x 400 at (200, 100)
  const platform::Size overview{200, 100};
  EXPECT_EQ(overviewFrame(filter, {200, 400, 300, 600}, overview), (platform::Rect{50, 25, 50, 25}));
  EXPECT_EQ(overviewFrame(filter, {100, 200, 200, 400}, overview), (platform::Rect{0, 0, 50, 25}));
  // The bottom-right corner: the frame ends at the overview's edge.
  EXPECT_EQ(overviewFrame(filter, {400, 800, 500, 1000}, overview), (platform::Rect{150, 75, 50, 25}));

  const PanOffsets centred = panCentredOn(filter, overview, 150, 25);
  EXPECT_EQ(centred.h, 200);
  EXPECT_EQ(centred.v, -100);
}

// The dialog with its preview over the in-memory host.
class LivePreviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setActiveDeliverable(halvaneDeliverable());
    viewState() = ViewState{};
  }

  testsupport::SimStatistics runDialog(testsupport::SimImage& image,
                                       const std::function<void(HeadlessDialog&, LivePreview&)>& script,
                                       testsupport::SimOptions options = {}, bool profiles = false) {
    testsupport::SimSession session(image, std::move(options));
    LivePreview preview(halvaneEngine());
    HeadlessToolkit toolkit([&](HeadlessDialog& d) {
      script(d, preview);
      d.click(control::ok);
    });
    DialogSetup setup{&halvaneDeliverable(), nullptr, &preview};
    if (profiles) {
      setup.profile = &profileImage;
      setup.profileArea = &profileArea;
    }
    EXPECT_EQ(runFilterDialog(toolkit, setup), 1);
    return session.finish();
  }
  testsupport::MessageCapture messages;
};

TEST_F(LivePreviewTest, PaintsThroughTheHostAndShowOriginalSkipsTheEngine) {
  testsupport::SimImage image = testsupport::makeRgb8(300, 200);
  const testsupport::SimStatistics stats = runDialog(image, [](HeadlessDialog& d, LivePreview& p) {
    EXPECT_EQ(p.engineRuns(), 1);
    EXPECT_GT(d.paint(), 0);
    EXPECT_TRUE(d.paints().back().sizeGrip);
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

// Sample p of window pixel (x, y) in the left (0) or right (1) half of a
// view block.
std::uint8_t viewSample(const std::vector<std::uint8_t>& block, const PreviewWindow& w, int half,
                        std::int32_t x, std::int32_t y, std::int32_t p) {
  const std::int32_t n = w.zoom;
  const std::size_t row = std::size_t(y * n) * std::size_t(2 * n * w.viewWidth);
  return block[(row + std::size_t((half * w.viewWidth + x) * n)) * 3 + std::size_t(p)];
}

TEST_F(LivePreviewTest, PanKeepsTheProcessedPixelsThatStayInTheWindow) {
  testsupport::SimImage image = testsupport::makeRgb8(700, 500);
  const std::vector<std::uint8_t> original = image.pixels;
  const testsupport::SimStatistics stats = runDialog(image, [&original](HeadlessDialog& d, LivePreview& p) {
    d.click(control::zoom400);
    d.paint();
    const PreviewWindow before = p.window();
    ASSERT_EQ(before.zoom, 4);
    const std::vector<std::uint8_t> processed = p.lastViewBlock();
    // The left half is the window as the image holds it, each pixel a 4 x 4
    // square.
    const std::size_t rowBytes = std::size_t(2 * 4 * before.viewWidth) * 3;
    ASSERT_EQ(processed.size(), rowBytes * std::size_t(4 * before.viewHeight));
    for (std::size_t by = 0; by < processed.size() / rowBytes; ++by)
      for (std::size_t bx = 0; bx < rowBytes; ++bx)
        ASSERT_EQ(processed[by * rowBytes + bx], processed[by / 4 * 4 * rowBytes + bx / 12 * 12 + bx % 3])
            << by << "," << bx;
    for (std::int32_t wy = 0; wy < before.viewHeight; ++wy)
      for (std::int32_t wx = 0; wx < before.viewWidth; ++wx)
        for (std::int32_t c = 0; c < 3; ++c)
          ASSERT_EQ(viewSample(processed, before, 0, wx, wy, c),
                    original[std::size_t(((before.window.top + wy) * 700 + before.window.left + wx) * 3 + c)]);
    const int runs = p.engineRuns();
    const platform::Rect pane = d.controlBounds(control::viewPane);
    const std::int32_t x = pane.left + pane.width / 2;
    const std::int32_t y = pane.top + pane.height / 2;
    d.mouseDown(platform::MouseButton::left, x, y);
    d.mouseMove(x + 40, y + 20);  // 10 and 5 image pixels at 400 %
    d.paint();
    const PreviewWindow after = p.window();
    ASSERT_EQ(after.window.left, before.window.left - 10);
    ASSERT_EQ(after.window.top, before.window.top - 5);
    EXPECT_EQ(p.engineRuns(), runs);
    const std::vector<std::uint8_t>& shown = p.lastViewBlock();
    for (std::int32_t wy = 0; wy < after.viewHeight; ++wy)
      for (std::int32_t wx = 0; wx < after.viewWidth; ++wx)
        for (std::int32_t c = 0; c < 3; ++c) {
          const std::uint8_t got = viewSample(shown, after, 1, wx, wy, c);
          if (wx >= 10 && wy >= 5)  // was in the window: processed, shifted
            ASSERT_EQ(got, viewSample(processed, before, 1, wx - 10, wy - 5, c)) << wx << "," << wy;
          else  // came into the window: unprocessed
            ASSERT_EQ(got, viewSample(shown, after, 0, wx, wy, c)) << wx << "," << wy;
        }
    d.mouseUp(platform::MouseButton::left, x + 40, y + 20);
    EXPECT_EQ(p.engineRuns(), runs + 1);
  });
  EXPECT_EQ(stats.invalidCalls, 0);
  EXPECT_EQ(stats.liveBuffers, 0);
}

TEST_F(LivePreviewTest, OverviewIsPaintedByTheHostAndClickingOrDraggingInItMovesTheWindow) {
  testsupport::SimImage image = testsupport::makeRgb8(1400, 1000);
  testsupport::SimOptions options;
  options.filterRect = hostapi::VRect{100, 150, 900, 1350};  // 1200 x 800, away from the corner
  int painted = 0;
  const testsupport::SimStatistics stats = runDialog(
      image,
      [&painted](HeadlessDialog& d, LivePreview& p) {
        const veltrane::Rect filter{100, 150, 900, 1350};
        d.click(control::zoom400);
        const platform::Rect placed = p.overviewPlacement();
        ASSERT_GT(placed.width, 8);
        ASSERT_EQ(placed.width, p.overviewImageSize().width);
        ASSERT_LT(p.window().viewWidth, filter.width() / 2);

        // The frame is tinted red on the painted overview.
        painted += d.paint();
        const std::vector<std::uint8_t>& shown = p.lastOverview();
        ASSERT_EQ(shown.size(), std::size_t(placed.width * placed.height * 3));
        const platform::Rect frame = overviewFrame(filter, p.window().window, p.overviewImageSize());
        for (std::int32_t x = frame.left; x < frame.left + frame.width; ++x) {
          const std::uint8_t* px = &shown[std::size_t(frame.top * placed.width + x) * 3];
          EXPECT_GE(px[0], 127);
          EXPECT_LE(px[1], 127);
          EXPECT_LE(px[2], 127);
        }

        // Clicking near the corners moves the window into them and no further.
        d.mouseDown(platform::MouseButton::left, placed.left, placed.top);
        d.mouseUp(platform::MouseButton::left, placed.left, placed.top);
        EXPECT_EQ(p.window().window.left, filter.left);
        EXPECT_EQ(p.window().window.top, filter.top);
        const std::int32_t right = placed.left + placed.width - 1;
        const std::int32_t bottom = placed.top + placed.height - 1;
        d.mouseDown(platform::MouseButton::right, right, bottom);
        d.mouseUp(platform::MouseButton::right, right, bottom);
        EXPECT_EQ(p.window().window.right, filter.right);
        EXPECT_EQ(p.window().window.bottom, filter.bottom);

        // A click in the middle centres the window there.
        const std::int32_t cx = placed.left + placed.width / 2;
        const std::int32_t cy = placed.top + placed.height / 2;
        d.mouseDown(platform::MouseButton::left, cx, cy);
        d.mouseUp(platform::MouseButton::left, cx, cy);
        const veltrane::Rect centred = p.window().window;
        EXPECT_NEAR((centred.left + centred.right) / 2, (filter.left + filter.right) / 2, 2);
        EXPECT_NEAR((centred.top + centred.bottom) / 2, (filter.top + filter.bottom) / 2, 2);

        // A press inside the frame changes nothing; dragging moves the
        // window by the travel scaled to the image, the engine running once.
        const int runs = p.engineRuns();
        d.mouseDown(platform::MouseButton::left, cx, cy);
        EXPECT_EQ(p.window().window, centred);
        d.mouseMove(cx + 10, cy);
        EXPECT_EQ(p.engineRuns(), runs);
        const std::int32_t step = std::int32_t(float(filter.width()) / float(placed.width) * 10.0f);
        EXPECT_EQ(p.window().window.left, centred.left + step);
        d.mouseUp(platform::MouseButton::left, cx + 10, cy);
        EXPECT_EQ(p.engineRuns(), runs + 1);
        painted += d.paint();
        EXPECT_EQ(painted, 4);
      },
      std::move(options));
  // Each paint of either pane goes through the host's display call.
  EXPECT_EQ(stats.displayPixelsCalls, painted);
  EXPECT_EQ(stats.invalidCalls, 0);
  EXPECT_EQ(stats.liveBuffers, 0);
}

// A flat image of one sample value in every plane.
template <typename Sample>
testsupport::SimImage flatImage(std::int16_t mode, std::int32_t depth, Sample value) {
  testsupport::SimImage image{320, 240, mode, 3, depth, {}};
  image.pixels.resize(static_cast<std::size_t>(image.rowBytes() * image.height));
  for (std::size_t i = 0; i < image.pixels.size(); i += sizeof value) std::memcpy(&image.pixels[i], &value, sizeof value);
  return image;
}

TEST_F(LivePreviewTest, DeepImagesAreReducedToBytesForTheWindowAndTheOverview) {
  struct Case {
    testsupport::SimImage image;
    int viewByte, viewTolerance, overviewByte;
  };
  std::vector<Case> cases;
  cases.push_back({flatImage<std::uint16_t>(11, 16, 12850), 100, 0, 99});
  cases.push_back({flatImage<std::uint16_t>(11, 16, 40000), 255, 0, 255});  // above the host's white
  // 32-bit: the window is read in the engine's encoded scale and shown
  // decoded, so mid-grey shows as mid-grey in both panes.
  cases.push_back({flatImage<float>(16, 32, 0.5f), 127, 1, 128});
  for (Case& c : cases) {
    runDialog(c.image, [&c](HeadlessDialog& d, LivePreview& p) {
      d.toggle(control::showOriginal);
      d.paint();
      const std::vector<std::uint8_t>& view = p.lastViewBlock();
      ASSERT_FALSE(view.empty());
      for (const std::uint8_t byte : view) ASSERT_NEAR(byte, c.viewByte, c.viewTolerance);
      // The middle of the overview, inside the frame's bands.
      const std::vector<std::uint8_t>& overview = p.lastOverview();
      const platform::Size size = p.overviewImageSize();
      ASSERT_EQ(overview.size(), std::size_t(size.width * size.height * 3));
      const std::size_t middle = std::size_t((size.height / 2) * size.width + size.width / 2) * 3;
      for (std::size_t ch = 0; ch < 3; ++ch) EXPECT_EQ(overview[middle + ch], c.overviewByte);
    });
  }
}

TEST_F(LivePreviewTest, ManualSelectionReportsTheDraggedRectangleInImageCoordinates) {
  testsupport::SimImage image = testsupport::makeRgb8(600, 400);
  testsupport::SimOptions options;
  options.filterRect = hostapi::VRect{50, 40, 350, 560};
  runDialog(
      image,
      [](HeadlessDialog& d, LivePreview& p) {
        std::vector<veltrane::Rect> selected;
        p.setSelectionHandler([&](const veltrane::Rect& r, std::int32_t mode) {
          EXPECT_EQ(mode, LivePreview::selectionDragging);
          selected.push_back(r);
        });
        const PreviewWindow& w = p.window();
        const platform::Rect block = centredIn(d.controlBounds(control::viewPane), 2 * w.zoom * w.viewWidth,
                                               w.zoom * w.viewHeight);
        const veltrane::Rect window = w.window;
        const int runs = p.engineRuns();

        d.click(control::selectNoise);
        EXPECT_EQ(d.cursor(), platform::CursorShape::crossHair);
        // Dragging on the processed half selects; the window does not pan.
        const std::int32_t x0 = block.left + block.width / 2 + 10 * w.zoom;
        const std::int32_t y0 = block.top + 5 * w.zoom;
        d.mouseDown(platform::MouseButton::left, x0, y0);
        EXPECT_EQ(p.selectionMode(), LivePreview::selectionDragging);
        d.mouseMove(x0 + 20 * w.zoom, y0 + 8 * w.zoom);
        d.mouseUp(platform::MouseButton::left, x0 + 20 * w.zoom, y0 + 8 * w.zoom);
        EXPECT_EQ(p.window().window, window);
        ASSERT_EQ(selected.size(), 1u);
        EXPECT_EQ(selected[0], (veltrane::Rect{window.top + 5, window.left + 10, window.top + 14, window.left + 31}));
        EXPECT_EQ(p.engineRuns(), runs + 1);
        EXPECT_EQ(p.selectionMode(), LivePreview::selectionArmed);

        // A click spreads to three pixels each way, kept inside the filter
        // rectangle at its corner.
        d.click(control::zoom100);
        const PreviewWindow& at100 = p.window();
        d.mouseDown(platform::MouseButton::left, 0, 0);  // outside the block: the mode ends
        EXPECT_EQ(p.selectionMode(), LivePreview::selectionOff);
        EXPECT_EQ(d.cursor(), platform::CursorShape::arrow);
        viewState().panOffsetH = -1000;
        viewState().panOffsetV = -1000;
        d.click(control::zoom100);
        ASSERT_EQ(at100.window.left, 40);
        const platform::Rect corner = centredIn(d.controlBounds(control::viewPane), 2 * at100.viewWidth, at100.viewHeight);
        d.click(control::selectNoise);
        d.mouseDown(platform::MouseButton::left, corner.left, corner.top);
        d.mouseUp(platform::MouseButton::left, corner.left, corner.top);
        ASSERT_EQ(selected.size(), 2u);
        EXPECT_EQ(selected[1], (veltrane::Rect{50, 40, 52, 42}));
      },
      std::move(options));
}

// Two areas of known noise: every neighbouring pair of samples differs by 2
// on the left half and by 6 on the right, around mid grey. A rectangle
// dragged over one half measures that half's noise in the last profile's
// kind; one too small for a 32 x 32 block changes nothing.
TEST_F(LivePreviewTest, ManualSelectionMeasuresTheNoiseOfTheSelectedArea) {
  testsupport::SimImage image{256, 128, 3, 3, 8, {}};
  image.pixels.resize(static_cast<std::size_t>(image.rowBytes() * image.height));
  for (std::int32_t y = 0; y < image.height; ++y)
    for (std::int32_t x = 0; x < image.width; ++x)
      for (std::int32_t p = 0; p < 3; ++p)
        image.pixels[static_cast<std::size_t>((y * image.width + x) * 3 + p)] =
            static_cast<std::uint8_t>(128 + (x < 128 ? 2 : 6) * ((x + y) % 2));
  // The fine measure of a block is 5760 d around brightness 128.
  const auto expected = [](int d, double kind) {
    const double x = 5760.0 * d / (1.0 - (1.0 - kind) * 128.0 / 255.0) / 5766.0;
    return kind == filmProfile ? 18.0 * x - 15.0 : 35.0 * x - 15.0;
  };
  const RealControl& overall = halvaneDeliverable().controls.reals[real::overallNoiseLevel];
  runDialog(
      image,
      [&](HeadlessDialog& d, LivePreview& p) {
        const PreviewWindow& w = p.window();
        ASSERT_EQ(w.window, (veltrane::Rect{0, 0, 128, 256}));  // the whole image at zoom w.zoom
        const auto drag = [&](std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
          const platform::Rect block = centredIn(d.controlBounds(control::viewPane), 2 * w.zoom * w.viewWidth,
                                                 w.zoom * w.viewHeight);
          d.click(control::selectNoise);
          d.mouseDown(platform::MouseButton::left, block.left + x0 * w.zoom, block.top + y0 * w.zoom);
          d.mouseUp(platform::MouseButton::left, block.left + x1 * w.zoom, block.top + y1 * w.zoom);
        };
        const auto level = [&] { return callContext().parameters->reals[real::overallNoiseLevel]; };

        int runs = p.engineRuns();
        drag(8, 8, 100, 100);  // left half, 2 x 2 blocks from (8, 8): digital by default
        EXPECT_NEAR(level(), expected(2, digitalProfile), 1e-9);
        EXPECT_EQ(d.text(overall.editId), FormatNumber(level()));
        EXPECT_EQ(parameterDefaults().reals[real::overallNoiseLevel], level());
        EXPECT_EQ(p.engineRuns(), runs + 1);

        drag(250, 120, 140, 10);  // right half, corners in any order
        EXPECT_NEAR(level(), expected(6, digitalProfile), 1e-9);

        d.click(control::profileFilm);  // the kind last used: film from now on
        messages.clear();  // one brightness only: the whole-image profile fails
        drag(8, 8, 100, 100);
        EXPECT_NEAR(level(), expected(2, filmProfile), 1e-9);
        EXPECT_EQ(callContext().parameters->reals[real::highlightsNoiseLevel], filmProfile);
        EXPECT_EQ(callContext().parameters->reals[real::protectThreshold], 255.0);
        ASSERT_EQ(messages.count(), 0u);

        const FilterParameters before = *callContext().parameters;
        runs = p.engineRuns();
        drag(10, 10, 40, 100);  // 31 pixels wide
        ASSERT_EQ(messages.count(), 1u);
        EXPECT_EQ(messages.messages()[0].text, areaTooSmallMessage);
        EXPECT_EQ(std::memcmp(&before, callContext().parameters, sizeof before), 0);
        EXPECT_EQ(d.text(overall.editId), FormatNumber(level()));
      },
      {}, true);
}

}  // namespace
}  // namespace veltrane::ui

// Speed of the dialog's live preview: a 1200 x 800 window at 100 % zoom of a
// 24-megapixel 8-bit RGB document (6000 x 4000) in the in-memory host, with
// the noise reducer's factory settings, as a slider move recomputes and
// repaints it; and the repaint alone.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "bench_support.h"
#include "denoise/halvane_engine.h"
#include "shell/parameters.h"
#include "shell/view_state.h"
#include "ui/dialog.h"
#include "ui/dialog_template.h"
#include "ui/headless_widgets.h"
#include "ui/preview.h"

namespace {

using namespace veltrane;

constexpr std::int32_t documentWidth = 6000;
constexpr std::int32_t documentHeight = 4000;
constexpr std::int32_t windowWidth = 1200;
constexpr std::int32_t windowHeight = 800;

// Opens the dialog over the document with a view pane that gives the window
// its size at 100 %, and times `step` in it.
template <typename Step>
void timeInDialog(benchmark::State& state, Step step) {
  setActiveDeliverable(halvaneDeliverable());
  viewState() = ViewState{};
  host::SimImage image = bench::noisyScene(documentWidth, documentHeight, 8);
  bench::StartCallSession session(image);
  if (!session.ready()) {
    state.SkipWithError("out of memory");
    return;
  }

  ui::LivePreview preview(halvaneEngine());
  ui::HeadlessToolkit toolkit([&](ui::HeadlessDialog& dialog) {
    platform::Rect pane = dialog.controlBounds(ui::control::viewPane);
    pane.width = 2 * windowWidth;  // both halves side by side
    pane.height = windowHeight;
    dialog.setControlBounds(ui::control::viewPane, pane);
    dialog.click(ui::control::zoom100);  // rebuilds the window for the new pane
    dialog.paint();
    const ui::PreviewWindow& w = preview.window();
    if (w.viewWidth != windowWidth || w.viewHeight != windowHeight || w.zoom != 1) {
      state.SkipWithError("the window did not get its size");
    } else {
      for (auto _ : state) step(dialog, preview);
    }
    dialog.click(ui::control::ok);
  });
  ui::runFilterDialog(toolkit, ui::DialogSetup{&halvaneDeliverable(), nullptr, &preview});
  state.SetLabel(std::to_string(windowWidth) + " x " + std::to_string(windowHeight) + " at 100 %");
}

void BM_PreviewRecompute(benchmark::State& state) {
  timeInDialog(state, [](ui::HeadlessDialog& dialog, ui::LivePreview& preview) {
    preview.updatePreview(true);
    dialog.paint();
  });
}

void BM_PreviewRepaint(benchmark::State& state) {
  timeInDialog(state, [](ui::HeadlessDialog& dialog, ui::LivePreview& preview) {
    preview.updatePreview(false);
    dialog.paint();
  });
}

// CPU time of every thread: the engine runs on all cores.
BENCHMARK(BM_PreviewRecompute)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(10);
BENCHMARK(BM_PreviewRepaint)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
  bench::keepPagesUnlessFresh(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// Speed of the dialog's live preview: a 1200 x 800 window at 100 % zoom of a
// 24-megapixel 8-bit RGB document (6000 x 4000) in the in-memory host, with
// the noise reducer's factory settings, as a slider move recomputes and
// repaints it; and the repaint alone.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "denoise/halvane_engine.h"
#include "host/sim/sim_host.h"
#include "hostapi/constants.h"
#include "image/color_luts.h"
#include "shell/call_context.h"
#include "shell/host_call.h"
#include "shell/parameter_tables.h"
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

host::SimImage noisyScene() {
  host::SimImage img{documentWidth, documentHeight, 3, 3, 8, {}};
  img.pixels.resize(static_cast<std::size_t>(img.rowBytes()) * documentHeight);
  std::uint32_t state = 12345u;
  std::uint8_t* p = img.pixels.data();
  for (std::int32_t y = 0; y < documentHeight; ++y)
    for (std::int32_t x = 0; x < documentWidth; ++x)
      for (int c = 0; c < 3; ++c) {
        state = state * 1664525u + 1013904223u;
        const int base = c == 0 ? x % 200 + 30 : c == 1 ? y % 180 + 40 : ((x / 100 + y / 100) % 2 ? 180 : 70);
        *p++ = static_cast<std::uint8_t>(base + static_cast<int>(state >> 28) - 8);
      }
  return img;
}

// Opens the dialog over the document with a view pane that gives the window
// its size at 100 %, and times `step` in it.
template <typename Step>
void timeInDialog(benchmark::State& state, Step step) {
  setActiveDeliverable(halvaneDeliverable());
  viewState() = ViewState{};
  host::SimImage image = noisyScene();
  host::SimHost simHost(image);
  hostapi::FilterRecord& r = simHost.record();
  if (r.bigDocumentData) r.bigDocumentData->PluginUsing32BitCoordinates = 1;
  std::int16_t result = 0;
  bindHostCall(hostapi::selectorStart, &r, &simHost.dataCell(), &result);
  if (!buildLUTs()) {
    state.SkipWithError("out of memory");
    return;
  }
  const ParameterDefaults& d = halvaneDeliverable().factoryDefaults;
  FilterParameters parameters{d.flags, d.reals};
  callContext().parameters = &parameters;

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
  freeLUTs();
  callContext() = CallContext{};
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
  // An editor keeps a pool of buffer memory; glibc's default of returning
  // every large block to the system would make each recompute measure page
  // faults. --fresh-pages keeps that default.
  bool freshPages = false;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--fresh-pages")
      freshPages = true;
    else
      argv[kept++] = argv[i];
  }
  argc = kept;
  if (!freshPages) {
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, -1);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

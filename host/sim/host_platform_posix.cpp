// The host's window and drawing where it has neither: the plug-in sees no
// window, and display calls that pass their checks succeed without drawing.
#include "host/sim/host_state.h"

namespace veltrane::host::detail {

HostWindow::HostWindow() noexcept = default;
HostWindow::~HostWindow() = default;

hostapi::OSErr drawPixelMap(const hostapi::PSPixelMap& /*source*/, const hostapi::VRect& /*area*/,
                            std::int32_t /*dstRow*/, std::int32_t /*dstCol*/, void* /*platformContext*/) noexcept {
  return hostapi::noErr;
}

}  // namespace veltrane::host::detail

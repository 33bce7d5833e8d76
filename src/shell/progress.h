#pragma once
#include <atomic>
#include <cstdint>

namespace veltrane {

// Progress and cancel service, process-wide for the loaded plug-in. Only the
// host's thread calls these functions; worker threads only read the latch
// through progressCancelled().

// Set progressTotal and report 0 of it to the host.
void progressStart(std::int32_t total);

// Add n units and poll the host; returns whether the run is cancelled.
// progressStep(0) is the pure cancel check.
bool progressStep(std::int32_t n);

// One unit of progress when reporting is on; otherwise "not cancelled".
bool progressTick();

// Reporting is switched on by the first full engine run and stays on.
void progressEnable();
bool progressEnabled();

// The abort latch: set by a host cancel. A new run clears it, so that one
// cancelled run does not cancel every later run of the loaded plug-in.
bool progressCancelled();
void progressBeginRun();

std::int32_t progressDone();
std::int32_t progressTotal();

// Back to the state of a freshly loaded plug-in (tests).
void progressResetAll();

}  // namespace veltrane

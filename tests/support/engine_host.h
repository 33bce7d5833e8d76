#pragma once
// The in-memory host as the host of engine code driven in-process (unit
// tests, benchmarks): the call context is bound to the host's filter record
// the way a start call binds it, so buffers, progress and the abort test go
// through the host's suites. Counts and failure injection run from the last
// reset, as one run of the engine sees them.
#include <cstdint>
#include <utility>
#include <vector>

#include "host/sim/sim_host.h"
#include "hostapi/constants.h"
#include "shell/call_context.h"
#include "shell/filter_parameters.h"
#include "shell/host_call.h"

namespace veltrane::testsupport {

class EngineHost {
 public:
  explicit EngineHost(host::SimOptions options = {}) : host_(image_, withProgressObserver(std::move(options))) {}
  ~EngineHost() {
    if (callContext().record == &host_.record()) callContext() = CallContext{};
  }
  EngineHost(const EngineHost&) = delete;
  EngineHost& operator=(const EngineHost&) = delete;

  // Points the process-wide call context at this host, its result cell and
  // `parameters`, and resets the counters.
  void install() {
    bindHostCall(hostapi::selectorStart, &host_.record(), &host_.dataCell(), &result);
    callContext().parameters = &parameters;
    resetCounters();
  }

  // The n-th allocation or abort poll after the last reset fails; 0 = never.
  void failAllocationAt(int n) {
    failAllocationAt_ = n;
    host_.failBufferAllocationAt(n > 0 ? base_.bufferAllocations + n : 0);
  }
  void abortAtPoll(int n) {
    abortAtPoll_ = n;
    host_.abortAtPoll(n > 0 ? base_.abortPolls + n : 0);
  }
  // Counts start again, a cancel is released and the failure injection
  // counts from here.
  void resetCounters() {
    base_ = host_.statistics();
    host_.beginRun();
    failAllocationAt(failAllocationAt_);
    abortAtPoll(abortAtPoll_);
  }

  int allocationCount() const { return stats().bufferAllocations - base_.bufferAllocations; }
  int pollCount() const { return stats().abortPolls - base_.abortPolls; }
  int progressReports() const { return stats().progressReports - base_.progressReports; }
  int liveBuffers() const { return stats().liveBuffers; }
  int lockedBuffers() const { return stats().lockedBuffers; }

  std::int16_t result = 0;
  FilterParameters parameters{};
  std::int32_t lastProgressDone = 0;
  std::int32_t lastProgressTotal = 0;

 private:
  host::SimOptions withProgressObserver(host::SimOptions options) {
    options.onProgress = [this](std::int32_t done, std::int32_t total) {
      lastProgressDone = done;
      lastProgressTotal = total;
    };
    return options;
  }
  const host::SimStatistics& stats() const { return host_.statistics(); }

  // The engine works on its own buffers; the document only has to exist.
  host::SimImage image_{1, 1, 3, 3, 8, std::vector<std::uint8_t>(3)};
  host::SimHost host_;
  host::SimStatistics base_;
  int failAllocationAt_ = 0;
  int abortAtPoll_ = 0;
};

}  // namespace veltrane::testsupport

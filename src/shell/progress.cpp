#include "progress.h"

#include "call_context.h"

namespace veltrane {
namespace {

struct ProgressState {
  std::int32_t total = 0;
  std::int32_t done = 0;
  bool enabled = false;
  // Written by the host's thread, read by worker threads.
  std::atomic<bool> cancelled{false};
};

ProgressState& state() {
  static ProgressState s;
  return s;
}

void reportToHost(std::int32_t done, std::int32_t total) {
  const HostServices& h = callContext().services;
  if (h.progress) h.progress(h.host, done, total);
}

bool hostSaysAbort() {
  const HostServices& h = callContext().services;
  return h.testAbort && h.testAbort(h.host);
}

}  // namespace

void progressStart(std::int32_t total) {
  ProgressState& s = state();
  s.total = total;
  s.done = 0;
  reportToHost(0, total);
}

bool progressStep(std::int32_t n) {
  ProgressState& s = state();
  if (s.cancelled.load(std::memory_order_relaxed)) return true;
  if (!s.enabled) return false;
  s.done += n;
  reportToHost(s.done, s.total);
  if (hostSaysAbort()) {
    setResult(userCancelled);
    s.cancelled.store(true, std::memory_order_relaxed);
    return true;
  }
  return false;
}

bool progressTick() { return state().enabled ? progressStep(1) : false; }

void progressEnable() { state().enabled = true; }
bool progressEnabled() { return state().enabled; }

bool progressCancelled() { return state().cancelled.load(std::memory_order_relaxed); }
void progressBeginRun() { state().cancelled.store(false, std::memory_order_relaxed); }

std::int32_t progressDone() { return state().done; }
std::int32_t progressTotal() { return state().total; }

void progressResetAll() {
  ProgressState& s = state();
  s.total = 0;
  s.done = 0;
  s.enabled = false;
  s.cancelled.store(false, std::memory_order_relaxed);
}

}  // namespace veltrane

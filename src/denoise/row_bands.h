#pragma once
#include <cstdint>
#include <exception>
#include <thread>

#include "platform/platform.h"

namespace veltrane {

inline constexpr int maxThreads = 32;

// Threads for one pass: one per processor, at most 32.
inline int passThreadCount() {
  const int n = platform::processorCount();
  return n < 1 ? 1 : (n > maxThreads ? maxThreads : n);
}

// Row band of thread b of n over h rows: equal bands of h / n rows, the last
// band running to h.
struct RowBand {
  std::int32_t first;
  std::int32_t end;
};
inline RowBand rowBand(std::int32_t h, int n, int b) {
  const std::int32_t chunk = h / n;
  const std::int32_t first = b * chunk;
  return RowBand{first, b == n - 1 ? h : first + chunk};
}

// Runs job(first, end, threadIndex) over the h inner rows on passThreadCount()
// threads and joins them all before returning. The calling thread takes the
// first band with thread index -1. A band whose thread cannot be started runs
// on the calling thread after its own band, so the pass always completes.
// The job must not throw.
template <typename Job>
void runRowBands(std::int32_t h, const Job& job) {
  const int n = passThreadCount();
  std::thread workers[maxThreads];
  bool started[maxThreads] = {};
  for (int b = 1; b < n; ++b) {
    const RowBand band = rowBand(h, n, b);
    try {
      workers[b] = std::thread([&job, band, b] { job(band.first, band.end, b); });
      started[b] = true;
    } catch (const std::exception&) {
      started[b] = false;
    }
  }
  const RowBand own = rowBand(h, n, 0);
  job(own.first, own.end, -1);
  for (int b = 1; b < n; ++b) {
    if (started[b]) {
      workers[b].join();
    } else {
      const RowBand band = rowBand(h, n, b);
      job(band.first, band.end, b);
    }
  }
}

}  // namespace veltrane

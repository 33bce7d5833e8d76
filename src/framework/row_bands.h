#pragma once
#include <cstdint>

#include "framework/thread_pool.h"

namespace veltrane {

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

// Runs job(first, end, threadIndex) over the h inner rows in passThreadCount()
// bands and returns when all have finished. The calling thread takes the
// first band with thread index -1; band b > 0 gets index b, whichever thread
// runs it. The job must not throw.
template <typename Job>
void runRowBands(std::int32_t h, const Job& job) {
  struct Pass {
    const Job* job;
    std::int32_t h;
    int n;
  } pass{&job, h, passThreadCount()};
  runParallel(
      pass.n,
      [](void* context, int b) {
        const Pass& p = *static_cast<const Pass*>(context);
        const RowBand band = rowBand(p.h, p.n, b);
        (*p.job)(band.first, band.end, b == 0 ? -1 : b);
      },
      &pass);
}

}  // namespace veltrane

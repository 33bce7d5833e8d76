#pragma once
#include <cstdint>
#include <unordered_map>

#include "call_context.h"
#include "filter_parameters.h"

namespace veltrane {

// Stands in for the host when the engine runs without one (tests, benchmarks,
// tools): an allocator behind the buffer operations, a progress callback and
// an abort test. Failures can be injected: the N-th allocation fails, or the
// N-th abort poll answers yes. Counts start at 1 from install() or the last
// reset of the counters.
class StandaloneHost {
 public:
  StandaloneHost();
  ~StandaloneHost();
  StandaloneHost(const StandaloneHost&) = delete;
  StandaloneHost& operator=(const StandaloneHost&) = delete;

  // Points the process-wide call context at this host: its services, its
  // result cell and parameter record, image mode and dialog state.
  void install();

  void failAllocationAt(int n) { failAllocationAt_ = n; }
  void abortAtPoll(int n) { abortAtPoll_ = n; }
  void resetCounters();

  int allocationCount() const { return allocations_; }
  int pollCount() const { return polls_; }
  int progressReports() const { return progressReports_; }
  std::int64_t liveBuffers() const { return static_cast<std::int64_t>(buffers_.size()); }
  std::int64_t lockedBuffers() const;

  std::int16_t result = 0;
  std::int32_t imageMode = 3;
  bool dialogOpen = false;
  FilterParameters parameters{};
  std::uint8_t showDialogFlag = 0;
  std::int32_t lastProgressDone = 0;
  std::int32_t lastProgressTotal = 0;

 private:
  struct Block {
    void* memory;
    std::int64_t size;
    bool locked;
  };

  static ResultCode allocate(void* self, std::int64_t size, HostBufferId* id);
  static void* lock(void* self, HostBufferId id, bool moveHigh);
  static void unlock(void* self, HostBufferId id);
  static void release(void* self, HostBufferId id);
  static void progress(void* self, std::int32_t done, std::int32_t total);
  static bool abortTest(void* self);

  std::unordered_map<HostBufferId, Block> buffers_;
  int failAllocationAt_ = 0;
  int abortAtPoll_ = 0;
  int allocations_ = 0;
  int polls_ = 0;
  int progressReports_ = 0;
};

}  // namespace veltrane

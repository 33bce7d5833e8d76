#include "standalone_host.h"

#include <cstdlib>

namespace veltrane {

StandaloneHost::StandaloneHost() = default;

StandaloneHost::~StandaloneHost() {
  for (auto& [id, block] : buffers_) std::free(block.memory);
  CallContext& c = callContext();
  if (c.services.host == this) c = CallContext{};
}

void StandaloneHost::install() {
  CallContext& c = callContext();
  c = CallContext{};
  c.services.host = this;
  c.services.allocateBuffer = &StandaloneHost::allocate;
  c.services.lockBuffer = &StandaloneHost::lock;
  c.services.unlockBuffer = &StandaloneHost::unlock;
  c.services.freeBuffer = &StandaloneHost::release;
  c.services.progress = &StandaloneHost::progress;
  c.services.testAbort = &StandaloneHost::abortTest;
  c.result = &result;
  c.parameters = &parameters;
  c.showDialogFlag = &showDialogFlag;
  c.imageMode = imageMode;
  c.dialogOpen = dialogOpen;
  resetCounters();
}

void StandaloneHost::resetCounters() {
  allocations_ = 0;
  polls_ = 0;
  progressReports_ = 0;
}

std::int64_t StandaloneHost::lockedBuffers() const {
  std::int64_t n = 0;
  for (const auto& entry : buffers_) n += entry.second.locked ? 1 : 0;
  return n;
}

ResultCode StandaloneHost::allocate(void* self, std::int64_t size, HostBufferId* id) {
  auto* h = static_cast<StandaloneHost*>(self);
  *id = nullptr;
  ++h->allocations_;
  if (h->failAllocationAt_ > 0 && h->allocations_ == h->failAllocationAt_) return outOfMemory;
  if (size <= 0) return outOfMemory;
  void* memory = std::malloc(static_cast<std::size_t>(size));
  if (!memory) return outOfMemory;
  // The block's address doubles as its identifier.
  h->buffers_.emplace(memory, Block{memory, size, false});
  *id = memory;
  return noErr;
}

void* StandaloneHost::lock(void* self, HostBufferId id, bool /*moveHigh*/) {
  auto* h = static_cast<StandaloneHost*>(self);
  auto it = h->buffers_.find(id);
  if (it == h->buffers_.end()) return nullptr;
  it->second.locked = true;
  return it->second.memory;
}

void StandaloneHost::unlock(void* self, HostBufferId id) {
  auto* h = static_cast<StandaloneHost*>(self);
  auto it = h->buffers_.find(id);
  if (it != h->buffers_.end()) it->second.locked = false;
}

void StandaloneHost::release(void* self, HostBufferId id) {
  auto* h = static_cast<StandaloneHost*>(self);
  auto it = h->buffers_.find(id);
  if (it == h->buffers_.end()) return;
  std::free(it->second.memory);
  h->buffers_.erase(it);
}

void StandaloneHost::progress(void* self, std::int32_t done, std::int32_t total) {
  auto* h = static_cast<StandaloneHost*>(self);
  ++h->progressReports_;
  h->lastProgressDone = done;
  h->lastProgressTotal = total;
}

bool StandaloneHost::abortTest(void* self) {
  auto* h = static_cast<StandaloneHost*>(self);
  ++h->polls_;
  return h->abortAtPoll_ > 0 && h->polls_ == h->abortAtPoll_;
}

}  // namespace veltrane

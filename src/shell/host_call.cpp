#include "host_call.h"

#include <cstddef>
#include <cstdlib>
#include <limits>

#include "call_context.h"
#include "hostapi/constants.h"
#include "hostapi/layout_checks.h"

namespace veltrane {
namespace {

using hostapi::BufferProcs;
using hostapi::FilterRecord;

const BufferProcs* usableBufferSuite(const FilterRecord* r) {
  const BufferProcs* b = r ? r->bufferProcs : nullptr;
  if (!b || b->bufferProcsVersion != hostapi::bufferProcsVersion ||
      b->numBufferProcs < hostapi::bufferProcsCount)
    return nullptr;
  if (!b->allocateProc || !b->lockProc || !b->unlockProc || !b->freeProc) return nullptr;
  return b;
}

const BufferProcs* bufferSuite(void* host) {
  return usableBufferSuite(static_cast<const FilterRecord*>(host));
}

ResultCode allocateBuffer(void* host, std::int64_t size, HostBufferId* id) {
  *id = nullptr;
  const BufferProcs* b = bufferSuite(host);
  if (!b || size <= 0) return outOfMemory;
  hostapi::BufferID buffer = nullptr;
  hostapi::OSErr err;
  if (size <= std::numeric_limits<std::int32_t>::max()) {
    err = b->allocateProc(static_cast<std::int32_t>(size), &buffer);
  } else if (b->numBufferProcs >= hostapi::bufferProcsCount64 && b->allocateProc64) {
    err = b->allocateProc64(size, &buffer);
  } else {
    return outOfMemory;  // the host cannot address a block this large
  }
  if (err != hostapi::noErr) return err;
  if (!buffer) return outOfMemory;
  *id = buffer;
  return noErr;
}

void* lockBuffer(void* host, HostBufferId id, bool moveHigh) {
  const BufferProcs* b = bufferSuite(host);
  return b && id ? b->lockProc(static_cast<hostapi::BufferID>(id), moveHigh ? 1 : 0) : nullptr;
}

void unlockBuffer(void* host, HostBufferId id) {
  const BufferProcs* b = bufferSuite(host);
  if (b && id) b->unlockProc(static_cast<hostapi::BufferID>(id));
}

void freeBuffer(void* host, HostBufferId id) {
  const BufferProcs* b = bufferSuite(host);
  if (b && id) b->freeProc(static_cast<hostapi::BufferID>(id));
}

// A host without a usable buffer suite: the buffers come from the C heap
// instead.
ResultCode allocateFromHeap(void* /*host*/, std::int64_t size, HostBufferId* id) {
  *id = nullptr;
  if (size <= 0 || static_cast<std::uint64_t>(size) > std::numeric_limits<std::size_t>::max())
    return outOfMemory;
  void* memory = std::malloc(static_cast<std::size_t>(size));
  if (!memory) return outOfMemory;
  *id = memory;
  return noErr;
}

void* lockHeapBlock(void* /*host*/, HostBufferId id, bool /*moveHigh*/) { return id; }

void unlockHeapBlock(void* /*host*/, HostBufferId /*id*/) {}

void freeHeapBlock(void* /*host*/, HostBufferId id) { std::free(id); }

void reportProgress(void* host, std::int32_t done, std::int32_t total) {
  const auto* r = static_cast<const FilterRecord*>(host);
  if (r->progressProc) r->progressProc(done, total);
}

bool testAbort(void* host) {
  const auto* r = static_cast<const FilterRecord*>(host);
  return r->abortProc && r->abortProc() != 0;
}

}  // namespace

void bindHostCall(std::int16_t selector, void* record, std::intptr_t* data, std::int16_t* result) {
  CallContext& c = callContext();
  c = CallContext{};
  c.record = record;
  c.data = data;
  c.result = result;
  if (!record) return;
  if (selector == hostapi::selectorAbout) {
    c.basicSuite = static_cast<hostapi::AboutRecord*>(record)->sSPBasic;
    return;
  }
  auto* r = static_cast<FilterRecord*>(record);
  c.basicSuite = r->sSPBasic;
  c.imageMode = r->imageMode;
  c.services.host = r;
  if (usableBufferSuite(r)) {
    c.services.allocateBuffer = &allocateBuffer;
    c.services.lockBuffer = &lockBuffer;
    c.services.unlockBuffer = &unlockBuffer;
    c.services.freeBuffer = &freeBuffer;
  } else {
    c.services.allocateBuffer = &allocateFromHeap;
    c.services.lockBuffer = &lockHeapBlock;
    c.services.unlockBuffer = &unlockHeapBlock;
    c.services.freeBuffer = &freeHeapBlock;
  }
  c.services.progress = &reportProgress;
  c.services.testAbort = &testAbort;
}

FilterRecord* filterRecord() {
  CallContext& c = callContext();
  // The about selector binds no services; a filter record always has its
  // progress service bound.
  return c.services.host == c.record && c.record ? static_cast<FilterRecord*>(c.record) : nullptr;
}

const hostapi::HandleProcs* handleSuite() {
  const FilterRecord* r = filterRecord();
  const hostapi::HandleProcs* h = r ? r->handleProcs : nullptr;
  if (!h || h->handleProcsVersion != hostapi::handleProcsVersion || h->numHandleProcs < 6) return nullptr;
  if (!h->newProc || !h->disposeProc || !h->lockProc || !h->unlockProc) return nullptr;
  return h;
}

hostapi::SPBasicSuite* basicSuite() {
  return static_cast<hostapi::SPBasicSuite*>(callContext().basicSuite);
}

}  // namespace veltrane

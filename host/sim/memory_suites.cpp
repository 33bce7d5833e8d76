// The handle suite and the buffer suite of the filter record.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "host/sim/host_state.h"

namespace veltrane::host::detail {

using namespace hostapi;

namespace {

// Fresh memory is filled with this byte (unless the options say otherwise)
// so that a plug-in relying on zeroed memory shows it.
constexpr int freshMemoryByte = 0xCD;

void* allocateBytes(std::int64_t size, bool fill) noexcept {
  if (size < 0 || static_cast<std::uint64_t>(size) > std::numeric_limits<std::size_t>::max()) return nullptr;
  const auto bytes = static_cast<std::size_t>(std::max<std::int64_t>(size, 1));
  void* p = std::malloc(bytes);
  if (p && fill) std::memset(p, freshMemoryByte, bytes);
  return p;
}

// ---- handle suite -------------------------------------------------------

Handle VELTRANE_HOSTAPI_CDECL handleNew(std::int32_t size) noexcept {
  HostState* host = currentHost();
  return host ? host->newHandle(size, true) : nullptr;
}

void VELTRANE_HOSTAPI_CDECL handleDispose(Handle h) noexcept {
  if (HostState* host = currentHost()) host->disposeHandle(h);
}

std::int32_t VELTRANE_HOSTAPI_CDECL handleGetSize(Handle h) noexcept {
  HostState* host = currentHost();
  if (!host) return 0;
  HandleCell* cell = host->findHandle(h);
  return cell && host->options.handleSizeKnown ? cell->size : 0;
}

OSErr VELTRANE_HOSTAPI_CDECL handleSetSize(Handle h, std::int32_t newSize) noexcept {
  HostState* host = currentHost();
  if (!host) return nilHandleErr;
  HandleCell* cell = host->findHandle(h);
  if (!cell) return nilHandleErr;
  if (newSize < 0) return paramErr;
  void* grown = std::realloc(cell->data, static_cast<std::size_t>(std::max(newSize, 1)));
  if (!grown) return memFullErr;
  if (newSize > cell->size)
    std::memset(static_cast<char*>(grown) + cell->size, freshMemoryByte,
                static_cast<std::size_t>(newSize - cell->size));
  cell->data = static_cast<char*>(grown);
  cell->size = newSize;
  return noErr;
}

Ptr VELTRANE_HOSTAPI_CDECL handleLock(Handle h, Boolean /*moveHigh*/) noexcept {
  HostState* host = currentHost();
  if (!host) return nullptr;
  HandleCell* cell = host->findHandle(h);
  return cell ? cell->data : nullptr;
}

void VELTRANE_HOSTAPI_CDECL handleUnlock(Handle h) noexcept {
  // Locks are not counted; the call only has to name a live handle.
  if (HostState* host = currentHost()) host->findHandle(h);
}

void VELTRANE_HOSTAPI_CDECL handleRecoverSpace(std::int32_t /*size*/) noexcept {}

// ---- buffer suite -------------------------------------------------------

OSErr allocateBuffer(std::int64_t size, BufferID* id) noexcept {
  if (id) *id = nullptr;
  HostState* host = currentHost();
  if (!host || !id) return paramErr;
  const int attempt = ++host->stats.bufferAllocations;
  if (size <= 0) return memFullErr;
  if (host->options.failBufferAllocationAt > 0 && attempt == host->options.failBufferAllocationAt)
    return memFullErr;
  try {
    auto cell = std::make_unique<BufferCell>();
    cell->data = allocateBytes(size, host->options.fillFreshMemory);
    if (!cell->data) return memFullErr;
    cell->size = size;
    auto* key = reinterpret_cast<BufferID>(cell.get());
    host->buffers.emplace(key, std::move(cell));
    ++host->stats.liveBuffers;
    *id = key;
    return noErr;
  } catch (...) {
    return memFullErr;
  }
}

BufferCell* findBuffer(HostState* host, BufferID id) noexcept {
  if (!host) return nullptr;
  const auto it = host->buffers.find(id);
  if (it == host->buffers.end()) {
    ++host->stats.invalidCalls;
    return nullptr;
  }
  return it->second.get();
}

OSErr VELTRANE_HOSTAPI_CDECL bufferAllocate(std::int32_t size, BufferID* id) noexcept {
  return allocateBuffer(size, id);
}

OSErr VELTRANE_HOSTAPI_CDECL bufferAllocate64(std::int64_t size, BufferID* id) noexcept {
  return allocateBuffer(size, id);
}

Ptr VELTRANE_HOSTAPI_CDECL bufferLock(BufferID id, Boolean /*moveHigh*/) noexcept {
  BufferCell* cell = findBuffer(currentHost(), id);
  if (!cell) return nullptr;
  if (cell->locks++ == 0) ++currentHost()->stats.lockedBuffers;
  return static_cast<Ptr>(cell->data);
}

void VELTRANE_HOSTAPI_CDECL bufferUnlock(BufferID id) noexcept {
  HostState* host = currentHost();
  if (BufferCell* cell = findBuffer(host, id); cell && cell->locks > 0 && --cell->locks == 0)
    --host->stats.lockedBuffers;
}

void VELTRANE_HOSTAPI_CDECL bufferFree(BufferID id) noexcept {
  HostState* host = currentHost();
  if (!findBuffer(host, id)) return;
  const auto it = host->buffers.find(id);
  if (it->second->locks > 0) --host->stats.lockedBuffers;
  std::free(it->second->data);
  host->buffers.erase(it);
  --host->stats.liveBuffers;
}

std::int64_t availableSpace() noexcept {
  HostState* host = currentHost();
  return host ? std::max<std::int64_t>(host->options.maxSpace, 0) : 0;
}

std::int32_t VELTRANE_HOSTAPI_CDECL bufferSpace() noexcept {
  return static_cast<std::int32_t>(std::min<std::int64_t>(availableSpace(), std::numeric_limits<std::int32_t>::max()));
}

std::int64_t VELTRANE_HOSTAPI_CDECL bufferSpace64() noexcept { return availableSpace(); }

OSErr VELTRANE_HOSTAPI_CDECL bufferReserve(std::int32_t size) noexcept { return size < 0 ? paramErr : noErr; }

}  // namespace

Handle HostState::newHandle(std::int32_t size, bool counted) noexcept {
  if (counted) {
    const int attempt = ++stats.handleAllocations;
    if (options.failHandleAllocationAt > 0 && attempt == options.failHandleAllocationAt) return nullptr;
  }
  if (size < 0) return nullptr;
  try {
    auto cell = std::make_unique<HandleCell>();
    cell->data = static_cast<char*>(allocateBytes(size, options.fillFreshMemory));
    if (!cell->data) return nullptr;
    cell->size = size;
    Handle h = &cell->data;
    handles.emplace(h, std::move(cell));
    return h;
  } catch (...) {
    return nullptr;
  }
}

HandleCell* HostState::findHandle(Handle h) noexcept {
  const auto it = handles.find(h);
  if (it == handles.end()) {
    ++stats.invalidCalls;
    return nullptr;
  }
  return it->second.get();
}

void HostState::disposeHandle(Handle h) noexcept {
  if (!h) return;  // disposing of nothing is allowed
  if (!findHandle(h)) return;
  const auto it = handles.find(h);
  std::free(it->second->data);
  handles.erase(it);
}

void fillMemorySuites(HandleProcs& handles, BufferProcs& buffers) noexcept {
  handles.handleProcsVersion = handleProcsVersion;
  handles.numHandleProcs = handleProcsCount;
  handles.newProc = &handleNew;
  handles.disposeProc = &handleDispose;
  handles.getSizeProc = &handleGetSize;
  handles.setSizeProc = &handleSetSize;
  handles.lockProc = &handleLock;
  handles.unlockProc = &handleUnlock;
  handles.recoverSpaceProc = &handleRecoverSpace;
  handles.disposeRegularHandleProc = &handleDispose;

  buffers.bufferProcsVersion = bufferProcsVersion;
  buffers.numBufferProcs = bufferProcsCount64;
  buffers.allocateProc = &bufferAllocate;
  buffers.lockProc = &bufferLock;
  buffers.unlockProc = &bufferUnlock;
  buffers.freeProc = &bufferFree;
  buffers.spaceProc = &bufferSpace;
  buffers.reserveProc = &bufferReserve;
  buffers.allocateProc64 = &bufferAllocate64;
  buffers.spaceProc64 = &bufferSpace64;
}

}  // namespace veltrane::host::detail

#pragma once
// Internal state of the in-memory host, shared by the files that serve its
// callbacks. Not part of the library's interface.
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "host/sim/sim_host.h"
#include "hostapi/constants.h"
#include "hostapi/filter_record.h"

namespace veltrane::host::detail {

// Storage behind one handle: the handle is the address of `data`, so the
// plug-in sees a real `char**` whose cell holds the data pointer.
struct HandleCell {
  char* data = nullptr;
  std::int32_t size = 0;
};

struct BufferCell {
  void* data = nullptr;
  std::int64_t size = 0;
  int locks = 0;
};

struct ActionDescriptorBox {
  Descriptor value;
};

struct DescriptorReader {
  std::vector<std::pair<std::uint32_t, DescriptorValue>> entries;
  std::size_t next = 0;
  const DescriptorValue* current = nullptr;
  hostapi::DescriptorKeyID* expectedKeys = nullptr;
  hostapi::OSErr error = hostapi::noErr;
};

struct DescriptorWriter {
  Descriptor value;
};

// The output rectangle handed out by the last delivery; its pixels go back
// into the image at every flush.
struct StagedOutput {
  bool active = false;
  hostapi::VRect rect{};
  std::int32_t loPlane = 0;
  std::int32_t hiPlane = 0;
  std::int64_t rowBytes = 0;
};

// The host's main window, which the plug-in reaches through the platform
// data: on Windows a hidden top-level window made for this host and
// destroyed with it (0 when none could be made); none elsewhere.
class HostWindow {
 public:
  HostWindow() noexcept;
  ~HostWindow();
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  std::intptr_t handle() const noexcept { return handle_; }

 private:
  std::intptr_t handle_ = 0;
};

// Draws `area` of `source` (inside its bounds, checked by the caller) with its
// top-left corner at device position (dstCol, dstRow) of the platform's
// drawing context: on Windows a device context (HDC), which must not be null;
// elsewhere a cairo context (cairo_t*) in the dialog's client coordinates,
// and without one the call is accepted and draws nothing.
hostapi::OSErr drawPixelMap(const hostapi::PSPixelMap& source, const hostapi::VRect& area, std::int32_t dstRow,
                            std::int32_t dstCol, void* platformContext) noexcept;

struct HostState {
  HostState(SimImage& img, SimOptions opts, Registry* reg);
  ~HostState();
  HostState(const HostState&) = delete;
  HostState& operator=(const HostState&) = delete;

  SimImage& image;
  SimOptions options;
  Registry ownRegistry;
  Registry* registry;

  // The image as it was when the current run started: input always comes
  // from here, never from pixels the plug-in has already written.
  std::vector<std::uint8_t> original;

  HostWindow window;
  hostapi::FilterRecord record{};
  hostapi::BigDocumentStruct bigDocument{};
  hostapi::PlatformData platform{};
  hostapi::BufferProcs bufferProcs{};
  hostapi::HandleProcs handleProcs{};
  hostapi::ReadDescriptorProcs readProcs{};
  hostapi::WriteDescriptorProcs writeProcs{};
  hostapi::PIDescriptorParameters descriptorParameters{};
  hostapi::SPBasicSuite basicSuite{};
  hostapi::Str255 errorString{};
  std::intptr_t dataCell = 0;

  SimStatistics stats;
  bool cancelled = false;  // the abort test has answered yes during this run

  std::unordered_map<hostapi::Handle, std::unique_ptr<HandleCell>> handles;
  std::unordered_map<hostapi::BufferID, std::unique_ptr<BufferCell>> buffers;
  std::unordered_map<hostapi::PIActionDescriptor, std::unique_ptr<ActionDescriptorBox>> actionDescriptors;
  std::unordered_map<hostapi::PIReadDescriptor, std::unique_ptr<DescriptorReader>> readers;
  std::unordered_map<hostapi::PIWriteDescriptor, std::unique_ptr<DescriptorWriter>> writers;

  std::vector<std::uint8_t> inBuffer;
  std::vector<std::uint8_t> outBuffer;
  std::vector<std::uint8_t> maskBuffer;
  StagedOutput staged;

  // Handles. `counted` allocations take part in the statistics and in failure
  // injection (those the plug-in asks for); the host's own do not.
  hostapi::Handle newHandle(std::int32_t size, bool counted) noexcept;
  HandleCell* findHandle(hostapi::Handle h) noexcept;
  void disposeHandle(hostapi::Handle h) noexcept;

  // A descriptor handle of this host holding `d`, or null when memory fails.
  hostapi::Handle descriptorToHandle(const Descriptor& d, bool counted) noexcept;
  std::optional<Descriptor> descriptorFromHandle(hostapi::Handle h) const;

  // Region protocol.
  bool usesBigCoordinates() const noexcept;
  hostapi::VRect inRect() const noexcept;
  hostapi::VRect outRect() const noexcept;
  hostapi::VRect maskRect() const noexcept;
  bool anyRegionRequested() const noexcept;
  // Cuts every requested rectangle to its first `rows` rows, in the fields
  // the plug-in reads them from.
  void shortenRequests(std::int32_t rows) noexcept;
  hostapi::OSErr deliverRegions() noexcept;
  void flushOutput() noexcept;
  void releaseRegions() noexcept;
  void snapshotOriginal();
};

// The host whose callbacks are being served on this thread: the one inside
// whose call() the plug-in runs, otherwise the one most recently created or
// whose record was last handed out.
HostState* currentHost() noexcept;
void setCurrentHost(HostState* host) noexcept;
void forgetHost(HostState* host) noexcept;

// Suite tables and callbacks (one file each).
void fillMemorySuites(hostapi::HandleProcs& handles, hostapi::BufferProcs& buffers) noexcept;
void fillDescriptorProcs(hostapi::ReadDescriptorProcs& read, hostapi::WriteDescriptorProcs& write) noexcept;
void fillBasicSuite(hostapi::SPBasicSuite& basic) noexcept;

hostapi::OSErr VELTRANE_HOSTAPI_CDECL advanceStateProc() noexcept;

// Serialised form of a descriptor (the content of a descriptor handle).
std::vector<std::uint8_t> serializeDescriptor(const Descriptor& d);
std::optional<Descriptor> deserializeDescriptor(const std::uint8_t* data, std::int64_t size);

inline bool isEmpty(const hostapi::VRect& r) noexcept { return r.bottom <= r.top || r.right <= r.left; }

}  // namespace veltrane::host::detail

// The in-memory host: fills the filter record the way an image editor does,
// serves the direct callbacks and runs the selector sequence.
#include "host/sim/sim_host.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "host/sim/host_state.h"

namespace veltrane::host {

using namespace hostapi;

namespace detail {
namespace {

// The plug-in's callbacks carry no context: they reach the host through the
// current host of the calling thread.
thread_local HostState* current = nullptr;
thread_local std::vector<HostState*> liveHosts;

std::int16_t clamp16(std::int64_t v) noexcept {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, 0, std::numeric_limits<std::int16_t>::max()));
}

Rect16 narrow(const VRect& r) noexcept {
  return {clamp16(r.top), clamp16(r.left), clamp16(r.bottom), clamp16(r.right)};
}

Boolean VELTRANE_HOSTAPI_CDECL abortProc() noexcept {
  HostState* host = currentHost();
  if (!host) return 0;
  const int poll = ++host->stats.abortPolls;
  // A cancel stays pressed for the rest of the run.
  if (host->options.abortAtPoll > 0 && poll == host->options.abortAtPoll) host->cancelled = true;
  return host->cancelled ? 1 : 0;
}

void VELTRANE_HOSTAPI_CDECL progressProc(std::int32_t done, std::int32_t total) noexcept {
  HostState* host = currentHost();
  if (!host) return;
  ++host->stats.progressReports;
  if (!host->options.onProgress) return;
  try {
    host->options.onProgress(done, total);
  } catch (...) {
    // An observer's failure must not reach the plug-in.
  }
}

OSErr VELTRANE_HOSTAPI_CDECL displayPixelsProc(const PSPixelMap* source, const VRect* srcRect, std::int32_t dstRow,
                                               std::int32_t dstCol, void* platformContext) noexcept {
  HostState* host = currentHost();
  if (!host) return filterBadParameters;
  ++host->stats.displayPixelsCalls;
  if (!source || !srcRect || !source->baseAddr || source->rowBytes == 0 || source->colBytes <= 0)
    return filterBadParameters;
  const VRect& b = source->bounds;
  const VRect& r = *srcRect;
  if (isEmpty(r) || r.top < b.top || r.left < b.left || r.bottom > b.bottom || r.right > b.right)
    return filterBadParameters;
  return drawPixelMap(*source, r, dstRow, dstCol, platformContext);
}

void VELTRANE_HOSTAPI_CDECL processEventProc(void* /*event*/) noexcept {}

}  // namespace

HostState* currentHost() noexcept { return current; }

void setCurrentHost(HostState* host) noexcept { current = host; }

void forgetHost(HostState* host) noexcept {
  std::erase(liveHosts, host);
  if (current == host) current = liveHosts.empty() ? nullptr : liveHosts.back();
}

HostState::HostState(SimImage& img, SimOptions opts, Registry* reg)
    : image(img), options(std::move(opts)), registry(reg ? reg : &ownRegistry) {
  if (image.width <= 0 || image.height <= 0) throw std::invalid_argument("SimHost: empty image");
  if (image.planes != 1 && image.planes != 3) throw std::invalid_argument("SimHost: image must have 1 or 3 planes");
  if (image.depth != 8 && image.depth != 16 && image.depth != 32)
    throw std::invalid_argument("SimHost: depth must be 8, 16 or 32");
  if (!options.deepImages && image.depth != 8)
    throw std::invalid_argument("SimHost: this host holds 8-bit images only");
  const std::int64_t bytes = image.rowBytes() * image.height;
  if (static_cast<std::int64_t>(image.pixels.size()) != bytes)
    throw std::invalid_argument("SimHost: pixel buffer does not match the image size");
  const std::int64_t pixelCount = std::int64_t{image.width} * image.height;
  if (!options.mask.empty() && static_cast<std::int64_t>(options.mask.size()) != pixelCount)
    throw std::invalid_argument("SimHost: mask must hold width * height bytes");
  const VRect filter = options.filterRect.value_or(VRect{0, 0, image.height, image.width});
  if (filter.top < 0 || filter.left < 0 || filter.bottom > image.height || filter.right > image.width ||
      isEmpty(filter))
    throw std::invalid_argument("SimHost: filter rectangle must be a non-empty part of the image");

  snapshotOriginal();

  platform.hwnd = window.handle();
  fillMemorySuites(handleProcs, bufferProcs);
  fillDescriptorProcs(readProcs, writeProcs);
  fillBasicSuite(basicSuite);
  if (options.oldSuiteVersions) {
    handleProcs.numHandleProcs = 6;
    handleProcs.recoverSpaceProc = nullptr;
    handleProcs.disposeRegularHandleProc = nullptr;
    bufferProcs.numBufferProcs = bufferProcsCount;
    bufferProcs.allocateProc64 = nullptr;
    bufferProcs.spaceProc64 = nullptr;
  }

  descriptorParameters.descriptorParametersVersion = 0;
  descriptorParameters.playInfo = plugInDialogDisplay;
  descriptorParameters.recordInfo = plugInDialogOptional;
  descriptorParameters.descriptor = nullptr;
  descriptorParameters.readDescriptorProcs = &readProcs;
  descriptorParameters.writeDescriptorProcs = &writeProcs;
  if (options.descriptorRecord != SimOptions::DescriptorRecord::full) {
    descriptorParameters.playInfo = plugInDialogDontDisplay;
    descriptorParameters.readDescriptorProcs = nullptr;
    descriptorParameters.writeDescriptorProcs = nullptr;
  }

  FilterRecord& r = record;
  std::memset(&r, 0, sizeof r);
  r.serialNumber = 0;
  r.abortProc = &abortProc;
  r.progressProc = &progressProc;
  r.parameters = nullptr;
  r.imageSize = {clamp16(image.height), clamp16(image.width)};
  r.planes = static_cast<std::int16_t>(image.planes);
  r.filterRect = narrow(filter);
  r.background = {0xFFFF, 0xFFFF, 0xFFFF};
  r.foreground = {0, 0, 0};
  r.maxSpace = static_cast<std::int32_t>(
      std::clamp<std::int64_t>(options.maxSpace, 0, std::numeric_limits<std::int32_t>::max()));
  r.maxSpace64 = options.maxSpace;
  r.bufferSpace = 0;
  r.bufferSpace64 = 0;
  r.isFloating = 0;
  r.haveMask = options.mask.empty() ? 0 : 1;
  r.autoMask = 0;
  for (int i = 0; i < 4; ++i) {
    r.backColor[i] = 0xFF;
    r.foreColor[i] = 0;
  }
  r.hostSig = hostSignature;
  r.hostProc = nullptr;
  r.imageMode = image.imageMode;
  r.imageHRes = 72 * fixedOne;
  r.imageVRes = 72 * fixedOne;
  r.wholeSize = r.imageSize;
  r.platformData = &platform;
  r.bufferProcs = &bufferProcs;
  r.processEvent = &processEventProc;
  r.displayPixels = &displayPixelsProc;
  r.handleProcs = &handleProcs;
  r.filterCase = r.haveMask ? 2 : 1;
  r.dummyPlaneValue = -1;
  r.advanceState = &advanceStateProc;
  r.supportsPadding = 1;
  r.inputPadding = paddingErrorOnBounds;
  r.outputPadding = paddingErrorOnBounds;
  r.maskPadding = paddingErrorOnBounds;
  r.samplingSupport = 1;
  r.inputRate = fixedOne;
  r.maskRate = fixedOne;
  r.inTileWidth = options.tileWidth;
  r.inTileHeight = options.tileHeight;
  r.outTileWidth = options.tileWidth;
  r.outTileHeight = options.tileHeight;
  r.maskTileWidth = options.tileWidth;
  r.maskTileHeight = options.tileHeight;
  r.descriptorParameters =
      options.descriptorRecord == SimOptions::DescriptorRecord::none ? nullptr : &descriptorParameters;
  r.errorString = &errorString;
  r.sSPBasic = options.basicSuite ? &basicSuite : nullptr;
  r.depth = options.deepImages ? image.depth : 0;
  if (options.bigDocument) {
    bigDocument.PluginUsing32BitCoordinates = 0;
    bigDocument.imageSize32 = {image.height, image.width};
    bigDocument.filterRect32 = filter;
    bigDocument.wholeSize32 = {image.height, image.width};
    r.bigDocumentData = &bigDocument;
  }

  liveHosts.push_back(this);
  current = this;
}

HostState::~HostState() {
  releaseRegions();
  for (auto& [h, cell] : handles) std::free(cell->data);
  for (auto& [id, cell] : buffers) std::free(cell->data);
  forgetHost(this);
}

}  // namespace detail

struct SimHost::State : detail::HostState {
  using HostState::HostState;
};

namespace {

// Makes a host current for the length of one call of the plug-in.
class CurrentHostScope {
 public:
  explicit CurrentHostScope(detail::HostState* host) noexcept : previous_(detail::currentHost()) {
    detail::setCurrentHost(host);
  }
  ~CurrentHostScope() { detail::setCurrentHost(previous_); }
  CurrentHostScope(const CurrentHostScope&) = delete;
  CurrentHostScope& operator=(const CurrentHostScope&) = delete;

 private:
  detail::HostState* previous_;
};

constexpr int maxContinueCalls = 1'000'000;

}  // namespace

SimHost::SimHost(SimImage& image, SimOptions options, Registry* registry)
    : state_(std::make_unique<State>(image, std::move(options), registry)) {}

SimHost::~SimHost() = default;

void SimHost::setScriptDescriptor(std::optional<Descriptor> descriptor, PlaySetting play) {
  State& s = *state_;
  if (s.options.descriptorRecord != SimOptions::DescriptorRecord::full) return;  // no scripting
  if (s.descriptorParameters.descriptor) s.disposeHandle(s.descriptorParameters.descriptor);
  s.descriptorParameters.descriptor = nullptr;
  s.descriptorParameters.playInfo = static_cast<std::int16_t>(play);
  if (descriptor) {
    s.descriptorParameters.descriptor = s.descriptorToHandle(*descriptor, false);
    if (!s.descriptorParameters.descriptor) throw std::bad_alloc();
  }
}

std::optional<Descriptor> SimHost::scriptDescriptor() const {
  const State& s = *state_;
  if (!s.descriptorParameters.descriptor) return std::nullopt;
  return s.descriptorFromHandle(s.descriptorParameters.descriptor);
}

std::int16_t SimHost::call(PluginMainProc entry, std::int16_t selector) {
  State& s = *state_;
  if (!entry) throw std::invalid_argument("SimHost::call: no entry point");
  if (selector == selectorAbout) return about(entry);
  s.stats.selectors.push_back(selector);
  if (selector == selectorStart) {
    s.flushOutput();
    s.snapshotOriginal();
  }
  CurrentHostScope scope(&s);
  std::int16_t result = s.options.resultCellPreset;
  entry(selector, &s.record, &s.dataCell, &result);
  s.flushOutput();
  return result;
}

std::int16_t SimHost::about(PluginMainProc entry) {
  State& s = *state_;
  if (!entry) throw std::invalid_argument("SimHost::about: no entry point");
  s.stats.selectors.push_back(selectorAbout);
  AboutRecord about{};
  about.platformData = &s.platform;
  about.sSPBasic = s.options.basicSuite ? &s.basicSuite : nullptr;
  about.plugInRef = nullptr;
  CurrentHostScope scope(&s);
  std::int16_t result = s.options.resultCellPreset;
  entry(selectorAbout, &about, &s.dataCell, &result);
  return result;
}

void SimHost::beginRun() { state_->cancelled = false; }

void SimHost::failBufferAllocationAt(int allocation) { state_->options.failBufferAllocationAt = allocation; }

void SimHost::abortAtPoll(int poll) {
  state_->options.abortAtPoll = poll;
  state_->cancelled = false;
}

std::int16_t SimHost::runFilter(PluginMainProc entry, bool wantDialog) {
  State& s = *state_;
  beginRun();
  if (!s.record.parameters || wantDialog) {
    if (const std::int16_t r = call(entry, selectorParameters)) {
      s.releaseRegions();
      return r;
    }
  }
  if (const std::int16_t r = call(entry, selectorPrepare)) {
    s.releaseRegions();
    return r;
  }
  if (const std::int16_t r = call(entry, selectorStart)) {
    s.releaseRegions();  // no finish without a successful start
    return r;
  }

  std::int16_t result = 0;
  for (int calls = 0; result == 0 && s.anyRegionRequested(); ++calls) {
    if (calls == maxContinueCalls) {
      result = filterBadParameters;  // the plug-in never stops asking
      break;
    }
    result = s.deliverRegions();
    if (result == 0) result = call(entry, selectorContinue);
  }
  const std::int16_t finish = call(entry, selectorFinish);
  if (result == 0) result = finish;
  s.releaseRegions();
  return result;
}

FilterRecord& SimHost::record() {
  detail::setCurrentHost(state_.get());
  return state_->record;
}

std::intptr_t& SimHost::dataCell() {
  detail::setCurrentHost(state_.get());
  return state_->dataCell;
}

std::vector<std::uint8_t> SimHost::parameterBlock() const {
  const State& s = *state_;
  const Handle parameters = s.record.parameters;  // a packed field: copied before lookup
  const auto it = s.handles.find(parameters);
  if (it == s.handles.end()) return {};
  const auto* data = reinterpret_cast<const std::uint8_t*>(it->second->data);
  return {data, data + it->second->size};
}

const SimStatistics& SimHost::statistics() const {
  State& s = *state_;
  int kept = 0;
  const auto keeps = [&](Handle h) { return h && s.handles.count(h) != 0; };
  if (keeps(s.record.parameters)) ++kept;
  const auto data = reinterpret_cast<Handle>(s.dataCell);
  if (data != s.record.parameters && keeps(data)) ++kept;
  const Handle descriptor = s.descriptorParameters.descriptor;
  if (descriptor != s.record.parameters && descriptor != data && keeps(descriptor)) ++kept;
  s.stats.liveHandles = static_cast<int>(s.handles.size()) - kept;
  return s.stats;
}

}  // namespace veltrane::host

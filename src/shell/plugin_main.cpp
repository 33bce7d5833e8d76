#include "plugin_main.h"

#include <algorithm>
#include <exception>
#include <new>
#include <string>

#include "call_context.h"
#include "host_call.h"
#include "hostapi/constants.h"
#include "image/color_luts.h"
#include "image/cspace_buffer.h"
#include "image/region.h"
#include "messages.h"
#include "parameters.h"
#include "platform/platform.h"
#include "progress.h"
#include "scripting_params.h"

namespace veltrane {
namespace {

using namespace hostapi;

// --- parameter and data handles -------------------------------------------

Handle dataHandle() {
  const CallContext& c = callContext();
  return c.data ? reinterpret_cast<Handle>(*c.data) : nullptr;
}

// A host without a usable handle suite cannot keep the parameters: the user
// is told, and the call ends with errPlugInHostInsufficient.
bool haveHandleSuite() {
  if (handleSuite()) return true;
  reportMessage(noHandleSuiteMessage);
  setResult(hostapi::errPlugInHostInsufficient);
  return false;
}

// Creates whichever of the two handles is missing. Returns false (result
// outOfMemory) when the host cannot supply one.
bool createMissingHandles() {
  FilterRecord* r = filterRecord();
  if (r && !haveHandleSuite()) return false;
  const HandleProcs* h = handleSuite();
  if (!r || !h || !callContext().data) {
    setResult(badParameters);
    return false;
  }
  if (!r->parameters) {
    r->parameters = h->newProc(static_cast<std::int32_t>(sizeof(FilterParameters)));
    if (!r->parameters) {
      setResult(outOfMemory);
      return false;
    }
  }
  if (!dataHandle()) {
    Handle d = h->newProc(1);
    if (!d) {
      setResult(outOfMemory);
      return false;
    }
    *callContext().data = reinterpret_cast<std::intptr_t>(d);
  }
  return true;
}

// Whether the host reports the handle smaller than needed. A size of 0 (or
// no size service) means the host does not know the size: not too small.
bool knownTooSmall(const HandleProcs& h, Handle handle, std::int32_t needed) {
  if (!h.getSizeProc) return false;
  const std::int32_t size = h.getSizeProc(handle);
  return size > 0 && size < needed;
}

// Locks both handles for the rest of the call. A missing handle, or one the
// host reports too small to hold the parameters, is badParameters; a failed
// lock outOfMemory; a host without a handle suite errPlugInHostInsufficient.
bool lockHandles() {
  FilterRecord* r = filterRecord();
  if (r && !haveHandleSuite()) return false;
  const HandleProcs* h = handleSuite();
  Handle data = dataHandle();
  if (!r || !h || !r->parameters || !data) {
    setResult(badParameters);
    return false;
  }
  if (knownTooSmall(*h, r->parameters, static_cast<std::int32_t>(sizeof(FilterParameters))) ||
      knownTooSmall(*h, data, 1)) {
    setResult(badParameters);
    return false;
  }
  Ptr p = h->lockProc(r->parameters, 1);
  Ptr d = h->lockProc(data, 1);
  if (!p || !d) {
    setResult(outOfMemory);
    return false;
  }
  callContext().parameters = reinterpret_cast<FilterParameters*>(p);
  callContext().showDialogFlag = reinterpret_cast<std::uint8_t*>(d);
  return true;
}

void unlockHandles() {
  FilterRecord* r = filterRecord();
  const HandleProcs* h = handleSuite();
  if (!r || !h) return;
  if (Handle data = dataHandle()) h->unlockProc(data);
  if (r->parameters) h->unlockProc(r->parameters);
  callContext().parameters = nullptr;
  callContext().showDialogFlag = nullptr;
}

void writeDefaultsAndShowDialog() {
  setDefaults(*callContext().parameters);
  *callContext().showDialogFlag = 1;
}

// --- selectors ---------------------------------------------------------------

void about(const PluginDefinition& plugin) {
  platform::showMessageBox("About", std::string(plugin.deliverable->aboutTitle) + "\r\n\r\n" + makerAddress);
  setResult(veltrane::noErr);
}

void parametersSelector() {
  if (createMissingHandles() && lockHandles()) writeDefaultsAndShowDialog();
}

// Large images are processed in blocks of blockScale x the host's tile.
bool isLargeImage(std::int64_t w, std::int64_t h, std::int64_t tileW,
                  std::int64_t tileH) {
  return w >= 2 * std::int64_t{blockScaleH()} * tileW || h >= 2 * std::int64_t{blockScaleV()} * tileH;
}

void prepareSelector() {
  FilterRecord* r = filterRecord();
  const bool haveBoth = r && r->parameters && dataHandle();
  if (haveBoth) {
    if (!lockHandles()) return;
  } else {
    if (!createMissingHandles() || !lockHandles()) return;
    writeDefaultsAndShowDialog();
  }

  const Rect f = getFilterRect();
  std::int64_t w = static_cast<std::int64_t>(f.right) - f.left;
  std::int64_t h = static_cast<std::int64_t>(f.bottom) - f.top;
  const std::int64_t tileW = tileSideOrDefault(r->inTileWidth);
  const std::int64_t tileH = tileSideOrDefault(r->inTileHeight);
  if (isLargeImage(w, h, tileW, tileH)) {
    w = blockScaleH() * tileW;
    h = blockScaleV() * tileH;
  }
  const std::int64_t estimate = engineMemoryEstimate(w, h, planesForMode(r->imageMode));
  r->bufferSpace = 0;
  if (r->maxSpace < estimate) {
    lowerBlockScales();
  } else if (r->maxSpace > estimate) {
    r->maxSpace = static_cast<std::int32_t>(estimate);
  }
}

void continueSelector() {
  FilterRecord* r = filterRecord();
  if (!r) return;
  setInRect({0, 0, 0, 0});
  setOutRect({0, 0, 0, 0});
  setMaskRect({0, 0, 0, 0});
  // Both coordinate sets, whichever the host reads.
  r->inRect = r->outRect = r->maskRect = Rect16{0, 0, 0, 0};
}

void finishSelector() {
  if (!lockHandles()) return;
  writeRegistry();
  writeScriptParams();
}

struct ProfilingFlags {
  std::uint8_t digital, film, always;
};

ProfilingFlags profilingFlags(const FilterParameters& p) {
  return {p.flags[flag::profileDigitalOnLoad], p.flags[flag::profileFilmOnLoad], p.flags[flag::alwaysProfile]};
}

void setProfilingFlags(FilterParameters& p, ProfilingFlags f) {
  p.flags[flag::profileDigitalOnLoad] = f.digital;
  p.flags[flag::profileFilmOnLoad] = f.film;
  p.flags[flag::alwaysProfile] = f.always;
}

void profile(const PluginDefinition& plugin, ProfileRequest kind) {
  if (plugin.profile) plugin.profile(profileArgument(kind));
}

void startSelector(const PluginDefinition& plugin) {
  if (!lockHandles()) return;
  CallContext& c = callContext();
  FilterParameters& p = *c.parameters;
  FilterRecord* r = filterRecord();

  keepParametersInRange(p);  // the host keeps the block between runs
  readRegistry();
  const ProfilingFlags fromRegistry = profilingFlags(p);
  const FilterParameters backup = p;

  const Rect f = getFilterRect();
  if (tooSmallToFilter(std::int64_t{f.right} - f.left, std::int64_t{f.bottom} - f.top)) {
    reportMessage(plugin.engine->tooSmallMessage);
    return;
  }

  bool displayDialog = false;
  const ResultCode scriptCode = readScriptParams(displayDialog);
  if (!plugin.scriptingSetsProfilingFlags) setProfilingFlags(p, fromRegistry);

  applyProfilingFlagsRule(p);
  if (plugin.clearsPreviewFlagAtStart) p.flags[flag::previewWithoutDetailMix] = 0;

  bool profiled = false;
  if (p.flags[flag::alwaysProfile]) {
    if (p.flags[flag::profileFilmOnLoad]) {
      profile(plugin, ProfileRequest::film);
      p.flags[flag::profileDigitalOnLoad] = 0;
    } else {
      profile(plugin, ProfileRequest::digital);
      p.flags[flag::profileFilmOnLoad] = 0;
      p.flags[flag::profileDigitalOnLoad] = 1;
    }
    profiled = true;
  }

  bool shown = false;
  int answer = 1;
  if ((scriptCode == veltrane::noErr || scriptCode == missingParameter) && displayDialog) {
    if (!profiled) {
      if (p.flags[flag::profileFilmOnLoad]) {
        profile(plugin, ProfileRequest::film);
        p.flags[flag::profileDigitalOnLoad] = 0;
      } else if (p.flags[flag::profileDigitalOnLoad] || p.flags[flag::alwaysProfile]) {
        profile(plugin, ProfileRequest::digital);
        p.flags[flag::profileFilmOnLoad] = 0;
        if (p.flags[flag::alwaysProfile]) p.flags[flag::profileDigitalOnLoad] = 1;
      }
    }
    c.dialogOpen = true;
    const auto* host = static_cast<const PlatformData*>(r->platformData);
    answer = plugin.runDialog(plugin, host != nullptr ? host->hwnd : 0);
    c.dialogOpen = false;
    shown = true;
    setResult(veltrane::noErr);
  }

  *c.showDialogFlag = 0;

  if (!shown || answer == 1) {
    r->inputRate = fixedOne;
    r->maskRate = fixedOne;
    const Rect rect = getFilterRect();
    filterImage(*plugin.engine, FilterImageRun::onHost(rect, depth()));
    return;
  }

  // Cancel: back to the parameters of the start, but the profiling check
  // boxes keep what the dialog left.
  const ProfilingFlags fromDialog = profilingFlags(p);
  p = backup;
  setProfilingFlags(p, fromDialog);
  writeRegistry();
  writeScriptParams();
  setResult(userCancelled);
}

void dispatch(const PluginDefinition& plugin, std::int16_t selector) {
  switch (selector) {
    case selectorAbout:
      about(plugin);
      break;
    case selectorParameters:
      parametersSelector();
      break;
    case selectorPrepare:
      prepareSelector();
      break;
    case selectorStart:
      startSelector(plugin);
      break;
    case selectorContinue:
      continueSelector();
      break;
    case selectorFinish:
      finishSelector();
      break;
    default:
      setResult(badParameters);
      break;
  }
}

}  // namespace

std::int64_t engineMemoryEstimate(std::int64_t width, std::int64_t height, std::int32_t planes) {
  std::int64_t sum = 0;
  std::int64_t w = width, h = height;
  for (int k = 0; k < 4; ++k) {
    sum += (w + 6) * (h + 6);
    w = (w + 1) / 2;
    h = (h + 1) / 2;
  }
  return 4 * std::max(planes, 3) * sum + 32780;
}

void pluginMain(const PluginDefinition& plugin, std::int16_t selector, void* record,
                std::intptr_t* data, std::int16_t* result) noexcept {
  if (!result) return;
  bool lutsBuilt = false;
  try {
    setActiveDeliverableOnce(*plugin.deliverable);
    bindHostCall(selector, record, data, result);
    // Some hosts preset the cell with a failure code: every call starts
    // from success and sets its own code when it fails.
    *result = veltrane::noErr;
    progressBeginRun();
    if (!record) {
      *result = badParameters;
      return;
    }
    if (selector != selectorAbout) {
      FilterRecord* r = filterRecord();
      if (r->bigDocumentData) r->bigDocumentData->PluginUsing32BitCoordinates = 1;
      if (callContext().services.hasBufferSuite()) lutsBuilt = buildLUTs();
    }
    dispatch(plugin, selector);
  } catch (const std::bad_alloc&) {
    reportMessage(notEnoughMemoryMessage);
    *result = userCancelled;
  } catch (const std::exception& e) {
    try {
      reportMessage(std::string("(Veltrane) Internal error: ") + e.what());
    } catch (...) {
    }
    *result = userCancelled;
  } catch (...) {
    *result = userCancelled;
  }
  try {
    if (selector != selectorAbout) unlockHandles();
    if (lutsBuilt) freeLUTs();
  } catch (...) {
  }
}

}  // namespace veltrane

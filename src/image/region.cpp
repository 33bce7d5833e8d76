#include "region.h"

#include <limits>

#include "hostapi/constants.h"
#include "hostapi/filter_record.h"
#include "sample_conversion.h"
#include "shell/host_call.h"
#include "shell/messages.h"

namespace veltrane {
namespace {

using hostapi::FilterRecord;
using hostapi::Rect16;
using hostapi::VRect;

Rect widen(const Rect16& r) { return {r.top, r.left, r.bottom, r.right}; }
Rect widen(const VRect& r) { return {r.top, r.left, r.bottom, r.right}; }

bool fits16(std::int32_t v) {
  return v >= std::numeric_limits<std::int16_t>::min() &&
         v <= std::numeric_limits<std::int16_t>::max();
}

// Writes r into the 32-bit field when 32-bit coordinates are declared, else
// into the 16-bit one when every coordinate fits.
template <VRect hostapi::BigDocumentStruct::*Big, Rect16 FilterRecord::*Small>
bool storeRect(const Rect& r) {
  FilterRecord* record = filterRecord();
  if (!record) return false;
  if (usingBigDocument()) {
    record->bigDocumentData->*Big = VRect{r.top, r.left, r.bottom, r.right};
    return true;
  }
  if (!fits16(r.top) || !fits16(r.left) || !fits16(r.bottom) || !fits16(r.right)) return false;
  record->*Small = Rect16{static_cast<std::int16_t>(r.top), static_cast<std::int16_t>(r.left),
                          static_cast<std::int16_t>(r.bottom), static_cast<std::int16_t>(r.right)};
  return true;
}

void setPlaneRanges(FilterRecord& r, std::int32_t planes) {
  const auto hi = static_cast<std::int16_t>(planes - 1);
  r.inLoPlane = 0;
  r.inHiPlane = hi;
  r.outLoPlane = 0;
  r.outHiPlane = hi;
}

Rect getOutRect() {
  const FilterRecord* r = filterRecord();
  if (!r) return {};
  return usingBigDocument() ? widen(r->bigDocumentData->outRect32) : widen(r->outRect);
}

// Whether a tile reported as `got` starts where r does and holds all of it.
bool holds(const Rect& got, const Rect& r) {
  return got.top == r.top && got.left == r.left && got.bottom >= r.bottom && got.right >= r.right;
}

// After a successful advance-state: whether the rectangles the host reports
// hold all of r (input, and output when withOutput), from r's first pixel.
// A host may deliver less than was asked for; its tiles are then shorter.
bool deliveredWhole(const Rect& r, bool withOutput) {
  return holds(getInRect(), r) && (!withOutput || holds(getOutRect(), r));
}

// A region that cannot be requested, reported the way a host refusal is.
ResultCode refuseRegion(ResultCode code) {
  messageWithCode(advanceStateErrorMessage, code);
  setResult(code);
  return code;
}

// A delivery smaller than the request: told to the user, badParameters.
ResultCode refuseShortDelivery() {
  reportMessage(shortDeliveryMessage);
  setResult(badParameters);
  return badParameters;
}

// Memory for the proxy's converted copy, locked; null when the host has none.
std::uint8_t* allocateCopy(std::int64_t size, HostBufferId& id) {
  id = nullptr;
  const HostServices& s = callContext().services;
  if (size <= 0 || !s.hasBufferSuite()) return nullptr;
  HostBufferId newId = nullptr;
  if (s.allocateBuffer(s.host, size, &newId) != noErr || !newId) return nullptr;
  void* memory = s.lockBuffer(s.host, newId, true);
  if (!memory) {
    s.freeBuffer(s.host, newId);
    return nullptr;
  }
  id = newId;
  return static_cast<std::uint8_t*>(memory);
}

// Converts every sample of the delivered input tile into the copy, row y of
// the copy at y * rowStride.
template <typename Sample, typename ToByte>
void convertRows(const FilterRecord& r, uint8ImageProxyFromAdvanceState& p, ToByte toByte) {
  const auto* src = static_cast<const std::uint8_t*>(r.inData);
  const std::ptrdiff_t samples = std::ptrdiff_t{p.width} * p.planes;
  for (std::int32_t y = 0; y < p.height; ++y) {
    const auto* s = reinterpret_cast<const Sample*>(src + std::ptrdiff_t{y} * r.inRowBytes);
    std::uint8_t* d = p.base + std::ptrdiff_t{y} * p.rowStride;
    for (std::ptrdiff_t i = 0; i < samples; ++i) d[i] = toByte(s[i]);
  }
}

}  // namespace

bool usingBigDocument() {
  const FilterRecord* r = filterRecord();
  return r && r->bigDocumentData && r->bigDocumentData->PluginUsing32BitCoordinates != 0;
}

Rect getFilterRect() {
  const FilterRecord* r = filterRecord();
  if (!r) return {};
  return usingBigDocument() ? widen(r->bigDocumentData->filterRect32) : widen(r->filterRect);
}

Rect getInRect() {
  const FilterRecord* r = filterRecord();
  if (!r) return {};
  return usingBigDocument() ? widen(r->bigDocumentData->inRect32) : widen(r->inRect);
}

bool setInRect(const Rect& r) {
  return storeRect<&hostapi::BigDocumentStruct::inRect32, &FilterRecord::inRect>(r);
}
bool setOutRect(const Rect& r) {
  return storeRect<&hostapi::BigDocumentStruct::outRect32, &FilterRecord::outRect>(r);
}
bool setMaskRect(const Rect& r) {
  return storeRect<&hostapi::BigDocumentStruct::maskRect32, &FilterRecord::maskRect>(r);
}

std::int32_t planesForMode(std::int32_t mode) {
  // clang-format off
  static constexpr std::int32_t table[18] = {
      1, 1, 3, 3, 4, 3, 3, 0, 1, 3,   // bitmap .. Lab
      1, 3, 3, 4, 0, 1, 3, 1};        // grey 16 .. grey 32
  // clang-format on
  return mode >= 0 && mode < 18 ? table[mode] : 0;
}

std::int32_t eightBitMode(std::int32_t mode) {
  switch (mode) {
    case 10:
    case 17:
      return 1;
    case 11:
    case 16:
      return 3;
    case 12:
      return 9;
    case 13:
      return 4;
    case 14:
      return 7;
    case 15:
      return 8;
    default:
      return mode;
  }
}

std::int32_t depth() {
  const FilterRecord* r = filterRecord();
  if (!r || r->depth == 0) return 8;
  return r->depth;
}

std::int32_t planesToRequest() {
  const std::int32_t planes = planesForMode(callContext().imageMode);
  if (planes == 1 || planes == 3) return planes;
  return planes < 4 ? 1 : 3;
}

std::int32_t checkPlanes() {
  const std::int32_t planes = planesForMode(callContext().imageMode);
  if (planes != 1 && planes != 3) reportMessage(unexpectedPlanesMessage);
  return planesToRequest();
}

ResultCode advance() {
  FilterRecord* r = filterRecord();
  const ResultCode code =
      r && r->advanceState ? r->advanceState() : hostapi::errPlugInHostInsufficient;
  if (code != noErr) {
    messageWithCode(advanceStateErrorMessage, code);
    setResult(code);
  }
  return code;
}

ResultCode requestRegion(const Rect& rect, bool clippedAtLeftEdge) {
  FilterRecord* r = filterRecord();
  if (!r) return refuseRegion(hostapi::errPlugInHostInsufficient);
  setPlaneRanges(*r, checkPlanes());
  if (!setInRect(rect) || !setOutRect(rect) || (haveMask() && !setMaskRect(rect)))
    return refuseRegion(badParameters);
  if (clippedAtLeftEdge) r->inputPadding = hostapi::paddingErrorOnBounds;
  if (const ResultCode code = advance(); code != noErr) return code;
  return deliveredWhole(rect, true) ? noErr : refuseShortDelivery();
}

ResultCode requestInput(const Rect& rect, std::int32_t planes) {
  FilterRecord* r = filterRecord();
  if (!r) return refuseRegion(hostapi::errPlugInHostInsufficient);
  setPlaneRanges(*r, planes);
  if (!setInRect(rect) || !setOutRect(rect)) return refuseRegion(badParameters);
  r->inputRate = hostapi::fixedOne;
  if (const ResultCode code = advance(); code != noErr) return code;
  return deliveredWhole(rect, false) ? noErr : refuseShortDelivery();
}

const void* inData() {
  const FilterRecord* r = filterRecord();
  return r ? r->inData : nullptr;
}
std::ptrdiff_t inRowBytes() {
  const FilterRecord* r = filterRecord();
  return r ? r->inRowBytes : 0;
}
void* outData() {
  const FilterRecord* r = filterRecord();
  return r ? r->outData : nullptr;
}
std::ptrdiff_t outRowBytes() {
  const FilterRecord* r = filterRecord();
  return r ? r->outRowBytes : 0;
}
const std::uint8_t* maskData() {
  const FilterRecord* r = filterRecord();
  return r ? static_cast<const std::uint8_t*>(r->maskData) : nullptr;
}
std::ptrdiff_t maskRowBytes() {
  const FilterRecord* r = filterRecord();
  return r ? r->maskRowBytes : 0;
}
bool haveMask() {
  const FilterRecord* r = filterRecord();
  return r && r->haveMask != 0;
}

std::int32_t hostTileWidth() {
  const FilterRecord* r = filterRecord();
  return r ? r->inTileWidth : 0;
}
std::int32_t hostTileHeight() {
  const FilterRecord* r = filterRecord();
  return r ? r->inTileHeight : 0;
}

void uint8ImageProxyFromAdvanceState::init(std::int16_t planeCount, std::int32_t top,
                                           std::int32_t left, std::int32_t bottom,
                                           std::int32_t right) {
  planes = planeCount;
  width = right - left;
  height = bottom - top;
  bufferID = nullptr;
  base = nullptr;
  sizeBytes = 0;
  data = nullptr;
  bytesPerSample = 0;
  rowStride = 0;
  error = noErr;

  FilterRecord* r = filterRecord();
  if (planes < 1 || width <= 0 || height <= 0) {
    error = badParameters;
    return;
  }
  ResultCode code = hostapi::errPlugInHostInsufficient;
  if (r && r->advanceState) {
    const Rect rect{top, left, bottom, right};
    if (setInRect(rect) && setOutRect(rect)) {
      r->inputRate = hostapi::fixedOne;
      setPlaneRanges(*r, planes);
      code = r->advanceState();
    } else {
      code = badParameters;
    }
  }
  if (code != noErr) {
    error = code;
    messageWithCode(proxyInitErrorMessage, code);
    return;
  }
  if (!deliveredWhole(Rect{top, left, bottom, right}, false)) {
    reportMessage(shortDeliveryMessage);
    error = badParameters;
    return;
  }

  const std::int32_t d = depth();
  if (d == 8) bytesPerSample = 1;
  if (d == 16) bytesPerSample = 2;
  if (d == 32) bytesPerSample = 4;
  if (bytesPerSample == 0) {
    error = badParameters;
    return;
  }
  // A tile whose rows cannot hold the requested samples is not read.
  const std::ptrdiff_t rowSamples = std::ptrdiff_t{width} * planes;
  if (!r->inData || r->inRowBytes < rowSamples * bytesPerSample) {
    error = badParameters;
    return;
  }
  rowStride = r->inRowBytes / bytesPerSample;
  if (bytesPerSample == 1) {
    data = static_cast<std::uint8_t*>(r->inData);
    return;
  }

  sizeBytes = std::int64_t{rowStride} * height;
  base = allocateCopy(sizeBytes, bufferID);
  if (!base) {
    reportMessage(bytesPerSample == 2 ? proxyUint16AllocationMessage : proxyFloatAllocationMessage);
    data = nullptr;
    error = outOfMemory;
    return;
  }
  if (bytesPerSample == 2) {
    convertRows<std::uint16_t>(*r, *this, [](std::uint16_t s) {
      // Samples above the host's 32768 would not fit a byte.
      const float v = workingFrom16(s) + 0.5f;
      return static_cast<std::uint8_t>(v < 255.0f ? v : 255.0f);
    });
  } else {
    convertRows<float>(*r, *this, [](float s) {
      float v = workingFrom32(s);  // clamped to 0..1, encoded, at most 255
      if (!(v > 0.0f)) v = 0.0f;
      return static_cast<std::uint8_t>(v + 0.5f);
    });
  }
  data = base;
}

void uint8ImageProxyFromAdvanceState::release() {
  if (bufferID) {
    const HostServices& s = callContext().services;
    if (s.hasBufferSuite()) {
      s.unlockBuffer(s.host, bufferID);
      s.freeBuffer(s.host, bufferID);
    }
  }
  bufferID = nullptr;
  base = nullptr;
  data = nullptr;
}

}  // namespace veltrane

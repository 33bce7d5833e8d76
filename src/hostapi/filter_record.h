#pragma once
#include <cstddef>
#include <cstdint>

#include "suites.h"
#include "types.h"

namespace veltrane::hostapi {

using TestAbortProc = Boolean(VELTRANE_HOSTAPI_CDECL*)(void);
using ProgressProc = void(VELTRANE_HOSTAPI_CDECL*)(std::int32_t done, std::int32_t total);
using AdvanceStateProc = OSErr(VELTRANE_HOSTAPI_CDECL*)(void);
using DisplayPixelsProc = OSErr(VELTRANE_HOSTAPI_CDECL*)(const PSPixelMap* source,
                                                         const VRect* srcRect, std::int32_t dstRow,
                                                         std::int32_t dstCol,
                                                         void* platformContext);
using HostProc = void(VELTRANE_HOSTAPI_CDECL*)(std::int16_t selector, std::intptr_t* data);
using ProcessEventProc = void(VELTRANE_HOSTAPI_CDECL*)(void* event);
using ColorServicesProc = OSErr(VELTRANE_HOSTAPI_CDECL*)(void* info);
using GetPropertyProc = OSErr(VELTRANE_HOSTAPI_CDECL*)(OSType signature, OSType key,
                                                       std::int32_t index, std::intptr_t* simple,
                                                       Handle* complex);

// Entry point of a filter module.
using PluginMainProc = void(VELTRANE_HOSTAPI_CDECL*)(std::int16_t selector, void* record,
                                                     std::intptr_t* data, std::int16_t* result);

#pragma pack(push, 4)

// 32-bit coordinates, used instead of the record's 16-bit rectangles once the
// plug-in sets PluginUsing32BitCoordinates.
struct BigDocumentStruct {
  std::int32_t PluginUsing32BitCoordinates;
  VPoint imageSize32;
  VRect filterRect32;
  VRect inRect32;
  VRect outRect32;
  VRect maskRect32;
  VPoint floatCoord32;
  VPoint wholeSize32;
};

// The record passed with selectors 1 to 5. The tail after `depth` differs
// between host generations: only read it when the host is known to fill it,
// and test every pointer there for null.
struct FilterRecord {
  std::int32_t serialNumber;
  TestAbortProc abortProc;
  ProgressProc progressProc;
  Handle parameters;
  Point16 imageSize;
  std::int16_t planes;
  Rect16 filterRect;
  RGBColor16 background;
  RGBColor16 foreground;
  std::int32_t maxSpace;
  std::int32_t bufferSpace;
  Rect16 inRect;
  std::int16_t inLoPlane;
  std::int16_t inHiPlane;
  Rect16 outRect;
  std::int16_t outLoPlane;
  std::int16_t outHiPlane;
  void* inData;
  std::int32_t inRowBytes;
  void* outData;
  std::int32_t outRowBytes;
  Boolean isFloating;
  Boolean haveMask;
  Boolean autoMask;
  Rect16 maskRect;
  void* maskData;
  std::int32_t maskRowBytes;
  FilterColor backColor;
  FilterColor foreColor;
  OSType hostSig;
  HostProc hostProc;
  std::int16_t imageMode;
  Fixed imageHRes;
  Fixed imageVRes;
  Point16 floatCoord;
  Point16 wholeSize;
  PlugInMonitor monitor;
  void* platformData;  // points at a PlatformData
  BufferProcs* bufferProcs;
  void* resourceProcs;
  ProcessEventProc processEvent;
  DisplayPixelsProc displayPixels;
  HandleProcs* handleProcs;
  Boolean supportsDummyChannels;
  Boolean supportsAlternateLayouts;
  std::int16_t wantLayout;
  std::int16_t filterCase;
  std::int16_t dummyPlaneValue;
  void* premiereHook;
  AdvanceStateProc advanceState;
  Boolean supportsAbsolute;
  Boolean wantsAbsolute;
  GetPropertyProc getPropertyObsolete;
  Boolean cannotUndo;
  Boolean supportsPadding;
  std::int16_t inputPadding;
  std::int16_t outputPadding;
  std::int16_t maskPadding;
  char samplingSupport;
  char reservedByte;
  Fixed inputRate;
  Fixed maskRate;
  ColorServicesProc colorServices;
  std::int16_t inLayerPlanes;
  std::int16_t inTransparencyMask;
  std::int16_t inLayerMasks;
  std::int16_t inInvertedLayerMasks;
  std::int16_t inNonLayerPlanes;
  std::int16_t outLayerPlanes;
  std::int16_t outTransparencyMask;
  std::int16_t outLayerMasks;
  std::int16_t outInvertedLayerMasks;
  std::int16_t outNonLayerPlanes;
  std::int16_t absLayerPlanes;
  std::int16_t absTransparencyMask;
  std::int16_t absLayerMasks;
  std::int16_t absInvertedLayerMasks;
  std::int16_t absNonLayerPlanes;
  std::int16_t inPreDummyPlanes;
  std::int16_t inPostDummyPlanes;
  std::int16_t outPreDummyPlanes;
  std::int16_t outPostDummyPlanes;
  std::int32_t inColumnBytes;
  std::int32_t inPlaneBytes;
  std::int32_t outColumnBytes;
  std::int32_t outPlaneBytes;
  void* imageServicesProcs;
  void* propertyProcs;
  std::int16_t inTileHeight;
  std::int16_t inTileWidth;
  Point16 inTileOrigin;
  std::int16_t absTileHeight;
  std::int16_t absTileWidth;
  Point16 absTileOrigin;
  std::int16_t outTileHeight;
  std::int16_t outTileWidth;
  Point16 outTileOrigin;
  std::int16_t maskTileHeight;
  std::int16_t maskTileWidth;
  Point16 maskTileOrigin;
  PIDescriptorParameters* descriptorParameters;
  Str255* errorString;
  void* channelPortProcs;
  void* documentInfo;
  SPBasicSuite* sSPBasic;
  void* plugInRef;
  std::int32_t depth;
  Handle iCCprofileData;
  std::int32_t iCCprofileSize;
  std::int32_t canUseICCProfiles;
  std::int32_t hasImageScrap;
  BigDocumentStruct* bigDocumentData;
  PIDescriptorParameters* input3DScene;
  PIDescriptorParameters* output3DScene;
  Boolean createNewLayer;
  Handle iCCWorkingProfileData;
  std::int32_t iCCWorkingProfileSize;
  std::int64_t bufferSpace64;
  std::int64_t maxSpace64;
  char reserved[46];
};

#pragma pack(pop)

// The record passed with selector 0; none of the filter record's callbacks
// exist then. Natural alignment.
struct AboutRecord {
  void* platformData;
  SPBasicSuite* sSPBasic;
  void* plugInRef;
  char reserved[244];
};

}  // namespace veltrane::hostapi

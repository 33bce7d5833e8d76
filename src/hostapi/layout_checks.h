#pragma once
// Compile-time checks that our declarations have the binary layout real hosts
// use: every field of the filter record and the big-document structure, and
// every suite member, at its offset for the target's pointer size.
#include <cstddef>

#include "filter_record.h"
#include "suites.h"

namespace veltrane::hostapi::layout {

inline constexpr bool is64 = sizeof(void*) == 8;
constexpr std::size_t off(std::size_t w32, std::size_t w64) { return is64 ? w64 : w32; }

#define VELTRANE_AT(type, field, w32, w64) \
  static_assert(offsetof(type, field) == off(w32, w64), #type "::" #field " is misplaced")

VELTRANE_AT(FilterRecord, serialNumber, 0, 0);
VELTRANE_AT(FilterRecord, abortProc, 4, 4);
VELTRANE_AT(FilterRecord, progressProc, 8, 12);
VELTRANE_AT(FilterRecord, parameters, 12, 20);
VELTRANE_AT(FilterRecord, imageSize, 16, 28);
VELTRANE_AT(FilterRecord, planes, 20, 32);
VELTRANE_AT(FilterRecord, filterRect, 22, 34);
VELTRANE_AT(FilterRecord, background, 30, 42);
VELTRANE_AT(FilterRecord, foreground, 36, 48);
VELTRANE_AT(FilterRecord, maxSpace, 44, 56);
VELTRANE_AT(FilterRecord, bufferSpace, 48, 60);
VELTRANE_AT(FilterRecord, inRect, 52, 64);
VELTRANE_AT(FilterRecord, inLoPlane, 60, 72);
VELTRANE_AT(FilterRecord, inHiPlane, 62, 74);
VELTRANE_AT(FilterRecord, outRect, 64, 76);
VELTRANE_AT(FilterRecord, outLoPlane, 72, 84);
VELTRANE_AT(FilterRecord, outHiPlane, 74, 86);
VELTRANE_AT(FilterRecord, inData, 76, 88);
VELTRANE_AT(FilterRecord, inRowBytes, 80, 96);
VELTRANE_AT(FilterRecord, outData, 84, 100);
VELTRANE_AT(FilterRecord, outRowBytes, 88, 108);
VELTRANE_AT(FilterRecord, isFloating, 92, 112);
VELTRANE_AT(FilterRecord, haveMask, 93, 113);
VELTRANE_AT(FilterRecord, autoMask, 94, 114);
VELTRANE_AT(FilterRecord, maskRect, 96, 116);
VELTRANE_AT(FilterRecord, maskData, 104, 124);
VELTRANE_AT(FilterRecord, maskRowBytes, 108, 132);
VELTRANE_AT(FilterRecord, backColor, 112, 136);
VELTRANE_AT(FilterRecord, foreColor, 116, 140);
VELTRANE_AT(FilterRecord, hostSig, 120, 144);
VELTRANE_AT(FilterRecord, hostProc, 124, 148);
VELTRANE_AT(FilterRecord, imageMode, 128, 156);
VELTRANE_AT(FilterRecord, imageHRes, 132, 160);
VELTRANE_AT(FilterRecord, imageVRes, 136, 164);
VELTRANE_AT(FilterRecord, floatCoord, 140, 168);
VELTRANE_AT(FilterRecord, wholeSize, 144, 172);
VELTRANE_AT(FilterRecord, monitor, 148, 176);
VELTRANE_AT(FilterRecord, platformData, 188, 216);
VELTRANE_AT(FilterRecord, bufferProcs, 192, 224);
VELTRANE_AT(FilterRecord, resourceProcs, 196, 232);
VELTRANE_AT(FilterRecord, processEvent, 200, 240);
VELTRANE_AT(FilterRecord, displayPixels, 204, 248);
VELTRANE_AT(FilterRecord, handleProcs, 208, 256);
VELTRANE_AT(FilterRecord, supportsDummyChannels, 212, 264);
VELTRANE_AT(FilterRecord, supportsAlternateLayouts, 213, 265);
VELTRANE_AT(FilterRecord, wantLayout, 214, 266);
VELTRANE_AT(FilterRecord, filterCase, 216, 268);
VELTRANE_AT(FilterRecord, dummyPlaneValue, 218, 270);
VELTRANE_AT(FilterRecord, premiereHook, 220, 272);
VELTRANE_AT(FilterRecord, advanceState, 224, 280);
VELTRANE_AT(FilterRecord, supportsAbsolute, 228, 288);
VELTRANE_AT(FilterRecord, wantsAbsolute, 229, 289);
VELTRANE_AT(FilterRecord, getPropertyObsolete, 232, 292);
VELTRANE_AT(FilterRecord, cannotUndo, 236, 300);
VELTRANE_AT(FilterRecord, supportsPadding, 237, 301);
VELTRANE_AT(FilterRecord, inputPadding, 238, 302);
VELTRANE_AT(FilterRecord, outputPadding, 240, 304);
VELTRANE_AT(FilterRecord, maskPadding, 242, 306);
VELTRANE_AT(FilterRecord, samplingSupport, 244, 308);
VELTRANE_AT(FilterRecord, reservedByte, 245, 309);
VELTRANE_AT(FilterRecord, inputRate, 248, 312);
VELTRANE_AT(FilterRecord, maskRate, 252, 316);
VELTRANE_AT(FilterRecord, colorServices, 256, 320);
VELTRANE_AT(FilterRecord, inLayerPlanes, 260, 328);
VELTRANE_AT(FilterRecord, inTransparencyMask, 262, 330);
VELTRANE_AT(FilterRecord, inLayerMasks, 264, 332);
VELTRANE_AT(FilterRecord, inInvertedLayerMasks, 266, 334);
VELTRANE_AT(FilterRecord, inNonLayerPlanes, 268, 336);
VELTRANE_AT(FilterRecord, outLayerPlanes, 270, 338);
VELTRANE_AT(FilterRecord, outTransparencyMask, 272, 340);
VELTRANE_AT(FilterRecord, outLayerMasks, 274, 342);
VELTRANE_AT(FilterRecord, outInvertedLayerMasks, 276, 344);
VELTRANE_AT(FilterRecord, outNonLayerPlanes, 278, 346);
VELTRANE_AT(FilterRecord, absLayerPlanes, 280, 348);
VELTRANE_AT(FilterRecord, absTransparencyMask, 282, 350);
VELTRANE_AT(FilterRecord, absLayerMasks, 284, 352);
VELTRANE_AT(FilterRecord, absInvertedLayerMasks, 286, 354);
VELTRANE_AT(FilterRecord, absNonLayerPlanes, 288, 356);
VELTRANE_AT(FilterRecord, inPreDummyPlanes, 290, 358);
VELTRANE_AT(FilterRecord, inPostDummyPlanes, 292, 360);
VELTRANE_AT(FilterRecord, outPreDummyPlanes, 294, 362);
VELTRANE_AT(FilterRecord, outPostDummyPlanes, 296, 364);
VELTRANE_AT(FilterRecord, inColumnBytes, 300, 368);
VELTRANE_AT(FilterRecord, inPlaneBytes, 304, 372);
VELTRANE_AT(FilterRecord, outColumnBytes, 308, 376);
VELTRANE_AT(FilterRecord, outPlaneBytes, 312, 380);
VELTRANE_AT(FilterRecord, imageServicesProcs, 316, 384);
VELTRANE_AT(FilterRecord, propertyProcs, 320, 392);
VELTRANE_AT(FilterRecord, inTileHeight, 324, 400);
VELTRANE_AT(FilterRecord, inTileWidth, 326, 402);
VELTRANE_AT(FilterRecord, inTileOrigin, 328, 404);
VELTRANE_AT(FilterRecord, absTileHeight, 332, 408);
VELTRANE_AT(FilterRecord, absTileWidth, 334, 410);
VELTRANE_AT(FilterRecord, absTileOrigin, 336, 412);
VELTRANE_AT(FilterRecord, outTileHeight, 340, 416);
VELTRANE_AT(FilterRecord, outTileWidth, 342, 418);
VELTRANE_AT(FilterRecord, outTileOrigin, 344, 420);
VELTRANE_AT(FilterRecord, maskTileHeight, 348, 424);
VELTRANE_AT(FilterRecord, maskTileWidth, 350, 426);
VELTRANE_AT(FilterRecord, maskTileOrigin, 352, 428);
VELTRANE_AT(FilterRecord, descriptorParameters, 356, 432);
VELTRANE_AT(FilterRecord, errorString, 360, 440);
VELTRANE_AT(FilterRecord, channelPortProcs, 364, 448);
VELTRANE_AT(FilterRecord, documentInfo, 368, 456);
VELTRANE_AT(FilterRecord, sSPBasic, 372, 464);
VELTRANE_AT(FilterRecord, plugInRef, 376, 472);
VELTRANE_AT(FilterRecord, depth, 380, 480);
VELTRANE_AT(FilterRecord, iCCprofileData, 384, 484);
VELTRANE_AT(FilterRecord, iCCprofileSize, 388, 492);
VELTRANE_AT(FilterRecord, canUseICCProfiles, 392, 496);
VELTRANE_AT(FilterRecord, hasImageScrap, 396, 500);
VELTRANE_AT(FilterRecord, bigDocumentData, 400, 504);
VELTRANE_AT(FilterRecord, input3DScene, 404, 512);
VELTRANE_AT(FilterRecord, output3DScene, 408, 520);
VELTRANE_AT(FilterRecord, createNewLayer, 412, 528);
VELTRANE_AT(FilterRecord, iCCWorkingProfileData, 416, 532);
VELTRANE_AT(FilterRecord, iCCWorkingProfileSize, 420, 540);
VELTRANE_AT(FilterRecord, bufferSpace64, 424, 544);
VELTRANE_AT(FilterRecord, maxSpace64, 432, 552);
VELTRANE_AT(FilterRecord, reserved, 440, 560);
static_assert(sizeof(FilterRecord) == off(488, 608), "FilterRecord size");

VELTRANE_AT(BigDocumentStruct, PluginUsing32BitCoordinates, 0, 0);
VELTRANE_AT(BigDocumentStruct, imageSize32, 4, 4);
VELTRANE_AT(BigDocumentStruct, filterRect32, 12, 12);
VELTRANE_AT(BigDocumentStruct, inRect32, 28, 28);
VELTRANE_AT(BigDocumentStruct, outRect32, 44, 44);
VELTRANE_AT(BigDocumentStruct, maskRect32, 60, 60);
VELTRANE_AT(BigDocumentStruct, floatCoord32, 76, 76);
VELTRANE_AT(BigDocumentStruct, wholeSize32, 84, 84);
static_assert(sizeof(BigDocumentStruct) == 92, "BigDocumentStruct size");

VELTRANE_AT(AboutRecord, platformData, 0, 0);
VELTRANE_AT(AboutRecord, sSPBasic, 4, 8);
VELTRANE_AT(AboutRecord, plugInRef, 8, 16);
VELTRANE_AT(AboutRecord, reserved, 12, 24);
static_assert(sizeof(AboutRecord) == off(256, 272), "AboutRecord size");
static_assert(sizeof(PlatformData) == off(4, 8), "PlatformData size");

VELTRANE_AT(HandleProcs, newProc, 4, 8);
VELTRANE_AT(HandleProcs, disposeProc, 8, 16);
VELTRANE_AT(HandleProcs, getSizeProc, 12, 24);
VELTRANE_AT(HandleProcs, setSizeProc, 16, 32);
VELTRANE_AT(HandleProcs, lockProc, 20, 40);
VELTRANE_AT(HandleProcs, unlockProc, 24, 48);
VELTRANE_AT(HandleProcs, recoverSpaceProc, 28, 56);
VELTRANE_AT(HandleProcs, disposeRegularHandleProc, 32, 64);
static_assert(sizeof(HandleProcs) == off(36, 72), "HandleProcs size");

VELTRANE_AT(BufferProcs, allocateProc, 4, 8);
VELTRANE_AT(BufferProcs, lockProc, 8, 16);
VELTRANE_AT(BufferProcs, unlockProc, 12, 24);
VELTRANE_AT(BufferProcs, freeProc, 16, 32);
VELTRANE_AT(BufferProcs, spaceProc, 20, 40);
VELTRANE_AT(BufferProcs, reserveProc, 24, 48);
VELTRANE_AT(BufferProcs, allocateProc64, 28, 56);
VELTRANE_AT(BufferProcs, spaceProc64, 32, 64);
static_assert(sizeof(BufferProcs) == off(36, 72), "BufferProcs size");

VELTRANE_AT(PIDescriptorParameters, playInfo, 2, 2);
VELTRANE_AT(PIDescriptorParameters, recordInfo, 4, 4);
VELTRANE_AT(PIDescriptorParameters, descriptor, 8, 8);
VELTRANE_AT(PIDescriptorParameters, writeDescriptorProcs, 12, 16);
VELTRANE_AT(PIDescriptorParameters, readDescriptorProcs, 16, 24);
static_assert(sizeof(PIDescriptorParameters) == off(20, 32), "PIDescriptorParameters size");

VELTRANE_AT(ReadDescriptorProcs, openReadDescriptorProc, 4, 8);
VELTRANE_AT(ReadDescriptorProcs, closeReadDescriptorProc, 8, 16);
VELTRANE_AT(ReadDescriptorProcs, getKeyProc, 12, 24);
VELTRANE_AT(ReadDescriptorProcs, getIntegerProc, 16, 32);
VELTRANE_AT(ReadDescriptorProcs, getFloatProc, 20, 40);
VELTRANE_AT(ReadDescriptorProcs, getBooleanProc, 28, 56);
VELTRANE_AT(ReadDescriptorProcs, getPinnedUnitFloatProc, 72, 144);
static_assert(sizeof(ReadDescriptorProcs) == off(76, 152), "ReadDescriptorProcs size");

VELTRANE_AT(WriteDescriptorProcs, openWriteDescriptorProc, 4, 8);
VELTRANE_AT(WriteDescriptorProcs, closeWriteDescriptorProc, 8, 16);
VELTRANE_AT(WriteDescriptorProcs, putIntegerProc, 12, 24);
VELTRANE_AT(WriteDescriptorProcs, putFloatProc, 16, 32);
VELTRANE_AT(WriteDescriptorProcs, putBooleanProc, 24, 48);
VELTRANE_AT(WriteDescriptorProcs, putScopedObjectProc, 64, 128);
static_assert(sizeof(WriteDescriptorProcs) == off(68, 136), "WriteDescriptorProcs size");

VELTRANE_AT(SPBasicSuite, AcquireSuite, 0, 0);
VELTRANE_AT(SPBasicSuite, ReleaseSuite, 4, 8);
VELTRANE_AT(SPBasicSuite, Undefined, 24, 48);
static_assert(sizeof(SPBasicSuite) == off(28, 56), "SPBasicSuite size");

VELTRANE_AT(DescriptorRegistrySuite, Register, 0, 0);
VELTRANE_AT(DescriptorRegistrySuite, Erase, 4, 8);
VELTRANE_AT(DescriptorRegistrySuite, Get, 8, 16);
static_assert(sizeof(DescriptorRegistrySuite) == off(12, 24), "DescriptorRegistrySuite size");

VELTRANE_AT(ActionDescriptorSuite, Make, 0, 0);
VELTRANE_AT(ActionDescriptorSuite, Free, 4, 8);
VELTRANE_AT(ActionDescriptorSuite, PutInteger, 36, 72);
VELTRANE_AT(ActionDescriptorSuite, PutFloat, 40, 80);
VELTRANE_AT(ActionDescriptorSuite, PutBoolean, 52, 104);
VELTRANE_AT(ActionDescriptorSuite, GetInteger, 88, 176);
VELTRANE_AT(ActionDescriptorSuite, GetFloat, 92, 184);
VELTRANE_AT(ActionDescriptorSuite, GetBoolean, 108, 216);
static_assert(sizeof(ActionDescriptorSuite) == off(46 * 4, 46 * 8), "ActionDescriptorSuite size");

VELTRANE_AT(PSPixelMap, imageMode, 20, 20);
VELTRANE_AT(PSPixelMap, planeBytes, 32, 32);
VELTRANE_AT(PSPixelMap, baseAddr, 36, 40);
VELTRANE_AT(PSPixelMap, mat, 40, 48);
VELTRANE_AT(PSPixelMap, masks, 44, 56);
VELTRANE_AT(PSPixelMap, maskPhaseRow, 48, 64);
VELTRANE_AT(PSPixelMap, pixelOverlays, 56, 72);
VELTRANE_AT(PSPixelMap, colorManagementOptions, 60, 80);
VELTRANE_AT(PSPixelMap, depth, 64, 84);
static_assert(sizeof(PSPixelMap) == off(68, 88), "PSPixelMap size");

#undef VELTRANE_AT

}  // namespace veltrane::hostapi::layout

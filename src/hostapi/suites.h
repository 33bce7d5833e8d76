#pragma once
#include <cstddef>
#include <cstdint>

#include "types.h"

// Callback suites of the filter plug-in interface. Natural alignment on every
// target: an int16 version and an int16 routine count, then the routines.

namespace veltrane::hostapi {

#define VELTRANE_PROC(ret, name, ...) ret(VELTRANE_HOSTAPI_CDECL* name)(__VA_ARGS__)

struct HandleProcs {
  std::int16_t handleProcsVersion;
  std::int16_t numHandleProcs;
  VELTRANE_PROC(Handle, newProc, std::int32_t size);
  VELTRANE_PROC(void, disposeProc, Handle h);
  VELTRANE_PROC(std::int32_t, getSizeProc, Handle h);
  VELTRANE_PROC(OSErr, setSizeProc, Handle h, std::int32_t newSize);
  VELTRANE_PROC(Ptr, lockProc, Handle h, Boolean moveHigh);
  VELTRANE_PROC(void, unlockProc, Handle h);
  VELTRANE_PROC(void, recoverSpaceProc, std::int32_t size);
  VELTRANE_PROC(void, disposeRegularHandleProc, Handle h);
};

struct BufferProcs {
  std::int16_t bufferProcsVersion;
  std::int16_t numBufferProcs;
  VELTRANE_PROC(OSErr, allocateProc, std::int32_t size, BufferID* bufferID);
  VELTRANE_PROC(Ptr, lockProc, BufferID bufferID, Boolean moveHigh);
  VELTRANE_PROC(void, unlockProc, BufferID bufferID);
  VELTRANE_PROC(void, freeProc, BufferID bufferID);
  VELTRANE_PROC(std::int32_t, spaceProc, void);
  // Present only when numBufferProcs >= 8.
  VELTRANE_PROC(OSErr, reserveProc, std::int32_t size);
  VELTRANE_PROC(OSErr, allocateProc64, std::int64_t size, BufferID* bufferID);
  VELTRANE_PROC(std::int64_t, spaceProc64, void);
};

struct PIDescriptorSimpleReference;

struct ReadDescriptorProcs {
  std::int16_t readDescriptorProcsVersion;
  std::int16_t numReadDescriptorProcs;
  VELTRANE_PROC(PIReadDescriptor, openReadDescriptorProc, PIDescriptorHandle descriptor,
                DescriptorKeyID* keyArray);
  VELTRANE_PROC(OSErr, closeReadDescriptorProc, PIReadDescriptor reader);
  VELTRANE_PROC(Boolean, getKeyProc, PIReadDescriptor reader, DescriptorKeyID* key,
                DescriptorTypeID* type, std::int32_t* flags);
  VELTRANE_PROC(OSErr, getIntegerProc, PIReadDescriptor reader, std::int32_t* value);
  VELTRANE_PROC(OSErr, getFloatProc, PIReadDescriptor reader, double* value);
  VELTRANE_PROC(OSErr, getUnitFloatProc, PIReadDescriptor reader, DescriptorUnitID* unit,
                double* value);
  VELTRANE_PROC(OSErr, getBooleanProc, PIReadDescriptor reader, Boolean* value);
  VELTRANE_PROC(OSErr, getTextProc, PIReadDescriptor reader, Handle* text);
  VELTRANE_PROC(OSErr, getAliasProc, PIReadDescriptor reader, Handle* alias);
  VELTRANE_PROC(OSErr, getEnumeratedProc, PIReadDescriptor reader, DescriptorEnumID* value);
  VELTRANE_PROC(OSErr, getClassProc, PIReadDescriptor reader, DescriptorTypeID* value);
  VELTRANE_PROC(OSErr, getSimpleReferenceProc, PIReadDescriptor reader,
                PIDescriptorSimpleReference* ref);
  VELTRANE_PROC(OSErr, getObjectProc, PIReadDescriptor reader, DescriptorTypeID* type,
                PIDescriptorHandle* object);
  VELTRANE_PROC(OSErr, getCountProc, PIReadDescriptor reader, std::uint32_t* count);
  VELTRANE_PROC(OSErr, getStringProc, PIReadDescriptor reader, Str255* text);
  VELTRANE_PROC(OSErr, getPinnedIntegerProc, PIReadDescriptor reader, std::int32_t min,
                std::int32_t max, std::int32_t* value);
  VELTRANE_PROC(OSErr, getPinnedFloatProc, PIReadDescriptor reader, const double* min,
                const double* max, double* value);
  VELTRANE_PROC(OSErr, getPinnedUnitFloatProc, PIReadDescriptor reader, const double* min,
                const double* max, DescriptorUnitID* unit, double* value);
};

struct WriteDescriptorProcs {
  std::int16_t writeDescriptorProcsVersion;
  std::int16_t numWriteDescriptorProcs;
  VELTRANE_PROC(PIWriteDescriptor, openWriteDescriptorProc, void);
  VELTRANE_PROC(OSErr, closeWriteDescriptorProc, PIWriteDescriptor writer,
                PIDescriptorHandle* newDescriptor);
  VELTRANE_PROC(OSErr, putIntegerProc, PIWriteDescriptor writer, DescriptorKeyID key,
                std::int32_t value);
  VELTRANE_PROC(OSErr, putFloatProc, PIWriteDescriptor writer, DescriptorKeyID key,
                const double* value);
  VELTRANE_PROC(OSErr, putUnitFloatProc, PIWriteDescriptor writer, DescriptorKeyID key,
                DescriptorUnitID unit, const double* value);
  VELTRANE_PROC(OSErr, putBooleanProc, PIWriteDescriptor writer, DescriptorKeyID key,
                Boolean value);
  VELTRANE_PROC(OSErr, putTextProc, PIWriteDescriptor writer, DescriptorKeyID key, Handle text);
  VELTRANE_PROC(OSErr, putAliasProc, PIWriteDescriptor writer, DescriptorKeyID key, Handle alias);
  VELTRANE_PROC(OSErr, putEnumeratedProc, PIWriteDescriptor writer, DescriptorKeyID key,
                DescriptorTypeID type, DescriptorEnumID value);
  VELTRANE_PROC(OSErr, putClassProc, PIWriteDescriptor writer, DescriptorKeyID key,
                DescriptorTypeID value);
  VELTRANE_PROC(OSErr, putSimpleReferenceProc, PIWriteDescriptor writer, DescriptorKeyID key,
                const PIDescriptorSimpleReference* ref);
  VELTRANE_PROC(OSErr, putObjectProc, PIWriteDescriptor writer, DescriptorKeyID key,
                DescriptorTypeID type, PIDescriptorHandle object);
  VELTRANE_PROC(OSErr, putCountProc, PIWriteDescriptor writer, DescriptorKeyID key,
                std::uint32_t count);
  VELTRANE_PROC(OSErr, putStringProc, PIWriteDescriptor writer, DescriptorKeyID key,
                const unsigned char* pascalString);
  VELTRANE_PROC(OSErr, putScopedClassProc, PIWriteDescriptor writer, DescriptorKeyID key,
                DescriptorTypeID type);
  VELTRANE_PROC(OSErr, putScopedObjectProc, PIWriteDescriptor writer, DescriptorKeyID key,
                DescriptorTypeID type, PIDescriptorHandle object);
};

struct PIDescriptorParameters {
  std::int16_t descriptorParametersVersion;
  std::int16_t playInfo;
  std::int16_t recordInfo;
  PIDescriptorHandle descriptor;
  WriteDescriptorProcs* writeDescriptorProcs;
  ReadDescriptorProcs* readDescriptorProcs;
};

struct SPBasicSuite {
  VELTRANE_PROC(SPErr, AcquireSuite, const char* name, std::int32_t version, const void** suite);
  VELTRANE_PROC(SPErr, ReleaseSuite, const char* name, std::int32_t version);
  VELTRANE_PROC(SPBoolean, IsEqual, const char* a, const char* b);
  VELTRANE_PROC(SPErr, AllocateBlock, std::size_t size, void** block);
  VELTRANE_PROC(SPErr, FreeBlock, void* block);
  VELTRANE_PROC(SPErr, ReallocateBlock, void* block, std::size_t newSize, void** newBlock);
  VELTRANE_PROC(SPErr, Undefined, void);
};

struct DescriptorRegistrySuite {
  VELTRANE_PROC(OSErr, Register, const char* key, PIActionDescriptor descriptor,
                Boolean isPersistent);
  VELTRANE_PROC(OSErr, Erase, const char* key);
  VELTRANE_PROC(OSErr, Get, const char* key, PIActionDescriptor* descriptor);
};

// Version 2 of the action descriptor suite: 46 routines, of which the first
// 28 are declared with their signatures.
struct ActionDescriptorSuite {
  VELTRANE_PROC(OSErr, Make, PIActionDescriptor* descriptor);
  VELTRANE_PROC(OSErr, Free, PIActionDescriptor descriptor);
  VELTRANE_PROC(OSErr, GetType, PIActionDescriptor d, DescriptorKeyID key, DescriptorTypeID* type);
  VELTRANE_PROC(OSErr, GetKey, PIActionDescriptor d, std::uint32_t index, DescriptorKeyID* key);
  VELTRANE_PROC(OSErr, HasKey, PIActionDescriptor d, DescriptorKeyID key, Boolean* hasKey);
  VELTRANE_PROC(OSErr, GetCount, PIActionDescriptor d, std::uint32_t* count);
  VELTRANE_PROC(OSErr, IsEqual, PIActionDescriptor d, PIActionDescriptor other, Boolean* isEqual);
  VELTRANE_PROC(OSErr, Erase, PIActionDescriptor d, DescriptorKeyID key);
  VELTRANE_PROC(OSErr, Clear, PIActionDescriptor d);
  VELTRANE_PROC(OSErr, PutInteger, PIActionDescriptor d, DescriptorKeyID key, std::int32_t value);
  VELTRANE_PROC(OSErr, PutFloat, PIActionDescriptor d, DescriptorKeyID key, double value);
  VELTRANE_PROC(OSErr, PutUnitFloat, PIActionDescriptor d, DescriptorKeyID key,
                DescriptorUnitID unit, double value);
  VELTRANE_PROC(OSErr, PutString, PIActionDescriptor d, DescriptorKeyID key, const char* cString);
  VELTRANE_PROC(OSErr, PutBoolean, PIActionDescriptor d, DescriptorKeyID key, Boolean value);
  VELTRANE_PROC(OSErr, PutList, PIActionDescriptor d, DescriptorKeyID key, PIActionList list);
  VELTRANE_PROC(OSErr, PutObject, PIActionDescriptor d, DescriptorKeyID key,
                DescriptorClassID type, PIActionDescriptor value);
  VELTRANE_PROC(OSErr, PutGlobalObject, PIActionDescriptor d, DescriptorKeyID key,
                DescriptorClassID type, PIActionDescriptor value);
  VELTRANE_PROC(OSErr, PutEnumerated, PIActionDescriptor d, DescriptorKeyID key,
                DescriptorEnumTypeID type, DescriptorEnumID value);
  VELTRANE_PROC(OSErr, PutReference, PIActionDescriptor d, DescriptorKeyID key,
                PIActionReference ref);
  VELTRANE_PROC(OSErr, PutClass, PIActionDescriptor d, DescriptorKeyID key,
                DescriptorClassID value);
  VELTRANE_PROC(OSErr, PutGlobalClass, PIActionDescriptor d, DescriptorKeyID key,
                DescriptorClassID value);
  VELTRANE_PROC(OSErr, PutAlias, PIActionDescriptor d, DescriptorKeyID key, Handle alias);
  VELTRANE_PROC(OSErr, GetInteger, PIActionDescriptor d, DescriptorKeyID key, std::int32_t* value);
  VELTRANE_PROC(OSErr, GetFloat, PIActionDescriptor d, DescriptorKeyID key, double* value);
  VELTRANE_PROC(OSErr, GetUnitFloat, PIActionDescriptor d, DescriptorKeyID key,
                DescriptorUnitID* unit, double* value);
  VELTRANE_PROC(OSErr, GetStringLength, PIActionDescriptor d, DescriptorKeyID key,
                std::uint32_t* length);
  VELTRANE_PROC(OSErr, GetString, PIActionDescriptor d, DescriptorKeyID key, char* buffer,
                std::uint32_t maxLength);
  VELTRANE_PROC(OSErr, GetBoolean, PIActionDescriptor d, DescriptorKeyID key, Boolean* value);
  // GetList .. GetData: not used by the plug-ins.
  void* laterRoutines[18];
};

struct PSPixelMask {
  PSPixelMask* next;
  void* maskData;
  std::int32_t rowBytes;
  std::int32_t colBytes;
  std::int32_t maskDescription;
};

struct PSPixelMap {
  std::int32_t version;
  VRect bounds;
  std::int32_t imageMode;
  std::int32_t rowBytes;
  std::int32_t colBytes;
  std::int32_t planeBytes;
  void* baseAddr;
  // version 1
  PSPixelMask* mat;
  PSPixelMask* masks;
  std::int32_t maskPhaseRow;
  std::int32_t maskPhaseCol;
  // version 2
  void* pixelOverlays;
  std::uint32_t colorManagementOptions;
  // version 3
  std::int16_t depth;
};

#undef VELTRANE_PROC

}  // namespace veltrane::hostapi

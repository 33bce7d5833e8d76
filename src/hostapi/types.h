#pragma once
#include <cstdint>

// The basic types of the filter plug-in interface, declared with fixed-width
// types so that the layout is the same under every compiler of a platform.

#if defined(_WIN32) && !defined(_WIN64)
#define VELTRANE_HOSTAPI_CDECL __cdecl
#else
#define VELTRANE_HOSTAPI_CDECL
#endif

namespace veltrane::hostapi {

using OSErr = std::int16_t;
using SPErr = std::int32_t;
using SPBoolean = std::int32_t;
using Boolean = std::uint8_t;
using Fixed = std::int32_t;  // 16.16 fixed point
using OSType = std::uint32_t;
using DescriptorKeyID = std::uint32_t;
using DescriptorTypeID = std::uint32_t;
using DescriptorClassID = std::uint32_t;
using DescriptorEnumID = std::uint32_t;
using DescriptorEnumTypeID = std::uint32_t;
using DescriptorUnitID = std::uint32_t;
using Ptr = char*;
using Handle = char**;

struct OpaqueBuffer;
using BufferID = OpaqueBuffer*;
struct OpaqueReadDescriptor;
using PIReadDescriptor = OpaqueReadDescriptor*;
struct OpaqueWriteDescriptor;
using PIWriteDescriptor = OpaqueWriteDescriptor*;
struct OpaqueActionDescriptor;
using PIActionDescriptor = OpaqueActionDescriptor*;
struct OpaqueActionList;
using PIActionList = OpaqueActionList*;
struct OpaqueActionReference;
using PIActionReference = OpaqueActionReference*;
using PIDescriptorHandle = Handle;

inline constexpr Fixed fixedOne = 0x00010000;

struct Point16 {
  std::int16_t v;
  std::int16_t h;
};

// Bottom and right are exclusive.
struct Rect16 {
  std::int16_t top;
  std::int16_t left;
  std::int16_t bottom;
  std::int16_t right;
};

struct VPoint {
  std::int32_t v;
  std::int32_t h;
};

struct VRect {
  std::int32_t top;
  std::int32_t left;
  std::int32_t bottom;
  std::int32_t right;
};

struct RGBColor16 {
  std::uint16_t red;
  std::uint16_t green;
  std::uint16_t blue;
};

struct PlugInMonitor {
  Fixed gamma;
  Fixed redX, redY;
  Fixed greenX, greenY;
  Fixed blueX, blueY;
  Fixed whiteX, whiteY;
  Fixed ambient;
};

using FilterColor = std::uint8_t[4];
using Str255 = unsigned char[256];

// The host's main window, reached through the record's platformData pointer.
struct PlatformData {
  std::intptr_t hwnd;
};

}  // namespace veltrane::hostapi

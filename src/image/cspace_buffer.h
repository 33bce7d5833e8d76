#pragma once
#include <cstddef>
#include <cstdint>

#include "shell/call_context.h"

namespace veltrane {

// An interleaved three-channel float image on the 0..255 encoded scale with a
// mirrored margin around it, in host buffer memory. A plain record: whoever
// creates one releases it on every path.
struct cspaceBuffer {
  HostBufferId bufferID = nullptr;
  std::int64_t sizeBytes = 0;  // fullHeight * fullWidth * 12; 64-bit so large pieces cannot overflow
  std::int32_t kind = 0;
  std::int32_t fullWidth = 0;  // width + 2 * marginX; also the row stride in pixels
  std::int32_t fullHeight = 0;
  float* data = nullptr;
  std::uint8_t locked = 0;
  std::int32_t marginX = 0;
  std::int32_t marginY = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int64_t rowBytes = 0;  // fullWidth * 3 * 4
  std::uint8_t marginsValid = 0;
  std::int64_t capacityBytes = 0;  // bytes of the memory held; at least sizeBytes while held

  // Geometry, then memory from the host (locked). Never reports by itself.
  void create(std::int32_t mX, std::int32_t mY, std::int32_t w, std::int32_t h);
  // True when memory is held. Otherwise reports the shortage and returns
  // false: shows the out-of-memory message and stores userCancelled in the
  // result cell, so that the host, told the user already knows, adds no
  // message of its own. Callers then end their work with outOfMemory, the
  // reason their own callers see.
  bool allocatedOrReported();
  void release();
  void releaseIfLocked();
  // Takes memory again for the same geometry when none is held.
  void reacquire();
  // Gives the buffer a new geometry on the memory it holds, when that memory
  // is large enough (margins become invalid); returns false, changing
  // nothing, when it is not or none is held.
  bool reshape(std::int32_t mX, std::int32_t mY, std::int32_t w, std::int32_t h);

  // Floats per full row.
  std::ptrdiff_t stride() const noexcept { return static_cast<std::ptrdiff_t>(fullWidth) * 3; }
  // Address of inner pixel (x, y); x and y may reach into the margin.
  float* at(std::int32_t x, std::int32_t y) noexcept {
    return data + (static_cast<std::ptrdiff_t>(y) + marginY) * stride() +
           (static_cast<std::ptrdiff_t>(x) + marginX) * 3;
  }
  const float* at(std::int32_t x, std::int32_t y) const noexcept {
    return data + (static_cast<std::ptrdiff_t>(y) + marginY) * stride() +
           (static_cast<std::ptrdiff_t>(x) + marginX) * 3;
  }

  // Inner pixels from 8-bit interleaved RGB rows rowStep bytes apart.
  void fillFromInterleaved8(const std::uint8_t* src, std::ptrdiff_t rowStep, std::int32_t w,
                            std::int32_t h);
  // Inner pixels (0,0)..(w-1,h-1) from the region at column x0, row y0 of a
  // host tile with samplesPerPixel interleaved samples and rowBytes bytes per
  // row. With one sample per pixel the sample fills all three channels;
  // otherwise channels 0..2 come from the first three samples.
  void fillFromHost8(const std::uint8_t* src, std::ptrdiff_t rowBytes, std::int32_t x0,
                     std::int32_t y0, std::int32_t w, std::int32_t h, std::int32_t samplesPerPixel);
  void fillFromHost16(const std::uint16_t* src, std::ptrdiff_t rowBytes, std::int32_t x0,
                      std::int32_t y0, std::int32_t w, std::int32_t h,
                      std::int32_t samplesPerPixel);
  void fillFromHost32(const float* src, std::ptrdiff_t rowBytes, std::int32_t x0, std::int32_t y0,
                      std::int32_t w, std::int32_t h, std::int32_t samplesPerPixel);

  // Fills the margin by reflection about the edge pixels; marginsValid = 1.
  void mirrorMargins();
  // Copies the top-left min(fullWidth) x min(fullHeight) pixels of other.
  void copyFrom(const cspaceBuffer& other);
  // Exchanges the memory (and margin state) of two buffers of the same
  // geometry instead of copying; returns false, changing nothing, when the
  // geometries differ.
  bool swapMemoryWith(cspaceBuffer& other) noexcept;
};

inline constexpr const char* notEnoughMemoryMessage =
    "(Veltrane) Not enough memory to run this plugin.  Go to Edit -> Preferences -> Performance "
    "to increase memory allocation.";

}  // namespace veltrane

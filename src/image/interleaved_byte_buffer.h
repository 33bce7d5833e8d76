#pragma once
#include <cstdint>

#include "shell/call_context.h"
#include "shell/result_codes.h"

namespace veltrane {

// 8-bit R, G, B bytes in host buffer memory, for display.
struct InterleavedByteBuffer {
  HostBufferId bufferID = nullptr;
  std::uint8_t* base = nullptr;
  std::uint8_t* data = nullptr;
  std::int64_t sizeBytes = 0;  // width * rows * 3
  std::int32_t width = 0;
  std::int32_t rows = 0;
  std::int32_t rowBytes = 0;  // width * 3
  ResultCode error = noErr;

  // Interleaves three planes stored one after another (each totalBytes / 3
  // long, rows rowStep bytes apart). On allocation failure: error = outOfMemory and
  // a message with the code.
  void makeInterleaved(std::int32_t w, std::int32_t rowStep, std::int64_t totalBytes,
                       const std::uint8_t* source);
  void releaseInterleaved();
};

inline constexpr const char* interleavedErrorMessage =
    "Veltrane: Error making interleaved buffer. Code: ";

}  // namespace veltrane

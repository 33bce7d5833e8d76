#include "interleaved_byte_buffer.h"

#include <cstddef>
#include <limits>

#include "shell/messages.h"

namespace veltrane {

void InterleavedByteBuffer::makeInterleaved(std::int32_t w, std::int32_t rowStep,
                                            std::int64_t totalBytes, const std::uint8_t* source) {
  bufferID = nullptr;
  base = nullptr;
  data = nullptr;
  error = noErr;
  width = 0;
  rows = 0;
  rowBytes = 0;
  sizeBytes = 0;

  constexpr std::int64_t maxInt = std::numeric_limits<std::int32_t>::max();
  // Each plane row is read for w bytes, so a row may not be wider than the
  // step between rows; otherwise the last row of the last plane would be
  // read past the end of the source.
  if (w < 0 || rowStep <= 0 || totalBytes < 0 || w > rowStep || std::int64_t{w} * 3 > maxInt ||
      (!source && totalBytes > 0)) {
    error = badParameters;
    return;
  }
  const std::int64_t rowCount = totalBytes / rowStep / 3;
  if (rowCount > maxInt) {
    error = badParameters;
    return;
  }
  width = w;
  rows = static_cast<std::int32_t>(rowCount);
  rowBytes = w * 3;
  sizeBytes = std::int64_t{w} * rowCount * 3;
  if (sizeBytes == 0) return;  // nothing to interleave, nothing held

  const HostServices& s = callContext().services;
  HostBufferId id = nullptr;
  void* memory = nullptr;
  if (s.hasBufferSuite() && s.allocateBuffer(s.host, sizeBytes, &id) == noErr && id) {
    memory = s.lockBuffer(s.host, id, true);
    if (!memory) s.freeBuffer(s.host, id);
  }
  if (!memory) {
    error = outOfMemory;
    messageWithCode(interleavedErrorMessage, error);
    return;
  }
  bufferID = id;
  base = static_cast<std::uint8_t*>(memory);
  data = base;

  const std::int64_t planeBytes = totalBytes / 3;
  for (std::int32_t y = 0; y < rows; ++y) {
    const std::uint8_t* r = source + static_cast<std::ptrdiff_t>(y) * rowStep;
    const std::uint8_t* g = r + static_cast<std::ptrdiff_t>(planeBytes);
    const std::uint8_t* b = g + static_cast<std::ptrdiff_t>(planeBytes);
    std::uint8_t* d = data + static_cast<std::ptrdiff_t>(y) * rowBytes;
    for (std::int32_t x = 0; x < w; ++x, d += 3) {
      d[0] = r[x];
      d[1] = g[x];
      d[2] = b[x];
    }
  }
}

void InterleavedByteBuffer::releaseInterleaved() {
  const HostServices& s = callContext().services;
  if (bufferID && s.hasBufferSuite()) {
    s.unlockBuffer(s.host, bufferID);
    s.freeBuffer(s.host, bufferID);
  }
  bufferID = nullptr;
  base = nullptr;
  data = nullptr;
}

}  // namespace veltrane

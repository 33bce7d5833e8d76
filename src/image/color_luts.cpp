#include "color_luts.h"

#include <cmath>
#include <cstdint>

#include "shell/call_context.h"
#include "shell/messages.h"

namespace veltrane {
namespace {

constexpr std::int64_t decodeLUTBytes = std::int64_t{decodeLUTSize} * 4;  // 16388
constexpr std::int64_t encodeLUTBytes = std::int64_t{encodeLUTSize} * 4;  // 16392

// One table in host buffer memory.
struct HostTable {
  HostBufferId id = nullptr;
  float* data = nullptr;
};

// Process-wide, like the rest of the call context: written on the host's
// thread at the start and end of a call, only read in between.
HostTable cspaceBufferID_LUT2;  // the decode table
HostTable encodeTable;

// Unlocks and frees a table through the current host's buffer suite. Without
// a buffer suite the identifier is simply forgotten: it cannot be freed, and
// touching it could reach memory of a host that is gone.
void releaseTable(HostTable& table) {
  const HostServices& s = callContext().services;
  if (table.id && s.hasBufferSuite()) {
    s.unlockBuffer(s.host, table.id);
    s.freeBuffer(s.host, table.id);
  }
  table = HostTable{};
}

bool acquireTable(HostTable& table, std::int64_t bytes) {
  const HostServices& s = callContext().services;
  HostBufferId id = nullptr;
  if (s.allocateBuffer(s.host, bytes, &id) != noErr || !id) return false;
  void* memory = s.lockBuffer(s.host, id, true);
  if (!memory) {
    s.freeBuffer(s.host, id);
    return false;
  }
  table.id = id;
  table.data = static_cast<float*>(memory);
  return true;
}

// Linear interpolation in a table of n entries at position t. t is limited
// to 0..n-1 and the index to the last pair, so no input reads outside the
// table (NaN counts as 0). Within the callers' range this is exactly
// table[i] * (1 - f) + table[i + 1] * f with i = trunc(t).
template <typename Entry>
float interpolate(float t, int n, Entry entry) {
  const float last = static_cast<float>(n - 1);
  if (!(t > 0.0f)) t = 0.0f;
  if (t > last) t = last;
  int i = static_cast<int>(t);
  if (i > n - 2) i = n - 2;
  const float f = t - static_cast<float>(i);
  return entry(i) * (1.0f - f) + entry(i + 1) * f;
}

}  // namespace

float encodeCurve(int i) {
  const float x = static_cast<float>(i) / 4096.0f;
  if (x <= 0.0031308f) return x * 3294.6f;
  const float p =
      static_cast<float>(std::pow(static_cast<double>(x), static_cast<double>(0.41666666f)));
  return 269.025f * p - 14.025f;
}

float decodeCurve(int i) {
  const float v = static_cast<float>(i) / 16.0f;
  if (v <= 10.0164f) return v * 3.035270e-4f;
  const float base = v * 0.0037171266f + 0.0521327f;
  return static_cast<float>(std::pow(static_cast<double>(base), static_cast<double>(2.4f)));
}

bool buildLUTs() {
  const HostServices& s = callContext().services;
  if (!s.hasBufferSuite()) return false;

  if (cspaceBufferID_LUT2.id) {
    reportMessage(lutAlreadyCreatedMessage);
    // The tables of an earlier call were never freed: free them now rather
    // than lose them.
    releaseTable(cspaceBufferID_LUT2);
  }
  releaseTable(encodeTable);

  if (!acquireTable(cspaceBufferID_LUT2, decodeLUTBytes) ||
      !acquireTable(encodeTable, encodeLUTBytes)) {
    freeLUTs();
    return false;
  }

  for (int i = 0; i < decodeLUTSize; ++i) cspaceBufferID_LUT2.data[i] = decodeCurve(i);
  for (int i = 0; i < encodeLUTSize; ++i) encodeTable.data[i] = encodeCurve(i);
  return true;
}

void freeLUTs() {
  releaseTable(cspaceBufferID_LUT2);
  releaseTable(encodeTable);
}

bool lutsBuilt() { return cspaceBufferID_LUT2.data && encodeTable.data; }

const float* encodeLUT() { return encodeTable.data; }
const float* decodeLUT() { return cspaceBufferID_LUT2.data; }

// Without the tables (no host call in progress) the entries are computed on
// the spot; the result is the same as with the tables.
float encode(float x) {
  const float t = x * 4096.0f;
  if (const float* table = encodeTable.data)
    return interpolate(t, encodeLUTSize, [table](int i) { return table[i]; });
  return interpolate(t, encodeLUTSize, encodeCurve);
}

float decode(float v) {
  const float t = v * 16.0f;
  if (const float* table = cspaceBufferID_LUT2.data)
    return interpolate(t, decodeLUTSize, [table](int i) { return table[i]; });
  return interpolate(t, decodeLUTSize, decodeCurve);
}

}  // namespace veltrane

#pragma once
#include <cstdint>

namespace veltrane {

inline constexpr int encodeLUTSize = 4098;  // linear x = i / 4096, one spare entry
inline constexpr int decodeLUTSize = 4097;  // encoded v = i / 16, v = 0..256

// Allocates both tables from the host's buffer suite and fills them; called
// at the start of every host call that has a buffer suite. Returns false when
// the host could not supply the memory.
bool buildLUTs();
// Releases both tables at the end of the call.
void freeLUTs();
bool lutsBuilt();

// The tables themselves (null unless built).
const float* encodeLUT();
const float* decodeLUT();

// Linear 0..1 to encoded 0..255 (x must already be limited to 0..1).
float encode(float x);
// Encoded 0..255 to linear 0..1 (v must already be limited to 0..255).
float decode(float v);

// The table entries, computed without the tables.
float encodeCurve(int i);
float decodeCurve(int i);

inline constexpr const char* lutAlreadyCreatedMessage =
    "(Veltrane)Internal error: cspaceBufferID_LUT2 already created.";

}  // namespace veltrane

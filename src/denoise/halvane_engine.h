#pragma once
#include "framework/driver.h"

namespace veltrane {

// The noise reducer: its settings, the four-level engine and the blending
// writers.
const PieceEngine& halvaneEngine();

}  // namespace veltrane

#include "halvane_engine.h"

#include "denoise/blend.h"
#include "denoise/engine_settings.h"
#include "denoise/pyramid.h"

namespace veltrane {
namespace {

ResultCode runHalvane(cspaceBuffer& input, cspaceBuffer& output) { return reduceNoise(input, output); }

constexpr PieceEngine halvane{
    &deriveEngineSettings, &runHalvane,    &writeResult8,
    &writeResult16,        &writeResult32, "Halvane error: Image is too small.",
};

}  // namespace

const PieceEngine& halvaneEngine() { return halvane; }

}  // namespace veltrane

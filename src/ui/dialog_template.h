#pragma once
#include <cstdint>

#include "platform/widgets.h"
#include "shell/parameter_tables.h"

namespace veltrane::ui {

using platform::ControlKind;
using platform::ControlSpec;
using platform::DialogTemplate;

// Ids of the controls that are not slot controls (those come from the
// deliverable's ParameterControlTable).
namespace control {
inline constexpr std::int32_t ok = 1;
inline constexpr std::int32_t cancel = 2;
inline constexpr std::int32_t resetAll = 12;
inline constexpr std::int32_t resetNoiseReduction = 501;
inline constexpr std::int32_t profileDigital = 503;
inline constexpr std::int32_t profileFilm = 505;
inline constexpr std::int32_t saveSettings = 903;
inline constexpr std::int32_t loadSettings = 904;
inline constexpr std::int32_t selectNoise = 907;
inline constexpr std::int32_t showAdvanced = 931;
inline constexpr std::int32_t showOriginal = 901;
inline constexpr std::int32_t zoom100 = 914;
inline constexpr std::int32_t zoom200 = 915;
inline constexpr std::int32_t zoom400 = 917;
inline constexpr std::int32_t overviewPane = 913;
inline constexpr std::int32_t viewPane = 900;
// The noise reducer's instructions, shown while the advanced controls are
// hidden.
inline constexpr std::int32_t firstInstruction = 932;
inline constexpr std::int32_t lastInstruction = 937;
}  // namespace control

// The label of a slot is the static whose id is the slider's minus one.
constexpr std::int32_t labelIdOf(const RealControl& slot) noexcept { return slot.sliderId - 1; }

// The dialog of a deliverable, 564 x 498 dialog units, built once per
// deliverable from its control table. Layout (7-unit margins):
// - left half (x 7..278): one row per slot with a label, a slider and an
//   edit box; first the slots shown always, in slot order, then the band of
//   advanced slots and advanced check boxes. The noise reducer's
//   instructions lie in that band (they and the advanced controls are never
//   shown together); the matte filter's instructions follow the band. At
//   the bottom the flag check boxes and "Show Advanced Controls", then the
//   buttons two to a row, OK and Cancel last.
// - right half (x 288..557): the overview pane on top, below it the zoom
//   buttons and "Show Original", then the view pane down to the bottom.
const DialogTemplate& dialogTemplate(const Deliverable& deliverable);

}  // namespace veltrane::ui

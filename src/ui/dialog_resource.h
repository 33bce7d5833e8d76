#pragma once
#include <string>

#include "platform/widgets.h"

namespace veltrane::ui {

// The window classes the resource gives each kind of control.
const char* windowClassOf(platform::ControlKind kind) noexcept;

// A resource-compiler script that declares `dialog` as the dialog resource
// `name` (platform::dialogResourceName in the modules): a classic dialog template in dialog units, one generic control
// statement per control, in template order. Texts are written with the
// script's own escapes ("" for a quote, \\ for a backslash); '&' keeps its
// meaning as the shortcut mark. The script includes the system headers for
// the style names it uses.
std::string dialogResourceScript(const platform::DialogTemplate& dialog, const char* name);

}  // namespace veltrane::ui

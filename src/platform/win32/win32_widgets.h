#pragma once
// The Windows widget toolkit: the filter dialog as a modal dialog box made
// from the module's dialog resource, with the common controls' trackbars as
// sliders. The dialog procedure is DissolveProc, which the module exports.
#include <cstdint>

#include "platform/widgets.h"

namespace veltrane::platform::win32 {

// Called when the module is attached to a process: remembers the module's
// instance handle (where the dialog resource lives) and registers the
// toolkit as the one the filter dialog runs on.
void attachModule(void* instance) noexcept;

// The module's instance handle; that of the program when no module was
// attached (tests that link the dialog code directly).
void* moduleInstance() noexcept;

// The filter dialog's window handle while it is open, else null: the owner
// of the windows it opens in turn (the file choosers).
void* openDialogWindow() noexcept;

// Opens the dialog resource FILTERDIALOG of the module, owned by
// dialogOwner(); throws std::runtime_error when the dialog cannot be made.
class Win32Toolkit final : public WidgetToolkit {
 public:
  int runModal(const DialogTemplate& dialog, DialogEvents& events) override;
};

Win32Toolkit& toolkit() noexcept;

}  // namespace veltrane::platform::win32

#pragma once
// What each operating system's platform file provides; platform.cpp holds
// the replaceable handlers and calls these when none is set.
#include <optional>
#include <string>

#include "platform/platform.h"

namespace veltrane::platform::native {

void showMessageBox(const std::string& caption, const std::string& text);

// The processors the system reports; 0 or less when it cannot tell.
int processorCount();

// The system's file chooser; nullopt when cancelled or when there is none.
std::optional<std::string> chooseFile(bool saving, const FileChooserSpec& spec);

// The system's widget toolkit for the filter dialog where it is loaded on
// demand; null when there is none (or, after a one-line notice on standard
// error, when it cannot run here: no display, library missing).
WidgetToolkit* widgetToolkit();

}  // namespace veltrane::platform::native

#pragma once
#include <functional>
#include <string>

namespace veltrane::platform {

// Shows a modal message box without owner window and an OK button.
void showMessageBox(const std::string& caption, const std::string& text);

// Replaces the message box (tests capture what would have been shown);
// an empty function restores the platform's own.
using MessageSink = std::function<void(const std::string& caption, const std::string& text)>;
void setMessageSink(MessageSink sink);

// Shows the filter's modal dialog and returns 1 for OK or 2 for Cancel.
// Without a dialog implementation it answers OK and changes nothing.
int showFilterDialog();

// Replaces the dialog (tests answer OK or Cancel); an empty function
// restores the platform's own.
using DialogHandler = std::function<int()>;
void setDialogHandler(DialogHandler handler);

// Number of processors the system reports (at least 1). A non-zero override
// replaces the system's answer (tests, benchmarks).
int processorCount();
void setProcessorCountOverride(int count);

}  // namespace veltrane::platform

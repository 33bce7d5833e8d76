#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// The widget toolkit the filter dialog runs on (widgets.h): the registered
// one, else (unless a dialog handler is set) the system's, loaded on demand;
// null when there is none, and then the start selector falls back to
// showFilterDialog. The toolkit is not owned and must outlive its
// registration.
class WidgetToolkit;
void setWidgetToolkit(WidgetToolkit* toolkit);
WidgetToolkit* widgetToolkit();

// The window the filter dialog belongs to: the host's main window as the
// filter record hands it over (a window handle on Windows); 0 for none.
void setDialogOwner(std::intptr_t window);
std::intptr_t dialogOwner();

// What a file chooser offers: named patterns in the order shown, the
// extension added to a name typed without one, and for saving whether to ask
// before replacing an existing file.
struct FileChooserSpec {
  struct Filter {
    std::string name;     // "Halvane Files (*.hlv)"
    std::string pattern;  // "*.hlv"
  };
  std::vector<Filter> filters;
  std::string defaultExtension;  // without the dot
  bool promptOverwrite = false;
};

// Asks for an existing file to read, or for a new or existing file name to
// write; nullopt when the user cancels. Without a chooser implementation
// both answer "cancelled".
std::optional<std::string> chooseFileToOpen(const FileChooserSpec& spec);
std::optional<std::string> chooseFileToSave(const FileChooserSpec& spec);

// Replaces both choosers (tests answer with a path or nullopt); `saving`
// tells which one was asked. An empty function restores the platform's own.
using FileChooserHandler = std::function<std::optional<std::string>(bool saving, const FileChooserSpec& spec)>;
void setFileChooserHandler(FileChooserHandler handler);

// Number of processors the system reports (at least 1). A non-zero override
// replaces the system's answer (tests, benchmarks).
int processorCount();
void setProcessorCountOverride(int count);

}  // namespace veltrane::platform

// The operating-system-independent half of the platform seam: the handlers
// tests install, the widget toolkit registration and the processor count
// override. The native fall-backs live in posix/ and win32/.
#include "platform/platform.h"

#include <utility>

#include "platform/native.h"

namespace veltrane::platform {
namespace {

MessageSink& sink() {
  static MessageSink s;
  return s;
}

DialogHandler& dialogHandler() {
  static DialogHandler h;
  return h;
}

WidgetToolkit*& registeredToolkit() {
  static WidgetToolkit* toolkit = nullptr;
  return toolkit;
}

std::intptr_t& ownerWindow() {
  static std::intptr_t window = 0;
  return window;
}

FileChooserHandler& fileChooserHandler() {
  static FileChooserHandler h;
  return h;
}

int& countOverride() {
  static int n = 0;
  return n;
}

std::optional<std::string> chooseFile(bool saving, const FileChooserSpec& spec) {
  if (fileChooserHandler()) return fileChooserHandler()(saving, spec);
  return native::chooseFile(saving, spec);
}

}  // namespace

void setMessageSink(MessageSink s) { sink() = std::move(s); }

void showMessageBox(const std::string& caption, const std::string& text) {
  if (sink()) {
    sink()(caption, text);
    return;
  }
  native::showMessageBox(caption, text);
}

void setDialogHandler(DialogHandler handler) { dialogHandler() = std::move(handler); }

int showFilterDialog() { return dialogHandler() ? dialogHandler()() : 1; }

void setWidgetToolkit(WidgetToolkit* toolkit) { registeredToolkit() = toolkit; }

WidgetToolkit* widgetToolkit() {
  if (registeredToolkit() != nullptr) return registeredToolkit();
  // A replaced dialog (tests) opens no window either.
  if (dialogHandler()) return nullptr;
  return native::widgetToolkit();
}

void setDialogOwner(std::intptr_t window) { ownerWindow() = window; }

std::intptr_t dialogOwner() { return ownerWindow(); }

void setFileChooserHandler(FileChooserHandler handler) { fileChooserHandler() = std::move(handler); }

std::optional<std::string> chooseFileToOpen(const FileChooserSpec& spec) { return chooseFile(false, spec); }

std::optional<std::string> chooseFileToSave(const FileChooserSpec& spec) { return chooseFile(true, spec); }

void setProcessorCountOverride(int count) { countOverride() = count > 0 ? count : 0; }

int processorCount() {
  if (countOverride() > 0) return countOverride();
  const int n = native::processorCount();
  return n > 0 ? n : 1;
}

}  // namespace veltrane::platform

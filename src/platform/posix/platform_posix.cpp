#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace veltrane::platform {
namespace {

MessageSink& sink() {
  static MessageSink s;
  return s;
}

int& countOverride() {
  static int n = 0;
  return n;
}

}  // namespace

void setMessageSink(MessageSink s) { sink() = std::move(s); }

void showMessageBox(const std::string& caption, const std::string& text) {
  if (sink()) {
    sink()(caption, text);
    return;
  }
  // No window system here: one line on standard error, whatever the
  // caption, with line breaks folded into blanks.
  (void)caption;
  std::string line = text;
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  std::fprintf(stderr, "Veltrane: %s\n", line.c_str());
  std::fflush(stderr);
}

static DialogHandler& dialogHandler() {
  static DialogHandler h;
  return h;
}

void setDialogHandler(DialogHandler handler) { dialogHandler() = std::move(handler); }

int showFilterDialog() { return dialogHandler() ? dialogHandler()() : 1; }

static WidgetToolkit*& registeredToolkit() {
  static WidgetToolkit* toolkit = nullptr;
  return toolkit;
}

void setWidgetToolkit(WidgetToolkit* toolkit) { registeredToolkit() = toolkit; }

WidgetToolkit* widgetToolkit() { return registeredToolkit(); }

static FileChooserHandler& fileChooserHandler() {
  static FileChooserHandler h;
  return h;
}

void setFileChooserHandler(FileChooserHandler handler) { fileChooserHandler() = std::move(handler); }

std::optional<std::string> chooseFileToOpen(const FileChooserSpec& spec) {
  if (fileChooserHandler()) return fileChooserHandler()(false, spec);
  return std::nullopt;
}

std::optional<std::string> chooseFileToSave(const FileChooserSpec& spec) {
  if (fileChooserHandler()) return fileChooserHandler()(true, spec);
  return std::nullopt;
}

void setProcessorCountOverride(int count) { countOverride() = count > 0 ? count : 0; }

int processorCount() {
  if (countOverride() > 0) return countOverride();
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

}  // namespace veltrane::platform

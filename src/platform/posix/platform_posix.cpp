// The native half of the platform seam on POSIX systems. The filter dialog
// runs on the GTK toolkit, a shared object next to the module that is loaded
// only when a dialog opens on a display.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/gtk/gtk_toolkit.h"
#include "platform/native.h"

namespace veltrane::platform::native {
namespace {

// One line on standard error, whatever the caption, with line breaks
// folded into blanks.
void printLine(const std::string& text) {
  std::string line = text;
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  std::fprintf(stderr, "Veltrane: %s\n", line.c_str());
  std::fflush(stderr);
}

bool set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// The folder of the file this code was loaded from (the plug-in module),
// with its trailing '/'; "" when unknown.
std::string ownFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&ownFolder), &info) == 0 || info.dli_fname == nullptr) return {};
  const std::string file = info.dli_fname;
  const std::size_t slash = file.find_last_of('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

// The toolkit's operations once loaded; the library stays for the life of
// the process (GTK cannot be unloaded).
const gtk::EntryPoints*& loadedEntry() {
  static const gtk::EntryPoints* entry = nullptr;
  return entry;
}

const gtk::EntryPoints* loadToolkit() {
  if (loadedEntry() != nullptr) return loadedEntry();
  const std::string path = ownFolder() + gtk::libraryName;
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (library == nullptr) {
    const char* why = dlerror();
    printLine(std::string("the dialog cannot open (") + (why != nullptr ? why : path.c_str()) +
              "); the filter runs with the current settings.");
    return nullptr;
  }
  void* symbol = dlsym(library, gtk::entryName);
  const auto entry = reinterpret_cast<gtk::EntryFunction>(reinterpret_cast<std::uintptr_t>(symbol));
  const gtk::EntryPoints* points = entry != nullptr ? entry(gtk::interfaceVersion) : nullptr;
  if (points == nullptr) {
    printLine("the dialog cannot open: the display does not answer; the filter runs with the current settings.");
    return nullptr;
  }
  loadedEntry() = points;
  return points;
}

}  // namespace

// Always a line on standard error; over an open GTK dialog a message box too.
void showMessageBox(const std::string& caption, const std::string& text) {
  printLine(text);
  if (const gtk::EntryPoints* entry = loadedEntry()) entry->showMessage(caption, text);
}

int processorCount() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 && n < 65536 ? static_cast<int>(n) : 0;
}

// GTK's chooser once the dialog's toolkit is loaded; otherwise there is no
// chooser: "cancelled".
std::optional<std::string> chooseFile(bool saving, const FileChooserSpec& spec) {
  const gtk::EntryPoints* entry = loadedEntry();
  if (entry == nullptr) return std::nullopt;
  return entry->chooseFile(saving, spec);
}

WidgetToolkit* widgetToolkit() {
  if (!set("DISPLAY") && !set("WAYLAND_DISPLAY")) {
    printLine("no display (DISPLAY and WAYLAND_DISPLAY are unset): the dialog cannot open; "
              "the filter runs with the current settings.");
    return nullptr;
  }
  const gtk::EntryPoints* entry = loadToolkit();
  return entry != nullptr ? entry->toolkit : nullptr;
}

}  // namespace veltrane::platform::native

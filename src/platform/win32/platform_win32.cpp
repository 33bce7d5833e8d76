// The native half of the platform seam on Windows.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// after windows.h, which it needs
#include <commdlg.h>

#include <string>
#include <vector>

#include "platform/native.h"
#include "platform/win32/file_filter.h"
#include "platform/win32/win32_widgets.h"

namespace veltrane::platform {

namespace win32 {

std::string fileFilterList(const FileChooserSpec& spec) {
  const auto usable = [](const std::string& s) { return !s.empty() && s.find('\0') == std::string::npos; };
  std::string list;
  for (const FileChooserSpec::Filter& f : spec.filters) {
    if (!usable(f.name) || !usable(f.pattern)) continue;
    list += f.name;
    list += '\0';
    list += f.pattern;
    list += '\0';
  }
  if (!list.empty()) list += '\0';
  return list;
}

}  // namespace win32

namespace native {
namespace {

using FileDialogProc = BOOL(WINAPI*)(LPOPENFILENAMEA);

// GetOpenFileNameA or GetSaveFileNameA from comdlg32.dll, which is loaded
// only while a chooser is up: the plug-in links against nothing beyond
// kernel32 and user32.
class CommonDialogs {
 public:
  CommonDialogs() : module_(LoadLibraryA("comdlg32.dll")) {}
  ~CommonDialogs() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  CommonDialogs(const CommonDialogs&) = delete;
  CommonDialogs& operator=(const CommonDialogs&) = delete;

  FileDialogProc find(const char* name) const {
    if (module_ == nullptr) return nullptr;
    const FARPROC proc = GetProcAddress(module_, name);
    // Through the generic function pointer type, which GCC accepts as a cast
    // to any other function type.
    return reinterpret_cast<FileDialogProc>(reinterpret_cast<void (*)()>(proc));
  }

 private:
  HMODULE module_;
};

}  // namespace

void showMessageBox(const std::string& caption, const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

int processorCount() {
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors < 65536 ? static_cast<int>(info.dwNumberOfProcessors) : 0;
}

// The dialog's toolkit is registered when the module is attached.
WidgetToolkit* widgetToolkit() { return nullptr; }

std::optional<std::string> chooseFile(bool saving, const FileChooserSpec& spec) {
  const CommonDialogs dialogs;
  const FileDialogProc run = dialogs.find(saving ? "GetSaveFileNameA" : "GetOpenFileNameA");
  if (run == nullptr) return std::nullopt;

  const std::string filters = win32::fileFilterList(spec);
  std::vector<char> path(32768, '\0');  // the longest path Windows accepts

  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  // Owned by the filter dialog, which it disables while it is up.
  ofn.hwndOwner = static_cast<HWND>(win32::openDialogWindow());
  ofn.lpstrFilter = filters.empty() ? nullptr : filters.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = path.data();
  ofn.nMaxFile = static_cast<DWORD>(path.size());
  ofn.lpstrDefExt = spec.defaultExtension.empty() ? nullptr : spec.defaultExtension.c_str();
  ofn.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (saving) {
    if (spec.promptOverwrite) ofn.Flags |= OFN_OVERWRITEPROMPT;
  } else {
    ofn.Flags |= OFN_FILEMUSTEXIST;
  }
  if (!run(&ofn)) return std::nullopt;  // cancelled, or the dialog failed
  path.back() = '\0';
  return std::string(path.data());
}

}  // namespace native
}  // namespace veltrane::platform

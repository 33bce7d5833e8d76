// Loading a filter module on Windows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

#include "host/sim/module_file.h"
#include "host/sim/sim_host.h"
#include "hostapi/resources.h"

namespace veltrane::host {

namespace {

std::wstring widen(const std::string& text) {
  if (text.empty()) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
  if (size <= 0) return {};
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

std::string systemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message;
  if (length > 0 && text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (size > 0) {
      message.resize(static_cast<std::size_t>(size));
      ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), message.data(), size, nullptr, nullptr);
    }
  }
  if (text) ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  return message.empty() ? "error " + std::to_string(code) : message;
}

// The full path of a file name, so that the module's own folder is searched
// for the DLLs it needs and nothing else is mistaken for it.
std::wstring fullPath(const std::wstring& path) {
  const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring out(size, L'\0');
  const DWORD n = ::GetFullPathNameW(path.c_str(), size, out.data(), nullptr);
  if (n == 0 || n >= size) return path;
  out.resize(n);
  return out;
}

// The plug-in's message boxes, as the command-line host shows them: one line
// on standard error whatever the caption, as the POSIX build of the plug-ins
// writes them, and
// answered with the first button so that the plug-in carries on.
int WINAPI messageBoxToStandardError(HWND /*owner*/, LPCSTR text, LPCSTR /*caption*/, UINT type) {
  std::string line = text ? text : "";
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  std::fprintf(stderr, "Veltrane: %s\n", line.c_str());
  std::fflush(stderr);
  switch (type & MB_TYPEMASK) {
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_YESNO:
    case MB_YESNOCANCEL: return IDYES;
    case MB_RETRYCANCEL: return IDRETRY;
    default: return IDOK;
  }
}

// Points the module's import of `function` from user32.dll at `replacement`.
void replaceUser32Import(HMODULE module, const char* function, void* replacement) {
  auto* base = reinterpret_cast<std::uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return;
  for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name;
       ++entry) {
    if (_stricmp(reinterpret_cast<const char*>(base + entry->Name), "user32.dll") != 0) continue;
    const DWORD namesAt = entry->OriginalFirstThunk ? entry->OriginalFirstThunk : entry->FirstThunk;
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + namesAt);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if ((names->u1.Ordinal & IMAGE_ORDINAL_FLAG) != 0) continue;
      const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
      DWORD protection = 0;
      if (!::VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection)) continue;
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      ::VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
    }
  }
}

// One resource of type `type` with the plug-in resource id; empty when the
// module has none.
std::vector<std::uint8_t> resourceBytes(HMODULE module, const wchar_t* type) {
  HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(hostapi::pluginResourceId), type);
  if (!info) return {};
  const auto* data = static_cast<const std::uint8_t*>(::LockResource(::LoadResource(module, info)));
  if (!data) return {};
  return std::vector<std::uint8_t>(data, data + ::SizeofResource(module, info));
}

ModuleResources resourcesOf(HMODULE module) {
  return {resourceBytes(module, L"PIPL"), resourceBytes(module, L"AETE"), resourceBytes(module, L"VPAR")};
}

}  // namespace

ModuleResources readModuleResources(const std::string& path) {
  const std::wstring wide = widen(path);
  if (wide.empty()) throw std::runtime_error("cannot read plug-in module '" + path + "': not a valid file name");
  const ModuleFile file = inspectModuleFile(std::filesystem::path(wide), ModuleFormat::pe);
  if (!file.problem.empty())
    throw std::runtime_error("cannot read plug-in module '" + path + "': it is " + file.problem);
  HMODULE handle = ::LoadLibraryExW(fullPath(wide).c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!handle)
    throw std::runtime_error("cannot read plug-in module '" + path + "': " + systemMessage(::GetLastError()));
  ModuleResources resources = resourcesOf(handle);
  ::FreeLibrary(handle);
  return resources;
}

PluginModule PluginModule::load(const std::string& path) {
  const std::wstring wide = widen(path);
  if (wide.empty()) throw std::runtime_error("cannot load plug-in module '" + path + "': not a valid file name");
  const ModuleFile file = inspectModuleFile(std::filesystem::path(wide), ModuleFormat::pe);
  if (!file.problem.empty())
    throw std::runtime_error("cannot load plug-in module '" + path + "': it is " + file.problem);
  // No error box for a missing dependency: the failure is reported here.
  DWORD previousMode = 0;
  const bool modeSet = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode) != 0;
  HMODULE handle = ::LoadLibraryExW(fullPath(wide).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  const DWORD error = ::GetLastError();
  if (modeSet) ::SetThreadErrorMode(previousMode, nullptr);
  if (!handle) throw std::runtime_error("cannot load plug-in module '" + path + "': " + systemMessage(error));
  FARPROC symbol = ::GetProcAddress(handle, "PluginMain");
  if (!symbol) {
    const std::string reason = systemMessage(::GetLastError());
    ::FreeLibrary(handle);
    throw std::runtime_error("plug-in module '" + path + "' exports no PluginMain: " + reason);
  }
  replaceUser32Import(handle, "MessageBoxA", reinterpret_cast<void*>(&messageBoxToStandardError));
  PluginModule module;
  module.handle_ = handle;
  module.entry_ = reinterpret_cast<hostapi::PluginMainProc>(reinterpret_cast<void*>(symbol));
  module.resources_ = resourcesOf(handle);
  return module;
}

PluginModule::PluginModule(PluginModule&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      entry_(std::exchange(other.entry_, nullptr)),
      resources_(std::move(other.resources_)) {}

PluginModule& PluginModule::operator=(PluginModule&& other) noexcept {
  if (this != &other) {
    if (handle_) ::FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = std::exchange(other.handle_, nullptr);
    entry_ = std::exchange(other.entry_, nullptr);
    resources_ = std::move(other.resources_);
  }
  return *this;
}

PluginModule::~PluginModule() {
  if (handle_) ::FreeLibrary(static_cast<HMODULE>(handle_));
}

}  // namespace veltrane::host

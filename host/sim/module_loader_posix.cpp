// Loading a filter module on POSIX systems.
#include <dlfcn.h>

#include <stdexcept>
#include <utility>

#include "host/sim/module_file.h"
#include "host/sim/sim_host.h"

namespace veltrane::host {

namespace {

std::string lastLoaderError() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}

}  // namespace

PluginModule PluginModule::load(const std::string& path) {
  ModuleFile file = inspectModuleFile(path, ModuleFormat::elf);
  if (!file.problem.empty())
    throw std::runtime_error("cannot load plug-in module '" + path + "': it is " + file.problem);
  dlerror();  // clear any earlier error
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) throw std::runtime_error("cannot load plug-in module '" + path + "': " + lastLoaderError());
  dlerror();
  void* symbol = dlsym(handle, "PluginMain");
  if (!symbol) {
    const std::string reason = lastLoaderError();
    dlclose(handle);
    throw std::runtime_error("plug-in module '" + path + "' exports no PluginMain: " + reason);
  }
  PluginModule module;
  module.handle_ = handle;
  module.entry_ = reinterpret_cast<hostapi::PluginMainProc>(symbol);
  module.resources_ = std::move(file.resources);
  return module;
}

ModuleResources readModuleResources(const std::string& path) {
  ModuleFile file = inspectModuleFile(path, ModuleFormat::elf);
  if (!file.problem.empty())
    throw std::runtime_error("cannot read plug-in module '" + path + "': it is " + file.problem);
  return std::move(file.resources);
}

PluginModule::PluginModule(PluginModule&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      entry_(std::exchange(other.entry_, nullptr)),
      resources_(std::move(other.resources_)) {}

PluginModule& PluginModule::operator=(PluginModule&& other) noexcept {
  if (this != &other) {
    if (handle_) dlclose(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
    entry_ = std::exchange(other.entry_, nullptr);
    resources_ = std::move(other.resources_);
  }
  return *this;
}

PluginModule::~PluginModule() {
  if (handle_) dlclose(handle_);
}

}  // namespace veltrane::host

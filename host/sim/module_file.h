#pragma once
// What a host learns from a module file before the system loader maps it.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "host/sim/plugin_description.h"

namespace veltrane::host {

enum class ModuleFormat { elf, pe };

struct ModuleFile {
  std::string problem;                    // why the file cannot be loaded; empty when it can
  // An ELF module's .pipl, .aete and .vpar sections; each empty when the
  // file has none (or one over 1 MiB, which is none of a plug-in's).
  ModuleResources resources;
};

// Checks that the file is a whole shared library of this process's word
// size in `format`: every header, segment and section it names lies inside
// the file, so that mapping it cannot fault on a truncated or damaged file.
ModuleFile inspectModuleFile(const std::filesystem::path& path, ModuleFormat format);


}  // namespace veltrane::host

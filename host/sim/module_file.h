#pragma once
// What a host learns from a module file before the system loader maps it.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace veltrane::host {

enum class ModuleFormat { elf, pe };

struct ModuleFile {
  std::string problem;                    // why the file cannot be loaded; empty when it can
  std::vector<std::uint8_t> propertyList;  // an ELF module's .pipl section; empty when it has none
};

// Checks that the file is a whole shared library of this process's word
// size in `format`: every header, segment and section it names lies inside
// the file, so that mapping it cannot fault on a truncated or damaged file.
ModuleFile inspectModuleFile(const std::filesystem::path& path, ModuleFormat format);

// The unique string of the terminology property ('hstm') of a plug-in
// property list as a module carries it (a 16-bit prelude, then the list);
// empty when the list holds none or is malformed.
std::string propertyListUniqueString(const std::vector<std::uint8_t>& list);

}  // namespace veltrane::host

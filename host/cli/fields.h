#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/sim/plugin_description.h"
#include "host/sim/sim_host.h"

// The settings of a plug-in by name, as its module describes them: the
// fields of its parameter resource, else the parameters of its terminology,
// else four-character keys alone.
namespace veltrane::cli {

#ifdef _WIN32
inline constexpr const char* moduleExtension = ".8bf";
#else
inline constexpr const char* moduleExtension = ".so";
#endif

// The module file `name` ("halvane") in `folder`.
std::filesystem::path moduleIn(const std::filesystem::path& folder, const std::string& name);

// The descriptions of halvane's and mirelle's modules in `folder`; a module
// that is missing or unreadable is left out.
std::vector<host::PluginDescription> describeModulesIn(const std::filesystem::path& folder);

// What a value given by name must be.
enum class ValueType {
  real,     // a finite number
  flag,     // 0, 1, true or false
  integer,  // a whole number (32 bits)
  byForm,   // the module says nothing: true/false, a whole number or a real, by how it is written
};

struct Field {
  std::string name;       // as the module names it; empty for a bare key
  std::uint32_t key = 0;  // 0: the field has no scripting key
  ValueType type = ValueType::byForm;
};

// `text` without the spaces and tabs around it: numbers and names are read
// alike however they are padded.
std::string_view trimmed(std::string_view text);

// Whether the module describes its parameters (a parameter resource or a
// terminology with parameters).
bool describesParameters(const host::PluginDescription& plugin);

// A field by its field name ("overallNoiseLevel"), else by its terminology
// name (any case), else, for exactly four characters, by its scripting key
// ("brgH"). A module that describes no parameters takes keys only.
std::optional<Field> findField(const host::PluginDescription& plugin, std::string_view nameOrKey);

// One --set argument, "FIELD=VALUE", as a descriptor entry typed as the
// field is. Throws CommandError naming the field.
std::pair<std::uint32_t, host::DescriptorValue> parseSetting(const host::PluginDescription& plugin,
                                                             std::string_view setting);

// The values of a settings file saved by a plug-in's dialog, put into
// `values` by scripting key (fields without a key are left out). Values a
// damaged file does not hold whole are left out too, with a warning on
// `warnings`. Throws CommandError naming the file when it cannot be read or
// is not a settings file of this plug-in; `others` (asked only then) name
// the plug-in whose file it is.
void putSettingsFile(const host::PluginDescription& plugin, const std::string& path, host::Descriptor& values,
                     std::ostream& warnings, const std::function<std::vector<host::PluginDescription>()>& others);

// The parameter block as {"reals": {name: value}, "flags": {name: 0|1}};
// nullopt when the block is too short to hold every field. Throws
// CommandError when the module does not describe its block.
std::optional<nlohmann::ordered_json> parametersToJson(const host::PluginDescription& plugin,
                                                       const std::vector<std::uint8_t>& block);

// The fields of a plug-in for --help: "NAME fields (name or key):" and the
// fields that have a key.
std::string fieldList(const host::PluginDescription& plugin);

}  // namespace veltrane::cli

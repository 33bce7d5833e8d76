#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/sim/sim_host.h"
#include "shell/parameter_tables.h"

// The settings of a plug-in by name: the slot names of its deliverable and
// their scripting keys.
namespace veltrane::cli {

struct Field {
  bool isFlag = false;
  std::size_t slot = 0;
  const char* name = nullptr;
  std::uint32_t key = 0;  // 0: the slot has no scripting key
};

// `text` without the spaces and tabs around it: numbers and names are read
// alike however they are padded.
std::string_view trimmed(std::string_view text);

// A slot by its field name ("overallNoiseLevel") or, for exactly four
// characters, by its scripting key ("brgH").
std::optional<Field> findField(const Deliverable& deliverable, std::string_view nameOrKey);

// One --set argument, "FIELD=VALUE", as a descriptor entry: reals take a
// finite number, flags 0, 1, true or false. Throws CommandError naming the
// field.
std::pair<std::uint32_t, host::DescriptorValue> parseSetting(const Deliverable& deliverable,
                                                             std::string_view setting);

// The values of a settings file saved by a plug-in's dialog, put into
// `values` by scripting key (slots without a key are left out). Slots a
// damaged file does not hold whole are left out too, with a warning on
// `warnings`. Throws CommandError naming the file when it cannot be read or
// is not a settings file of this deliverable.
void putSettingsFile(const Deliverable& deliverable, const std::string& path, host::Descriptor& values,
                     std::ostream& warnings);

// The parameter block as {"reals": {name: value}, "flags": {name: 0|1}};
// nullopt when the block is too short to hold every slot.
std::optional<nlohmann::ordered_json> parametersToJson(const Deliverable& deliverable,
                                                       const std::vector<std::uint8_t>& block);

}  // namespace veltrane::cli

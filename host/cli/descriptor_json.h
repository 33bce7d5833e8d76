#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/sim/sim_host.h"

// Descriptors as JSON: the values of a recorded action and of the registry.
// Each value is {"key": "brgH", "type": "float", "value": 40.0}; the types
// are "integer", "float" and "boolean". A key of four printable ASCII
// characters is written as those characters, any other as "0x%08X".
namespace veltrane::cli {

std::string keyToString(std::uint32_t key);
std::optional<std::uint32_t> keyFromString(std::string_view text);

// JSON has no infinities or NaN, and a reader cannot take the null that
// stands for them: the writers leave such values out. These are their keys.
std::vector<std::uint32_t> nonFiniteKeys(const host::Descriptor& descriptor);

nlohmann::ordered_json descriptorToJson(const host::Descriptor& descriptor);
// The same list as text, one value per line, each line indented by `indent`.
std::string descriptorToText(const host::Descriptor& descriptor, const std::string& indent);
// Throws std::invalid_argument describing the first bad entry; with
// `skipped`, bad values are left out and described there instead.
host::Descriptor descriptorFromJson(const nlohmann::json& values, std::vector<std::string>* skipped = nullptr);

// A recorded action: which plug-in, how it was played, and its descriptor.
struct RecordedAction {
  std::string plugin;
  host::PlaySetting play = host::PlaySetting::silent;
  host::Descriptor values;
};

// A recorded action holds a few dozen values; anything much larger is not one.
inline constexpr std::size_t maxRecordedActionBytes = std::size_t{1} << 20;

// Throw CommandError naming the file.
RecordedAction readRecordedAction(const std::filesystem::path& path);
void writeRecordedAction(const std::filesystem::path& path, const RecordedAction& action);

}  // namespace veltrane::cli

#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "host/sim/sim_host.h"

// Descriptors as JSON: the values of a recorded action and of the registry.
// Each value is {"key": "brgH", "type": "float", "value": 40.0}; the types
// are "integer", "float" and "boolean". A key of four printable ASCII
// characters is written as those characters, any other as "0x%08X".
namespace veltrane::cli {

std::string keyToString(std::uint32_t key);
std::optional<std::uint32_t> keyFromString(std::string_view text);

nlohmann::ordered_json descriptorToJson(const host::Descriptor& descriptor);
// The same list as text, one value per line, each line indented by `indent`.
std::string descriptorToText(const host::Descriptor& descriptor, const std::string& indent);
// Throws std::invalid_argument describing the first bad entry.
host::Descriptor descriptorFromJson(const nlohmann::json& values);

// A recorded action: which plug-in, how it was played, and its descriptor.
struct RecordedAction {
  std::string plugin;
  host::PlaySetting play = host::PlaySetting::silent;
  host::Descriptor values;
};

// Throw CommandError naming the file.
RecordedAction readRecordedAction(const std::filesystem::path& path);
void writeRecordedAction(const std::filesystem::path& path, const RecordedAction& action);

}  // namespace veltrane::cli

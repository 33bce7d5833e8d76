#include "fields.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "cli_error.h"
#include "descriptor_json.h"
#include "shell/filter_parameters.h"

namespace veltrane::cli {

std::optional<Field> findField(const Deliverable& d, std::string_view nameOrKey) {
  for (std::size_t i = 0; i < realSlotCount; ++i)
    if (d.realFieldNames[i] && nameOrKey == d.realFieldNames[i])
      return Field{false, i, d.realFieldNames[i], d.realKeys[i].key};
  for (std::size_t i = 0; i < flagSlotCount; ++i)
    if (d.flagFieldNames[i] && nameOrKey == d.flagFieldNames[i])
      return Field{true, i, d.flagFieldNames[i], d.flagKeys[i].key};

  if (nameOrKey.size() != 4) return std::nullopt;
  const std::optional<std::uint32_t> key = keyFromString(nameOrKey);
  if (!key || *key == 0) return std::nullopt;
  for (std::size_t i = 0; i < realSlotCount; ++i)
    if (d.realKeys[i].key == *key) return Field{false, i, d.realFieldNames[i], *key};
  for (std::size_t i = 0; i < flagSlotCount; ++i)
    if (d.flagKeys[i].key == *key) return Field{true, i, d.flagFieldNames[i], *key};
  return std::nullopt;
}

std::pair<std::uint32_t, host::DescriptorValue> parseSetting(const Deliverable& d, std::string_view setting) {
  const std::size_t eq = setting.find('=');
  if (eq == std::string_view::npos)
    throw CommandError("--set '" + std::string(setting) + "': expected FIELD=VALUE");
  const std::string name(setting.substr(0, eq));
  const std::string value(setting.substr(eq + 1));
  const std::optional<Field> field = findField(d, name);
  if (!field)
    throw CommandError("--set: " + std::string(d.name) + " has no field '" + name +
                       "' (see --help for the list of fields)");
  if (field->key == 0)
    throw CommandError("--set: field '" + name + "' has no scripting key and cannot be set");

  if (field->isFlag) {
    if (value == "1" || value == "true") return {field->key, host::DescriptorValue::ofBoolean(true)};
    if (value == "0" || value == "false") return {field->key, host::DescriptorValue::ofBoolean(false)};
    throw CommandError("--set: field '" + name + "' takes 0, 1, true or false, not '" + value + "'");
  }
  const char* begin = value.c_str();
  char* end = nullptr;
  errno = 0;
  const double number = std::strtod(begin, &end);
  if (value.empty() || end != begin + value.size() || errno == ERANGE || !std::isfinite(number))
    throw CommandError("--set: field '" + name + "' takes a number, not '" + value + "'");
  return {field->key, host::DescriptorValue::ofFloat(number)};
}

std::optional<nlohmann::ordered_json> parametersToJson(const Deliverable& d,
                                                       const std::vector<std::uint8_t>& block) {
  if (block.size() < sizeof(FilterParameters)) return std::nullopt;
  FilterParameters p;
  std::memcpy(&p, block.data(), sizeof p);
  nlohmann::ordered_json reals = nlohmann::ordered_json::object();
  for (std::size_t i = 0; i < realSlotCount; ++i) reals[d.realFieldNames[i]] = p.reals[i];
  nlohmann::ordered_json flags = nlohmann::ordered_json::object();
  for (std::size_t i = 0; i < flagSlotCount; ++i) flags[d.flagFieldNames[i]] = p.flags[i] ? 1 : 0;
  nlohmann::ordered_json doc;
  doc["reals"] = std::move(reals);
  doc["flags"] = std::move(flags);
  return doc;
}

}  // namespace veltrane::cli

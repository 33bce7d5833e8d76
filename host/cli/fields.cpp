#include "fields.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "cli_error.h"
#include "descriptor_json.h"
#include "host/os/os.h"
#include "shell/filter_parameters.h"
#include "text_file.h"
#include "ui/settings_codec.h"

namespace veltrane::cli {

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

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
  const std::string name(trimmed(setting.substr(0, eq)));
  const std::string value(trimmed(setting.substr(eq + 1)));
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

void putSettingsFile(const Deliverable& d, const std::string& path, host::Descriptor& values,
                     std::ostream& warnings) {
  requireRegularFile("--settings", host::os::pathFromUtf8(path));
  std::ifstream in(host::os::pathFromUtf8(path), std::ios::binary);
  if (!in.is_open()) throw CommandError("cannot read the settings file " + quote(path));
  std::vector<std::uint8_t> stored(ui::settingsMaxStoredSize(d.settingsSignature));
  in.read(reinterpret_cast<char*>(stored.data()), static_cast<std::streamsize>(stored.size()));
  if (in.bad()) throw CommandError("cannot read the settings file " + quote(path));
  stored.resize(static_cast<std::size_t>(in.gcount()));

  const ui::DecodedSettings decoded = ui::decodeSettings(stored, d.settingsSignature);
  if (!decoded.signatureMatches) {
    for (const Deliverable* other : {&halvaneDeliverable(), &mirelleDeliverable()})
      if (other != &d && ui::decodeSettings(stored, other->settingsSignature).signatureMatches)
        throw CommandError(quote(path) + " is a settings file of " + other->name + ", not of " + d.name);
    throw CommandError(quote(path) + " is not a settings file of " + d.name);
  }

  FilterParameters p{};
  const ui::SettingsApplied applied = ui::applySettings(decoded, p);
  for (const std::size_t slot : applied.nanSlots)
    warnings << "veltrane: warning: " << quote(path) << ": " << d.realFieldNames[slot]
             << " is not a number; 0 is used\n";
  if (!applied.success)
    warnings << "veltrane: warning: " << quote(path) << " is damaged; only the values before the damage are used\n";
  for (std::size_t i = 0; i < applied.realsStored; ++i)
    if (d.realKeys[i].key) values.put(d.realKeys[i].key, host::DescriptorValue::ofFloat(p.reals[i]));
  for (std::size_t i = 0; i < applied.flagsStored; ++i)
    if (d.flagKeys[i].key) values.put(d.flagKeys[i].key, host::DescriptorValue::ofBoolean(p.flags[i] != 0));
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

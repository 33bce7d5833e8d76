#include "descriptor_json.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "cli_error.h"
#include "text_file.h"

namespace veltrane::cli {
namespace {

using host::DescriptorValue;
using host::PlaySetting;

bool printable(unsigned c) { return c >= 0x20 && c <= 0x7E; }

const char* typeName(DescriptorValue::Type type) {
  switch (type) {
    case DescriptorValue::Type::integer: return "integer";
    case DescriptorValue::Type::floating: return "float";
    case DescriptorValue::Type::boolean: return "boolean";
  }
  return "?";
}

const char* playName(PlaySetting play) {
  switch (play) {
    case PlaySetting::dontDisplay: return "dontDisplay";
    case PlaySetting::display: return "display";
    case PlaySetting::silent: return "silent";
  }
  return "silent";
}

std::optional<PlaySetting> playFromName(std::string_view name) {
  if (name == "dontDisplay") return PlaySetting::dontDisplay;
  if (name == "display") return PlaySetting::display;
  if (name == "silent") return PlaySetting::silent;
  return std::nullopt;
}

DescriptorValue valueFromJson(const nlohmann::json& entry, const std::string& key) {
  const auto type = entry.find("type");
  const auto value = entry.find("value");
  if (type == entry.end() || !type->is_string())
    throw std::invalid_argument("value '" + key + "' has no \"type\"");
  if (value == entry.end()) throw std::invalid_argument("value '" + key + "' has no \"value\"");
  const std::string& t = type->get_ref<const std::string&>();
  if (t == "float") {
    if (!value->is_number() || !std::isfinite(value->get<double>()))
      throw std::invalid_argument("value '" + key + "' is not a number");
    return DescriptorValue::ofFloat(value->get<double>());
  }
  if (t == "boolean") {
    if (!value->is_boolean()) throw std::invalid_argument("value '" + key + "' is not true or false");
    return DescriptorValue::ofBoolean(value->get<bool>());
  }
  if (t == "integer") {
    if (!value->is_number_integer() || value->get<std::int64_t>() < std::numeric_limits<std::int32_t>::min() ||
        value->get<std::int64_t>() > std::numeric_limits<std::int32_t>::max())
      throw std::invalid_argument("value '" + key + "' is not a 32-bit integer");
    return DescriptorValue::ofInteger(static_cast<std::int32_t>(value->get<std::int64_t>()));
  }
  throw std::invalid_argument("value '" + key + "' has the unknown type '" + t + "'");
}

}  // namespace

std::string keyToString(std::uint32_t key) {
  const unsigned c[4] = {key >> 24, (key >> 16) & 0xFFu, (key >> 8) & 0xFFu, key & 0xFFu};
  if (printable(c[0]) && printable(c[1]) && printable(c[2]) && printable(c[3]))
    return std::string{static_cast<char>(c[0]), static_cast<char>(c[1]), static_cast<char>(c[2]),
                       static_cast<char>(c[3])};
  char hex[11];
  std::snprintf(hex, sizeof hex, "0x%08" PRIX32, key);
  return hex;
}

std::optional<std::uint32_t> keyFromString(std::string_view text) {
  if (text.size() == 4) {
    std::uint32_t key = 0;
    for (char ch : text) {
      const auto c = static_cast<unsigned char>(ch);
      if (!printable(c)) return std::nullopt;
      key = (key << 8) | c;
    }
    return key;
  }
  if (text.size() == 10 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    std::uint32_t key = 0;
    for (char c : text.substr(2)) {
      unsigned digit = 0;
      if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
      else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
      else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
      else return std::nullopt;
      key = (key << 4) | digit;
    }
    return key;
  }
  return std::nullopt;
}

std::vector<std::uint32_t> nonFiniteKeys(const host::Descriptor& descriptor) {
  std::vector<std::uint32_t> keys;
  for (const auto& [key, v] : descriptor.entries())
    if (v.type == DescriptorValue::Type::floating && !std::isfinite(v.floating)) keys.push_back(key);
  return keys;
}

nlohmann::ordered_json descriptorToJson(const host::Descriptor& descriptor) {
  nlohmann::ordered_json values = nlohmann::ordered_json::array();
  for (const auto& [key, v] : descriptor.entries()) {
    if (v.type == DescriptorValue::Type::floating && !std::isfinite(v.floating)) continue;
    nlohmann::ordered_json entry;
    entry["key"] = keyToString(key);
    entry["type"] = typeName(v.type);
    switch (v.type) {
      case DescriptorValue::Type::integer: entry["value"] = v.integer; break;
      case DescriptorValue::Type::floating: entry["value"] = v.floating; break;
      case DescriptorValue::Type::boolean: entry["value"] = v.boolean; break;
    }
    values.push_back(std::move(entry));
  }
  return values;
}

std::string descriptorToText(const host::Descriptor& descriptor, const std::string& indent) {
  const nlohmann::ordered_json values = descriptorToJson(descriptor);
  if (values.empty()) return "[]";
  std::string text = "[\n";
  for (std::size_t i = 0; i < values.size(); ++i)
    text += indent + "  {\"key\": " + values[i]["key"].dump() + ", \"type\": " + values[i]["type"].dump() +
            ", \"value\": " + values[i]["value"].dump() + (i + 1 < values.size() ? "},\n" : "}\n");
  return text + indent + "]";
}

host::Descriptor descriptorFromJson(const nlohmann::json& values, std::vector<std::string>* skipped) {
  if (!values.is_array()) throw std::invalid_argument("\"values\" is not a list");
  host::Descriptor descriptor;
  for (const nlohmann::json& entry : values) {
    try {
      if (!entry.is_object()) throw std::invalid_argument("a value is not an object");
      const auto key = entry.find("key");
      if (key == entry.end() || !key->is_string()) throw std::invalid_argument("a value has no \"key\"");
      const std::string& keyText = key->get_ref<const std::string&>();
      const std::optional<std::uint32_t> code = keyFromString(keyText);
      if (!code)
        throw std::invalid_argument("'" + keyText + "' is not a key (four characters or 0x followed by 8 hex digits)");
      descriptor.put(*code, valueFromJson(entry, keyText));
    } catch (const std::invalid_argument& e) {
      if (!skipped) throw;
      skipped->push_back(e.what());
    }
  }
  return descriptor;
}

RecordedAction readRecordedAction(const std::filesystem::path& path) {
  const std::string text = readTextFile(path, maxRecordedActionBytes);
  try {
    const nlohmann::json doc = nlohmann::json::parse(text);
    if (!doc.is_object()) throw std::invalid_argument("not a JSON object");
    RecordedAction action;
    if (const auto plugin = doc.find("plugin"); plugin != doc.end()) {
      if (!plugin->is_string()) throw std::invalid_argument("\"plugin\" is not a name");
      action.plugin = plugin->get<std::string>();
    }
    if (const auto play = doc.find("playInfo"); play != doc.end()) {
      const std::optional<PlaySetting> setting =
          play->is_string() ? playFromName(play->get_ref<const std::string&>()) : std::nullopt;
      if (!setting) throw std::invalid_argument("\"playInfo\" is not silent, display or dontDisplay");
      action.play = *setting;
    }
    const auto values = doc.find("values");
    if (values == doc.end()) throw std::invalid_argument("no \"values\"");
    action.values = descriptorFromJson(*values);
    return action;
  } catch (const nlohmann::json::exception& e) {
    throw CommandError("cannot use the recorded action " + quote(path) + ": " + e.what());
  } catch (const std::invalid_argument& e) {
    throw CommandError("cannot use the recorded action " + quote(path) + ": " + e.what());
  }
}

void writeRecordedAction(const std::filesystem::path& path, const RecordedAction& action) {
  const std::string text = "{\n  \"plugin\": " + nlohmann::json(action.plugin).dump() +
                           ",\n  \"playInfo\": " + nlohmann::json(playName(action.play)).dump() +
                           ",\n  \"values\": " + descriptorToText(action.values, "  ") + "\n}\n";
  writeFileAtomically(path, text);
}

}  // namespace veltrane::cli

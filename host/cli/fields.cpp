#include "fields.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>

#include "cli_error.h"
#include "descriptor_json.h"
#include "formats/settings_file.h"
#include "host/os/os.h"
#include "hostapi/fourcc.h"
#include "text_file.h"

namespace veltrane::cli {
namespace {

using host::ParameterField;

bool sameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

ValueType typeOf(const ParameterField& f) {
  return f.kind == ParameterField::Kind::flag ? ValueType::flag : ValueType::real;
}

ValueType typeOf(const host::TerminologyParameter& p) {
  if (p.type == hostapi::fourcc("doub")) return ValueType::real;
  if (p.type == hostapi::fourcc("bool")) return ValueType::flag;
  if (p.type == hostapi::fourcc("long")) return ValueType::integer;
  return ValueType::byForm;
}

std::optional<double> finiteNumber(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const double number = std::strtod(begin, &end);
  if (text.empty() || end != begin + text.size() || errno == ERANGE || !std::isfinite(number)) return std::nullopt;
  return number;
}

std::optional<std::int32_t> wholeNumber(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long long number = std::strtoll(begin, &end, 10);
  if (text.empty() || end != begin + text.size() || errno == ERANGE ||
      number < std::numeric_limits<std::int32_t>::min() || number > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(number);
}

std::optional<bool> truthValue(const std::string& text) {
  if (text == "1" || text == "true") return true;
  if (text == "0" || text == "false") return false;
  return std::nullopt;
}

// Reals and flags of the parameter resource, each in the order listed.
std::vector<const ParameterField*> fieldsOfKind(const host::ParameterResource& r, ParameterField::Kind kind) {
  std::vector<const ParameterField*> out;
  for (const ParameterField& f : r.fields)
    if (f.kind == kind) out.push_back(&f);
  return out;
}

}  // namespace

std::filesystem::path moduleIn(const std::filesystem::path& folder, const std::string& name) {
  return folder / (name + moduleExtension);
}

std::vector<host::PluginDescription> describeModulesIn(const std::filesystem::path& folder) {
  std::vector<host::PluginDescription> out;
  for (const char* name : {"halvane", "mirelle"}) {
    try {
      out.push_back(host::describePlugin(host::readModuleResources(host::os::pathToUtf8(moduleIn(folder, name)))));
    } catch (const std::exception&) {
      // not there or not a module: nothing to say about it
    }
  }
  return out;
}

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool describesParameters(const host::PluginDescription& p) { return p.parameters || !p.terminology.empty(); }

std::optional<Field> findField(const host::PluginDescription& p, std::string_view nameOrKey) {
  if (p.parameters)
    for (const ParameterField& f : p.parameters->fields)
      if (nameOrKey == f.name) return Field{f.name, f.key, typeOf(f)};
  for (const host::TerminologyParameter& t : p.terminology)
    if (sameLetters(nameOrKey, t.name)) return Field{t.name, t.key, typeOf(t)};

  if (nameOrKey.size() != 4) return std::nullopt;
  const std::optional<std::uint32_t> key = keyFromString(nameOrKey);
  if (!key || *key == 0) return std::nullopt;
  if (p.parameters)
    for (const ParameterField& f : p.parameters->fields)
      if (f.key == *key) return Field{f.name, *key, typeOf(f)};
  if (const host::TerminologyParameter* t = p.terminologyFor(*key)) return Field{t->name, *key, typeOf(*t)};
  if (describesParameters(p)) return std::nullopt;
  return Field{{}, *key, ValueType::byForm};
}

std::pair<std::uint32_t, host::DescriptorValue> parseSetting(const host::PluginDescription& p,
                                                             std::string_view setting) {
  const std::size_t eq = setting.find('=');
  if (eq == std::string_view::npos)
    throw CommandError("--set '" + std::string(setting) + "': expected FIELD=VALUE");
  const std::string name(trimmed(setting.substr(0, eq)));
  const std::string value(trimmed(setting.substr(eq + 1)));
  const std::optional<Field> field = findField(p, name);
  if (!field && !describesParameters(p))
    throw CommandError("--set: " + p.label() + " does not describe its parameters, so '" + name +
                       "' cannot be looked up; give its four-character scripting key instead");
  if (!field)
    throw CommandError("--set: " + p.label() + " has no field '" + name + "' (see --help for the list of fields)");
  if (field->key == 0)
    throw CommandError("--set: field '" + name + "' has no scripting key and cannot be set");

  switch (field->type) {
    case ValueType::flag:
      if (const auto v = truthValue(value)) return {field->key, host::DescriptorValue::ofBoolean(*v)};
      throw CommandError("--set: field '" + name + "' takes 0, 1, true or false, not '" + value + "'");
    case ValueType::integer:
      if (const auto v = wholeNumber(value)) return {field->key, host::DescriptorValue::ofInteger(*v)};
      throw CommandError("--set: field '" + name + "' takes a whole number, not '" + value + "'");
    case ValueType::real:
      if (const auto v = finiteNumber(value)) return {field->key, host::DescriptorValue::ofFloat(*v)};
      throw CommandError("--set: field '" + name + "' takes a number, not '" + value + "'");
    case ValueType::byForm:
      break;
  }
  if (value == "true" || value == "false") return {field->key, host::DescriptorValue::ofBoolean(value == "true")};
  if (const auto v = wholeNumber(value)) return {field->key, host::DescriptorValue::ofInteger(*v)};
  if (const auto v = finiteNumber(value)) return {field->key, host::DescriptorValue::ofFloat(*v)};
  throw CommandError("--set: '" + name + "' takes true, false or a number, not '" + value + "'");
}

void putSettingsFile(const host::PluginDescription& p, const std::string& path, host::Descriptor& values,
                     std::ostream& warnings, const std::function<std::vector<host::PluginDescription>()>& others) {
  if (!p.parameters || p.parameters->settingsSignature.empty())
    throw CommandError("--settings: " + p.label() + " does not describe its settings files");
  const char* signature = p.parameters->settingsSignature.c_str();
  requireRegularFile("--settings", host::os::pathFromUtf8(path));
  std::ifstream in(host::os::pathFromUtf8(path), std::ios::binary);
  if (!in.is_open()) throw CommandError("cannot read the settings file " + quote(path));
  std::vector<std::uint8_t> stored(formats::settingsMaxStoredSize(signature));
  in.read(reinterpret_cast<char*>(stored.data()), static_cast<std::streamsize>(stored.size()));
  if (in.bad()) throw CommandError("cannot read the settings file " + quote(path));
  stored.resize(static_cast<std::size_t>(in.gcount()));

  const formats::DecodedSettings decoded = formats::decodeSettings(stored, signature);
  if (!decoded.signatureMatches) {
    for (const host::PluginDescription& other : others())
      if (other.parameters && !other.parameters->settingsSignature.empty() && other.label() != p.label() &&
          formats::decodeSettings(stored, other.parameters->settingsSignature.c_str()).signatureMatches)
        throw CommandError(quote(path) + " is a settings file of " + other.label() + ", not of " + p.label());
    throw CommandError(quote(path) + " is not a settings file of " + p.label());
  }

  // The file's reals and flags are the resource's, in its order.
  const auto reals = fieldsOfKind(*p.parameters, ParameterField::Kind::real);
  const auto flags = fieldsOfKind(*p.parameters, ParameterField::Kind::flag);
  formats::SettingsReals realValues{};
  formats::SettingsFlags flagValues{};
  const formats::SettingsApplied applied = formats::applySettings(decoded, realValues, flagValues);
  for (const std::size_t i : applied.nanSlots)
    warnings << "veltrane: warning: " << quote(path) << ": " << (i < reals.size() ? reals[i]->name : "a value")
             << " is not a number; 0 is used\n";
  if (!applied.success)
    warnings << "veltrane: warning: " << quote(path) << " is damaged; only the values before the damage are used\n";
  for (std::size_t i = 0; i < applied.realsStored && i < reals.size(); ++i)
    if (reals[i]->key) values.put(reals[i]->key, host::DescriptorValue::ofFloat(realValues[i]));
  for (std::size_t i = 0; i < applied.flagsStored && i < flags.size(); ++i)
    if (flags[i]->key) values.put(flags[i]->key, host::DescriptorValue::ofBoolean(flagValues[i] != 0));
}

std::optional<nlohmann::ordered_json> parametersToJson(const host::PluginDescription& p,
                                                       const std::vector<std::uint8_t>& block) {
  if (!p.parameters)
    throw CommandError(p.label() + " does not describe its parameter block, so it cannot be saved as JSON");
  if (block.size() < p.parameters->blockSize) return std::nullopt;
  nlohmann::ordered_json reals = nlohmann::ordered_json::object();
  nlohmann::ordered_json flags = nlohmann::ordered_json::object();
  for (const ParameterField& f : p.parameters->fields) {
    if (f.kind == ParameterField::Kind::real) {
      double v = 0.0;
      std::memcpy(&v, block.data() + f.offset, sizeof v);
      reals[f.name] = v;
    } else {
      flags[f.name] = block[f.offset] ? 1 : 0;
    }
  }
  nlohmann::ordered_json doc;
  doc["reals"] = std::move(reals);
  doc["flags"] = std::move(flags);
  return doc;
}

std::string fieldList(const host::PluginDescription& p) {
  std::string text = p.label() + " fields (name or key):\n";
  std::string line = " ";
  auto add = [&](const std::string& name, std::uint32_t key, bool flag) {
    if (!key) return;  // fields without a key cannot be set
    const std::string item = " " + name + "/" + keyToString(key) + (flag ? "(flag)" : "");
    if (line.size() + item.size() > 78) {
      text += line + "\n";
      line = " ";
    }
    line += item;
  };
  if (p.parameters) {
    for (const ParameterField& f : p.parameters->fields) add(f.name, f.key, f.kind == ParameterField::Kind::flag);
  } else {
    for (const host::TerminologyParameter& t : p.terminology) add(t.name, t.key, typeOf(t) == ValueType::flag);
  }
  return text + line + "\n";
}

}  // namespace veltrane::cli

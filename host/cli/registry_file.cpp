#include "registry_file.h"

#include <cstdlib>
#include <ostream>
#include <stdexcept>
#include <system_error>

#include <nlohmann/json.hpp>

#include "cli_error.h"
#include "descriptor_json.h"
#include "host/os/os.h"
#include "text_file.h"

namespace veltrane::cli {
namespace fs = std::filesystem;

namespace {

constexpr int registryVersion = 1;

host::Registry registryFromJson(const nlohmann::json& doc) {
  if (!doc.is_object()) throw std::invalid_argument("not a JSON object");
  const auto version = doc.find("version");
  if (version == doc.end() || !version->is_number_integer() || version->get<int>() != registryVersion)
    throw std::invalid_argument("not a version " + std::to_string(registryVersion) + " registry");
  const auto entries = doc.find("entries");
  if (entries == doc.end() || !entries->is_object()) throw std::invalid_argument("no \"entries\"");
  host::Registry registry;
  for (const auto& [id, values] : entries->items()) {
    try {
      registry.entries[id] = descriptorFromJson(values);
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument("entry '" + id + "': " + e.what());
    }
  }
  return registry;
}

fs::path freeBackupName(const fs::path& path) {
  fs::path backup = path;
  backup += ".bad";
  for (int n = 2; fs::exists(backup); ++n) {
    backup = path;
    backup += ".bad." + std::to_string(n);
  }
  return backup;
}

}  // namespace

#ifdef _WIN32
fs::path defaultRegistryPath() {
  const std::optional<std::string> appData = host::os::environmentVariable("APPDATA");
  if (!appData || appData->empty()) return {};
  const fs::path folder = host::os::pathFromUtf8(*appData);
  if (!folder.is_absolute()) return {};
  return folder / "veltrane" / "registry.json";
}

const char* defaultRegistryMissing() { return "APPDATA is not set"; }
#else
fs::path defaultRegistryPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config == '/') return fs::path(config) / "veltrane" / "registry.json";
  const char* home = std::getenv("HOME");
  if (home && *home) return fs::path(home) / ".config" / "veltrane" / "registry.json";
  return {};
}

const char* defaultRegistryMissing() { return "neither XDG_CONFIG_HOME nor HOME is set"; }
#endif

RegistryFile loadRegistry(const fs::path& path, std::ostream& warnings) {
  RegistryFile file;
  file.path = path;
  std::error_code ec;
  if (!fs::exists(path, ec) && !ec) return file;
  std::string problem;
  try {
    file.registry = registryFromJson(nlohmann::json::parse(readTextFile(path)));
    return file;
  } catch (const nlohmann::json::parse_error& e) {
    problem = "not valid JSON at byte " + std::to_string(e.byte);
  } catch (const CommandError& e) {
    problem = e.what();
  } catch (const std::exception& e) {
    problem = std::string("not a registry: ") + e.what();
  }
  // A registry holds remembered settings only: carry on without them, and
  // keep the file until it can be set aside.
  warnings << "veltrane: warning: ignoring the registry " << quote(path) << " (" << problem
           << "); starting with an empty one. The file is kept as a backup when settings are next saved.\n";
  file.damaged = true;
  return file;
}

std::optional<fs::path> saveRegistry(const RegistryFile& file) {
  std::string text = "{\n  \"version\": " + std::to_string(registryVersion) + ",\n  \"entries\": {";
  const char* separator = "\n";
  for (const auto& [id, descriptor] : file.registry.entries) {
    text += separator;
    text += "    " + nlohmann::json(id).dump() + ": " + descriptorToText(descriptor, "    ");
    separator = ",\n";
  }
  text += file.registry.entries.empty() ? "}\n}\n" : "\n  }\n}\n";

  std::optional<fs::path> backup;
  std::error_code ec;
  if (file.damaged && fs::exists(file.path, ec)) {
    backup = freeBackupName(file.path);
    fs::copy_file(file.path, *backup, fs::copy_options::none, ec);
    if (ec)
      throw CommandError("cannot keep a copy of the unreadable registry " + quote(file.path) + " as " +
                         quote(*backup) + ": " + ec.message() + "; the registry was not saved");
  }
  writeFileAtomically(file.path, text);
  return backup;
}

}  // namespace veltrane::cli

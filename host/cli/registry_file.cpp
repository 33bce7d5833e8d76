#include "registry_file.h"

#include <cstdlib>
#include <ostream>
#include <stdexcept>
#include <system_error>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli_error.h"
#include "descriptor_json.h"
#include "host/os/os.h"
#include "text_file.h"

namespace veltrane::cli {
namespace fs = std::filesystem;

namespace {

constexpr int registryVersion = 1;

// Values that cannot be understood are left out and described in `skipped`.
host::Registry registryFromJson(const nlohmann::json& doc, std::vector<std::string>& skipped) {
  if (!doc.is_object()) throw std::invalid_argument("not a JSON object");
  const auto version = doc.find("version");
  if (version == doc.end() || !version->is_number_integer() || version->get<int>() != registryVersion)
    throw std::invalid_argument("not a version " + std::to_string(registryVersion) + " registry");
  const auto entries = doc.find("entries");
  if (entries == doc.end() || !entries->is_object()) throw std::invalid_argument("no \"entries\"");
  host::Registry registry;
  for (const auto& [id, values] : entries->items()) {
    std::vector<std::string> problems;
    try {
      registry.entries[id] = descriptorFromJson(values, &problems);
    } catch (const std::invalid_argument& e) {
      problems.push_back(e.what());
    }
    for (const std::string& problem : problems) skipped.push_back("entry '" + id + "': " + problem);
  }
  return registry;
}

host::Registry readRegistry(const fs::path& path, std::vector<std::string>& skipped) {
  const std::string text = readTextFile(path, maxRegistryBytes);
  try {
    return registryFromJson(nlohmann::json::parse(text), skipped);
  } catch (const nlohmann::json::parse_error& e) {
    throw std::invalid_argument("not valid JSON at byte " + std::to_string(e.byte));
  }
}

bool sameValues(const host::Descriptor& a, const host::Descriptor& b) {
  const auto& x = a.entries();
  const auto& y = b.entries();
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const host::DescriptorValue& u = x[i].second;
    const host::DescriptorValue& v = y[i].second;
    if (x[i].first != y[i].first || u.type != v.type || u.integer != v.integer || u.boolean != v.boolean ||
        !(u.floating == v.floating))
      return false;
  }
  return true;
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
  requireRegularFile("the registry", path);
  std::error_code ec;
  if (!fs::exists(path, ec) && !ec) return file;
  std::string problem;
  std::vector<std::string> skipped;
  try {
    file.registry = readRegistry(path, skipped);
    file.loaded = file.registry;
    for (const std::string& s : skipped)
      warnings << "veltrane: warning: the registry " << quote(path) << ", " << s << "; left out\n";
    return file;
  } catch (const CommandError& e) {
    problem = e.what();
  } catch (const std::exception& e) {
    problem = std::string("not a registry: ") + e.what();
  }
  // A registry holds remembered settings only: carry on without them, and
  // keep the file until it can be set aside.
  warnings << "veltrane: warning: ignoring the registry " << quote(path) << " (" << problem
           << "); starting with an empty one. The file is kept as a backup when settings are next saved.\n";
  return file;
}

std::optional<fs::path> saveRegistry(const RegistryFile& file, std::ostream& warnings) {
  const fs::path target = host::os::resolveLinks(file.path);
  createParentFolder(target);
  fs::path lockName = target;
  lockName += ".lock";
  std::error_code ec;
  const host::os::FileLock lock = host::os::FileLock::acquire(lockName, ec);
  if (ec) throw CommandError("cannot lock the registry " + quote(lockName) + ": " + ec.message() +
                             "; the registry was not saved");

  // Read again under the lock: another run may have saved its entries since.
  host::Registry merged;
  std::optional<fs::path> backup;
  if (fs::exists(target, ec)) {
    std::vector<std::string> skipped;  // reported when the file was loaded
    try {
      merged = readRegistry(target, skipped);
    } catch (const std::exception&) {
      backup = freeBackupName(target);
      fs::copy_file(target, *backup, fs::copy_options::none, ec);
      if (ec)
        throw CommandError("cannot keep a copy of the unreadable registry " + quote(target) + " as " +
                           quote(*backup) + ": " + ec.message() + "; the registry was not saved");
    }
  }
  for (const auto& [id, descriptor] : file.registry.entries) {
    const auto before = file.loaded.entries.find(id);
    if (before == file.loaded.entries.end() || !sameValues(before->second, descriptor))
      merged.entries[id] = descriptor;
  }
  for (const auto& entry : file.loaded.entries)
    if (!file.registry.entries.count(entry.first)) merged.entries.erase(entry.first);

  std::string text = "{\n  \"version\": " + std::to_string(registryVersion) + ",\n  \"entries\": {";
  const char* separator = "\n";
  for (const auto& [id, descriptor] : merged.entries) {
    for (const std::uint32_t key : nonFiniteKeys(descriptor))
      warnings << "veltrane: warning: the registry entry '" << id << "' value '" << keyToString(key)
               << "' is not a finite number and is not saved\n";
    text += separator;
    text += "    " + nlohmann::json(id).dump() + ": " + descriptorToText(descriptor, "    ");
    separator = ",\n";
  }
  text += merged.entries.empty() ? "}\n}\n" : "\n  }\n}\n";
  writeFileAtomically(target, text);
  return backup;
}

}  // namespace veltrane::cli

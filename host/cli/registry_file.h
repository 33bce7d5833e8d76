#pragma once
#include <filesystem>
#include <iosfwd>
#include <optional>

#include "host/sim/sim_host.h"

// The persistent descriptor registry as a JSON file:
//   {"version": 1, "entries": {"<identifier>": [values as in a recorded action], ...}}
namespace veltrane::cli {

// $XDG_CONFIG_HOME/veltrane/registry.json, else $HOME/.config/veltrane/
// registry.json (on Windows %APPDATA%\veltrane\registry.json); empty when
// no variable names a folder.
std::filesystem::path defaultRegistryPath();
// Why defaultRegistryPath() is empty, for a warning.
const char* defaultRegistryMissing();

struct RegistryFile {
  std::filesystem::path path;
  host::Registry registry;
  // The file exists but could not be read or understood: it is kept as a
  // backup before it is ever replaced.
  bool damaged = false;
};

// A missing file gives an empty registry. A file that cannot be read or
// parsed gives an empty registry, a warning on `warnings` and damaged = true.
RegistryFile loadRegistry(const std::filesystem::path& path, std::ostream& warnings);

// Writes the registry atomically. A damaged file is first copied to
// "<name>.bad" (or "<name>.bad.2", ... when that exists); when the copy
// fails, nothing is replaced. Returns the backup's name when one was made.
// Throws CommandError naming the file.
std::optional<std::filesystem::path> saveRegistry(const RegistryFile& file);

}  // namespace veltrane::cli

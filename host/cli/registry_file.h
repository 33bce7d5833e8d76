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

// The registry holds a few entries of a few dozen values each.
inline constexpr std::size_t maxRegistryBytes = std::size_t{4} << 20;

struct RegistryFile {
  std::filesystem::path path;
  host::Registry registry;  // what the plug-in reads and writes
  host::Registry loaded;    // as read, to tell what the run changed
};

// A missing file gives an empty registry. A file that cannot be read or
// parsed gives an empty registry and a warning on `warnings`; values that
// cannot be understood are left out, each with a warning. Throws
// CommandError for a name that is not a regular file (a folder, a device).
RegistryFile loadRegistry(const std::filesystem::path& path, std::ostream& warnings);

// Saves the entries the run added, changed or erased into the registry as
// it is on disk now: under a lock (the file's name + ".lock", so that runs
// at the same time keep each other's entries), the file is read again, the
// changes are put in and the file replaced atomically. A name that is a
// symbolic link updates the file it leads to. Values that JSON cannot hold
// (infinities, NaN) are left out with a warning. A file that cannot be
// understood is first copied to "<name>.bad" (or "<name>.bad.2", ...); when
// the copy fails, nothing is replaced. Returns the backup's name when one
// was made. Throws CommandError naming the file.
std::optional<std::filesystem::path> saveRegistry(const RegistryFile& file, std::ostream& warnings);

}  // namespace veltrane::cli

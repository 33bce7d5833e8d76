#pragma once
#include <filesystem>
#include <optional>
#include <string>

// The seam for the modules' own dialog inside GIMP. An interactive run shows
// the module's GTK dialog (the host runs the module asking for it, as
// veltrane --dialog does) when it can be shown in this process; otherwise it
// uses the remembered settings and tells the user why.
namespace veltrane::gimp {

// Why the dialog cannot be shown, or nullopt when it can: a display must be
// named (DISPLAY or WAYLAND_DISPLAY) and the toolkit library the modules
// load must lie in `moduleFolder`, beside them.
std::optional<std::string> dialogUnavailableReason(const std::filesystem::path& moduleFolder);

}  // namespace veltrane::gimp

#pragma once
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "host/sim/plugin_description.h"
#include "host/sim/sim_host.h"

// The arguments of a plug-in's GIMP procedure beyond run mode, image and
// drawable: the path of a settings file, the path of a recorded action, then
// one named value per level and switch a script may set. Nothing here knows
// GIMP.
namespace veltrane::gimp {

// A level (real field) or a switch (flag field) that a script may set by name.
struct NamedArgument {
  bool isFlag = false;
  std::uint32_t key = 0;
  std::string name;         // "overall-noise-level"
  std::string description;  // for the procedure browser
};

// The plug-in's main levels and switches, as its module marks them, in the
// order of its scripting terminology, described with the terminology's
// names (reals) and descriptions (booleans). None for a module without a
// parameter resource.
std::vector<NamedArgument> namedArguments(const host::PluginDescription& plugin);

// "overallNoiseLevel" -> "overall-noise-level", "mixBWDetail" -> "mix-bw-detail".
std::string argumentName(const std::string& field);

// A level below zero and a switch of -1 mean "not given".
inline constexpr double notGiven = -1.0;

struct ScriptArguments {
  std::string settingsFile;     // empty: none
  std::string recordedAction;   // empty: none
  std::vector<double> values;   // one per namedArguments() entry
};

// The descriptor the module is handed, built as veltrane builds it: the
// recorded action's values, then the settings file's, then the named values
// given. Problems with a file throw cli::CommandError naming it; a switch
// other than -1, 0 or 1 throws it too. Warnings about a damaged settings
// file go to `warnings`. `others` describe the modules beside this one, for
// the message about another plug-in's settings file.
host::Descriptor scriptDescriptor(const host::PluginDescription& plugin, const ScriptArguments& arguments,
                                  std::ostream& warnings, const std::vector<host::PluginDescription>& others = {});

}  // namespace veltrane::gimp

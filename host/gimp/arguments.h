#pragma once
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "host/sim/sim_host.h"
#include "shell/parameter_tables.h"

// The arguments of a plug-in's GIMP procedure beyond run mode, image and
// drawable: the path of a settings file, the path of a recorded action, then
// one named value per level and switch a script may set. Nothing here knows
// GIMP.
namespace veltrane::gimp {

// A level (real slot) or a switch (flag slot) that a script may set by name.
struct NamedArgument {
  bool isFlag = false;
  std::size_t slot = 0;
  std::uint32_t key = 0;
  std::string name;         // "overall-noise-level"
  std::string description;  // for the procedure browser
};

// The plug-in's main levels (those with a control on the first page of its
// dialog, and the two profiled noise levels) and its switches, in the order
// of its scripting terminology.
std::vector<NamedArgument> namedArguments(const Deliverable& deliverable);

// "overallNoiseLevel" -> "overall-noise-level", "mixBWDetail" -> "mix-bw-detail".
std::string argumentName(const char* field);

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
// file go to `warnings`.
host::Descriptor scriptDescriptor(const Deliverable& deliverable, const ScriptArguments& arguments,
                                  std::ostream& warnings);

}  // namespace veltrane::gimp

#include "arguments.h"

#include <cctype>
#include <cmath>
#include <ostream>

#include "host/cli/cli_error.h"
#include "host/cli/descriptor_json.h"
#include "host/cli/fields.h"
#include "host/cli/text_file.h"
#include "host/os/os.h"

namespace veltrane::gimp {

std::string argumentName(const char* field) {
  // A capital starts a word after a small letter, and ends a run of
  // capitals when a small letter follows it: "mixBWDetail" -> "mix-bw-detail".
  std::string name;
  for (const char* c = field; *c; ++c) {
    const auto u = static_cast<unsigned char>(*c);
    if (std::isupper(u) && c != field) {
      const auto before = static_cast<unsigned char>(c[-1]);
      const auto after = static_cast<unsigned char>(c[1]);
      if (!std::isupper(before) || std::islower(after)) name += '-';
    }
    name += static_cast<char>(std::tolower(u));
  }
  return name;
}

std::vector<NamedArgument> namedArguments(const Deliverable& d) {
  std::vector<NamedArgument> arguments;
  const TerminologyParameters& t = d.terminology;
  for (std::size_t i = 0; i < t.realCount; ++i) {
    const std::size_t slot = t.realSlots[i];
    const bool profiled = slot == real::overallNoiseLevel || slot == real::highlightsNoiseLevel;
    if (!profiled && d.controls.reals.values[slot].advanced) continue;
    const char* label = d.realKeys.values[slot].name;
    arguments.push_back({false, slot, d.realKeys.values[slot].key, argumentName(d.realFieldNames.values[slot]),
                         std::string(label ? label : d.realFieldNames.values[slot]) + " (below 0: not given)"});
  }
  for (std::size_t i = 0; i < t.flagCount; ++i) {
    const std::size_t slot = t.flagSlots[i];
    const char* text = d.flagKeys.values[slot].description;
    arguments.push_back({true, slot, d.flagKeys.values[slot].key, argumentName(d.flagFieldNames.values[slot]),
                         std::string(text ? text : d.flagFieldNames.values[slot]) + " (0 off, 1 on, -1 not given)"});
  }
  return arguments;
}

host::Descriptor scriptDescriptor(const Deliverable& d, const ScriptArguments& a, std::ostream& warnings) {
  host::Descriptor values;
  if (!a.recordedAction.empty()) {
    cli::RecordedAction action = cli::readRecordedAction(host::os::pathFromUtf8(a.recordedAction));
    if (!action.plugin.empty() && action.plugin != d.name)
      throw cli::CommandError("the recorded action " + cli::quote(a.recordedAction) + " is for " + action.plugin +
                              ", not " + d.name);
    values = std::move(action.values);
  }
  if (!a.settingsFile.empty()) cli::putSettingsFile(d, a.settingsFile, values, warnings);

  const std::vector<NamedArgument> named = namedArguments(d);
  for (std::size_t i = 0; i < named.size() && i < a.values.size(); ++i) {
    const NamedArgument& arg = named[i];
    const double v = a.values[i];
    if (arg.isFlag) {
      if (v == notGiven) continue;
      if (v != 0.0 && v != 1.0)
        throw cli::CommandError(arg.name + " takes 0, 1 or -1 (not given), not " + std::to_string(v));
      values.put(arg.key, host::DescriptorValue::ofBoolean(v == 1.0));
    } else {
      if (!std::isfinite(v)) throw cli::CommandError(arg.name + " is not a finite number");
      if (v < 0.0) continue;
      values.put(arg.key, host::DescriptorValue::ofFloat(v));
    }
  }
  return values;
}

}  // namespace veltrane::gimp

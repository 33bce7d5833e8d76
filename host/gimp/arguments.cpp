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

std::string argumentName(const std::string& field) {
  // A capital starts a word after a small letter, and ends a run of
  // capitals when a small letter follows it: "mixBWDetail" -> "mix-bw-detail".
  std::string name;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const auto u = static_cast<unsigned char>(field[i]);
    if (std::isupper(u) && i > 0) {
      const auto before = static_cast<unsigned char>(field[i - 1]);
      const auto after = static_cast<unsigned char>(i + 1 < field.size() ? field[i + 1] : '\0');
      if (!std::isupper(before) || std::islower(after)) name += '-';
    }
    name += static_cast<char>(std::tolower(u));
  }
  return name;
}

std::vector<NamedArgument> namedArguments(const host::PluginDescription& p) {
  std::vector<NamedArgument> arguments;
  if (!p.parameters) return arguments;
  for (const host::TerminologyParameter& t : p.terminology)
    for (const host::ParameterField& f : p.parameters->fields) {
      if (f.key != t.key || !f.main) continue;
      const bool flag = f.kind == host::ParameterField::Kind::flag;
      arguments.push_back({flag, f.key, argumentName(f.name),
                           flag ? t.description + " (0 off, 1 on, -1 not given)" : t.name + " (below 0: not given)"});
      break;
    }
  return arguments;
}

host::Descriptor scriptDescriptor(const host::PluginDescription& d, const ScriptArguments& a, std::ostream& warnings,
                                  const std::vector<host::PluginDescription>& others) {
  host::Descriptor values;
  if (!a.recordedAction.empty()) {
    cli::RecordedAction action = cli::readRecordedAction(host::os::pathFromUtf8(a.recordedAction));
    if (!action.plugin.empty() && action.plugin != d.label())
      throw cli::CommandError("the recorded action " + cli::quote(a.recordedAction) + " is for " + action.plugin +
                              ", not " + d.label());
    values = std::move(action.values);
  }
  if (!a.settingsFile.empty())
    cli::putSettingsFile(d, a.settingsFile, values, warnings, [&others] { return others; });

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

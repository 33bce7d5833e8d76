#pragma once
// What a host learns about a plug-in from the resources its module carries:
// the property list ('PIPL'), the scripting terminology ('AETE') and, for
// our own modules, the parameter resource ('VPAR'; its format is described
// in one place, beside its builder in the plug-ins' shell). On Windows they
// are resources of the module, on Linux sections of the file (.pipl, .aete,
// .vpar). Every reader here is bounds-checked: a damaged resource is
// reported and what it holds is not used.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltrane::host {

struct ModuleResources {
  std::vector<std::uint8_t> propertyList;  // empty: the module carries none
  std::vector<std::uint8_t> terminology;
  std::vector<std::uint8_t> parameters;
};

// One parameter of the terminology's event.
struct TerminologyParameter {
  std::string name;
  std::uint32_t key = 0;
  std::uint32_t type = 0;  // 'doub', 'bool', 'long', ...
  std::string description;
};

// One field of the parameter resource.
struct ParameterField {
  enum class Kind : std::uint8_t { real = 1, flag = 2 };
  Kind kind = Kind::real;
  bool main = false;          // a main level or switch (GIMP's arguments)
  std::uint32_t offset = 0;   // in the parameter block
  std::uint32_t key = 0;      // 0: no scripting key
  std::string name;           // "overallNoiseLevel"
  double lowest = 0.0, highest = 0.0;  // reals only
};

struct ParameterResource {
  std::string shortName;          // "halvane"
  std::string settingsSignature;  // empty: no settings files
  std::string settingsExtension;
  std::uint32_t blockSize = 0;
  std::vector<ParameterField> fields;  // reals, then flags, each in slot order
};

struct PluginDescription {
  std::string name;          // the property list's menu name
  std::string uniqueString;  // of its terminology property; the registry key
  std::uint32_t eventClass = 0, eventId = 0;  // the terminology event it names
  std::string title;         // the terminology event's name
  std::vector<TerminologyParameter> terminology;
  std::optional<ParameterResource> parameters;
  std::vector<std::string> problems;  // one line per damaged resource

  // What the plug-in is called in messages and recorded actions.
  std::string label() const { return parameters ? parameters->shortName : name; }
  // The terminology parameter with this key, or nullptr.
  const TerminologyParameter* terminologyFor(std::uint32_t key) const;
};

// The description of a module's resources. A missing resource leaves its
// part empty; a damaged one leaves it empty and adds a line to `problems`.
PluginDescription describePlugin(const ModuleResources& resources);

// The single readers, each throwing std::runtime_error on damage.
void readPropertyList(const std::vector<std::uint8_t>& bytes, PluginDescription& into);
void readTerminology(const std::vector<std::uint8_t>& bytes, PluginDescription& into);
ParameterResource readParameterResource(const std::vector<std::uint8_t>& bytes);

}  // namespace veltrane::host

// libFuzzer target for the host's reader of a module's resources: any bytes,
// read as a property list, a terminology and a parameter resource, must be
// read without touching memory they do not own, and a parameter resource
// that is accepted names only fields inside its parameter block.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "host/sim/plugin_description.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  const veltrane::host::PluginDescription d = veltrane::host::describePlugin({bytes, bytes, bytes});
  using veltrane::host::ParameterField;
  if (d.parameters)
    for (const ParameterField& f : d.parameters->fields) {
      const std::uint64_t end = std::uint64_t{f.offset} + (f.kind == ParameterField::Kind::real ? 8 : 1);
      if (end > d.parameters->blockSize) std::abort();
    }
  return 0;
}

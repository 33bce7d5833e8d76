// Writes a deliverable's plug-in property list, scripting terminology and
// parameter resource as the binary files the module carries (Windows
// resources, Linux sections), and its dialog as a resource script that the
// module's script includes. Built for the machine
// that runs the build, from the same sources the plug-ins use.
//
//   veltrane-resource-gen halvane|mirelle 32|64 PIPL-FILE AETE-FILE VPAR-FILE DIALOG-RC-FILE
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "shell/parameter_tables.h"
#include "shell/plugin_resources.h"
#include "ui/dialog_resource.h"
#include "ui/dialog_template.h"

namespace {

bool writeFile(const char* path, const char* bytes, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes, static_cast<std::streamsize>(size));
  out.close();
  if (!out) std::fprintf(stderr, "veltrane-resource-gen: cannot write %s\n", path);
  return static_cast<bool>(out);
}

bool writeFile(const char* path, const std::vector<std::uint8_t>& bytes) {
  return writeFile(path, reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool writeFile(const char* path, const std::string& text) { return writeFile(path, text.data(), text.size()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr,
                 "usage: veltrane-resource-gen halvane|mirelle 32|64 PIPL-FILE AETE-FILE VPAR-FILE DIALOG-RC-FILE\n");
    return 2;
  }
  const std::string which = argv[1];
  const std::string bits = argv[2];
  const veltrane::Deliverable* d = which == "halvane"   ? &veltrane::halvaneDeliverable()
                                   : which == "mirelle" ? &veltrane::mirelleDeliverable()
                                                        : nullptr;
  if (d == nullptr || (bits != "32" && bits != "64")) {
    std::fprintf(stderr, "veltrane-resource-gen: unknown deliverable '%s' or bitness '%s'\n", argv[1], argv[2]);
    return 2;
  }
  try {
    // A 64-bit host looks for its own entry-point property.
    const bool ok =
        writeFile(argv[3], veltrane::buildPIPL(*d, bits == "64")) &&
        writeFile(argv[4], veltrane::buildAETE(*d)) &&
        writeFile(argv[5], veltrane::buildParameterResource(*d)) &&
        writeFile(argv[6], veltrane::ui::dialogResourceScript(veltrane::ui::dialogTemplate(*d),
                                                              veltrane::platform::dialogResourceName));
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "veltrane-resource-gen: %s\n", e.what());
    return 1;
  }
}

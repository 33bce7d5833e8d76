// Writes a deliverable's plug-in property list and scripting terminology as
// the binary files the module's resource script embeds. Built for the
// machine that runs the build, from the same sources the plug-ins use.
//
//   veltrane-resource-gen halvane|mirelle 32|64 PIPL-FILE AETE-FILE
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "hostapi/resources.h"
#include "shell/parameter_tables.h"

namespace {

bool writeFile(const char* path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) std::fprintf(stderr, "veltrane-resource-gen: cannot write %s\n", path);
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: veltrane-resource-gen halvane|mirelle 32|64 PIPL-FILE AETE-FILE\n");
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
    const bool ok = writeFile(argv[3], veltrane::hostapi::buildPIPL(*d, bits == "64")) &&
                    writeFile(argv[4], veltrane::hostapi::buildAETE(*d));
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "veltrane-resource-gen: %s\n", e.what());
    return 1;
  }
}

// Named host profiles: the in-memory host made to behave like an editor that
// offers less than it does.
#include <string>
#include <utility>
#include <vector>

#include "host/sim/sim_host.h"

namespace veltrane::host {
namespace {

using Profile = std::pair<const char*, void (*)(SimOptions&)>;

void lackAll(SimOptions& o) {
  o.handleSizeKnown = false;
  o.resultCellPreset = 1;
  o.basicSuite = false;
  o.descriptorRecord = SimOptions::DescriptorRecord::empty;
  o.bigDocument = false;
  o.oldSuiteVersions = true;
  o.deepImages = false;
}

// clang-format off
const Profile profiles[] = {
    {"full",             [](SimOptions&) {}},
    {"size-unknown",     [](SimOptions& o) { o.handleSizeKnown = false; }},
    {"result-preset",    [](SimOptions& o) { o.resultCellPreset = 1; }},
    {"no-basic-suite",   [](SimOptions& o) { o.basicSuite = false; }},
    {"empty-descriptor", [](SimOptions& o) { o.descriptorRecord = SimOptions::DescriptorRecord::empty; }},
    {"no-descriptor",    [](SimOptions& o) { o.descriptorRecord = SimOptions::DescriptorRecord::none; }},
    {"no-big-document",  [](SimOptions& o) { o.bigDocument = false; }},
    {"old-suites",       [](SimOptions& o) { o.oldSuiteVersions = true; }},
    {"no-16-bit",        [](SimOptions& o) { o.deepImages = false; }},
    {"short-rows",       [](SimOptions& o) { o.rowsPerDelivery = 16; }},
    {"odd-tiles",        [](SimOptions& o) { o.tileWidth = 13; o.tileHeight = 11; }},
    {"minimal",          &lackAll},
};
// clang-format on

}  // namespace

const std::vector<std::string>& hostProfileNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (const Profile& p : profiles) n.emplace_back(p.first);
    return n;
  }();
  return names;
}

bool applyHostProfile(const std::string& name, SimOptions& options) {
  for (const Profile& p : profiles) {
    if (name != p.first) continue;
    p.second(options);
    return true;
  }
  return false;
}

}  // namespace veltrane::host

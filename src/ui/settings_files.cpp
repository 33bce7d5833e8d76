#include "settings_files.h"

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings_codec.h"
#include "shell/call_context.h"
#include "shell/messages.h"
#include "shell/parameters.h"

namespace veltrane::ui {
namespace {

platform::FileChooserSpec chooserSpec(const Deliverable& d, bool saving) {
  platform::FileChooserSpec spec;
  spec.filters.push_back({d.settingsFilterName, std::string("*.") + d.settingsExtension});
  spec.filters.push_back({"All Files (*.*)", "*.*"});
  spec.defaultExtension = d.settingsExtension;
  spec.promptOverwrite = saving;
  return spec;
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) {
    reportMessage(msgCannotOpenForWriting);
    return false;
  }
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.flush();
  const bool written = out.good();
  out.close();
  return written && !out.fail();
}

// Loads an opened file into p; shows the messages of the load in order.
bool loadFrom(std::ifstream& in, const Deliverable& d, FilterParameters& p) {
  // A complete file never needs more than this; the rest of a longer file is
  // not looked at.
  const std::size_t limit = settingsMaxStoredSize(d.settingsSignature);
  std::vector<std::uint8_t> stored(limit);
  in.read(reinterpret_cast<char*>(stored.data()), static_cast<std::streamsize>(limit));
  stored.resize(static_cast<std::size_t>(in.gcount()));

  const DecodedSettings decoded = decodeSettings(stored, d.settingsSignature);
  if (!decoded.signatureMatches) {
    reportMessage(msgNotSettingsFile);
    return false;
  }
  const SettingsApplied applied = applySettings(decoded, p);
  for (std::size_t i = 0; i < applied.nanSlots.size(); ++i) reportMessage(msgNotANumber);
  for (std::size_t i = 0; i < applied.realsStored; ++i) storeReal(p, i, p.reals[i]);
  return applied.success;
}

}  // namespace

bool saveSettings() {
  try {
    FilterParameters* p = callContext().parameters;
    if (!p) return false;
    const Deliverable& d = activeDeliverable();
    const std::optional<std::string> path = platform::chooseFileToSave(chooserSpec(d, true));
    if (!path) return false;
    if (writeFile(*path, encodeSettings(*p, d.settingsSignature))) return true;
  } catch (...) {
    // Out of memory while encoding: reported as a failed write below.
  }
  reportMessage(msgErrorWriting);
  return false;
}

bool loadSettings() {
  FilterParameters* p = callContext().parameters;
  if (!p) return false;
  const std::uint8_t profileDigital = p->flags[flag::profileDigitalOnLoad];
  const std::uint8_t profileFilm = p->flags[flag::profileFilmOnLoad];
  bool loaded = false;
  try {
    const Deliverable& d = activeDeliverable();
    const std::optional<std::string> path = platform::chooseFileToOpen(chooserSpec(d, false));
    if (!path) return false;
    std::ifstream in(*path, std::ios::binary);
    if (!in.is_open())
      reportMessage(msgCannotOpen);
    else
      loaded = loadFrom(in, d, *p);
  } catch (...) {
    loaded = false;  // out of memory while reading
  }
  p->flags[flag::profileDigitalOnLoad] = profileDigital;
  p->flags[flag::profileFilmOnLoad] = profileFilm;
  if (!loaded) reportMessage(msgErrorReading);
  return loaded;
}

}  // namespace veltrane::ui

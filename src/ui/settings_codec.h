#pragma once
#include <cstdint>
#include <vector>

#include "formats/settings_file.h"
#include "shell/filter_parameters.h"

// The settings file format (formats/settings_file.h) for a parameter block.
namespace veltrane::ui {

static_assert(formats::settingsRealCount == realSlotCount && formats::settingsFlagCount == flagSlotCount);

using formats::DecodedSettings;
using formats::decodeSettings;
using formats::settingsContentSize;
using formats::settingsMaxStoredSize;
using formats::SettingsApplied;
using formats::untranslateNewlines;

// The bytes to write to disk for a parameter block.
inline std::vector<std::uint8_t> encodeSettings(const FilterParameters& p, const char* signature) {
  formats::SettingsReals reals;
  formats::SettingsFlags flags;
  for (std::size_t i = 0; i < realSlotCount; ++i) reals[i] = p.reals[i];
  for (std::size_t i = 0; i < flagSlotCount; ++i) flags[i] = p.flags[i];
  return formats::encodeSettings(reals, flags, signature);
}

// Stores a decoded file into a parameter block by the load rules; slots the
// file does not hold keep their values.
inline SettingsApplied applySettings(const DecodedSettings& decoded, FilterParameters& p) {
  formats::SettingsReals reals;
  formats::SettingsFlags flags;
  for (std::size_t i = 0; i < realSlotCount; ++i) reals[i] = p.reals[i];
  for (std::size_t i = 0; i < flagSlotCount; ++i) flags[i] = p.flags[i];
  const SettingsApplied applied = formats::applySettings(decoded, reals, flags);
  for (std::size_t i = 0; i < realSlotCount; ++i) p.reals[i] = reals[i];
  for (std::size_t i = 0; i < flagSlotCount; ++i) p.flags[i] = flags[i];
  return applied;
}

}  // namespace veltrane::ui

// libFuzzer target for the settings file reader: any byte sequence must
// decode without touching memory it does not own, and what it stores into a
// parameter block must be defined values that survive a save and a reload.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "ui/settings_codec.h"

namespace {

using veltrane::FilterParameters;
using namespace veltrane::ui;

constexpr const char* signatures[] = {"Halvanetic ver1", "Mirelle Matte Finder ver1"};

void require(bool condition) {
  if (!condition) std::abort();
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void check(std::span<const std::uint8_t> bytes, const char* signature) {
  const DecodedSettings decoded = decodeSettings(bytes, signature);
  require(decoded.realCount <= veltrane::realSlotCount);
  require(decoded.flagCount <= veltrane::flagSlotCount);
  if (!decoded.signatureMatches) {
    require(decoded.realCount == 0 && decoded.flagCount == 0);
    return;
  }

  FilterParameters p{};
  for (std::size_t i = 0; i < veltrane::realSlotCount; ++i) p.reals[i] = 0.5;
  const SettingsApplied applied = applySettings(decoded, p);
  require(applied.realsStored <= decoded.realCount);
  require(applied.flagsStored <= decoded.flagCount);
  for (std::size_t i = 0; i < veltrane::realSlotCount; ++i) require(!std::isnan(p.reals[i]));
  for (std::size_t i = 0; i < veltrane::flagSlotCount; ++i) require(p.flags[i] <= 1);
  if (!applied.success) return;

  // A block that loaded saves to bytes that load back to the same block.
  const std::vector<std::uint8_t> saved = encodeSettings(p, signature);
  require(saved.size() <= settingsMaxStoredSize(signature));
  const DecodedSettings again = decodeSettings(saved, signature);
  require(again.signatureMatches && again.realCount == veltrane::realSlotCount &&
          again.flagCount == veltrane::flagSlotCount);
  FilterParameters reloaded{};
  require(applySettings(again, reloaded).success);
  for (std::size_t i = 0; i < veltrane::realSlotCount; ++i) require(sameBits(reloaded.reals[i], p.reals[i]));
  for (std::size_t i = 0; i < veltrane::flagSlotCount; ++i) require(reloaded.flags[i] == p.flags[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const std::vector<std::uint8_t> content = untranslateNewlines(bytes);
  require(content.size() <= size);
  for (const char* signature : signatures) check(bytes, signature);
  return 0;
}

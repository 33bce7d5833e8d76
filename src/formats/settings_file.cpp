#include "formats/settings_file.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace veltrane::formats {
namespace {

constexpr std::uint8_t cr = 0x0D;
constexpr std::uint8_t lf = 0x0A;
constexpr std::size_t separatorSize = 2;

std::size_t signatureFieldSize(const char* signature) { return std::strlen(signature) + 1; }

// Sequential reads over the untranslated content; a read that runs past the
// end takes nothing and leaves the reader exhausted, like a failed stream.
class Reader {
 public:
  explicit Reader(const std::vector<std::uint8_t>& data) : data_(data) {}

  bool read(std::uint8_t* out, std::size_t n) {
    if (failed_ || data_.size() - pos_ < n) {
      failed_ = true;
      pos_ = data_.size();
      return false;
    }
    std::memcpy(out, data_.data() + pos_, n);
    pos_ += n;
    return true;
  }

 private:
  const std::vector<std::uint8_t>& data_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

void appendTranslated(std::vector<std::uint8_t>& out, std::uint8_t byte) {
  if (byte == lf) out.push_back(cr);
  out.push_back(byte);
}

}  // namespace

std::size_t settingsContentSize(const char* signature) {
  return signatureFieldSize(signature) + settingsRealCount * 8 + separatorSize + settingsFlagCount + separatorSize;
}

std::size_t settingsMaxStoredSize(const char* signature) { return 2 * settingsContentSize(signature); }

std::vector<std::uint8_t> encodeSettings(const SettingsReals& reals, const SettingsFlags& flags,
                                         const char* signature) {
  std::vector<std::uint8_t> out;
  out.reserve(settingsMaxStoredSize(signature));
  const std::size_t sigSize = signatureFieldSize(signature);
  for (std::size_t i = 0; i < sigSize; ++i) appendTranslated(out, static_cast<std::uint8_t>(signature[i]));
  for (std::size_t i = 0; i < settingsRealCount; ++i) {
    const auto bits = std::bit_cast<std::uint64_t>(reals[i]);
    for (int shift = 56; shift >= 0; shift -= 8) appendTranslated(out, static_cast<std::uint8_t>(bits >> shift));
  }
  out.push_back(cr);
  out.push_back(cr);
  for (std::size_t i = 0; i < settingsFlagCount; ++i) appendTranslated(out, flags[i]);
  out.push_back(cr);
  out.push_back(cr);
  return out;
}

std::vector<std::uint8_t> untranslateNewlines(std::span<const std::uint8_t> stored) {
  std::vector<std::uint8_t> out;
  out.reserve(stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] == cr && i + 1 < stored.size() && stored[i + 1] == lf) continue;
    out.push_back(stored[i]);
  }
  return out;
}

DecodedSettings decodeSettings(std::span<const std::uint8_t> stored, const char* signature) {
  DecodedSettings d;
  const std::vector<std::uint8_t> content = untranslateNewlines(stored);
  Reader in(content);

  const std::size_t sigSize = signatureFieldSize(signature);
  std::vector<std::uint8_t> sig(sigSize);
  if (!in.read(sig.data(), sigSize) || std::memcmp(sig.data(), signature, sigSize) != 0) return d;
  d.signatureMatches = true;

  for (; d.realCount < settingsRealCount; ++d.realCount) {
    std::uint8_t bytes[8];
    if (!in.read(bytes, sizeof bytes)) return d;
    std::uint64_t bits = 0;
    for (const std::uint8_t b : bytes) bits = bits << 8 | b;
    d.reals[d.realCount] = std::bit_cast<double>(bits);
  }
  std::uint8_t separator[separatorSize];
  if (!in.read(separator, separatorSize)) return d;
  for (; d.flagCount < settingsFlagCount; ++d.flagCount)
    if (!in.read(&d.flags[d.flagCount], 1)) return d;
  return d;
}

SettingsApplied applySettings(const DecodedSettings& d, SettingsReals& reals, SettingsFlags& flags) {
  SettingsApplied a;
  if (!d.signatureMatches) return a;
  for (std::size_t i = 0; i < d.realCount; ++i) {
    const bool nan = std::isnan(d.reals[i]);
    reals[i] = nan ? 0.0 : d.reals[i];
    if (nan) a.nanSlots.push_back(i);
  }
  a.realsStored = d.realCount;
  a.success = d.realCount == settingsRealCount && !std::isnan(d.reals[settingsRealCount - 1]);
  for (std::size_t i = 0; i < settingsFlagCount; ++i) {
    if (!a.success || i >= d.flagCount) {
      a.success = false;
      break;
    }
    flags[i] = d.flags[i] != 0 ? 1 : 0;
    a.flagsStored = i + 1;
  }
  return a;
}

}  // namespace veltrane::formats

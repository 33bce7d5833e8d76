#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// The settings file format: the signature with its zero byte, 26 reals as
// big-endian doubles, 0x0D 0x0D, 9 flags as one byte each, 0x0D 0x0D.
// On disk every content byte 0x0A is stored as 0x0D 0x0A, so the bytes are
// the same whichever platform wrote them. A file of bytes and numbers only:
// what the slots mean is up to whoever reads it (the dialog, or a host that
// learnt the slots from the module).
namespace veltrane::formats {

inline constexpr std::size_t settingsRealCount = 26;
inline constexpr std::size_t settingsFlagCount = 9;
using SettingsReals = std::array<double, settingsRealCount>;
using SettingsFlags = std::array<std::uint8_t, settingsFlagCount>;

// The file content before the newline translation: signature length + 1 +
// 221 bytes.
std::size_t settingsContentSize(const char* signature);

// The bytes to write to disk.
std::vector<std::uint8_t> encodeSettings(const SettingsReals& reals, const SettingsFlags& flags,
                                         const char* signature);

// Undoes the newline translation: a stored pair 0x0D 0x0A becomes 0x0A;
// every other byte (a lone 0x0D, 0x1A, ...) is kept as it is.
std::vector<std::uint8_t> untranslateNewlines(std::span<const std::uint8_t> stored);

// What a file holds, read in file order and stopping at the first item the
// data ends inside of. Nothing here is judged beyond the signature.
struct DecodedSettings {
  bool signatureMatches = false;
  std::size_t realCount = 0;  // reals present whole, slots 0 .. realCount-1
  SettingsReals reals{};
  std::size_t flagCount = 0;  // flags present after a whole separator
  SettingsFlags flags{};
};

// Reads the bytes as stored on disk. Without a matching signature nothing
// else is read.
DecodedSettings decodeSettings(std::span<const std::uint8_t> stored, const char* signature);

// The result of storing a decoded file by the load rules: NaN reals become
// 0; the load succeeds only when the last real was present and a number;
// flags are stored only while it is successful, and a flag byte other than 0
// is stored as 1.
struct SettingsApplied {
  std::vector<std::size_t> nanSlots;  // in slot order
  std::size_t realsStored = 0;        // slots 0 .. realsStored-1 were written
  std::size_t flagsStored = 0;        // slots 0 .. flagsStored-1 were written
  bool success = false;
};

// Requires a decoded file whose signature matched; writes nothing otherwise.
SettingsApplied applySettings(const DecodedSettings& decoded, SettingsReals& reals, SettingsFlags& flags);

// The largest number of bytes a complete file can occupy on disk (every
// content byte translated); reading more than this gains nothing.
std::size_t settingsMaxStoredSize(const char* signature);

}  // namespace veltrane::formats

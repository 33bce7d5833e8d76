#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>

#include "support/message_capture.h"
#include "shell/call_context.h"
#include "shell/parameters.h"
#include "ui/settings_codec.h"
#include "ui/settings_files.h"

namespace veltrane::ui {
namespace {

using Bytes = std::vector<std::uint8_t>;
const char* const halSig = "Halvanetic ver1";

FilterParameters defaultsOf(const Deliverable& d) {
  return FilterParameters{d.factoryDefaults.flags, d.factoryDefaults.reals};
}

bool sameBits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

TEST(SettingsCodec, DefaultsRoundTripBitForBitWithCarriageReturnSeparators) {
  for (const Deliverable* d : {&halvaneDeliverable(), &mirelleDeliverable()}) {
    const FilterParameters p = defaultsOf(*d);
    const Bytes b = encodeSettings(p, d->settingsSignature);
    const auto s = static_cast<std::ptrdiff_t>(std::strlen(d->settingsSignature) + 1);
    ASSERT_EQ(b.size(), d == &halvaneDeliverable() ? 237u : 247u);
    EXPECT_EQ(Bytes(b.begin() + s + 207, b.begin() + s + 211), (Bytes{0x00, 0x0D, 0x0D, 0x01}));
    EXPECT_EQ(Bytes(b.end() - 3, b.end()), (Bytes{d->factoryDefaults.flags[8], 0x0D, 0x0D}));
    const DecodedSettings r = decodeSettings(b, d->settingsSignature);
    ASSERT_TRUE(r.signatureMatches && r.realCount == realSlotCount && r.flagCount == flagSlotCount);
    for (std::size_t i = 0; i < realSlotCount; ++i) EXPECT_TRUE(sameBits(r.reals[i], p.reals[i])) << i;
    for (std::size_t i = 0; i < flagSlotCount; ++i) EXPECT_EQ(r.flags[i], p.flags[i]) << i;
  }
}

TEST(SettingsCodec, NewlineBytesAreTranslatedAndEveryPrefixReadsBackExactly) {
  FilterParameters p = defaultsOf(halvaneDeliverable());
  p.reals[0] = 3.3;  // 40 0A 66 66 66 66 66 66
  p.reals[1] = 6.5;  // 40 1A 00 00 00 00 00 00
  const Bytes b = encodeSettings(p, halSig);
  ASSERT_EQ(b.size(), 238u);
  EXPECT_EQ(Bytes(b.begin() + 16, b.begin() + 25), (Bytes{0x40, 0x0D, 0x0A, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66}));
  EXPECT_EQ(Bytes(b.begin() + 25, b.begin() + 33), (Bytes{0x40, 0x1A, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(untranslateNewlines(Bytes{0x0D, 0x0D, 0x0A, 0x0D}), (Bytes{0x0D, 0x0A, 0x0D}));

  // A file cut anywhere, also between the 0x0D and 0x0A of a stored pair,
  // yields whole values only, each exactly as written.
  for (std::size_t n = 0; n <= b.size(); ++n) {
    const DecodedSettings r = decodeSettings(std::span(b.data(), n), halSig);
    EXPECT_EQ(r.signatureMatches, n >= 16) << n;
    for (std::size_t i = 0; i < r.realCount; ++i) EXPECT_TRUE(sameBits(r.reals[i], p.reals[i])) << n;
    for (std::size_t i = 0; i < r.flagCount; ++i) EXPECT_EQ(r.flags[i], p.flags[i]) << n;
  }
}

TEST(SettingsCodec, AnyBytesLeaveEverySlotOldOrDecoded) {
  std::mt19937 rng(7);
  const Bytes valid = encodeSettings(defaultsOf(halvaneDeliverable()), halSig);
  for (int round = 0; round < 2000; ++round) {
    Bytes b(rng() % 600);
    // Line-break bytes often, and every other buffer starts like a real file.
    for (auto& x : b) x = static_cast<std::uint8_t>(rng() % 4 == 0 ? (rng() % 2 ? 0x0D : 0x0A) : rng());
    if (round % 2) {
      const std::size_t prefix = std::min({b.size(), valid.size(), static_cast<std::size_t>(16 + rng() % 240)});
      std::copy_n(valid.begin(), prefix, b.begin());
    }
    FilterParameters p{};
    std::fill_n(p.reals.values, realSlotCount, -1000.0);
    std::fill_n(p.flags.values, flagSlotCount, 9);
    const DecodedSettings r = decodeSettings(b, halSig);
    const SettingsApplied a = applySettings(r, p);
    for (std::size_t i = 0; i < realSlotCount; ++i)
      EXPECT_TRUE(i < a.realsStored ? sameBits(p.reals[i], std::isnan(r.reals[i]) ? 0.0 : r.reals[i])
                                    : p.reals[i] == -1000.0);
    for (std::size_t i = 0; i < flagSlotCount; ++i)
      EXPECT_EQ(p.flags[i], i < a.flagsStored ? (r.flags[i] ? 1 : 0) : 9);
  }
}

class SettingsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    setActiveDeliverable(halvaneDeliverable());
    params = defaultsOf(halvaneDeliverable());
    callContext().parameters = &params;
    const char* test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir = std::filesystem::temp_directory_path() / ("veltrane-ui-" + std::to_string(::getpid()) + test);
    std::filesystem::create_directories(dir);
    file = (dir / "s.hlv").string();
    platform::setFileChooserHandler([this](bool, const platform::FileChooserSpec&) { return chosen; });
  }
  void TearDown() override {
    platform::setFileChooserHandler({});
    callContext().parameters = nullptr;
    std::filesystem::remove_all(dir);
  }
  void writeBytes(const Bytes& b) const {
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  }
  std::vector<std::string> texts() {  // the messages shown since the last call
    std::vector<std::string> t;
    for (const auto& m : messages.messages()) t.push_back(m.text);
    messages.clear();
    return t;
  }

  FilterParameters params{};
  std::filesystem::path dir;
  std::string file;
  std::optional<std::string> chosen;
  testsupport::MessageCapture messages;
};

TEST_F(SettingsFiles, SaveThenLoadRestoresEverySlotButKeepsTheProfileFlags) {
  chosen = file;
  ASSERT_TRUE(saveSettings());

  const FilterParameters saved = params;
  for (std::size_t i = 0; i < realSlotCount; ++i) params.reals[i] = 77.0;
  for (std::size_t i = 0; i < flagSlotCount; ++i) params.flags[i] ^= 1;
  ASSERT_TRUE(loadSettings());
  EXPECT_EQ(std::memcmp(&params.reals, &saved.reals, sizeof saved.reals), 0);
  for (std::size_t i = 0; i < flagSlotCount; ++i) {
    const bool profile = i == flag::profileDigitalOnLoad || i == flag::profileFilmOnLoad;
    EXPECT_EQ(params.flags[i], profile ? saved.flags[i] ^ 1 : saved.flags[i]) << i;
  }
  EXPECT_TRUE(texts().empty());

  chosen.reset();  // cancelled: nothing changes, nothing is said
  EXPECT_FALSE(loadSettings());
  EXPECT_FALSE(saveSettings());
  EXPECT_TRUE(texts().empty());
}

TEST_F(SettingsFiles, FailuresShowTheirMessagesInOrder) {
  chosen = (dir / "missing" / "s.hlv").string();
  EXPECT_FALSE(saveSettings());
  EXPECT_EQ(texts(), (std::vector<std::string>{msgCannotOpenForWriting, msgErrorWriting}));
  EXPECT_FALSE(loadSettings());
  EXPECT_EQ(texts(), (std::vector<std::string>{msgCannotOpen, msgErrorReading}));

  chosen = file;
  const FilterParameters before = params;
  FilterParameters other = defaultsOf(mirelleDeliverable());
  writeBytes(encodeSettings(other, mirelleDeliverable().settingsSignature));
  EXPECT_FALSE(loadSettings());
  EXPECT_EQ(texts(), (std::vector<std::string>{msgNotSettingsFile, msgErrorReading}));
  EXPECT_EQ(std::memcmp(&params, &before, sizeof params), 0);

  other = before;
  other.reals[5] = 0.5;
  other.reals[25] = std::numeric_limits<double>::quiet_NaN();
  other.flags[flag::despeckle] = 0;
  writeBytes(encodeSettings(other, halSig));
  EXPECT_FALSE(loadSettings());
  EXPECT_EQ(texts(), (std::vector<std::string>{msgNotANumber, msgErrorReading}));
  EXPECT_EQ(params.reals[5], 0.5);
  EXPECT_EQ(params.reals[25], 0.0);
  EXPECT_EQ(params.flags[flag::despeckle], 1);  // flags are not read after a failed last real

  other.reals[25] = 2.0;
  other.flags[flag::spareFlag0] = 0;
  const Bytes b = encodeSettings(other, halSig);
  writeBytes(Bytes(b.begin(), b.begin() + 16 + 210 + 2));  // ends after flag 1
  params = before;
  EXPECT_FALSE(loadSettings());
  EXPECT_EQ(texts(), (std::vector<std::string>{msgErrorReading}));
  EXPECT_EQ(params.reals[25], 2.0);
  EXPECT_EQ(params.flags[flag::spareFlag0], 0);
  EXPECT_EQ(params.flags[flag::despeckle], 0);
  EXPECT_EQ(params.flags[flag::cleanerSmoothAreas], before.flags[flag::cleanerSmoothAreas]);
}

TEST_F(SettingsFiles, LoadedValuesAreKeptInTheirRanges) {
  chosen = file;
  FilterParameters other = params;
  other.reals[real::mixBWDetail] = -1e308;                                     // below 0..1
  other.reals[real::overallNoiseLevel] = 450.0;                                // a profiled level: kept
  other.reals[real::protectThreshold] = std::numeric_limits<double>::infinity();  // not finite
  other.reals[real::reserved21] = -std::numeric_limits<double>::infinity();
  writeBytes(encodeSettings(other, halSig));
  ASSERT_TRUE(loadSettings());
  EXPECT_EQ(params.reals[real::mixBWDetail], 0.0);
  EXPECT_EQ(params.reals[real::overallNoiseLevel], 450.0);
  EXPECT_EQ(params.reals[real::protectThreshold], 255.0);  // the default
  EXPECT_EQ(params.reals[real::reserved21], 0.0);
  EXPECT_EQ(texts(), (std::vector<std::string>{std::string(notFiniteMessage) + "protectThreshold",
                                               std::string(notFiniteMessage) + "reserved21"}));
}

}  // namespace
}  // namespace veltrane::ui

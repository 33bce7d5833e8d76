// The halvane module as an editor uses it: loaded from its file and driven
// only through PluginMain.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/sim/sim_host.h"
#include "hostapi/fourcc.h"
#include "platform/platform.h"
#include "shell/filter_parameters.h"

namespace veltrane {
namespace {

using host::PluginModule;
using host::Registry;
using host::SimHost;
using host::SimImage;
using host::SimOptions;

const PluginModule& halvane() {
  static PluginModule m = PluginModule::load(VELTRANE_HALVANE_MODULE);
  return m;
}

// A smooth scene with noise and a hard edge, in any depth and plane count.
SimImage scene(std::int32_t w, std::int32_t h, std::int32_t planes, std::int32_t depth,
               std::int16_t mode) {
  SimImage img;
  img.width = w;
  img.height = h;
  img.planes = planes;
  img.depth = depth;
  img.imageMode = mode;
  img.pixels.resize(static_cast<std::size_t>(img.rowBytes() * h));
  std::uint32_t s = 7;
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      for (std::int32_t c = 0; c < planes; ++c) {
        s = s * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(s >> 8) / 16777216.0 - 0.5) * 0.12;
        double v = (x < w / 2 ? 0.3 : 0.7) + 0.1 * (c + 1) * y / h + noise;
        v = std::fmin(1.0, std::fmax(0.0, v));
        const std::size_t i = static_cast<std::size_t>((static_cast<std::int64_t>(y) * w + x) * planes + c);
        if (depth == 8) {
          img.pixels[i] = static_cast<std::uint8_t>(v * 255.0 + 0.5);
        } else if (depth == 16) {
          const auto h16 = static_cast<std::uint16_t>(v * 32768.0 + 0.5);
          std::memcpy(img.pixels.data() + i * 2, &h16, 2);
        } else {
          const float f = static_cast<float>(v * v);  // linear light
          std::memcpy(img.pixels.data() + i * 4, &f, 4);
        }
      }
  return img;
}

// A run without the dialog, as a script plays it: in a Windows module the
// dialog is a real window, which no one here would close (its own smoke test
// opens it on a display and works it).
std::int16_t runSilently(SimHost& host, const PluginModule& module) {
  host.setScriptDescriptor(host::Descriptor{}, host::PlaySetting::silent);
  return host.runFilter(module.entry(), false);
}

// Mean absolute difference of two images' samples, relative to full scale.
double meanChange(const SimImage& a, const std::vector<std::uint8_t>& before) {
  const std::size_t n = static_cast<std::size_t>(a.width) * static_cast<std::size_t>(a.height) *
                        static_cast<std::size_t>(a.planes);
  double sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    double x = 0, y = 0;
    if (a.depth == 8) {
      x = a.pixels[i] / 255.0;
      y = before[i] / 255.0;
    } else if (a.depth == 16) {
      std::uint16_t p, q;
      std::memcpy(&p, a.pixels.data() + i * 2, 2);
      std::memcpy(&q, before.data() + i * 2, 2);
      x = p / 32768.0;
      y = q / 32768.0;
    } else {
      float p, q;
      std::memcpy(&p, a.pixels.data() + i * 4, 4);
      std::memcpy(&q, before.data() + i * 4, 4);
      x = p;
      y = q;
    }
    sum += std::fabs(x - y);
  }
  return sum / static_cast<double>(n);
}

TEST(Module, AboutShowsTheTitle) {
  SimImage img = scene(30, 30, 3, 8, 3);
  SimHost host(img);
  testing::internal::CaptureStderr();
  EXPECT_EQ(host.about(halvane().entry()), 0);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("Veltrane: Halvane v2.3.0"), std::string::npos) << out;
}

TEST(Module, FiltersEveryModeAndDepth) {
  struct Case {
    std::int32_t planes, depth;
    std::int16_t mode;
  };
  for (const Case c : {Case{3, 8, 3}, Case{1, 8, 1}, Case{3, 8, 9}, Case{3, 16, 11}, Case{1, 16, 10},
                       Case{3, 16, 12}, Case{3, 32, 16}, Case{1, 32, 17}}) {
    SimImage img = scene(64, 40, c.planes, c.depth, c.mode);
    const auto before = img.pixels;
    Registry registry;
    SimHost host(img, {}, &registry);
    ASSERT_EQ(runSilently(host, halvane()), 0) << "mode " << c.mode;
    const double change = meanChange(img, before);
    EXPECT_GT(change, 0.002) << "mode " << c.mode;
    EXPECT_LT(change, 0.1) << "mode " << c.mode;
    EXPECT_EQ(host.statistics().liveBuffers, 0);
    EXPECT_EQ(host.statistics().liveHandles, 0);
  }
}

TEST(Module, OutOfMemoryAndCancelEndTheRunCleanly) {
  SimImage probe = scene(40, 36, 3, 8, 3);
  Registry r0;
  SimHost counting(probe, {}, &r0);
  ASSERT_EQ(runSilently(counting, halvane()), 0);
  const int allocations = counting.statistics().bufferAllocations;
  const int polls = counting.statistics().abortPolls;
  ASSERT_GT(allocations, 5);
  ASSERT_GT(polls, 0);

  // A failed allocation of the engine's buffers ends the run with -128 (the
  // plug-in has shown its message) and leaves the image as it was; one of the
  // look-up tables failing costs nothing but speed, and the run filters as
  // usual.
  const SimImage original = scene(40, 36, 3, 8, 3);
  for (int k = 1; k <= allocations; ++k) {
    SimImage img = original;
    SimOptions o;
    o.failBufferAllocationAt = k;
    Registry r;
    testing::internal::CaptureStderr();
    SimHost host(img, o, &r);
    const std::int16_t rc = runSilently(host, halvane());
    const std::string shown = testing::internal::GetCapturedStderr();
    if (rc == 0) {
      EXPECT_EQ(img.pixels, probe.pixels) << "allocation " << k;
    } else {
      EXPECT_EQ(rc, -128) << "allocation " << k;
      EXPECT_EQ(img.pixels, original.pixels) << "allocation " << k;
      EXPECT_NE(shown.find("Not enough memory"), std::string::npos) << shown;
    }
    EXPECT_EQ(host.statistics().liveBuffers, 0) << "allocation " << k;
  }
  for (int k = 1; k <= polls; ++k) {
    SimImage img = scene(40, 36, 3, 8, 3);
    SimOptions o;
    o.abortAtPoll = k;
    Registry r;
    SimHost host(img, o, &r);
    EXPECT_EQ(runSilently(host, halvane()), -128) << "poll " << k;
    EXPECT_EQ(host.statistics().liveBuffers, 0) << "poll " << k;
    // The same loaded module runs again after a cancelled run.
    SimImage again = scene(40, 36, 3, 8, 3);
    SimHost next(again, {}, &r);
    EXPECT_EQ(runSilently(next, halvane()), 0) << "after poll " << k;
  }
}

TEST(Module, SelectionAwayFromTheCornerAndMaskAreRespected) {
  SimImage img = scene(90, 70, 3, 8, 3);
  const auto before = img.pixels;
  SimOptions o;
  o.filterRect = hostapi::VRect{20, 30, 60, 85};
  o.mask.assign(90 * 70, 255);
  for (std::int32_t y = 0; y < 70; ++y)
    for (std::int32_t x = 0; x < 45; ++x) o.mask[static_cast<std::size_t>(y * 90 + x)] = 0;
  Registry r;
  SimHost host(img, o, &r);
  ASSERT_EQ(runSilently(host, halvane()), 0);
  bool changedInside = false;
  for (std::int32_t y = 0; y < 70; ++y)
    for (std::int32_t x = 0; x < 90; ++x)
      for (int c = 0; c < 3; ++c) {
        const std::size_t i = static_cast<std::size_t>((y * 90 + x) * 3 + c);
        const bool inside = y >= 20 && y < 60 && x >= 45 && x < 85;
        if (!inside) {
          ASSERT_EQ(img.pixels[i], before[i]) << x << "," << y;
        }
        changedInside |= inside && img.pixels[i] != before[i];
      }
  EXPECT_TRUE(changedInside);
}

// Largest sample difference between two runs over a window of pixels.
int largestDifference(const SimImage& a, const SimImage& b, std::int32_t x0, std::int32_t x1,
                      std::int32_t y0, std::int32_t y1) {
  int worst = 0;
  for (std::int32_t y = y0; y < y1; ++y)
    for (std::int32_t x = x0; x < x1; ++x)
      for (int c = 0; c < 3; ++c) {
        const std::size_t i = static_cast<std::size_t>((static_cast<std::int64_t>(y) * a.width + x) * 3 + c);
        worst = std::max(worst, std::abs(a.pixels[i] - b.pixels[i]));
      }
  return worst;
}

TEST(Module, WholeQuadrantAndTiledRunsAgreeAwayFromTheSeams) {
  Registry r;
  auto run = [&r](SimImage& img, std::int16_t tile) {
    SimOptions o;
    o.tileWidth = tile;
    o.tileHeight = tile;
    SimHost host(img, o, &r);
    ASSERT_EQ(runSilently(host, halvane()), 0);
  };
  // 1000 x 1000 is processed whole; with a host tile of 100 it is cut into
  // tiles of 400 (seams at 400 and 800) read with 64 pixels of context.
  SimImage whole = scene(1000, 1000, 3, 8, 3);
  SimImage tiled = whole;
  run(whole, 0);
  run(tiled, 100);
  // The tiles' read origins (0, 336, 736) keep the pyramid's sampling grid,
  // so the centres of the tiles are the same as in the whole run.
  EXPECT_EQ(largestDifference(whole, tiled, 120, 280, 120, 280), 0);
  EXPECT_EQ(largestDifference(whole, tiled, 520, 680, 520, 680), 0);
  EXPECT_EQ(largestDifference(whole, tiled, 880, 1000, 880, 1000), 0);

  // 1001 x 1000 is processed in quadrants (seams at 500); a tiled run of the
  // same image is the reference. The right and bottom quadrants are read
  // from 436, which moves the coarsest level's sampling grid by half a
  // sample, so their pixels may differ by a level or two.
  SimImage quads = scene(1001, 1000, 3, 8, 3);
  SimImage tiles = quads;
  run(quads, 0);
  run(tiles, 100);
  EXPECT_EQ(largestDifference(quads, tiles, 120, 280, 120, 280), 0);
  EXPECT_LE(largestDifference(quads, tiles, 620, 780, 620, 780), 2);
}

TEST(Module, AlwaysProfileFromScriptingProfilesBeforeASilentRun) {
  for (const bool film : {false, true}) {
    SimImage img = scene(128, 96, 3, 8, 3);
    Registry r;
    SimHost host(img, {}, &r);
    host::Descriptor script;
    script.put(hostapi::fourcc("Blah"), host::DescriptorValue::ofBoolean(true));
    if (film) {
      script.put(hostapi::fourcc("Blad"), host::DescriptorValue::ofBoolean(false));
      script.put(hostapi::fourcc("Blae"), host::DescriptorValue::ofBoolean(true));
    }
    host.setScriptDescriptor(script, host::PlaySetting::silent);
    ASSERT_EQ(host.runFilter(halvane().entry(), false), 0);
    FilterParameters p{};
    const auto bytes = host.parameterBlock();
    ASSERT_EQ(bytes.size(), sizeof p);
    std::memcpy(&p, bytes.data(), sizeof p);
    const double level = p.reals[real::overallNoiseLevel];
    EXPECT_NE(level, 40.0) << film;
    EXPECT_GE(level, 15.0) << film;
    EXPECT_EQ(p.reals[real::highlightsNoiseLevel], film ? 1.0 : 0.2);
    EXPECT_EQ(p.reals[real::protectThreshold], film ? 255.0 : 100.0);
    EXPECT_EQ(p.reals[real::protectFeather], film ? 0.0 : std::clamp(2.0 * level + 45.0, 0.0, 155.0));
    EXPECT_EQ(host.statistics().liveBuffers, 0);
  }
}

// ---- mirelle ------------------------------------------------------------------

const PluginModule& mirelle() {
  static PluginModule m = PluginModule::load(VELTRANE_MIRELLE_MODULE);
  return m;
}

TEST(MirelleModule, MatteIsGreyDarkOnTheSmoothHalfAndBrightOnTheTexturedHalf) {
  SimImage img = scene(64, 40, 3, 8, 3);
  std::uint32_t s = 3;
  for (std::int32_t y = 0; y < 40; ++y)
    for (std::int32_t x = 0; x < 64; ++x)
      for (std::int32_t c = 0; c < 3; ++c) {
        s = s * 1664525u + 1013904223u;
        img.pixels[static_cast<std::size_t>((y * 64 + x) * 3 + c)] =
            static_cast<std::uint8_t>(x < 32 ? 90 : (s >> 24));
      }
  Registry registry;
  SimHost host(img, {}, &registry);
  ASSERT_EQ(runSilently(host, mirelle()), 0);
  EXPECT_EQ(host.statistics().liveBuffers, 0);
  for (std::int32_t y = 0; y < 40; ++y)
    for (std::int32_t x = 0; x < 64; ++x) {
      const std::uint8_t* p = &img.pixels[static_cast<std::size_t>((y * 64 + x) * 3)];
      ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]) << x << ", " << y;
      if (x < 28) {
        EXPECT_EQ(p[0], 0) << x << ", " << y;
      } else if (x > 36) {
        EXPECT_GT(p[0], 200) << x << ", " << y;
      }
    }
}

TEST(MirelleModule, ScriptingCannotSwitchProfilingOff) {
  // A noisy ramp from black to white, so that the profiler finds its tones.
  SimImage img = scene(256, 64, 3, 8, 3);
  std::uint32_t s = 5;
  for (std::size_t i = 0; i < img.pixels.size(); ++i) {
    s = s * 1664525u + 1013904223u;
    const auto x = static_cast<int>(i / 3 % 256);
    img.pixels[i] = static_cast<std::uint8_t>(std::clamp(x + static_cast<int>(s >> 28) - 8, 0, 255));
  }
  Registry registry;
  SimHost host(img, {}, &registry);
  host::Descriptor script;
  script.put(hostapi::fourcc("Blah"), host::DescriptorValue::ofBoolean(false));
  host.setScriptDescriptor(script, host::PlaySetting::silent);
  ASSERT_EQ(host.runFilter(mirelle().entry(), false), 0);
  FilterParameters p{};
  const auto bytes = host.parameterBlock();
  ASSERT_EQ(bytes.size(), sizeof p);
  std::memcpy(&p, bytes.data(), sizeof p);
  EXPECT_EQ(p.flags[flag::alwaysProfile], 1);
  EXPECT_NE(p.reals[real::overallNoiseLevel], 40.0);  // profiled, not the default
}

// ---- lesser hosts ---------------------------------------------------------------

// Every host profile, both modules. A host that lacks a service is worked
// around and gives the pixels the full host gives; a host that delivers
// fewer rows than asked for gets a message and -30100, and its image stays as
// it was. Windows modules open a real dialog when the host cannot ask for a
// silent run, so there the profiles without scripting are left to the
// dialog's own smoke test. The pixels are compared with the full host's run
// of the same kind: silent, or through the dialog when the profile cannot
// ask for a silent run.
class HostProfile : public testing::TestWithParam<std::string> {};

bool scripts(const std::string& profile) {
  SimOptions o;
  host::applyHostProfile(profile, o);
  return o.descriptorRecord == SimOptions::DescriptorRecord::full;
}

std::vector<std::string> profilesToRun() {
  std::vector<std::string> names;
  for (const std::string& name : host::hostProfileNames()) {
#ifdef _WIN32
    if (!scripts(name)) continue;
#endif
    names.push_back(name);
  }
  return names;
}

TEST_P(HostProfile, BothModulesFilterOrFailCleanly) {
  struct Case {
    std::int32_t planes, depth;
    std::int16_t mode;
  };
  SimOptions profile;
  ASSERT_TRUE(host::applyHostProfile(GetParam(), profile));
  const bool shortRows = profile.rowsPerDelivery > 0;
  for (const PluginModule* module : {&halvane(), &mirelle()}) {
    for (const Case c : {Case{3, 8, 3}, Case{1, 8, 1}, Case{3, 16, 11}, Case{3, 32, 16}}) {
      if (!profile.deepImages && c.depth != 8) continue;  // such a host holds no deep images
      const std::string what = GetParam() + (module == &halvane() ? " halvane " : " mirelle ") +
                               std::to_string(c.depth) + "-bit, " + std::to_string(c.planes) + " planes";
      SimImage reference = scene(200, 150, c.planes, c.depth, c.mode);
      SimImage img = reference;
      const auto before = img.pixels;
      Registry r0, r;
      SimHost full(reference, {}, &r0);
      // A host without scripting always shows the dialog (here answered
      // with OK at once), which profiles first.
      full.setScriptDescriptor(host::Descriptor{},
                               scripts(GetParam()) ? host::PlaySetting::silent : host::PlaySetting::display);
      ASSERT_EQ(full.runFilter(module->entry(), false), 0) << what;

      testing::internal::CaptureStderr();
      SimHost host(img, profile, &r);
      EXPECT_EQ(host.about(module->entry()), 0) << what;
      const std::int16_t rc = runSilently(host, *module);
      const std::string shown = testing::internal::GetCapturedStderr();
      if (shortRows) {
        EXPECT_EQ(rc, -30100) << what;
        EXPECT_NE(shown.find("delivered less of the image"), std::string::npos) << what << shown;
        EXPECT_EQ(img.pixels, before) << what;
      } else if (profile.tileWidth > 0) {
        EXPECT_EQ(rc, 0) << what << shown;
        EXPECT_GT(meanChange(img, before), 0.002) << what;
        EXPECT_LT(meanChange(img, reference.pixels), 0.02) << what;  // the tiles' seams differ
      } else {
        EXPECT_EQ(rc, 0) << what << shown;
        EXPECT_EQ(img.pixels, reference.pixels) << what;
      }
      EXPECT_EQ(host.statistics().liveBuffers, 0) << what;
      EXPECT_EQ(host.statistics().liveHandles, 0) << what;
      EXPECT_EQ(host.statistics().invalidCalls, 0) << what;
      // Without the basic suite nothing is remembered, and nothing breaks.
      if (!profile.basicSuite) {
        EXPECT_TRUE(r.entries.empty()) << what;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Lesser, HostProfile, testing::ValuesIn(profilesToRun()),
                         [](const testing::TestParamInfo<std::string>& param) {
                           std::string name = param.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

TEST(Module, FloatSamplesOutsideTheUnitRangeComeBackUnchanged) {
  SimImage img = scene(64, 48, 3, 32, 16);
  std::vector<float> before(img.pixels.size() / 4);
  std::memcpy(before.data(), img.pixels.data(), img.pixels.size());
  for (std::size_t i = 0; i < before.size(); i += 5) before[i] = i % 2 ? 1.0f + static_cast<float>(i % 100) : -0.25f;
  std::memcpy(img.pixels.data(), before.data(), img.pixels.size());
  Registry r;
  SimHost host(img, {}, &r);
  ASSERT_EQ(runSilently(host, halvane()), 0);
  std::vector<float> after(before.size());
  std::memcpy(after.data(), img.pixels.data(), img.pixels.size());
  std::size_t changed = 0;
  for (std::size_t i = 0; i < after.size(); ++i) {
    if (before[i] < 0.0f || before[i] > 1.0f) {
      ASSERT_EQ(after[i], before[i]) << i;
    }
    changed += after[i] != before[i];
  }
  EXPECT_GT(changed, after.size() / 2);  // the rest was filtered
}

}  // namespace
}  // namespace veltrane

// The callback suites of the in-memory host: memory, progress and abort, the
// basic suite with the registry and action descriptors, scripting
// descriptors, and module loading.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "fake_plugin.h"

namespace veltrane::host::testing {
namespace {

using namespace hostapi;

constexpr DescriptorKeyID keyA = fourcc("brgH");
constexpr DescriptorKeyID keyB = fourcc("conT");
constexpr DescriptorKeyID keyC = fourcc("Blad");
constexpr DescriptorKeyID keyD = fourcc("Zoom");
constexpr const char* registryKey = "bceaae11-64f5-4642-a53b-77935366fee2";

class SuiteTest : public ::testing::Test {
 protected:
  void TearDown() override { behaviour() = nullptr; }
  SimImage image = makeImage(4, 4, 3, 8);
};

TEST_F(SuiteTest, BuffersFailAtTheNthAllocationAndRefuseEmptySizes) {
  SimOptions options;
  options.failBufferAllocationAt = 2;
  SimHost host(image, options);
  const BufferProcs& b = *host.record().bufferProcs;
  ASSERT_EQ(b.numBufferProcs, 8);

  BufferID first = nullptr, second = nullptr, third = nullptr, empty = nullptr;
  ASSERT_EQ(b.allocateProc(100, &first), 0);
  EXPECT_EQ(b.allocateProc(100, &second), memFullErr);
  EXPECT_EQ(second, nullptr);
  ASSERT_EQ(b.allocateProc64(std::int64_t{1} << 20, &third), 0);
  EXPECT_EQ(b.allocateProc(0, &empty), memFullErr);
  EXPECT_EQ(b.allocateProc64(-5, &empty), memFullErr);
  EXPECT_EQ(host.statistics().liveBuffers, 2);

  char* p = b.lockProc(third, 0);
  ASSERT_NE(p, nullptr);
  p[(1 << 20) - 1] = 1;
  ASSERT_NE(b.lockProc(third, 0), nullptr);  // locks nest
  b.unlockProc(third);
  EXPECT_EQ(host.statistics().lockedBuffers, 1);
  b.unlockProc(third);
  EXPECT_EQ(host.statistics().lockedBuffers, 0);
  ASSERT_NE(b.lockProc(first, 0), nullptr);
  b.freeProc(third);
  b.freeProc(first);  // while locked
  b.freeProc(first);  // twice
  EXPECT_EQ(host.statistics().liveBuffers, 0);
  EXPECT_EQ(host.statistics().lockedBuffers, 0);
  EXPECT_EQ(host.statistics().invalidCalls, 1);
  EXPECT_EQ(host.statistics().bufferAllocations, 5);

  // The injection moves between calls; the count goes on.
  host.failBufferAllocationAt(7);
  EXPECT_EQ(b.allocateProc(8, &first), 0);
  EXPECT_EQ(b.allocateProc(8, &second), memFullErr);
  b.freeProc(first);
}

TEST_F(SuiteTest, HandlesAreRealCellsCountedApartFromTheOnesTheHostKeeps) {
  SimOptions options;
  options.failHandleAllocationAt = 3;
  SimHost host(image, options);
  FilterRecord& r = host.record();
  const HandleProcs& h = *r.handleProcs;
  ASSERT_EQ(h.numHandleProcs, 8);

  Handle a = h.newProc(3);
  ASSERT_NE(a, nullptr);
  std::memcpy(*a, "abc", 3);
  ASSERT_EQ(h.setSizeProc(a, 1000), 0);
  EXPECT_EQ(h.getSizeProc(a), 1000);
  char* locked = h.lockProc(a, 1);
  EXPECT_EQ(locked, *a);
  EXPECT_EQ(std::string(locked, 3), "abc");
  h.unlockProc(a);

  Handle b = h.newProc(0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(h.newProc(8), nullptr);  // the third allocation
  EXPECT_EQ(host.statistics().liveHandles, 2);

  // The parameter and data handles are the host's to keep.
  r.parameters = a;
  host.dataCell() = reinterpret_cast<std::intptr_t>(b);
  EXPECT_EQ(host.statistics().liveHandles, 0);
  EXPECT_EQ(host.parameterBlock().size(), 1000u);

  Handle c = h.newProc(4);
  h.disposeProc(c);
  h.disposeRegularHandleProc(c);  // already gone
  EXPECT_EQ(host.statistics().invalidCalls, 1);
  EXPECT_EQ(host.statistics().handleAllocations, 4);
}

TEST_F(SuiteTest, AbortAnswersFromTheNthPollForTheRestOfTheRun) {
  SimOptions options;
  options.abortAtPoll = 3;
  std::vector<std::pair<int, int>> reports;
  options.onProgress = [&](std::int32_t done, std::int32_t total) {
    reports.emplace_back(done, total);
    throw std::runtime_error("observer failure stays in the host");
  };
  std::vector<int> answers;
  behaviour() = [&](std::int16_t selector, void* rec, std::intptr_t&) -> std::int16_t {
    FilterRecord& r = filterRecord(rec);
    if (selector == selectorParameters) r.parameters = r.handleProcs->newProc(1);
    if (selector != selectorStart) return 0;
    for (int i = 0; i < 4; ++i) {
      r.progressProc(i, 4);
      answers.push_back(r.abortProc());
    }
    return answers.back() ? userCanceledErr : noErr;
  };
  SimHost host(image, options);
  EXPECT_EQ(host.runFilter(&fakeEntry, false), userCanceledErr);
  EXPECT_EQ(answers, (std::vector<int>{0, 0, 1, 1}));
  EXPECT_EQ(reports.size(), 4u);
  EXPECT_EQ(reports[2], std::make_pair(2, 4));

  // A new run starts uncancelled; the count goes on over the host's life.
  answers.clear();
  EXPECT_EQ(host.runFilter(&fakeEntry, false), noErr);
  EXPECT_EQ(answers, (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(host.statistics().abortPolls, 8);
  EXPECT_EQ(host.statistics().progressReports, 8);

  // Code driven between calls: a new setting releases the cancel.
  host.abortAtPoll(9);
  EXPECT_EQ(host.record().abortProc(), 1);
  EXPECT_EQ(host.record().abortProc(), 1);
  host.abortAtPoll(0);
  EXPECT_EQ(host.record().abortProc(), 0);
}

TEST_F(SuiteTest, BasicSuiteHandsOutTheTwoSuitesByNameAndVersion) {
  SimHost host(image);
  const SPBasicSuite& sp = *host.record().sSPBasic;
  const void* suite = &sp;
  EXPECT_EQ(sp.AcquireSuite(descriptorRegistrySuiteName, 2, &suite), spSuiteNotFound);
  EXPECT_EQ(suite, nullptr);
  EXPECT_EQ(sp.AcquireSuite(actionDescriptorSuiteName, 3, &suite), spSuiteNotFound);
  EXPECT_EQ(sp.AcquireSuite("no such suite", 1, &suite), spSuiteNotFound);

  const void* registry = nullptr;
  const void* descriptors = nullptr;
  ASSERT_EQ(sp.AcquireSuite(descriptorRegistrySuiteName, 1, &registry), 0);
  ASSERT_EQ(sp.AcquireSuite(actionDescriptorSuiteName, 2, &descriptors), 0);
  const auto* ad = static_cast<const ActionDescriptorSuite*>(descriptors);
  for (void* slot : ad->laterRoutines) ASSERT_NE(slot, nullptr);
  using NoArguments = OSErr(VELTRANE_HOSTAPI_CDECL*)();
  EXPECT_NE(reinterpret_cast<NoArguments>(ad->laterRoutines[17])(), 0);
  EXPECT_EQ(host.statistics().suitesAcquired, 2);
  sp.ReleaseSuite(descriptorRegistrySuiteName, 1);
  EXPECT_EQ(host.statistics().suitesReleased, 1);
}

struct Suites {
  const DescriptorRegistrySuite* registry = nullptr;
  const ActionDescriptorSuite* descriptors = nullptr;
};

Suites acquire(FilterRecord& r) {
  const void* a = nullptr;
  const void* b = nullptr;
  r.sSPBasic->AcquireSuite(descriptorRegistrySuiteName, 1, &a);
  r.sSPBasic->AcquireSuite(actionDescriptorSuiteName, 2, &b);
  return {static_cast<const DescriptorRegistrySuite*>(a), static_cast<const ActionDescriptorSuite*>(b)};
}

TEST_F(SuiteTest, RegistryKeepsCopiesAndGetHandsOutNewOnes) {
  Registry registry;
  SimHost host(image, {}, &registry);
  const Suites s = acquire(host.record());
  const ActionDescriptorSuite& ad = *s.descriptors;

  PIActionDescriptor d = reinterpret_cast<PIActionDescriptor>(&registry);
  EXPECT_EQ(s.registry->Get(registryKey, &d), 0);  // success, and nothing
  EXPECT_EQ(d, nullptr);

  ASSERT_EQ(ad.Make(&d), 0);
  ad.PutFloat(d, keyA, 1.5);
  ad.PutInteger(d, keyB, 7);
  ad.PutFloat(d, keyA, 2.5);  // replaces, keeps its place
  ASSERT_EQ(s.registry->Register(registryKey, d, 1), 0);
  ad.PutFloat(d, keyA, 99.0);  // after registering: not seen by the registry
  ad.Free(d);
  EXPECT_EQ(registry.entries[registryKey].entries().front().second.floating, 2.5);

  PIActionDescriptor copy = nullptr;
  ASSERT_EQ(s.registry->Get(registryKey, &copy), 0);
  ASSERT_NE(copy, nullptr);
  std::int32_t i = 0;
  double v = 0;
  DescriptorKeyID key = 0;
  EXPECT_EQ(ad.GetInteger(copy, keyB, &i), 0);
  EXPECT_EQ(i, 7);
  EXPECT_EQ(ad.GetKey(copy, 1, &key), 0);
  EXPECT_EQ(key, keyB);
  EXPECT_EQ(ad.GetFloat(copy, keyB, &v), paramErr);  // an integer is no float here
  EXPECT_EQ(ad.GetFloat(copy, keyC, &v), errMissingParameter);
  ad.Erase(copy, keyA);
  Boolean has = 1;
  ad.HasKey(copy, keyA, &has);
  EXPECT_EQ(has, 0);
  ad.Free(copy);
  EXPECT_EQ(registry.entries[registryKey].entries().size(), 2u);

  EXPECT_EQ(s.registry->Erase(registryKey), 0);
  EXPECT_TRUE(registry.entries.empty());
  EXPECT_EQ(host.statistics().liveDescriptors, 0);
  EXPECT_EQ(ad.Free(copy), paramErr);  // already freed
}

TEST_F(SuiteTest, ReaderHandsOutKeysInDescriptorOrderAndMarksTheKeyArray) {
  SimHost host(image);
  Descriptor recorded;
  recorded.put(keyC, DescriptorValue::ofBoolean(true));
  recorded.put(keyA, DescriptorValue::ofFloat(0.25));
  recorded.put(keyB, DescriptorValue::ofInteger(3));
  host.setScriptDescriptor(recorded, PlaySetting::dontDisplay);
  FilterRecord& r = host.record();
  const PIDescriptorParameters& dp = *r.descriptorParameters;
  ASSERT_NE(dp.descriptor, nullptr);
  EXPECT_EQ(dp.playInfo, plugInDialogDontDisplay);
  const ReadDescriptorProcs& rp = *dp.readDescriptorProcs;
  EXPECT_EQ(rp.numReadDescriptorProcs, 18);

  DescriptorKeyID keys[] = {keyA, keyB, keyD, keyC, 0, keyB};
  PIReadDescriptor reader = rp.openReadDescriptorProc(dp.descriptor, keys);
  ASSERT_NE(reader, nullptr);
  std::vector<DescriptorKeyID> order;
  DescriptorKeyID key = 0;
  DescriptorTypeID type = 0;
  std::int32_t flags = -1;
  double v = 0;
  Boolean b = 0;
  while (rp.getKeyProc(reader, &key, &type, &flags)) {
    order.push_back(key);
    if (key == keyC) {
      EXPECT_EQ(rp.getBooleanProc(reader, &b), 0);
    } else if (key == keyA) {
      EXPECT_EQ(rp.getFloatProc(reader, &v), 0);
    } else if (key == keyB) {
      EXPECT_EQ(rp.getFloatProc(reader, &v), coercedParamErr);  // an integer read as a float
    }
  }
  EXPECT_EQ(order, (std::vector<DescriptorKeyID>{keyC, keyA, keyB}));
  EXPECT_EQ(v, 3.0);
  EXPECT_EQ(flags, 0);
  // Handed-out keys are marked; the one the descriptor lacks is not; past the 0 nothing is touched.
  EXPECT_EQ(keys[0], typeNull);
  EXPECT_EQ(keys[1], typeNull);
  EXPECT_EQ(keys[2], keyD);
  EXPECT_EQ(keys[3], typeNull);
  EXPECT_EQ(keys[5], keyB);
  EXPECT_EQ(rp.closeReadDescriptorProc(reader), coercedParamErr);

  // A type mismatch is sticky over later successes; a missing key shows when all else went well.
  DescriptorKeyID again[] = {keyA, keyD, 0};
  reader = rp.openReadDescriptorProc(dp.descriptor, again);
  rp.getKeyProc(reader, &key, &type, &flags);
  EXPECT_EQ(rp.getFloatProc(reader, &v), paramErr);  // keyC is a boolean
  rp.getKeyProc(reader, &key, &type, &flags);
  EXPECT_EQ(rp.getFloatProc(reader, &v), 0);
  EXPECT_EQ(rp.closeReadDescriptorProc(reader), paramErr);
  reader = rp.openReadDescriptorProc(dp.descriptor, again);
  while (rp.getKeyProc(reader, &key, &type, &flags)) {
  }
  EXPECT_EQ(rp.closeReadDescriptorProc(reader), errMissingParameter);
}

// Reads the registry and the recorded action at start, writes both at finish.
TEST_F(SuiteTest, PluginRoundTripsRegistryAndScriptingDescriptor) {
  Registry registry;
  double value = 0.5;
  behaviour() = [&](std::int16_t selector, void* rec, std::intptr_t&) -> std::int16_t {
    FilterRecord& r = filterRecord(rec);
    PIDescriptorParameters& dp = *r.descriptorParameters;
    if (selector == selectorParameters) r.parameters = r.handleProcs->newProc(1);
    if (selector == selectorStart) {
      Suites s = acquire(r);
      PIActionDescriptor d = nullptr;
      if (s.registry->Get(registryKey, &d) == 0 && d) {
        s.descriptors->GetFloat(d, keyA, &value);
        s.descriptors->Free(d);
      }
      r.sSPBasic->ReleaseSuite(descriptorRegistrySuiteName, 1);
      r.sSPBasic->ReleaseSuite(actionDescriptorSuiteName, 2);
      if (dp.descriptor) {
        DescriptorKeyID keys[] = {keyA, 0};
        PIReadDescriptor reader = dp.readDescriptorProcs->openReadDescriptorProc(dp.descriptor, keys);
        DescriptorKeyID key;
        DescriptorTypeID type;
        std::int32_t flags;
        while (dp.readDescriptorProcs->getKeyProc(reader, &key, &type, &flags))
          if (key == keyA) dp.readDescriptorProcs->getFloatProc(reader, &value);
        if (OSErr e = dp.readDescriptorProcs->closeReadDescriptorProc(reader)) return e;
        r.handleProcs->disposeProc(dp.descriptor);
        dp.descriptor = nullptr;
      }
    }
    if (selector == selectorFinish) {
      value += 1.0;
      Suites s = acquire(r);
      PIActionDescriptor d = nullptr;
      s.descriptors->Make(&d);
      s.descriptors->PutFloat(d, keyA, value);
      s.registry->Register(registryKey, d, 1);
      s.descriptors->Free(d);
      r.sSPBasic->ReleaseSuite(descriptorRegistrySuiteName, 1);
      r.sSPBasic->ReleaseSuite(actionDescriptorSuiteName, 2);

      PIWriteDescriptor w = dp.writeDescriptorProcs->openWriteDescriptorProc();
      dp.writeDescriptorProcs->putFloatProc(w, keyA, &value);
      dp.writeDescriptorProcs->putBooleanProc(w, keyC, 1);
      dp.writeDescriptorProcs->putIntegerProc(w, keyD, 4);
      if (dp.descriptor) r.handleProcs->disposeProc(dp.descriptor);
      if (OSErr e = dp.writeDescriptorProcs->closeWriteDescriptorProc(w, &dp.descriptor)) return e;
      dp.recordInfo = plugInDialogOptional;
    }
    return 0;
  };
  {
    SimHost host(image, {}, &registry);
    ASSERT_EQ(host.runFilter(&fakeEntry, false), 0);
    const std::optional<Descriptor> recorded = host.scriptDescriptor();
    ASSERT_TRUE(recorded.has_value());
    ASSERT_EQ(recorded->entries().size(), 3u);
    EXPECT_EQ(recorded->entries()[0].first, keyA);
    EXPECT_EQ(recorded->find(keyA)->floating, 1.5);
    EXPECT_EQ(recorded->find(keyC)->boolean, true);
    EXPECT_EQ(recorded->find(keyD)->integer, 4);
    const SimStatistics& stats = host.statistics();
    EXPECT_EQ(stats.suitesAcquired, stats.suitesReleased);
    EXPECT_EQ(stats.liveDescriptors, 0);
    EXPECT_EQ(stats.liveHandles, 0);
  }
  EXPECT_EQ(registry.entries[registryKey].find(keyA)->floating, 1.5);

  // A new host with the same registry, replaying a recorded value.
  SimHost host(image, {}, &registry);
  Descriptor replay;
  replay.put(keyA, DescriptorValue::ofFloat(10.0));
  host.setScriptDescriptor(replay, PlaySetting::silent);
  ASSERT_EQ(host.runFilter(&fakeEntry, false), 0);
  EXPECT_EQ(registry.entries[registryKey].find(keyA)->floating, 11.0);
  EXPECT_EQ(host.scriptDescriptor()->find(keyA)->floating, 11.0);
  EXPECT_EQ(host.statistics().invalidCalls, 0);
}

TEST(PluginModuleTest, LoadingAMissingModuleNamesThePath) {
  const std::string path = "/nonexistent/veltrane/halvane-missing.so";
  try {
    PluginModule::load(path);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
}

// The result cell as the entry point found it.
std::int16_t presetSeen = 0;
void VELTRANE_HOSTAPI_CDECL recordPreset(std::int16_t, void*, std::intptr_t*, std::int16_t* result) {
  presetSeen = *result;
}

TEST(HostProfileTest, ProfilesTakeAwayWhatTheyName) {
  SimOptions o;
  EXPECT_FALSE(applyHostProfile("nonesuch", o));
  for (const std::string& name : hostProfileNames()) EXPECT_TRUE(applyHostProfile(name, o)) << name;

  SimImage image = makeImage(40, 40, 3, 8);
  SimOptions minimal;
  ASSERT_TRUE(applyHostProfile("minimal", minimal));
  SimHost host(image, minimal);
  FilterRecord& r = host.record();
  EXPECT_EQ(field(r.sSPBasic), nullptr);
  EXPECT_EQ(field(r.bigDocumentData), nullptr);
  EXPECT_EQ(r.depth, 0);
  const HandleProcs& h = *r.handleProcs;
  EXPECT_EQ(h.numHandleProcs, 6);
  const Handle handle = h.newProc(224);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(h.getSizeProc(handle), 0);  // the size is not known
  h.disposeProc(handle);
  EXPECT_EQ(r.bufferProcs->numBufferProcs, 5);
  const PIDescriptorParameters& dp = *r.descriptorParameters;
  EXPECT_EQ(field(dp.readDescriptorProcs), nullptr);
  EXPECT_EQ(field(dp.writeDescriptorProcs), nullptr);
  EXPECT_EQ(dp.playInfo, plugInDialogDontDisplay);
  host.setScriptDescriptor(Descriptor{}, PlaySetting::silent);  // ignored: no scripting
  EXPECT_EQ(field(dp.descriptor), nullptr);
  host.call(&recordPreset, selectorParameters);
  EXPECT_EQ(presetSeen, 1);
  host.about(&recordPreset);
  EXPECT_EQ(presetSeen, 1);

  SimImage deep = makeImage(40, 40, 3, 16);
  SimOptions no16;
  ASSERT_TRUE(applyHostProfile("no-16-bit", no16));
  EXPECT_THROW(SimHost(deep, no16), std::invalid_argument);
  SimOptions none;
  ASSERT_TRUE(applyHostProfile("no-descriptor", none));
  SimHost bare(image, none);
  EXPECT_EQ(field(bare.record().descriptorParameters), nullptr);
}

}  // namespace
}  // namespace veltrane::host::testing

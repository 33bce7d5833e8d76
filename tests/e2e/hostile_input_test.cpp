// The command under hostile input: files that must not be lost, files that
// are not files, damaged modules, runs at the same time, odd option values.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <nlohmann/json.hpp>

#include "command_runner.h"
#include "host/os/os.h"
#include "shell/filter_parameters.h"
#include "shell/parameter_tables.h"
#include "ui/settings_codec.h"

namespace veltrane::e2e {
namespace {

namespace fs = std::filesystem;
using host::SampleDepth;

void writeText(const std::string& file, const std::string& text) {
  std::ofstream(host::os::pathFromUtf8(file), std::ios::binary) << text;
}

// The mirelle module next to the halvane module the tests are given.
std::string mirelleModule() {
  fs::path module = VELTRANE_HALVANE_MODULE;
  return host::os::pathToUtf8(module.replace_filename("mirelle" + module.extension().string()));
}

class HostileInputTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    input = writeNoisy(imageName("in"), 64, 64, 3, SampleDepth::u8);
    output = path(imageName("out"));
  }

  // Runs halvane on `input` into `output` with the extra arguments.
  CommandResult halvane(std::vector<std::string> extra) const {
    std::vector<std::string> args{VELTRANE_HALVANE_MODULE, input, output};
    args.insert(args.end(), extra.begin(), extra.end());
    return veltrane(args);
  }

  std::string input;
  std::string output;
};

TEST_F(HostileInputTest, NoFileWrittenIsAFileReadOrAnotherFileWritten) {
  const std::string mask = writeNoisy(imageName("mask"), 64, 64, 1, SampleDepth::u8);
  const std::string registry = path("registry.json");
  writeText(output, "an earlier result");
  writeText(registry, "{ not json");
  const std::string hardLink = path(imageName("hard-link"));
  fs::create_hard_link(host::os::pathFromUtf8(input), host::os::pathFromUtf8(hardLink));
  const std::string viaDots = path("sub/../" + imageName("in"));
  fs::create_directory(host::os::pathFromUtf8(path("sub")));
  const std::vector<std::vector<std::string>> cases = {
      {"--record", input},
      {"--params-out", viaDots},
      {"--registry", hardLink},
      {"--record", output},
      {"--params-out", output, "--no-registry"},
      {"--mask", output},
      {"--mask", mask, "--record", mask},
      {"--registry", registry, "--record", registry},
      {"--record", path("a.json"), "--params-out", path("sub/../a.json")},
      {"--replay", registry, "--registry", registry},
  };
  const std::string before = readText(input);
  const std::string maskBefore = readText(mask);
  for (const auto& c : cases) {
    SCOPED_TRACE(c[1]);
    const CommandResult r = halvane(c);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("is the same file as"), std::string::npos) << r.err;
  }
  EXPECT_EQ(readText(input), before);
  EXPECT_EQ(readText(mask), maskBefore);
  EXPECT_EQ(readText(output), "an earlier result");
  EXPECT_EQ(readText(registry), "{ not json");
  EXPECT_FALSE(exists(registry + ".bad"));
  EXPECT_FALSE(exists(path("a.json")));

  const CommandResult compare = run(VELTRANE_COMPARE, {input, mask, hardLink});
  EXPECT_EQ(compare.status, 2);
  EXPECT_EQ(readText(input), before);
}

TEST_F(HostileInputTest, FilesReadMustBeRegularFilesOfSensibleSize) {
  const std::string folder = path("folder");
  fs::create_directory(host::os::pathFromUtf8(folder));
  const std::string huge = path("huge.json");
  writeText(huge, std::string(std::size_t{3} << 20, ' ') + "{}");
  std::vector<std::vector<std::string>> cases = {
      {"--mask", folder}, {"--replay", folder}, {"--settings", folder}, {"--registry", folder},
      {"--replay", huge}, {"--record", folder},
  };
#ifndef _WIN32
  const std::string fifo = path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& file : {std::string("/dev/zero"), fifo})
    for (const char* option : {"--mask", "--replay", "--settings", "--registry"}) cases.push_back({option, file});
  EXPECT_EQ(veltrane({VELTRANE_HALVANE_MODULE, "/dev/zero", output}).status, 2);
#endif
  EXPECT_EQ(veltrane({VELTRANE_HALVANE_MODULE, folder, output}).status, 2);
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0] + " " + c[1]);
    const CommandResult r = halvane(c);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(c[1]), std::string::npos) << r.err;
    EXPECT_FALSE(exists(output));
  }
}

TEST_F(HostileInputTest, DamagedModulesAreRefusedAndModulesAreKnownByTheirContent) {
  const std::string extension = fs::path(VELTRANE_HALVANE_MODULE).extension().string();
  std::string bytes = readText(VELTRANE_HALVANE_MODULE);
  writeText(path("truncated" + extension), bytes.substr(0, 10000));
  writeText(path("text" + extension), "not a module");
  for (const std::string name : {"truncated", "text"}) {
    const CommandResult damaged = veltrane({path(name + extension), input, output, "--no-registry"});
    EXPECT_EQ(damaged.status, 2) << damaged.err;
    EXPECT_NE(damaged.err.find(name + extension + "': it is "), std::string::npos) << damaged.err;
  }
  EXPECT_FALSE(exists(output));

  // A mirelle module under another name, named relative to the working
  // folder, is driven as mirelle.
  fs::copy_file(mirelleModule(), host::os::pathFromUtf8(path("copy" + extension)));
  const CommandResult copy = veltrane({"copy" + extension, imageName("in"), imageName("copy-out"), "--no-registry",
                                       "--record", "copy.json"},
                                      /*inFolder=*/true);
  ASSERT_EQ(copy.status, 0) << copy.err;
  const CommandResult original = veltrane({"mirelle", input, path(imageName("mirelle-out")), "--no-registry"});
  ASSERT_EQ(original.status, 0) << original.err;
  EXPECT_EQ(readImage(path(imageName("copy-out"))).pixels, readImage(path(imageName("mirelle-out"))).pixels);
  EXPECT_EQ(nlohmann::json::parse(readText(path("copy.json"))).at("plugin"), "mirelle");
}

TEST_F(HostileInputTest, RunsAtOnceKeepBothRegistryEntries) {
  const std::string registry = path("registry.json");
  for (int round = 0; round < 3; ++round) {
    fs::remove(host::os::pathFromUtf8(registry));
    std::thread mirelle([&] { veltrane({mirelleModule(), input, path(imageName("matte")), "--registry", registry}); });
    halvane({"--registry", registry});
    mirelle.join();
    EXPECT_EQ(nlohmann::json::parse(readText(registry)).at("entries").size(), 2u) << "round " << round;
  }
}

TEST_F(HostileInputTest, RegistryIsUpdatedThroughLinksAndHoldsOnlyWhatCanBeReadBack) {
  // A settings file with an infinite value: the plug-in carries it into the
  // registry and the recorded action.
  FilterParameters p{halvaneDeliverable().factoryDefaults.flags, halvaneDeliverable().factoryDefaults.reals};
  p.reals[real::overallNoiseLevel] = std::numeric_limits<double>::infinity();
  const std::vector<std::uint8_t> settings = ui::encodeSettings(p, halvaneDeliverable().settingsSignature);
  writeText(path("inf.hlv"), std::string(settings.begin(), settings.end()));

  std::string registry = path("registry.json");
#ifndef _WIN32
  fs::create_directory(path("real"));
  fs::create_symlink("real/registry.json", registry);
#endif
  const CommandResult r = halvane({"--registry", registry, "--settings", path("inf.hlv"), "--record", path("a.json")});
  EXPECT_EQ(r.status, 0) << r.err;
#ifndef _WIN32
  EXPECT_TRUE(fs::is_symlink(registry));
  registry = path("real/registry.json");
#endif
  for (const std::string& file : {registry, path("a.json")}) {
    SCOPED_TRACE(file);
    const std::string text = readText(file);
    EXPECT_TRUE(nlohmann::json::accept(text)) << text;
    EXPECT_EQ(text.find("null"), std::string::npos) << text;
  }

  // One value that cannot be read costs that value, not the registry.
  nlohmann::json doc = nlohmann::json::parse(readText(registry));
  auto& values = doc.at("entries").begin().value();
  const std::size_t count = values.size();
  values[0]["value"] = "loud";
  writeText(registry, doc.dump());
  const CommandResult next = halvane({"--registry", registry});
  EXPECT_EQ(next.status, 0) << next.err;
  EXPECT_NE(next.err.find("left out"), std::string::npos) << next.err;
  EXPECT_FALSE(exists(registry + ".bad"));
  EXPECT_GE(nlohmann::json::parse(readText(registry)).at("entries").begin().value().size(), count);
}

TEST_F(HostileInputTest, ExitStatusTellsWhetherEveryFileWasWritten) {
  // A file name under a file: its folder can never be made.
  const std::string unwritable = input + "/x.json";
  for (const char* option : {"--record", "--params-out"}) {
    SCOPED_TRACE(option);
    fs::remove(host::os::pathFromUtf8(output));
    const CommandResult r = halvane({"--no-registry", option, unwritable});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("x.json"), std::string::npos) << r.err;
    EXPECT_EQ(readImage(output).width, 64);
  }
  EXPECT_NE(veltrane({"--help"}).out.find("3  OUTPUT was written"), std::string::npos);
}

TEST_F(HostileInputTest, OptionValuesAreReadAlikeHoweverWritten) {
  for (const std::vector<std::string>& c : std::vector<std::vector<std::string>>{
           {"--rect", ""}, {"--tile", ""}, {"--registry", ""}, {"--record", " "}, {"--tile", "1,1"},
           {"--max-space", "9223372036854775808"}, {"--max-space", "1.5"}, {"--max-space", "0"}}) {
    SCOPED_TRACE(c[0] + " '" + c[1] + "'");
    const CommandResult r = halvane(c);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(c[0]), std::string::npos) << r.err;
  }
  ASSERT_EQ(halvane({"--no-registry", "--rect", "8,16,40,56", "--set", "brgH=3", "--max-space", "1000000000"}).status,
            0);
  const auto plain = readImage(output).pixels;
  const CommandResult padded =
      halvane({"--no-registry", "--rect", " 8, 16 ,40,56 ", "--set", "brgH= 3 ", "--max-space", " 1e9 "});
  ASSERT_EQ(padded.status, 0) << padded.err;
  EXPECT_EQ(readImage(output).pixels, plain);
}

}  // namespace
}  // namespace veltrane::e2e

// The command learns a module's fields from the module itself: copies of
// halvane's module with its own parameter section removed, and with its
// terminology removed as well, are driven as far as they describe themselves.
#ifndef _WIN32
#include <filesystem>

#include <nlohmann/json.hpp>

#include "command_runner.h"

namespace veltrane::e2e {
namespace {

namespace fs = std::filesystem;
using host::SampleDepth;

class ModuleDescriptionTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    input = writeNoisy(imageName("in"), 64, 64, 3, SampleDepth::u8);
  }

  // A copy of halvane's module named `name`, without the sections given.
  std::string moduleCopy(const std::string& name, const std::vector<std::string>& removed) {
    const std::string copy = path(name);
    fs::copy_file(VELTRANE_HALVANE_MODULE, copy);
    if (removed.empty()) return copy;
    std::vector<std::string> args;
    for (const std::string& section : removed) args.insert(args.end(), {"--remove-section", section});
    args.push_back(copy);
    const CommandResult r = run(VELTRANE_OBJCOPY, args);
    EXPECT_EQ(r.status, 0) << r.err;
    return copy;
  }

  CommandResult filter(const std::string& module, const std::string& output, std::vector<std::string> extra) {
    std::vector<std::string> args{module, input, path(output), "--no-registry"};
    args.insert(args.end(), extra.begin(), extra.end());
    return veltrane(args);
  }

  std::vector<std::uint8_t> pixels(const std::string& module, const std::string& output,
                                   std::vector<std::string> extra) {
    const CommandResult r = filter(module, output, std::move(extra));
    EXPECT_EQ(r.status, 0) << r.err;
    return r.status == 0 ? readImage(path(output)).pixels : std::vector<std::uint8_t>{};
  }

  std::string input;
};

TEST_F(ModuleDescriptionTest, SetByFieldNameTerminologyNameOrKeyAsFarAsTheModuleDescribesIt) {
  // A renamed copy is still halvane: its recorded action says so.
  const std::string whole = moduleCopy("renamed.so", {});
  const std::string action = path("action.json");
  const auto byField = pixels(whole, imageName("field"), {"--set", "overallNoiseLevel=0", "--record", action});
  ASSERT_FALSE(byField.empty());
  EXPECT_EQ(nlohmann::json::parse(readText(action)).at("plugin"), "halvane");
  EXPECT_NE(pixels(whole, imageName("default"), {}), byField);
  EXPECT_EQ(pixels(whole, imageName("term"), {"--set", "overall NOISE level=0"}), byField);
  EXPECT_EQ(pixels(whole, imageName("key"), {"--set", "brgH=0"}), byField);

  // Terminology only: its names and keys, no field names, no parameter block.
  const std::string terminologyOnly = moduleCopy("terms.so", {".vpar"});
  EXPECT_EQ(pixels(terminologyOnly, imageName("term2"), {"--set", "Overall noise level=0"}), byField);
  EXPECT_EQ(pixels(terminologyOnly, imageName("key2"), {"--set", "brgH=0"}), byField);
  CommandResult r = filter(terminologyOnly, imageName("field2"), {"--set", "overallNoiseLevel=0"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("has no field 'overallNoiseLevel'"), std::string::npos) << r.err;
  r = filter(terminologyOnly, imageName("flag2"), {"--set", "Cleaner Smooth Areas=2"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("takes 0, 1, true or false"), std::string::npos) << r.err;
  r = filter(terminologyOnly, imageName("params2"), {"--params-out", path("params.json")});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("does not describe its parameter block"), std::string::npos) << r.err;
  EXPECT_TRUE(exists(path(imageName("params2"))));
  EXPECT_FALSE(exists(path("params.json")));

  // Nothing described: keys only, the value typed by how it is written.
  const std::string bare = moduleCopy("bare.so", {".vpar", ".aete"});
  EXPECT_EQ(pixels(bare, imageName("key3"), {"--set", "brgH=0.0"}), byField);
  r = filter(bare, imageName("name3"), {"--set", "Overall noise level=0"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("does not describe its parameters"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("four-character"), std::string::npos) << r.err;
}

TEST_F(ModuleDescriptionTest, HelpListsTheFieldsOfTheModulesBesideTheCommandOrSaysOneIsMissing) {
  const CommandResult beside = veltrane({"--help"});
  EXPECT_EQ(beside.status, 0);
  EXPECT_NE(beside.out.find("overallNoiseLevel/brgH"), std::string::npos) << beside.out;
  EXPECT_NE(beside.out.find("lowThreshold/"), std::string::npos) << beside.out;

  const std::string alone = path("veltrane");
  fs::copy_file(VELTRANE_CLI, alone);
  const CommandResult r = run(alone, {"--help"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("halvane: no readable module halvane.so next to this command"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Exit status:"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace veltrane::e2e
#endif

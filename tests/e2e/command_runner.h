#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/imageio/image_file.h"

// Runs the veltrane command (and its comparison tool) in a fresh folder per
// test, with HOME and XDG_CONFIG_HOME (APPDATA on Windows) pointing into that
// folder so that no run touches the user's own registry.
namespace veltrane::e2e {

struct CommandResult {
  int status = -1;  // exit status; -1 when the process did not exit normally
  std::string out;
  std::string err;
};

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // veltrane ARGS...; `inFolder`: run in this test's folder, else in the
  // tests' own working folder.
  CommandResult veltrane(const std::vector<std::string>& args, bool inFolder = false) const;
  CommandResult run(const std::string& program, const std::vector<std::string>& args, bool inFolder = false) const;

  // A file name inside this test's folder (UTF-8).
  std::string path(const std::string& name) const;
  std::string configDir() const { return path("config"); }

  // Writes a smooth gradient with pseudo-random noise on top, which the
  // noise reducer should change.
  std::string writeNoisy(const std::string& name, std::int32_t width, std::int32_t height, std::int32_t channels,
                         host::SampleDepth depth, bool alpha = false) const;

 private:
  std::filesystem::path dir_;
};

// Image file names for tests that run on every build: PNG, through each
// build's image library.
inline constexpr const char* imageExtension = ".png";
inline std::string imageName(const std::string& stem) { return stem + imageExtension; }

host::HostImage readImage(const std::string& path);
std::string readText(const std::string& path);
bool exists(const std::string& path);

}  // namespace veltrane::e2e

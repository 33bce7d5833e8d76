#include "command_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace veltrane::e2e {
namespace fs = std::filesystem;

void CommandTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "veltrane-e2e-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
  dir_ = pattern;
}

void CommandTest::TearDown() {
  std::error_code ec;
  if (!dir_.empty()) fs::remove_all(dir_, ec);
}

CommandResult CommandTest::veltrane(const std::vector<std::string>& args) const { return run(VELTRANE_CLI, args); }

CommandResult CommandTest::run(const std::string& program, const std::vector<std::string>& args) const {
  std::vector<std::string> argStrings{program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "HOME=", 5) != 0 && std::strncmp(*e, "XDG_CONFIG_HOME=", 16) != 0)
      envStrings.emplace_back(*e);
  envStrings.push_back("HOME=" + dir_.string());
  envStrings.push_back("XDG_CONFIG_HOME=" + configDir());
  std::vector<char*> envp;
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  const std::string outFile = path("stdout.txt");
  const std::string errFile = path("stderr.txt");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  CommandResult result;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(spawned);
    return result;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = readText(outFile);
  result.err = readText(errFile);
  return result;
}

std::string CommandTest::writeNoisy(const std::string& name, std::int32_t width, std::int32_t height,
                                    std::int32_t channels, host::SampleDepth depth, bool alpha) const {
  host::HostImage image;
  image.width = width;
  image.height = height;
  image.channels = channels;
  image.depth = depth;
  image.pixels.resize(static_cast<std::size_t>(image.pixelBytes()));
  std::uint32_t state = 12345;
  auto noise = [&state] {  // roughly -0.1 .. 0.1
    state = state * 1664525u + 1013904223u;
    return (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 0.2;
  };
  const std::size_t samples = static_cast<std::size_t>(image.pixelCount() * channels);
  for (std::size_t i = 0; i < samples; ++i) {
    const std::size_t pixel = i / static_cast<std::size_t>(channels);
    const double x = static_cast<double>(pixel % static_cast<std::size_t>(width)) / width;
    const double c = static_cast<double>(i % static_cast<std::size_t>(channels));
    double v = 0.3 + 0.4 * x + 0.05 * c + noise();
    v = v < 0.0 ? 0.0 : v > 1.0 ? 1.0 : v;
    switch (depth) {
      case host::SampleDepth::u8: image.pixels[i] = static_cast<std::uint8_t>(v * 255.0 + 0.5); break;
      case host::SampleDepth::u16: {
        const auto s = static_cast<std::uint16_t>(v * host::hostMax16 + 0.5);
        std::memcpy(&image.pixels[i * 2], &s, 2);
        break;
      }
      case host::SampleDepth::f32: {
        const auto s = static_cast<float>(v);
        std::memcpy(&image.pixels[i * 4], &s, 4);
        break;
      }
    }
  }
  if (alpha) {
    image.alpha.resize(static_cast<std::size_t>(image.alphaBytes()));
    for (std::size_t i = 0; i < image.alpha.size(); ++i) image.alpha[i] = static_cast<std::uint8_t>(i * 7 + 1);
  }
  const std::string file = path(name);
  host::writeImageFile(file, image, host::FileInfo{});
  return file;
}

host::HostImage readImage(const std::string& path) { return host::readImageFile(path); }

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& path) { return fs::exists(path); }

}  // namespace veltrane::e2e

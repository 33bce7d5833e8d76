#include "command_runner.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "host/os/os.h"

namespace veltrane::e2e {
namespace fs = std::filesystem;

void CommandTest::SetUp() {
  std::random_device seed;
  for (int attempt = 0; attempt < 16 && dir_.empty(); ++attempt) {
    const fs::path candidate = fs::temp_directory_path() / ("veltrane-e2e-" + std::to_string(seed()));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) dir_ = candidate;
  }
  ASSERT_FALSE(dir_.empty()) << "cannot make a folder for the test";
}

std::string CommandTest::path(const std::string& name) const { return host::os::pathToUtf8(dir_ / name); }

void CommandTest::TearDown() {
  std::error_code ec;
  if (!dir_.empty()) fs::remove_all(dir_, ec);
}

CommandResult CommandTest::veltrane(const std::vector<std::string>& args, bool inFolder) const {
  return run(VELTRANE_CLI, args, inFolder);
}

#ifdef _WIN32
namespace {

std::wstring widen(const std::string& text) { return host::os::pathFromUtf8(text).native(); }

// One argument as the C run-time's parser reads it back.
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

bool namesVariable(const wchar_t* entry, const wchar_t* name) {
  const std::size_t n = std::wcslen(name);
  return _wcsnicmp(entry, name, n) == 0 && entry[n] == L'=';
}

HANDLE inheritableFile(const std::wstring& name, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return ::CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

CommandResult CommandTest::run(const std::string& program, const std::vector<std::string>& args,
                               bool inFolder) const {
  const std::wstring exe = fs::absolute(host::os::pathFromUtf8(program)).native();
  std::wstring commandLine = quoted(exe);
  for (const std::string& a : args) commandLine += L" " + quoted(widen(a));

  // The parent's environment with the settings folders pointed into this test's folder.
  std::wstring environment;
  if (wchar_t* block = ::GetEnvironmentStringsW()) {
    for (const wchar_t* e = block; *e; e += std::wcslen(e) + 1)
      if (!namesVariable(e, L"HOME") && !namesVariable(e, L"XDG_CONFIG_HOME") && !namesVariable(e, L"APPDATA"))
        environment.append(e).push_back(L'\0');
    ::FreeEnvironmentStringsW(block);
  }
  for (const std::wstring& e : {L"HOME=" + dir_.native(), L"APPDATA=" + widen(configDir())})
    environment.append(e).push_back(L'\0');
  environment.push_back(L'\0');

  const std::string outFile = path("stdout.txt");
  const std::string errFile = path("stderr.txt");
  CommandResult result;
  const HANDLE in = inheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
  const HANDLE out = inheritableFile(widen(outFile), GENERIC_WRITE, CREATE_ALWAYS);
  const HANDLE err = inheritableFile(widen(errFile), GENERIC_WRITE, CREATE_ALWAYS);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const bool started = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
                       ::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.data(),
                                        inFolder ? dir_.c_str() : nullptr,
                                        &startup, &process);
  const DWORD startError = ::GetLastError();
  for (const HANDLE h : {in, out, err})
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  if (!started) {
    ADD_FAILURE() << "cannot start " << program << ": error " << startError;
    return result;
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (::GetExitCodeProcess(process.hProcess, &code)) result.status = static_cast<int>(code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  result.out = readText(outFile);
  result.err = readText(errFile);
  return result;
}
#else
CommandResult CommandTest::run(const std::string& program, const std::vector<std::string>& args,
                               bool inFolder) const {
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
  if (inFolder) posix_spawn_file_actions_addchdir_np(&actions, dir_.c_str());
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
#endif

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
  std::ifstream in(host::os::pathFromUtf8(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& path) { return fs::exists(host::os::pathFromUtf8(path)); }

}  // namespace veltrane::e2e

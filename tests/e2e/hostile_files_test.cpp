// Image files a careless or hostile user hands the command: damaged and
// oversized inputs, outputs that cannot work, a disk that fills up, an
// interrupt while writing. Nothing may crash, hang, take memory the file
// cannot justify, or leave a half-written or temporary file behind.
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "command_runner.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace veltrane::e2e {
namespace {

namespace fs = std::filesystem;
using host::SampleDepth;
using Bytes = std::string;

void put16(Bytes& b, std::size_t at, std::uint32_t v) {  // big-endian
  b[at] = static_cast<char>(v >> 8);
  b[at + 1] = static_cast<char>(v);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  put16(b, at, v >> 16);
  put16(b, at + 2, v & 0xffff);
}

std::uint32_t crc32(const char* p, std::size_t n) {
  std::uint32_t c = 0xffffffffu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= static_cast<unsigned char>(p[i]);
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1u)));
  }
  return c ^ 0xffffffffu;
}

// A little-endian TIFF of one strip: `strip` as its data, with the given
// compression (1 none, 8 deflate) and claimed size, 8-bit grey.
Bytes tiff(std::uint32_t width, std::uint32_t height, std::uint16_t compression, const Bytes& strip) {
  Bytes b = "II*";
  b += '\0';
  auto le = [&b](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b += static_cast<char>(v >> (8 * i));
  };
  le(8 + static_cast<std::uint32_t>(strip.size()), 4);
  b += strip;
  const std::uint16_t tags[][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3}, {273, 4}, {277, 3}, {278, 4}, {279, 4}};
  const std::uint32_t values[] = {width, height, 8, compression, 1, 8, 1, height, static_cast<std::uint32_t>(strip.size())};
  le(9, 2);
  for (int i = 0; i < 9; ++i) {
    le(tags[i][0], 2);
    le(tags[i][1], 2);
    le(1, 4);
    le(values[i], 4);
  }
  le(0, 4);
  return b;
}

class HostileFileTest : public CommandTest {
 protected:
  std::string write(const std::string& name, const Bytes& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }
  std::vector<std::string> temporaries() const {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(fs::path(path(""))))
      if (e.path().filename().string().find(".tmp") != std::string::npos) found.push_back(e.path().string());
    return found;
  }
  // A refusal: status 2, one short line naming the file, no control characters.
  static void expectOneLineError(const CommandResult& r, const std::string& named, const std::string& detail) {
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.err.rfind("veltrane: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(detail), std::string::npos) << r.err;
    EXPECT_LT(r.err.size(), 500u) << r.err;
    std::string line = r.err;
    if (line.ends_with("\r\n")) line.erase(line.size() - 2, 1);  // Windows line end
    for (std::size_t i = 0; i + 1 < line.size(); ++i)
      ASSERT_FALSE(static_cast<unsigned char>(line[i]) < 0x20 || line[i] == 0x7f) << "byte " << i << ": " << r.err;
    EXPECT_EQ(line.back(), '\n');
  }
};

TEST_F(HostileFileTest, ClaimedSizesBeyondTheFileOrTheLimitAreRefusedBeforeReading) {
  // A valid PNG whose header then claims 30000 x 20000 pixels.
  Bytes png = readText(writeNoisy("small.png", 8, 8, 3, SampleDepth::u8));
  put32(png, 16, 30000);
  put32(png, 20, 20000);
  put32(png, 29, crc32(png.data() + 12, 17));
  // A JPEG whose frame header claims 30000 x 20000.
  Bytes jpeg = readText(writeNoisy("small.jpg", 16, 16, 3, SampleDepth::u8));
  const std::size_t sof = jpeg.find("\xff\xc0");
  ASSERT_NE(sof, Bytes::npos);
  put16(jpeg, sof + 5, 20000);
  put16(jpeg, sof + 7, 30000);
  // A BMP header alone, claiming 30000 x 20000 at 24 bits.
  Bytes bmp(54, '\0');
  bmp[0] = 'B';
  bmp[1] = 'M';
  const std::uint32_t fields[][2] = {{10, 54}, {14, 40}, {18, 30000}, {22, 20000}, {26, 1}, {28, 24}};
  for (const auto& f : fields)
    for (std::uint32_t i = 0; i < 4; ++i)
      bmp[f[0] + i] = static_cast<char>(f[1] >> (8 * i));
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"claims.png", png}, {"claims.jpg", jpeg}, {"claims.bmp", bmp}, {"claims.tif", tiff(30000, 20000, 8, Bytes(100, 'x'))}};
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    // Refused on the header's word alone: a read that allocated first would end in another message.
    const CommandResult r =
        veltrane({VELTRANE_HALVANE_MODULE, write(name, bytes), path("out.png"), "--no-registry"});
    expectOneLineError(r, name, "bytes can hold");
  }
  const std::string input = writeNoisy("in.png", 64, 64, 3, SampleDepth::u8);
  const CommandResult r = veltrane({VELTRANE_HALVANE_MODULE, input, path("out.png"), "--no-registry", "--max-pixels", "4095"});
  expectOneLineError(r, "in.png", "limit of 4095");
  EXPECT_FALSE(exists(path("out.png")));
}

// The rest drives the Linux build's library, file systems and signals.
#ifndef _WIN32
TEST_F(HostileFileTest, DamagedFilesAreRefusedInOneLineWithoutCrashing) {
  const std::string out = path("out.png");
  // A sample size of 3 bytes in an SGI header aborts the library's reader.
  Bytes sgi = readText(writeNoisy("in.sgi", 64, 64, 3, SampleDepth::u8));
  sgi[3] = 3;
  expectOneLineError(veltrane({VELTRANE_HALVANE_MODULE, write("bpc.sgi", sgi), out}), "bpc.sgi", "SGI header");
  // Cut short: the reader fails once per row.
  const CommandResult cut = veltrane({VELTRANE_HALVANE_MODULE, write("cut.sgi", sgi.substr(0, 2000)), out});
  expectOneLineError(cut, "cut.sgi", "cut.sgi");
  // Deflate data that does not decode: the library returned success with samples never written.
  Bytes noise(200, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 73 + 11);
  expectOneLineError(veltrane({VELTRANE_HALVANE_MODULE, write("zip.tif", tiff(64, 64, 8, noise)), out}), "zip.tif",
                     "damaged TIFF data");
  // The PNG decoder's own line on standard error stays out.
  const Bytes png = readText(writeNoisy("whole.png", 64, 64, 3, SampleDepth::u8));
  expectOneLineError(veltrane({VELTRANE_HALVANE_MODULE, write("cut.png", png.substr(0, png.size() / 2)), out}),
                     "cut.png", "cut.png");
  // Header bytes are shown escaped.
  const CommandResult header = veltrane(
      {VELTRANE_HALVANE_MODULE, write("esc.pam", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nTUPLTYPE \x1b[31m\x01\nENDHDR\n"), out});
  expectOneLineError(header, "esc.pam", "'\\x1b[31m\\x01'");
  // Formats the library offers but cannot handle safely are not read at all.
  expectOneLineError(veltrane({VELTRANE_HALVANE_MODULE, write("in.dpx", "SDPX"), out}), "in.dpx", "not supported");
  EXPECT_FALSE(exists(out));
}

TEST_F(HostileFileTest, OutputsThatCannotWorkAreRefusedBeforeFiltering) {
  // The plug-in refuses an image this small: a check after the filtering
  // would report that instead.
  const std::string tiny = writeNoisy("tiny.png", 20, 20, 1, SampleDepth::u8, true);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"out.dpx", "not supported"}, {"out.gif", "not supported"}, {"out.ico", "not supported"},
      {"out.xyz", "unknown file name extension"}, {"out", "no file name extension"}, {"grey.hdr", "colour images only"},
  };
  for (const auto& [name, detail] : cases) {
    SCOPED_TRACE(name);
    expectOneLineError(veltrane({VELTRANE_HALVANE_MODULE, tiny, path(name), "--no-registry"}), name, detail);
    EXPECT_FALSE(exists(path(name)));
  }
  EXPECT_TRUE(temporaries().empty());
  // A folder nobody can create files in, root included.
  expectOneLineError(veltrane({VELTRANE_HALVANE_MODULE, tiny, "/proc/out.png", "--no-registry"}), "/proc/out.png",
                     "temporary file");
  // A name as long as a folder entry can be still gets a temporary next to it.
  const std::string input = writeNoisy("in.png", 64, 64, 3, SampleDepth::u8);
  const std::string longName = path(std::string(251, 'n') + ".png");
  const CommandResult r = veltrane({VELTRANE_HALVANE_MODULE, input, longName, "--no-registry"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readImage(longName).width, 64);
}

TEST_F(HostileFileTest, FullDiskKeepsTheOldFileAndLeavesNoTemporary) {
  // The file size limit makes every write past 4 KiB fail, as a full disk does.
  const std::string input = writeNoisy("in.pam", 256, 256, 3, SampleDepth::u8);
  for (const std::string ext : {".png", ".bmp", ".tga", ".sgi", ".jpg", ".tif", ".exr", ".pam"}) {
    SCOPED_TRACE(ext);
    const std::string output = write("old" + ext, "previous");
    const CommandResult r = run("/bin/sh", {"-c", "ulimit -f 8; trap '' XFSZ; exec \"$0\" \"$@\"", VELTRANE_CLI,
                                            VELTRANE_HALVANE_MODULE, input, output, "--no-registry"});
    expectOneLineError(r, "old" + ext, "cannot write");
    EXPECT_EQ(readText(output), "previous");
    EXPECT_TRUE(temporaries().empty());
  }
}

TEST_F(HostileFileTest, InterruptWhileWritingRemovesTheTemporary) {
  const std::string input = writeNoisy("in.pam", 1200, 900, 3, SampleDepth::u16);
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    const std::string output = path("out.tif");  // written by the library to the disk directly: slow enough to catch
    std::vector<std::string> args = {VELTRANE_CLI, VELTRANE_HALVANE_MODULE, input, output, "--no-registry"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, VELTRANE_CLI, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    bool seen = false;
    while (!seen && std::chrono::steady_clock::now() < deadline && ::waitpid(pid, nullptr, WNOHANG) == 0) {
      seen = !temporaries().empty();
      if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(seen) << "no temporary appeared";
    ::kill(pid, signal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_TRUE(temporaries().empty());
    EXPECT_FALSE(exists(output));
  }
}
#endif

}  // namespace
}  // namespace veltrane::e2e

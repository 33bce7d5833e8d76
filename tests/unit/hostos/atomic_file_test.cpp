#include "host/os/os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;
using veltrane::host::os::AtomicFile;

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("veltrane-hostos-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path file(const std::string& name) const { return dir_ / name; }
  void put(const std::string& name, const std::string& text) const {
    std::ofstream(file(name), std::ios::binary) << text;
  }
  static std::string get(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::vector<std::string> listing(const fs::path& folder) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static void write(const fs::path& target, const std::string& text) {
    veltrane::host::os::writeFileAtomically(target, text.data(), text.size());
  }
  // The failure's message, empty when the write succeeded.
  static std::string failure(const fs::path& target, const std::string& text) {
    try {
      write(target, text);
    } catch (const std::system_error& e) {
      return e.what();
    }
    return {};
  }

  fs::path dir_;
};

TEST_F(AtomicFileTest, ReplacesTheTargetOnlyOnCommit) {
  write(file("new.json"), "one");
  EXPECT_EQ(get(file("new.json")), "one");

  // A writer that needs a file name fills the temporary, hidden beside the target.
  put("old.tif", "previous");
  {
    AtomicFile f(file("old.tif"));
    std::ofstream(f.temporary(), std::ios::binary) << "by name";
    f.sync();
    const std::vector<std::string> names = listing(dir_);
    ASSERT_EQ(names.size(), 3u);
    const std::string& temporary = names[0];  // .old.<16 hex digits>.tmp.tif
    EXPECT_TRUE(temporary.size() == 29 && temporary.starts_with(".old.") && temporary.ends_with(".tmp.tif") &&
                temporary.find_first_not_of("0123456789abcdef", 5) == 21)
        << temporary;
    EXPECT_EQ(get(file("old.tif")), "previous");
    f.commit();
  }
  EXPECT_EQ(get(file("old.tif")), "by name");
  {
    AtomicFile uncommitted(file("old.tif"));
    uncommitted.write("x", 1);
  }
  EXPECT_EQ(get(file("old.tif")), "by name");
  EXPECT_EQ(listing(dir_), (std::vector<std::string>{"new.json", "old.tif"}));
}

TEST_F(AtomicFileTest, FailuresKeepTheOldFileAndLeaveNoTemporary) {
  put("old.txt", "previous");
  EXPECT_NE(failure(file("absent/new.txt"), "x").find("cannot create a temporary file"), std::string::npos);
  // A folder in the target's place fails the rename.
  fs::create_directories(dir_ / "folder.txt" / "inside");
  EXPECT_NE(failure(file("folder.txt"), "x").find("cannot replace the file"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(file("folder.txt") / "inside"));
#ifndef _WIN32
  // Writes past the file size limit fail as on a full disk.
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string fullDisk = failure(file("old.txt"), std::string(65536, 'x'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &previous, nullptr);
  EXPECT_EQ(fullDisk, std::error_code(EFBIG, std::generic_category()).message());
#endif
  EXPECT_EQ(get(file("old.txt")), "previous");
  EXPECT_EQ(listing(dir_), (std::vector<std::string>{"folder.txt", "old.txt"}));
}

#ifndef _WIN32
TEST_F(AtomicFileTest, KeepsPermissionsAndReplacesWhatLinksLeadTo) {
  const mode_t mask = ::umask(027);
  write(file("new.txt"), "x");
  put("old.txt", "previous");
  fs::permissions(file("old.txt"), fs::perms(0604));
  struct stat st {};
  {
    // The content is never open to more than the final file is.
    AtomicFile f(file("old.txt"));
    ASSERT_EQ(::stat(f.temporary().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    f.write("y", 1);
    f.commit();
  }
  ::umask(mask);
  ASSERT_EQ(::stat(file("new.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(::stat(file("old.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);

  fs::create_directory(file("real"));
  fs::create_symlink("real/target.json", file("link.json"));  // dangling until written
  write(file("link.json"), "through");
  EXPECT_TRUE(fs::is_symlink(file("link.json")));
  EXPECT_EQ(get(file("real") / "target.json"), "through");
  EXPECT_EQ(listing(file("real")), std::vector<std::string>{"target.json"});
  fs::create_symlink("loop.b", file("loop.a"));
  fs::create_symlink("loop.a", file("loop.b"));
  EXPECT_NE(failure(file("loop.a"), "x").find("symbolic link"), std::string::npos);
  EXPECT_TRUE(fs::is_symlink(file("loop.a")) && fs::is_symlink(file("loop.b")));
}
#endif

}  // namespace

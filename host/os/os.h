#pragma once
// What the host stand-in and its tools need from the operating system,
// behind one interface: file names as UTF-8 text, files replaced
// atomically, a lock file, the command's own location, its arguments, and a
// few facts about the machine.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace veltrane::host::os {

// File names travel through the program as UTF-8 text; these convert at the
// edge (on Windows the native form is UTF-16).
std::filesystem::path pathFromUtf8(std::string_view text);
std::string pathToUtf8(const std::filesystem::path& path);

// Replaces a file in one step: the target is always either the old file or
// the complete new one. The new content goes into a temporary in the
// target's folder (`.NAME.<hex>.tmp.EXT`, hidden, the extension kept last
// for writers that look at it), is flushed to the disk, gets the permissions
// of the file it replaces (a new file those the umask leaves of rw-rw-rw-)
// and is renamed over the target; the folder is then flushed where the
// system has that (POSIX; on Windows the rename writes through). A target
// reached through symbolic links is the file they lead to.
//
// The temporary is removed on every failure, when the object is destroyed
// uncommitted, and when the command is stopped by an interrupt or
// termination signal (Ctrl-C, SIGTERM, SIGHUP; on Windows Ctrl-C,
// Ctrl-Break or closing the console). A process killed outright (kill -9)
// cannot clean up after itself. A few such files can be pending at once.
//
// Failures throw std::system_error saying which step failed; the target is
// then untouched, except after a failed flush of the folder, when the new
// file is in place but may not survive a power cut.
class AtomicFile {
 public:
  // Reserves the temporary (an empty new file).
  explicit AtomicFile(const std::filesystem::path& target);
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile();

  // For a writer that needs a file name: it writes here, then sync().
  const std::filesystem::path& temporary() const { return temporary_; }

  // Writes `size` bytes as the whole content of the temporary and flushes
  // them to the disk; every write, the flush and the close are checked.
  void write(const void* data, std::size_t size);
  // Flushes what another writer put into temporary() and closed, reporting
  // a write error that writer may have missed.
  void sync();
  // Renames the temporary over the target and flushes the folder.
  void commit();

 private:
  std::filesystem::path target_;
  std::filesystem::path temporary_;
  bool committed_ = false;
};

// Writes `size` bytes as the new content of `target` through an AtomicFile.
void writeFileAtomically(const std::filesystem::path& target, const void* data, std::size_t size);

// The file a name leads to: symbolic links of the name itself followed (also
// dangling ones), its folder made absolute and free of links, "." and "..".
std::filesystem::path resolveLinks(const std::filesystem::path& path);

// Whether two names reach one file: the same file identity (device and
// inode, volume and file index) when both exist, else the same resolved
// name.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// Why an existing name cannot be read as a plain file ("a folder", "a
// character device", ...); empty for a regular file and for a missing one.
std::string notARegularFile(const std::filesystem::path& path);

// An exclusive lock on a lock file (created when missing, never removed),
// held from acquire() until destruction. acquire() waits for other holders.
class FileLock {
 public:
  static FileLock acquire(const std::filesystem::path& path, std::error_code& ec);
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&&) = delete;
  FileLock(const FileLock&) = delete;
  ~FileLock();

 private:
  FileLock() = default;
  std::intptr_t handle_ = -1;
};

// The running executable's full file name. Throws std::system_error.
std::filesystem::path executablePath();

// The command's arguments as UTF-8 (on Windows read again from the wide
// command line, since argv holds them in the ANSI code page).
std::vector<std::string> utf8Arguments(int argc, char** argv);

// An environment variable as UTF-8; empty optional when unset.
std::optional<std::string> environmentVariable(const char* name);

// Installed memory in bytes; 0 when unknown.
std::int64_t physicalMemoryBytes();

bool isTerminal(std::FILE* stream);

}  // namespace veltrane::host::os

#pragma once
// What the host stand-in and its tools need from the operating system,
// behind one interface: file names as UTF-8 text, files created exclusively
// and replaced atomically, the command's own location, its arguments, and a
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

// Creates `path` as a new, empty file; fails (file_exists) when any file of
// that name is already there.
std::error_code createNewFile(const std::filesystem::path& path);

// Creates `path` as a new, empty file, as createNewFile does, and removes it
// again if the command is stopped by an interrupt or termination signal
// (Ctrl-C, SIGTERM; on Windows Ctrl-C, Ctrl-Break or closing the console)
// before releaseTemporaryFile(path). A process killed outright (kill -9)
// cannot clean up after itself. A few such files can be held at once.
std::error_code createTemporaryFile(const std::filesystem::path& path);
// Ends that protection: call after the file was renamed or removed.
void releaseTemporaryFile(const std::filesystem::path& path);

// Writes `size` bytes as the whole content of the existing file `path` and
// flushes them to the disk. Every write, the flush and the close are checked.
std::error_code writeFileContents(const std::filesystem::path& path, const void* data, std::size_t size);

// Flushes a file another writer has closed to the disk, reporting a write
// error that writer may have missed.
std::error_code syncFile(const std::filesystem::path& path);

// Renames `from` over `to` in one step: `to` is either the old file or the
// new one, never missing.
std::error_code replaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

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

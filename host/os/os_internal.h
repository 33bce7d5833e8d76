#pragma once
// The platform half of AtomicFile (os_posix.cpp, os_win32.cpp). Not part of
// the interface.
#include <cstddef>
#include <filesystem>
#include <system_error>

namespace veltrane::host::os::detail {

// Creates `path` as a new, empty file (file_exists when any file of that
// name is there) with no wider permissions than `replacing` has, and
// registers it with the interrupt handler, which removes it until
// releaseTemporaryFile(path).
std::error_code createTemporaryFile(const std::filesystem::path& path, const std::filesystem::path& replacing);
void releaseTemporaryFile(const std::filesystem::path& path);

std::error_code writeFileContents(const std::filesystem::path& path, const void* data, std::size_t size);
std::error_code syncFile(const std::filesystem::path& path);

// Gives `file` the permissions of `like` where the system keeps such bits
// and `like` exists.
std::error_code copyPermissions(const std::filesystem::path& like, const std::filesystem::path& file);

// Renames `from` over `to` in one step.
std::error_code replaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Flushes a folder's entries (a rename in it) to the disk, where the system
// has that; a folder that cannot be opened or flushed at all is no error.
std::error_code syncFolder(const std::filesystem::path& folder);

}  // namespace veltrane::host::os::detail

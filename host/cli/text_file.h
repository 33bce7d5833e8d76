#pragma once
#include <filesystem>
#include <string>
#include <string_view>

namespace veltrane::cli {

// The whole content of a regular file of at most `maxBytes` bytes. Throws
// CommandError naming the file (also for a folder, a device or a pipe, and
// for a larger file).
std::string readTextFile(const std::filesystem::path& path, std::size_t maxBytes);

// Throws CommandError when an existing `path` is not a regular file (a
// folder, a device, a pipe); the message starts with `what` ("--mask").
void requireRegularFile(const std::string& what, const std::filesystem::path& path);

// Replaces `path` by `content` through os::AtomicFile, creating missing
// folders first. Throws CommandError naming the file.
void writeFileAtomically(const std::filesystem::path& path, std::string_view content);

// Creates the folders above `path` that are missing and returns its parent
// folder (empty for a bare file name). Throws CommandError naming the folder.
std::filesystem::path createParentFolder(const std::filesystem::path& path);

// `'path'` for messages (a string is a UTF-8 file name as given).
std::string quote(const std::filesystem::path& path);
std::string quote(const std::string& path);

}  // namespace veltrane::cli

#include "text_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "cli_error.h"
#include "host/os/os.h"

namespace veltrane::cli {
namespace fs = std::filesystem;

std::string quote(const fs::path& path) { return "'" + host::os::pathToUtf8(path) + "'"; }

std::string quote(const std::string& path) { return "'" + path + "'"; }

fs::path createParentFolder(const fs::path& path) {
  const fs::path dir = path.parent_path();
  if (!dir.empty()) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec)
      throw CommandError("cannot write " + quote(path) + ": cannot create the folder " + quote(dir) + ": " +
                         ec.message());
  }
  return dir;
}

void requireRegularFile(const std::string& what, const fs::path& path) {
  const std::string kind = host::os::notARegularFile(path);
  if (!kind.empty()) throw CommandError(what + " " + quote(path) + ": " + kind + ", not a regular file");
}

void writeFileAtomically(const fs::path& path, std::string_view content) {
  createParentFolder(path);
  try {
    host::os::writeFileAtomically(path, content.data(), content.size());
  } catch (const std::system_error& e) {
    throw CommandError("cannot write " + quote(path) + ": " + e.what());
  }
}

std::string readTextFile(const fs::path& path, std::size_t maxBytes) {
  requireRegularFile("cannot read", path);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CommandError("cannot read " + quote(path) + ": " + std::strerror(errno));
  std::string content;
  char chunk[65536];
  while (in && content.size() <= maxBytes) {
    in.read(chunk, sizeof chunk);
    content.append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) throw CommandError("cannot read " + quote(path) + ": " + std::strerror(errno));
  if (content.size() > maxBytes)
    throw CommandError("cannot read " + quote(path) + ": larger than " + std::to_string(maxBytes / 1024) +
                       " KiB, too large for what it should hold");
  return content;
}

}  // namespace veltrane::cli

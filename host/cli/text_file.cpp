#include "text_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

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
    if (ec) throw CommandError("cannot create the folder " + quote(dir) + ": " + ec.message());
  }
  return dir;
}

std::string readTextFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CommandError("cannot read " + quote(path) + ": " + std::strerror(errno));
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw CommandError("cannot read " + quote(path) + ": " + std::strerror(errno));
  return content.str();
}

}  // namespace veltrane::cli

#include "host/sim/module_file.h"

#include <algorithm>
#include <fstream>
#include <optional>

namespace veltrane::host {
namespace fs = std::filesystem;

namespace {

// Little-endian fields at given offsets of an open file.
class FileBytes {
 public:
  explicit FileBytes(const fs::path& path) : in_(path, std::ios::binary) {
    if (in_) {
      in_.seekg(0, std::ios::end);
      const std::streamoff end = in_.tellg();
      size_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    }
  }
  bool opened() const { return static_cast<bool>(in_); }
  std::uint64_t size() const { return size_; }
  // Whether [offset, offset + length) lies inside the file.
  bool holds(std::uint64_t offset, std::uint64_t length) const { return offset <= size_ && length <= size_ - offset; }

  std::optional<std::vector<std::uint8_t>> read(std::uint64_t offset, std::uint64_t length) {
    if (!holds(offset, length)) return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
    if (in_.gcount() != static_cast<std::streamsize>(length)) return std::nullopt;
    return bytes;
  }
  // An unsigned field of `width` bytes; nullopt beyond the end.
  std::optional<std::uint64_t> field(std::uint64_t offset, unsigned width) {
    const auto bytes = read(offset, width);
    if (!bytes) return std::nullopt;
    std::uint64_t v = 0;
    for (unsigned i = width; i-- > 0;) v = (v << 8) | (*bytes)[i];
    return v;
  }

 private:
  std::ifstream in_;
  std::uint64_t size_ = 0;
};

constexpr bool is64 = sizeof(void*) == 8;

std::string inspectElf(FileBytes& f, ModuleResources& resources) {
  const auto ident = f.read(0, 16);
  if (!ident || (*ident)[0] != 0x7F || (*ident)[1] != 'E' || (*ident)[2] != 'L' || (*ident)[3] != 'F')
    return "not a shared library (no ELF header)";
  const bool wide = (*ident)[4] == 2;
  if (wide != is64) return std::string("a ") + (wide ? "64" : "32") + "-bit module; this command is " +
                           (is64 ? "64" : "32") + "-bit";
  if ((*ident)[5] != 1) return "not a little-endian module";
  const unsigned word = wide ? 8 : 4;
  // Header fields: offsets for the 64- and 32-bit layouts.
  const auto at = [wide](std::uint64_t o64, std::uint64_t o32) { return wide ? o64 : o32; };
  const auto fileType = f.field(16, 2);
  const auto phoff = f.field(at(32, 28), word), shoff = f.field(at(40, 32), word);
  const auto phentsize = f.field(at(54, 42), 2), phnum = f.field(at(56, 44), 2);
  const auto shentsize = f.field(at(58, 46), 2), shnum = f.field(at(60, 48), 2), shstrndx = f.field(at(62, 50), 2);
  if (!fileType || !phoff || !shoff || !phentsize || !phnum || !shentsize || !shnum || !shstrndx)
    return "truncated (the ELF header is cut short)";
  if (*fileType != 3) return "not a shared library (ELF type " + std::to_string(*fileType) + ")";
  const std::uint64_t phsize = wide ? 56 : 32, shsize = wide ? 64 : 40;
  if (*phnum == 0 || *phentsize != phsize || !f.holds(*phoff, *phnum * phsize))
    return "truncated or damaged (its program headers lie outside the file)";
  for (std::uint64_t i = 0; i < *phnum; ++i) {
    const std::uint64_t h = *phoff + i * phsize;
    const auto offset = f.field(h + at(8, 4), word), fileSize = f.field(h + at(32, 16), word);
    if (!offset || !fileSize || !f.holds(*offset, *fileSize))
      return "truncated or damaged (segment " + std::to_string(i) + " lies outside the file)";
  }
  if (*shoff == 0 || *shnum == 0) return {};
  if (*shentsize != shsize || !f.holds(*shoff, *shnum * shsize) || *shstrndx >= *shnum)
    return "truncated or damaged (its section headers lie outside the file)";
  struct Section {
    std::uint64_t name, type, offset, size;
  };
  const auto section = [&](std::uint64_t i) -> std::optional<Section> {
    const std::uint64_t h = *shoff + i * shsize;
    const auto name = f.field(h, 4), type = f.field(h + 4, 4);
    const auto offset = f.field(h + at(24, 16), word), size = f.field(h + at(32, 20), word);
    if (!name || !type || !offset || !size) return std::nullopt;
    return Section{*name, *type, *offset, *size};
  };
  const auto names = section(*shstrndx);
  if (!names || !f.holds(names->offset, names->size))
    return "truncated or damaged (its section names lie outside the file)";
  constexpr std::uint64_t noBits = 8;  // a section that takes no room in the file
  const struct {
    const char* name;
    std::vector<std::uint8_t>* bytes;
  } wanted[] = {
      {".pipl", &resources.propertyList}, {".aete", &resources.terminology}, {".vpar", &resources.parameters}};
  constexpr std::uint64_t nameSize = 6;  // each wanted name with its zero byte
  constexpr std::uint64_t largestResource = std::uint64_t{1} << 20;  // ours are a few kilobytes
  for (std::uint64_t i = 0; i < *shnum; ++i) {
    const auto s = section(i);
    if (!s || (s->type != noBits && !f.holds(s->offset, s->size)))
      return "truncated or damaged (section " + std::to_string(i) + " lies outside the file)";
    if (s->type == noBits || s->name >= names->size || names->size - s->name < nameSize) continue;
    const auto name = f.read(names->offset + s->name, nameSize);
    for (const auto& w : wanted)
      if (name && std::equal(name->begin(), name->end(), w.name) && s->size <= largestResource) {
        const auto bytes = f.read(s->offset, s->size);
        if (bytes) *w.bytes = *bytes;
      }
  }
  return {};
}

std::string inspectPe(FileBytes& f) {
  const auto mz = f.field(0, 2), peAt = f.field(0x3C, 4);
  if (!mz || *mz != 0x5A4D || !peAt) return "not a module (no MZ header)";
  const auto signature = f.field(*peAt, 4);
  if (!signature || *signature != 0x4550) return "not a module (no PE header)";
  const std::uint64_t coff = *peAt + 4;
  const auto sections = f.field(coff + 2, 2), optionalSize = f.field(coff + 16, 2), flags = f.field(coff + 18, 2);
  const auto magic = f.field(coff + 20, 2);
  if (!sections || !optionalSize || !flags || !magic) return "truncated (the PE header is cut short)";
  if ((*flags & 0x2000) == 0) return "not a DLL";
  const bool wide = *magic == 0x20B;
  if (!wide && *magic != 0x10B) return "damaged (unknown optional header)";
  if (wide != is64) return std::string("a ") + (wide ? "64" : "32") + "-bit module; this command is " +
                           (is64 ? "64" : "32") + "-bit";
  const std::uint64_t table = coff + 20 + *optionalSize;
  if (!f.holds(coff + 20, *optionalSize) || !f.holds(table, *sections * 40))
    return "truncated or damaged (its headers lie outside the file)";
  for (std::uint64_t i = 0; i < *sections; ++i) {
    const auto size = f.field(table + i * 40 + 16, 4), offset = f.field(table + i * 40 + 20, 4);
    if (!size || !offset || (*size != 0 && !f.holds(*offset, *size)))
      return "truncated or damaged (section " + std::to_string(i) + " lies outside the file)";
  }
  return {};
}

}  // namespace

ModuleFile inspectModuleFile(const fs::path& path, ModuleFormat format) {
  ModuleFile result;
  FileBytes f(path);
  if (!f.opened()) {
    result.problem = "unreadable";
    return result;
  }
  result.problem = format == ModuleFormat::elf ? inspectElf(f, result.resources) : inspectPe(f);
  if (!result.problem.empty()) result.resources = {};
  return result;
}

}  // namespace veltrane::host

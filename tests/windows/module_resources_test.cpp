// The built modules as a Windows host finds them: the property list and the
// terminology resources, the version block, and the one export.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "hostapi/resources.h"
#include "shell/parameter_tables.h"

namespace veltrane {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct ModuleCase {
  const char* file;
  const Deliverable& (*deliverable)();
};

const ModuleCase modules[] = {{"halvane.8bf", &halvaneDeliverable}, {"mirelle.8bf", &mirelleDeliverable}};

// The module's path from this test program's own directory, so that the
// test runs the same from any working directory.
std::string modulePath(const char* file) {
  char self[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string dir(self, n);
  dir.erase(dir.find_last_of("\\/") + 1);
  return dir + VELTRANE_MODULE_DIR + "/" + file;
}

// A resource's bytes, or nullopt-like empty with `found` false.
bool resourceBytes(HMODULE module, const char* type, WORD id, Bytes& out) {
  HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(id), type);
  if (info == nullptr) return false;
  HGLOBAL loaded = LoadResource(module, info);
  const auto* data = static_cast<const std::uint8_t*>(LockResource(loaded));
  if (data == nullptr) return false;
  out.assign(data, data + SizeofResource(module, info));
  return true;
}

class DataFile {
 public:
  explicit DataFile(const std::string& path) : h_(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  ~DataFile() {
    if (h_ != nullptr) FreeLibrary(h_);
  }
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;
  HMODULE get() const { return h_; }

 private:
  HMODULE h_;
};

TEST(ModuleResources, PropertyListAndTerminologyAreTheBuildersBytes) {
  const bool is64 = sizeof(void*) == 8;
  const auto id = static_cast<WORD>(hostapi::pluginResourceId);
  for (const ModuleCase& m : modules) {
    SCOPED_TRACE(m.file);
    const DataFile module(modulePath(m.file));
    ASSERT_NE(module.get(), nullptr) << "cannot open " << modulePath(m.file) << ": error " << GetLastError();

    const Bytes pipl = hostapi::buildPIPL(m.deliverable(), is64);
    // Hosts spell the type either way; the lookup ignores case.
    for (const char* type : {"PIPL", "PiPL"}) {
      Bytes found;
      ASSERT_TRUE(resourceBytes(module.get(), type, id, found)) << type;
      EXPECT_EQ(found, pipl) << type;
    }
    Bytes aete;
    ASSERT_TRUE(resourceBytes(module.get(), "AETE", id, aete));
    EXPECT_EQ(aete, hostapi::buildAETE(m.deliverable()));

    // The version block carries the project's version as file and product
    // version.
    Bytes version;
    ASSERT_TRUE(resourceBytes(module.get(), MAKEINTRESOURCEA(16), 1, version));  // RT_VERSION
    const std::uint32_t signature = 0xFEEF04BD;
    std::size_t at = 0;
    while (at + sizeof(VS_FIXEDFILEINFO) <= version.size() && std::memcmp(&version[at], &signature, 4) != 0) at += 4;
    ASSERT_LE(at + sizeof(VS_FIXEDFILEINFO), version.size()) << "no fixed file information";
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, &version[at], sizeof fixed);
    const DWORD ms = (VELTRANE_VERSION_MAJOR << 16) | VELTRANE_VERSION_MINOR;
    const DWORD ls = VELTRANE_VERSION_PATCH << 16;
    EXPECT_EQ(fixed.dwFileVersionMS, ms);
    EXPECT_EQ(fixed.dwFileVersionLS, ls);
    EXPECT_EQ(fixed.dwProductVersionMS, ms);
    EXPECT_EQ(fixed.dwProductVersionLS, ls);
  }
}

// The export directory of a module loaded as an image: every exported name.
std::vector<std::string> exportedNames(HMODULE module, DWORD& functionCount) {
  const auto* base = reinterpret_cast<const std::uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  functionCount = 0;
  if (dir.VirtualAddress == 0) return {};
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  functionCount = exports->NumberOfFunctions;
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  std::vector<std::string> result;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) result.emplace_back(reinterpret_cast<const char*>(base + names[i]));
  return result;
}

TEST(ModuleExports, OnlyPluginMainUndecorated) {
  for (const ModuleCase& m : modules) {
    SCOPED_TRACE(m.file);
    HMODULE module = LoadLibraryA(modulePath(m.file).c_str());
    ASSERT_NE(module, nullptr) << "cannot load " << modulePath(m.file) << ": error " << GetLastError();
    EXPECT_NE(GetProcAddress(module, "PluginMain"), nullptr);
    DWORD functions = 0;
    EXPECT_EQ(exportedNames(module, functions), std::vector<std::string>{"PluginMain"});
    EXPECT_EQ(functions, 1u);
    FreeLibrary(module);
  }
}

}  // namespace
}  // namespace veltrane

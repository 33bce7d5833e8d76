// The built modules as a Windows host finds them: the property list, the
// terminology and dialog resources, the version block, and the exports.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/sim/plugin_description.h"
#include "host/sim/sim_host.h"
#include "hostapi/resources.h"
#include "shell/parameter_tables.h"
#include "shell/plugin_resources.h"
#include "ui/dialog_resource.h"
#include "ui/dialog_template.h"

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

    const Bytes pipl = buildPIPL(m.deliverable(), is64);
    // Hosts spell the type either way; the lookup ignores case.
    for (const char* type : {"PIPL", "PiPL"}) {
      Bytes found;
      ASSERT_TRUE(resourceBytes(module.get(), type, id, found)) << type;
      EXPECT_EQ(found, pipl) << type;
    }
    Bytes aete;
    ASSERT_TRUE(resourceBytes(module.get(), "AETE", id, aete));
    EXPECT_EQ(aete, buildAETE(m.deliverable()));

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

// The host's reader finds the property list, terminology and parameter
// resource through the resource functions, with the module mapped as data.
TEST(ModuleResources, HostReadsAllThreeWithoutRunningTheModule) {
  for (const ModuleCase& m : modules) {
    SCOPED_TRACE(m.file);
    const host::ModuleResources r = host::readModuleResources(modulePath(m.file));
    EXPECT_EQ(r.propertyList, buildPIPL(m.deliverable(), sizeof(void*) == 8));
    EXPECT_EQ(r.terminology, buildAETE(m.deliverable()));
    EXPECT_EQ(r.parameters, buildParameterResource(m.deliverable()));
    const host::PluginDescription d = host::describePlugin(r);
    EXPECT_TRUE(d.problems.empty());
    EXPECT_EQ(d.label(), m.deliverable().name);
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

// PluginMain undecorated, and the dialog procedure under the name a host
// expects: decorated as stdcall in a 32-bit module, plain in a 64-bit one.
TEST(ModuleExports, PluginMainAndTheDialogProcedure) {
  const std::vector<std::string> expected =
      sizeof(void*) == 8 ? std::vector<std::string>{"DissolveProc", "PluginMain"}
                         : std::vector<std::string>{"PluginMain", "_DissolveProc@16"};
  for (const ModuleCase& m : modules) {
    SCOPED_TRACE(m.file);
    HMODULE module = LoadLibraryA(modulePath(m.file).c_str());
    ASSERT_NE(module, nullptr) << "cannot load " << modulePath(m.file) << ": error " << GetLastError();
    for (const std::string& name : expected) EXPECT_NE(GetProcAddress(module, name.c_str()), nullptr) << name;
    DWORD functions = 0;
    EXPECT_EQ(exportedNames(module, functions), expected);
    EXPECT_EQ(functions, 2u);
    FreeLibrary(module);
  }
}

// Reads a classic dialog template (DLGTEMPLATE and its DLGITEMTEMPLATEs).
class TemplateReader {
 public:
  explicit TemplateReader(const Bytes& bytes) : bytes_(bytes) {}

  bool ok() const { return ok_; }
  std::uint16_t word() {
    if (at_ + 2 > bytes_.size()) {
      ok_ = false;
      return 0;
    }
    const auto v = static_cast<std::uint16_t>(bytes_[at_] | (bytes_[at_ + 1] << 8));
    at_ += 2;
    return v;
  }
  std::uint32_t dword() {
    const std::uint32_t low = word();
    return low | (std::uint32_t{word()} << 16);
  }
  std::int32_t coordinate() { return static_cast<std::int16_t>(word()); }
  std::string text() {  // a NUL-ended UTF-16 string of ASCII characters
    std::string s;
    for (std::uint16_t c = word(); ok_ && c != 0; c = word()) s += c < 128 ? static_cast<char>(c) : '?';
    return s;
  }
  // A name or an ordinal (0xFFFF and a number), written "#n".
  std::string nameOrOrdinal() {
    const std::size_t start = at_;
    const std::uint16_t first = word();
    if (first == 0) return {};
    if (first == 0xFFFF) return "#" + std::to_string(word());
    at_ = start;
    return text();
  }
  void alignToDword() { at_ = (at_ + 3) & ~std::size_t{3}; }
  void skip(std::size_t n) { at_ += n; }

 private:
  const Bytes& bytes_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

std::string lowered(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// A class as the template names it: the predefined ones by their atoms.
std::string className(const std::string& nameOrOrdinal) {
  if (nameOrOrdinal == "#128") return "button";
  if (nameOrOrdinal == "#129") return "edit";
  if (nameOrOrdinal == "#130") return "static";
  return lowered(nameOrOrdinal);
}

TEST(ModuleResources, DialogIsTheTemplate) {
  for (const ModuleCase& m : modules) {
    SCOPED_TRACE(m.file);
    const DataFile module(modulePath(m.file));
    ASSERT_NE(module.get(), nullptr);
    HRSRC info = FindResourceA(module.get(), platform::dialogResourceName, MAKEINTRESOURCEA(5));  // RT_DIALOG
    ASSERT_NE(info, nullptr);
    const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(module.get(), info)));
    ASSERT_NE(data, nullptr);
    const Bytes bytes(data, data + SizeofResource(module.get(), info));
    const platform::DialogTemplate& expected = ui::dialogTemplate(m.deliverable());

    TemplateReader in(bytes);
    const std::uint32_t style = in.dword();
    in.dword();  // extended style
    const std::uint16_t count = in.word();
    const std::int32_t x = in.coordinate(), y = in.coordinate();
    const std::int32_t width = in.coordinate(), height = in.coordinate();
    EXPECT_EQ(in.nameOrOrdinal(), "");  // no menu
    EXPECT_EQ(in.nameOrOrdinal(), "");  // the standard dialog class
    EXPECT_EQ(in.text(), expected.caption);
    ASSERT_NE(style & DS_SETFONT, 0u);
    EXPECT_EQ(in.word(), expected.fontSize);
    EXPECT_EQ(in.text(), expected.font);
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_THICKFRAME | WS_SYSMENU), DWORD{WS_POPUP | WS_CAPTION | WS_THICKFRAME});
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(width, expected.width);
    EXPECT_EQ(height, expected.height);
    ASSERT_EQ(count, expected.controls.size());

    for (const platform::ControlSpec& c : expected.controls) {
      SCOPED_TRACE(c.id);
      in.alignToDword();
      const std::uint32_t itemStyle = in.dword();
      in.dword();
      const std::int32_t cx = in.coordinate(), cy = in.coordinate();
      const std::int32_t cw = in.coordinate(), ch = in.coordinate();
      const std::uint16_t id = in.word();
      const std::string cls = className(in.nameOrOrdinal());
      const std::string text = in.nameOrOrdinal();
      in.skip(in.word());  // creation data
      ASSERT_TRUE(in.ok());
      EXPECT_EQ(id, c.id);
      EXPECT_EQ(cls, lowered(ui::windowClassOf(c.kind)));
      EXPECT_EQ(text, c.text);
      EXPECT_EQ((std::vector<std::int32_t>{cx, cy, cw, ch}), (std::vector<std::int32_t>{c.x, c.y, c.width, c.height}));
      EXPECT_EQ((itemStyle & WS_VISIBLE) == 0, c.initiallyHidden);
      EXPECT_NE(itemStyle & WS_CHILD, 0u);
    }
  }
}

}  // namespace
}  // namespace veltrane

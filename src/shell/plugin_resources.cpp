#include "plugin_resources.h"

#include <bit>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

#include "hostapi/fourcc.h"

namespace veltrane {
namespace {

using hostapi::fourcc;
using hostapi::pluginResourceId;

constexpr std::uint32_t hostVendor = fourcc("8BIM");
constexpr std::uint32_t filterKind = fourcc("8BFM");
constexpr std::uint32_t terminologyId = fourcc("mdc1");  // suite, event class and event id
constexpr const char* vendorName = "Veltrane";           // menu category and suite vendor
constexpr const char* suiteDescription = "Noise reduction plug-in";
constexpr const char* entryPoint = "PluginMain";
constexpr std::uint32_t interfaceVersion = 0x00040000;  // 4.0
constexpr const char* enableExpression = "in (PSHOP_ImageMode, RGBMode)";
constexpr std::int32_t maximumSize = 2000000;  // rows and columns

// Supported image modes, most significant bit of the first byte = mode 0:
// grey scale and RGB in the first byte, Lab in the second.
constexpr std::uint8_t supportedModes[] = {0x50, 0x40};
constexpr std::uint8_t filtersLayers = 0x80;

// Per filter case 1..7: input handling, output handling, flags 1, flags 2.
// Handling 4 = white matte; flags 6 = blank data and layer masks allowed,
// 14 = those and writing outside the selection.
constexpr std::uint8_t filterCaseInfo[7][4] = {
    {4, 4, 6, 0}, {4, 4, 14, 0}, {4, 4, 14, 0}, {4, 4, 6, 0}, {4, 4, 14, 0}, {4, 4, 6, 0}, {4, 4, 14, 0},
};

constexpr std::uint16_t directParameterFlags = 0xB000;  // optional, single, enumerated, changes state

// Little-endian byte writer.
class Bytes {
 public:
  std::vector<std::uint8_t>& data() { return bytes_; }
  std::size_t size() const { return bytes_.size(); }

  void u8(std::uint8_t v) { bytes_.push_back(v); }
  void u16(std::uint16_t v) {
    u8(static_cast<std::uint8_t>(v & 0xFFu));
    u8(static_cast<std::uint8_t>(v >> 8));
  }
  void i16(std::int16_t v) { u16(static_cast<std::uint16_t>(v)); }
  void u32(std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) u8(static_cast<std::uint8_t>((v >> shift) & 0xFFu));
  }
  void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
  void f64(double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    u32(static_cast<std::uint32_t>(bits & 0xFFFFFFFFu));
    u32(static_cast<std::uint32_t>(bits >> 32));
  }
  void putAt(std::size_t offset, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) bytes_.at(offset + i) = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFFu);
  }

  // A length byte and the characters, no terminator.
  void pascal(const char* s) {
    const std::size_t n = std::strlen(s);
    if (n > 255) throw std::length_error(std::string("string too long for a length byte: ") + s);
    u8(static_cast<std::uint8_t>(n));
    text(s, n);
  }
  // The characters and a terminating NUL.
  void cstring(const char* s) {
    text(s, std::strlen(s));
    u8(0);
  }

 private:
  void text(const char* s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) u8(static_cast<std::uint8_t>(s[i]));
  }

  std::vector<std::uint8_t> bytes_;
};

// One property of the list: header, data, zero padding up to a multiple of 4
// counted from the start of the list. The stored length includes the
// padding, which every known reader accepts.
template <typename WriteData>
void property(Bytes& out, std::size_t listStart, std::uint32_t key, WriteData&& writeData) {
  out.u32(hostVendor);
  out.u32(key);
  out.u32(0);  // id
  const std::size_t lengthAt = out.size();
  out.u32(0);
  const std::size_t dataStart = out.size();
  writeData();
  while ((out.size() - listStart) % 4 != 0) out.u8(0);
  out.putAt(lengthAt, static_cast<std::uint32_t>(out.size() - dataStart));
}

const char* required(const char* s, const char* what) {
  if (s == nullptr) throw std::invalid_argument(std::string("deliverable has no ") + what);
  return s;
}

}  // namespace

std::vector<std::uint8_t> buildPIPL(const Deliverable& d, bool with64BitEntry) {
  const char* name = required(d.resourceName, "resource name");
  const char* uniqueString = required(d.registryId, "registry id");

  Bytes out;
  out.i16(1);  // prelude, not part of the list
  const std::size_t listStart = out.size();
  out.u32(0);  // list version
  out.u32(with64BitEntry ? 12 : 11);

  property(out, listStart, fourcc("kind"), [&] { out.u32(filterKind); });
  property(out, listStart, fourcc("name"), [&] { out.pascal(name); });
  property(out, listStart, fourcc("catg"), [&] { out.pascal(vendorName); });
  property(out, listStart, fourcc("vers"), [&] { out.u32(interfaceVersion); });
  property(out, listStart, fourcc("wx86"), [&] { out.cstring(entryPoint); });
  if (with64BitEntry) property(out, listStart, fourcc("8664"), [&] { out.cstring(entryPoint); });
  property(out, listStart, fourcc("mode"), [&] {
    for (std::uint8_t b : supportedModes) out.u8(b);
  });
  property(out, listStart, fourcc("hstm"), [&] {
    out.i32(0);  // terminology version
    out.u32(terminologyId);
    out.u32(terminologyId);
    out.i16(pluginResourceId);
    out.cstring(uniqueString);
  });
  property(out, listStart, fourcc("enbl"), [&] { out.cstring(enableExpression); });
  property(out, listStart, fourcc("ms32"), [&] {
    out.i32(maximumSize);  // rows
    out.i32(maximumSize);  // columns
  });
  property(out, listStart, fourcc("flly"), [&] { out.u8(filtersLayers); });
  property(out, listStart, fourcc("fici"), [&] {
    for (const auto& c : filterCaseInfo)
      for (std::uint8_t b : c) out.u8(b);
  });
  return std::move(out.data());
}

std::vector<std::uint8_t> buildAETE(const Deliverable& d) {
  const TerminologyParameters& t = d.terminology;
  if (t.realCount > realSlotCount || t.flagCount > flagSlotCount)
    throw std::invalid_argument("terminology lists more parameters than there are slots");

  Bytes out;
  out.i16(1);  // prelude
  out.u8(1);   // terminology format 1.0
  out.u8(0);
  out.i16(0);  // language: English
  out.i16(0);  // script: Roman
  out.i16(1);  // suites
  out.pascal(vendorName);
  out.pascal(suiteDescription);
  out.u32(terminologyId);
  out.i16(1);  // level
  out.i16(1);  // version

  out.i16(1);  // events
  out.pascal(required(d.aboutTitle, "product title"));
  out.pascal(required(d.eventDescription, "event description"));
  out.u32(terminologyId);  // class
  out.u32(terminologyId);  // id
  out.u32(fourcc("null"));  // no reply
  out.pascal("");
  out.u16(0);
  out.u32(fourcc("#ImR"));  // direct parameter: the image
  out.pascal("");
  out.u16(directParameterFlags);

  out.i16(static_cast<std::int16_t>(t.realCount + t.flagCount));
  for (std::size_t i = 0; i < t.realCount; ++i) {
    const ScriptingKey& k = d.realKeys[t.realSlots[i]];
    const char* name = required(k.name, "scripting name for a listed real");
    if (k.key == 0) throw std::invalid_argument("a listed real has no key");
    out.pascal(name);
    out.u32(k.key);
    out.u32(fourcc("doub"));
    out.pascal(name);
    out.u16(0);  // required, single item, not enumerated
  }
  for (std::size_t i = 0; i < t.flagCount; ++i) {
    const ScriptingKey& k = d.flagKeys[t.flagSlots[i]];
    const char* name = required(k.name, "scripting name for a listed flag");
    if (k.key == 0) throw std::invalid_argument("a listed flag has no key");
    out.pascal(name);
    out.u32(k.key);
    out.u32(fourcc("bool"));
    out.pascal(required(k.description, "description for a listed flag"));
    out.u16(0);
  }

  out.i16(0);  // classes
  out.i16(0);  // comparison operators
  out.i16(0);  // enumerations
  return std::move(out.data());
}

std::vector<std::uint8_t> buildParameterResource(const Deliverable& d) {
  constexpr std::uint8_t kindReal = 1, kindFlag = 2, markMain = 1;
  const TerminologyParameters& t = d.terminology;
  const auto listed = [](const std::uint8_t* slots, std::size_t count, std::size_t slot) {
    for (std::size_t i = 0; i < count; ++i)
      if (slots[i] == slot) return true;
    return false;
  };
  const auto name = [](const char* field) { return required(field, "field name"); };

  Bytes out;
  for (const char c : {'V', 'P', 'A', 'R'}) out.u8(static_cast<std::uint8_t>(c));
  out.u16(parameterResourceVersion);
  out.pascal(required(d.name, "name"));
  out.pascal(d.settingsSignature ? d.settingsSignature : "");
  out.pascal(d.settingsExtension ? d.settingsExtension : "");
  out.u32(static_cast<std::uint32_t>(sizeof(FilterParameters)));
  out.u16(static_cast<std::uint16_t>(realSlotCount + flagSlotCount));
  for (std::size_t slot = 0; slot < realSlotCount; ++slot) {
    // GIMP's main levels: the listed ones on the dialog's first page, and
    // the two profiled noise levels wherever they sit.
    const bool profiled = slot == real::overallNoiseLevel || slot == real::highlightsNoiseLevel;
    const bool main = listed(t.realSlots, t.realCount, slot) && (profiled || !d.controls.reals[slot].advanced);
    out.u8(kindReal);
    out.u8(main ? markMain : 0);
    out.u32(static_cast<std::uint32_t>(offsetof(FilterParameters, reals) + slot * sizeof(double)));
    out.u32(d.realKeys[slot].key);
    out.pascal(name(d.realFieldNames[slot]));
    out.f64(d.realRanges[slot].lowest);
    out.f64(d.realRanges[slot].highest);
  }
  for (std::size_t slot = 0; slot < flagSlotCount; ++slot) {
    out.u8(kindFlag);
    out.u8(listed(t.flagSlots, t.flagCount, slot) ? markMain : 0);
    out.u32(static_cast<std::uint32_t>(offsetof(FilterParameters, flags) + slot));
    out.u32(d.flagKeys[slot].key);
    out.pascal(name(d.flagFieldNames[slot]));
  }
  return std::move(out.data());
}

}  // namespace veltrane

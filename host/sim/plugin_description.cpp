#include "host/sim/plugin_description.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#include "hostapi/fourcc.h"

namespace veltrane::host {
namespace {

using hostapi::fourcc;

// Little-endian reads that never pass the end: a read beyond it throws.
class Cursor {
 public:
  explicit Cursor(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

  std::size_t at() const { return at_; }
  std::size_t left() const { return bytes_.size() - at_; }
  void need(std::size_t n) const {
    if (n > left()) throw std::runtime_error("cut short at byte " + std::to_string(bytes_.size()));
  }
  void seek(std::size_t to) {
    if (to > bytes_.size()) throw std::runtime_error("cut short at byte " + std::to_string(bytes_.size()));
    at_ = to;
  }
  void skip(std::size_t n) {
    need(n);
    at_ += n;
  }
  std::uint64_t unsignedOf(unsigned width) {
    need(width);
    std::uint64_t v = 0;
    for (unsigned i = width; i-- > 0;) v = v << 8 | bytes_[at_ + i];
    at_ += width;
    return v;
  }
  std::uint8_t u8() { return static_cast<std::uint8_t>(unsignedOf(1)); }
  std::uint16_t u16() { return static_cast<std::uint16_t>(unsignedOf(2)); }
  std::uint32_t u32() { return static_cast<std::uint32_t>(unsignedOf(4)); }
  double f64() { return std::bit_cast<double>(unsignedOf(8)); }
  std::string pascal() {
    const std::size_t n = u8();
    need(n);
    std::string s(reinterpret_cast<const char*>(bytes_.data() + at_), n);
    at_ += n;
    return s;
  }
  // Characters up to a zero byte, which must come before `end`.
  std::string cstring(std::size_t end) {
    std::string s;
    for (; at_ < end && at_ < bytes_.size(); ++at_) {
      if (bytes_[at_] == 0) {
        ++at_;
        return s;
      }
      s.push_back(static_cast<char>(bytes_[at_]));
    }
    throw std::runtime_error("a string without its end");
  }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::size_t at_ = 0;
};

// The part of a resource that failed, as one line.
template <typename Read>
void readPart(const std::vector<std::uint8_t>& bytes, const char* what, PluginDescription& d, Read&& read) {
  if (bytes.empty()) return;
  try {
    read();
  } catch (const std::exception& e) {
    d.problems.push_back(std::string("its ") + what + " is damaged (" + e.what() + ")");
  }
}

}  // namespace

const TerminologyParameter* PluginDescription::terminologyFor(std::uint32_t key) const {
  for (const TerminologyParameter& p : terminology)
    if (p.key == key) return &p;
  return nullptr;
}

void readPropertyList(const std::vector<std::uint8_t>& bytes, PluginDescription& into) {
  // Prelude, list version, count; each property: vendor, key, id, length,
  // then its data (the length rounded up to 4 when skipping).
  Cursor in(bytes);
  in.skip(2);
  if (in.u32() != 0) throw std::runtime_error("unknown list version");
  const std::uint32_t count = in.u32();
  std::string name, unique;
  std::uint32_t eventClass = 0, eventId = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    in.skip(4);
    const std::uint32_t key = in.u32();
    in.skip(4);
    const std::uint32_t length = in.u32();
    in.need(length);
    const std::size_t start = in.at(), end = start + length;
    if (key == fourcc("name")) {
      name = in.pascal();
      if (in.at() > end) throw std::runtime_error("the name runs past its property");
    } else if (key == fourcc("hstm") && length >= 14) {
      in.skip(4);
      eventClass = in.u32();
      eventId = in.u32();
      in.skip(2);
      unique = in.cstring(end);
    }
    in.seek(std::min<std::size_t>(bytes.size(), end + (4 - length % 4) % 4));
  }
  into.name = std::move(name);
  into.uniqueString = std::move(unique);
  into.eventClass = eventClass;
  into.eventId = eventId;
}

void readTerminology(const std::vector<std::uint8_t>& bytes, PluginDescription& into) {
  // The first suite: its events, each with its parameters. The event the
  // property list names is taken, else the first.
  Cursor in(bytes);
  in.skip(2 + 2 + 2 + 2);  // prelude, version, language, script
  if (in.u16() == 0) return;
  in.pascal();
  in.pascal();
  in.skip(4 + 2 + 2);
  const std::uint16_t events = in.u16();
  bool found = false;
  for (std::uint16_t e = 0; e < events && !found; ++e) {
    std::string title = in.pascal();
    in.pascal();
    const std::uint32_t eventClass = in.u32(), eventId = in.u32();
    in.skip(4);
    in.pascal();
    in.skip(2 + 4);
    in.pascal();
    in.skip(2);
    std::vector<TerminologyParameter> parameters;
    for (std::uint16_t count = in.u16(); parameters.size() < count;) {
      TerminologyParameter& p = parameters.emplace_back();
      p.name = in.pascal();
      p.key = in.u32();
      p.type = in.u32();
      p.description = in.pascal();
      in.skip(2);
    }
    found = eventClass == into.eventClass && eventId == into.eventId;
    if (found || e == 0) {
      into.title = std::move(title);
      into.terminology = std::move(parameters);
    }
  }
}

ParameterResource readParameterResource(const std::vector<std::uint8_t>& bytes) {
  Cursor in(bytes);
  in.need(4);
  if (std::memcmp(bytes.data(), "VPAR", 4) != 0) throw std::runtime_error("no VPAR mark");
  in.skip(4);
  const std::uint16_t version = in.u16();
  if (version != 1) throw std::runtime_error("format version " + std::to_string(version) + " is unknown");
  ParameterResource r;
  r.shortName = in.pascal();
  r.settingsSignature = in.pascal();
  r.settingsExtension = in.pascal();
  r.blockSize = in.u32();
  const std::uint16_t count = in.u16();
  for (std::uint16_t i = 0; i < count; ++i) {
    ParameterField f;
    const std::uint8_t kind = in.u8();
    if (kind != 1 && kind != 2) throw std::runtime_error("field " + std::to_string(i) + " is of unknown kind");
    f.kind = static_cast<ParameterField::Kind>(kind);
    f.main = (in.u8() & 1) != 0;
    f.offset = in.u32();
    f.key = in.u32();
    f.name = in.pascal();
    const std::uint32_t size = f.kind == ParameterField::Kind::real ? 8 : 1;
    if (f.offset > r.blockSize || size > r.blockSize - f.offset)
      throw std::runtime_error("field " + f.name + " lies outside the parameter block");
    if (f.kind == ParameterField::Kind::real) {
      f.lowest = in.f64();
      f.highest = in.f64();
    }
    r.fields.push_back(std::move(f));
  }
  return r;
}

PluginDescription describePlugin(const ModuleResources& resources) {
  PluginDescription d;
  readPart(resources.propertyList, "property list", d, [&] { readPropertyList(resources.propertyList, d); });
  readPart(resources.terminology, "terminology", d, [&] {
    PluginDescription t = d;
    readTerminology(resources.terminology, t);
    d.title = std::move(t.title);
    d.terminology = std::move(t.terminology);
  });
  readPart(resources.parameters, "parameter resource", d,
           [&] { d.parameters = readParameterResource(resources.parameters); });
  return d;
}

}  // namespace veltrane::host

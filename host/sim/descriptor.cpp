// Descriptors: typed values under four-character keys, and the byte form in
// which the host keeps them inside descriptor handles.
#include <cstring>

#include "host/sim/host_state.h"

namespace veltrane::host {

void Descriptor::put(std::uint32_t key, const DescriptorValue& value) {
  for (auto& entry : entries_) {
    if (entry.first == key) {
      entry.second = value;
      return;
    }
  }
  entries_.emplace_back(key, value);
}

const DescriptorValue* Descriptor::find(std::uint32_t key) const {
  for (const auto& entry : entries_)
    if (entry.first == key) return &entry.second;
  return nullptr;
}

namespace detail {
namespace {

// Layout: magic, count, then per entry key, type code and an 8-byte payload
// (int32, double or one byte), all in the machine's byte order.
constexpr std::uint32_t descriptorMagic = hostapi::fourcc("VDsc");
constexpr std::size_t headerBytes = 8;
constexpr std::size_t entryBytes = 16;

std::uint32_t typeCode(DescriptorValue::Type t) {
  switch (t) {
    case DescriptorValue::Type::integer: return hostapi::typeInteger;
    case DescriptorValue::Type::floating: return hostapi::typeFloat;
    case DescriptorValue::Type::boolean: return hostapi::typeBoolean;
  }
  return hostapi::typeNull;
}

template <typename T>
void store(std::uint8_t* at, T v) {
  std::memcpy(at, &v, sizeof v);
}

template <typename T>
T load(const std::uint8_t* at) {
  T v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

}  // namespace

std::vector<std::uint8_t> serializeDescriptor(const Descriptor& d) {
  const auto& entries = d.entries();
  std::vector<std::uint8_t> bytes(headerBytes + entries.size() * entryBytes, 0);
  store(bytes.data(), descriptorMagic);
  store(bytes.data() + 4, static_cast<std::uint32_t>(entries.size()));
  std::uint8_t* at = bytes.data() + headerBytes;
  for (const auto& [key, value] : entries) {
    store(at, key);
    store(at + 4, typeCode(value.type));
    switch (value.type) {
      case DescriptorValue::Type::integer: store(at + 8, value.integer); break;
      case DescriptorValue::Type::floating: store(at + 8, value.floating); break;
      case DescriptorValue::Type::boolean: at[8] = value.boolean ? 1 : 0; break;
    }
    at += entryBytes;
  }
  return bytes;
}

std::optional<Descriptor> deserializeDescriptor(const std::uint8_t* data, std::int64_t size) {
  if (!data || size < static_cast<std::int64_t>(headerBytes)) return std::nullopt;
  if (load<std::uint32_t>(data) != descriptorMagic) return std::nullopt;
  const std::uint32_t count = load<std::uint32_t>(data + 4);
  if (size != static_cast<std::int64_t>(headerBytes + std::size_t{count} * entryBytes)) return std::nullopt;
  Descriptor d;
  const std::uint8_t* at = data + headerBytes;
  for (std::uint32_t i = 0; i < count; ++i, at += entryBytes) {
    const auto key = load<std::uint32_t>(at);
    const auto type = load<std::uint32_t>(at + 4);
    if (type == hostapi::typeInteger)
      d.put(key, DescriptorValue::ofInteger(load<std::int32_t>(at + 8)));
    else if (type == hostapi::typeFloat)
      d.put(key, DescriptorValue::ofFloat(load<double>(at + 8)));
    else if (type == hostapi::typeBoolean)
      d.put(key, DescriptorValue::ofBoolean(at[8] != 0));
    else
      return std::nullopt;
  }
  return d;
}

hostapi::Handle HostState::descriptorToHandle(const Descriptor& d, bool counted) noexcept {
  try {
    const std::vector<std::uint8_t> bytes = serializeDescriptor(d);
    hostapi::Handle h = newHandle(static_cast<std::int32_t>(bytes.size()), counted);
    if (h) std::memcpy(*h, bytes.data(), bytes.size());
    return h;
  } catch (...) {
    return nullptr;
  }
}

std::optional<Descriptor> HostState::descriptorFromHandle(hostapi::Handle h) const {
  const auto it = handles.find(h);
  if (it == handles.end()) return std::nullopt;
  return deserializeDescriptor(reinterpret_cast<const std::uint8_t*>(it->second->data), it->second->size);
}

}  // namespace detail
}  // namespace veltrane::host

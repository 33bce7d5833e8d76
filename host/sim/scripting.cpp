// The read and write descriptor procedures of the record's descriptor
// parameters: how the plug-in reads the descriptor of a recorded action and
// hands back the one to record.
#include <cmath>
#include <limits>

#include "host/sim/host_state.h"

namespace veltrane::host::detail {

using namespace hostapi;

namespace {

constexpr DescriptorKeyID seenKey = typeNull;  // written over each key handed out

// Keeps the most serious error met: failures over coercions over success.
void remember(DescriptorReader& r, OSErr err) noexcept {
  if (err == noErr || r.error < 0) return;
  r.error = err;
}

DescriptorReader* findReader(PIReadDescriptor reader) noexcept {
  HostState* host = currentHost();
  if (!host) return nullptr;
  const auto it = host->readers.find(reader);
  if (it == host->readers.end()) {
    ++host->stats.invalidCalls;
    return nullptr;
  }
  return it->second.get();
}

DescriptorWriter* findWriter(PIWriteDescriptor writer) noexcept {
  HostState* host = currentHost();
  if (!host) return nullptr;
  const auto it = host->writers.find(writer);
  if (it == host->writers.end()) {
    ++host->stats.invalidCalls;
    return nullptr;
  }
  return it->second.get();
}

// ---- reading ----------------------------------------------------------------

PIReadDescriptor VELTRANE_HOSTAPI_CDECL openRead(PIDescriptorHandle descriptor, DescriptorKeyID* keys) noexcept {
  HostState* host = currentHost();
  if (!host || !descriptor) return nullptr;
  try {
    std::optional<Descriptor> d = host->descriptorFromHandle(descriptor);
    if (!d) {
      ++host->stats.invalidCalls;
      return nullptr;
    }
    auto reader = std::make_unique<DescriptorReader>();
    reader->entries = d->entries();
    reader->expectedKeys = keys;
    auto* id = reinterpret_cast<PIReadDescriptor>(reader.get());
    host->readers.emplace(id, std::move(reader));
    return id;
  } catch (...) {
    return nullptr;
  }
}

OSErr VELTRANE_HOSTAPI_CDECL closeRead(PIReadDescriptor reader) noexcept {
  DescriptorReader* r = findReader(reader);
  if (!r) return paramErr;
  OSErr result = r->error;
  // An expected key that the descriptor never handed out is a missing parameter.
  if (result == noErr && r->expectedKeys) {
    for (const DescriptorKeyID* k = r->expectedKeys; *k != 0; ++k) {
      if (*k != seenKey) {
        result = errMissingParameter;
        break;
      }
    }
  }
  currentHost()->readers.erase(reader);
  return result;
}

Boolean VELTRANE_HOSTAPI_CDECL getKey(PIReadDescriptor reader, DescriptorKeyID* key, DescriptorTypeID* type,
                                      std::int32_t* flags) noexcept {
  DescriptorReader* r = findReader(reader);
  if (!r) return 0;
  if (r->next >= r->entries.size()) {
    r->current = nullptr;
    return 0;
  }
  const auto& [k, value] = r->entries[r->next++];
  r->current = &value;
  if (key) *key = k;
  if (type) {
    switch (value.type) {
      case DescriptorValue::Type::integer: *type = typeInteger; break;
      case DescriptorValue::Type::floating: *type = typeFloat; break;
      case DescriptorValue::Type::boolean: *type = typeBoolean; break;
    }
  }
  if (flags) *flags = 0;
  if (r->expectedKeys) {
    for (DescriptorKeyID* e = r->expectedKeys; *e != 0; ++e) {
      if (*e == k) {
        *e = seenKey;
        break;
      }
    }
  }
  return 1;
}

OSErr VELTRANE_HOSTAPI_CDECL getInteger(PIReadDescriptor reader, std::int32_t* value) noexcept {
  DescriptorReader* r = findReader(reader);
  if (!r) return paramErr;
  OSErr err = noErr;
  if (!value || !r->current) {
    err = paramErr;
  } else if (r->current->type == DescriptorValue::Type::integer) {
    *value = r->current->integer;
  } else if (r->current->type == DescriptorValue::Type::floating && std::isfinite(r->current->floating) &&
             std::fabs(r->current->floating) <= std::numeric_limits<std::int32_t>::max()) {
    *value = static_cast<std::int32_t>(std::lround(r->current->floating));
    err = coercedParamErr;
  } else {
    err = paramErr;
  }
  remember(*r, err);
  return err;
}

OSErr VELTRANE_HOSTAPI_CDECL getFloat(PIReadDescriptor reader, double* value) noexcept {
  DescriptorReader* r = findReader(reader);
  if (!r) return paramErr;
  OSErr err = noErr;
  if (!value || !r->current) {
    err = paramErr;
  } else if (r->current->type == DescriptorValue::Type::floating) {
    *value = r->current->floating;
  } else if (r->current->type == DescriptorValue::Type::integer) {
    *value = r->current->integer;
    err = coercedParamErr;
  } else {
    err = paramErr;
  }
  remember(*r, err);
  return err;
}

OSErr VELTRANE_HOSTAPI_CDECL getBoolean(PIReadDescriptor reader, Boolean* value) noexcept {
  DescriptorReader* r = findReader(reader);
  if (!r) return paramErr;
  OSErr err = noErr;
  if (!value || !r->current || r->current->type != DescriptorValue::Type::boolean)
    err = paramErr;
  else
    *value = r->current->boolean ? 1 : 0;
  remember(*r, err);
  return err;
}

// This host's descriptors hold integers, floats and booleans only: every other
// typed read is a type mismatch.
template <typename... Rest>
OSErr VELTRANE_HOSTAPI_CDECL getUnsupported(PIReadDescriptor reader, Rest...) noexcept {
  DescriptorReader* r = findReader(reader);
  if (!r) return paramErr;
  remember(*r, paramErr);
  return paramErr;
}

// ---- writing ----------------------------------------------------------------

PIWriteDescriptor VELTRANE_HOSTAPI_CDECL openWrite() noexcept {
  HostState* host = currentHost();
  if (!host) return nullptr;
  try {
    auto writer = std::make_unique<DescriptorWriter>();
    auto* id = reinterpret_cast<PIWriteDescriptor>(writer.get());
    host->writers.emplace(id, std::move(writer));
    return id;
  } catch (...) {
    return nullptr;
  }
}

OSErr VELTRANE_HOSTAPI_CDECL closeWrite(PIWriteDescriptor writer, PIDescriptorHandle* newDescriptor) noexcept {
  if (newDescriptor) *newDescriptor = nullptr;
  DescriptorWriter* w = findWriter(writer);
  if (!w) return paramErr;
  HostState* host = currentHost();
  OSErr err = paramErr;
  if (newDescriptor) {
    *newDescriptor = host->descriptorToHandle(w->value, true);
    err = *newDescriptor ? noErr : memFullErr;
  }
  host->writers.erase(writer);
  return err;
}

OSErr put(PIWriteDescriptor writer, DescriptorKeyID key, const DescriptorValue& value) noexcept {
  DescriptorWriter* w = findWriter(writer);
  if (!w) return paramErr;
  try {
    w->value.put(key, value);
    return noErr;
  } catch (...) {
    return memFullErr;
  }
}

OSErr VELTRANE_HOSTAPI_CDECL putInteger(PIWriteDescriptor writer, DescriptorKeyID key, std::int32_t value) noexcept {
  return put(writer, key, DescriptorValue::ofInteger(value));
}

OSErr VELTRANE_HOSTAPI_CDECL putFloat(PIWriteDescriptor writer, DescriptorKeyID key, const double* value) noexcept {
  if (!value) return paramErr;
  return put(writer, key, DescriptorValue::ofFloat(*value));
}

OSErr VELTRANE_HOSTAPI_CDECL putBoolean(PIWriteDescriptor writer, DescriptorKeyID key, Boolean value) noexcept {
  return put(writer, key, DescriptorValue::ofBoolean(value != 0));
}

template <typename... Rest>
OSErr VELTRANE_HOSTAPI_CDECL putUnsupported(PIWriteDescriptor writer, Rest...) noexcept {
  return findWriter(writer) ? errPlugInHostInsufficient : paramErr;
}

}  // namespace

void fillDescriptorProcs(ReadDescriptorProcs& read, WriteDescriptorProcs& write) noexcept {
  read.readDescriptorProcsVersion = readDescriptorProcsVersion;
  read.numReadDescriptorProcs = readDescriptorProcsCount;
  read.openReadDescriptorProc = &openRead;
  read.closeReadDescriptorProc = &closeRead;
  read.getKeyProc = &getKey;
  read.getIntegerProc = &getInteger;
  read.getFloatProc = &getFloat;
  read.getUnitFloatProc = &getUnsupported<DescriptorUnitID*, double*>;
  read.getBooleanProc = &getBoolean;
  read.getTextProc = &getUnsupported<Handle*>;
  read.getAliasProc = &getUnsupported<Handle*>;
  read.getEnumeratedProc = &getUnsupported<DescriptorEnumID*>;
  read.getClassProc = &getUnsupported<DescriptorTypeID*>;
  read.getSimpleReferenceProc = &getUnsupported<PIDescriptorSimpleReference*>;
  read.getObjectProc = &getUnsupported<DescriptorTypeID*, PIDescriptorHandle*>;
  read.getCountProc = &getUnsupported<std::uint32_t*>;
  read.getStringProc = &getUnsupported<Str255*>;
  read.getPinnedIntegerProc = &getUnsupported<std::int32_t, std::int32_t, std::int32_t*>;
  read.getPinnedFloatProc = &getUnsupported<const double*, const double*, double*>;
  read.getPinnedUnitFloatProc = &getUnsupported<const double*, const double*, DescriptorUnitID*, double*>;

  write.writeDescriptorProcsVersion = writeDescriptorProcsVersion;
  write.numWriteDescriptorProcs = writeDescriptorProcsCount;
  write.openWriteDescriptorProc = &openWrite;
  write.closeWriteDescriptorProc = &closeWrite;
  write.putIntegerProc = &putInteger;
  write.putFloatProc = &putFloat;
  write.putUnitFloatProc = &putUnsupported<DescriptorKeyID, DescriptorUnitID, const double*>;
  write.putBooleanProc = &putBoolean;
  write.putTextProc = &putUnsupported<DescriptorKeyID, Handle>;
  write.putAliasProc = &putUnsupported<DescriptorKeyID, Handle>;
  write.putEnumeratedProc = &putUnsupported<DescriptorKeyID, DescriptorTypeID, DescriptorEnumID>;
  write.putClassProc = &putUnsupported<DescriptorKeyID, DescriptorTypeID>;
  write.putSimpleReferenceProc = &putUnsupported<DescriptorKeyID, const PIDescriptorSimpleReference*>;
  write.putObjectProc = &putUnsupported<DescriptorKeyID, DescriptorTypeID, PIDescriptorHandle>;
  write.putCountProc = &putUnsupported<DescriptorKeyID, std::uint32_t>;
  write.putStringProc = &putUnsupported<DescriptorKeyID, const unsigned char*>;
  write.putScopedClassProc = &putUnsupported<DescriptorKeyID, DescriptorTypeID>;
  write.putScopedObjectProc = &putUnsupported<DescriptorKeyID, DescriptorTypeID, PIDescriptorHandle>;
}

}  // namespace veltrane::host::detail

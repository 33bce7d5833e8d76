// The basic suite and the two suites it hands out: the persistent descriptor
// registry and the action descriptors that travel through it.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/sim/host_state.h"

namespace veltrane::host::detail {

using namespace hostapi;

namespace {

bool sameName(const char* a, const char* b) noexcept { return a && b && std::strcmp(a, b) == 0; }

// ---- action descriptors ---------------------------------------------------------

Descriptor* findDescriptor(PIActionDescriptor d) noexcept {
  HostState* host = currentHost();
  if (!host) return nullptr;
  const auto it = host->actionDescriptors.find(d);
  if (it == host->actionDescriptors.end()) {
    ++host->stats.invalidCalls;
    return nullptr;
  }
  return &it->second->value;
}

OSErr makeDescriptor(HostState* host, const Descriptor& content, PIActionDescriptor* out) noexcept {
  *out = nullptr;
  try {
    auto box = std::make_unique<ActionDescriptorBox>();
    box->value = content;
    auto* id = reinterpret_cast<PIActionDescriptor>(box.get());
    host->actionDescriptors.emplace(id, std::move(box));
    ++host->stats.liveDescriptors;
    *out = id;
    return noErr;
  } catch (...) {
    return memFullErr;
  }
}

OSErr VELTRANE_HOSTAPI_CDECL adMake(PIActionDescriptor* descriptor) noexcept {
  HostState* host = currentHost();
  if (!host || !descriptor) return paramErr;
  return makeDescriptor(host, Descriptor{}, descriptor);
}

OSErr VELTRANE_HOSTAPI_CDECL adFree(PIActionDescriptor descriptor) noexcept {
  if (!findDescriptor(descriptor)) return paramErr;
  HostState* host = currentHost();
  host->actionDescriptors.erase(descriptor);
  --host->stats.liveDescriptors;
  return noErr;
}

DescriptorTypeID typeOf(const DescriptorValue& v) noexcept {
  switch (v.type) {
    case DescriptorValue::Type::integer: return typeInteger;
    case DescriptorValue::Type::floating: return typeFloat;
    case DescriptorValue::Type::boolean: return typeBoolean;
  }
  return typeNull;
}

OSErr VELTRANE_HOSTAPI_CDECL adGetType(PIActionDescriptor d, DescriptorKeyID key, DescriptorTypeID* type) noexcept {
  const Descriptor* desc = findDescriptor(d);
  if (!desc || !type) return paramErr;
  const DescriptorValue* v = desc->find(key);
  if (!v) return errMissingParameter;
  *type = typeOf(*v);
  return noErr;
}

OSErr VELTRANE_HOSTAPI_CDECL adGetKey(PIActionDescriptor d, std::uint32_t index, DescriptorKeyID* key) noexcept {
  const Descriptor* desc = findDescriptor(d);
  if (!desc || !key || index >= desc->entries().size()) return paramErr;
  *key = desc->entries()[index].first;
  return noErr;
}

OSErr VELTRANE_HOSTAPI_CDECL adHasKey(PIActionDescriptor d, DescriptorKeyID key, Boolean* hasKey) noexcept {
  const Descriptor* desc = findDescriptor(d);
  if (!desc || !hasKey) return paramErr;
  *hasKey = desc->find(key) ? 1 : 0;
  return noErr;
}

OSErr VELTRANE_HOSTAPI_CDECL adGetCount(PIActionDescriptor d, std::uint32_t* count) noexcept {
  const Descriptor* desc = findDescriptor(d);
  if (!desc || !count) return paramErr;
  *count = static_cast<std::uint32_t>(desc->entries().size());
  return noErr;
}

OSErr VELTRANE_HOSTAPI_CDECL adIsEqual(PIActionDescriptor d, PIActionDescriptor other, Boolean* isEqual) noexcept {
  const Descriptor* a = findDescriptor(d);
  const Descriptor* b = findDescriptor(other);
  if (!a || !b || !isEqual) return paramErr;
  bool equal = a->entries().size() == b->entries().size();
  for (const auto& [key, value] : a->entries()) {
    if (!equal) break;
    const DescriptorValue* w = b->find(key);
    equal = w && w->type == value.type && w->integer == value.integer && w->boolean == value.boolean &&
            (w->floating == value.floating || (std::isnan(w->floating) && std::isnan(value.floating)));
  }
  *isEqual = equal ? 1 : 0;
  return noErr;
}

OSErr VELTRANE_HOSTAPI_CDECL adErase(PIActionDescriptor d, DescriptorKeyID key) noexcept {
  Descriptor* desc = findDescriptor(d);
  if (!desc) return paramErr;
  try {
    Descriptor kept;
    for (const auto& [k, v] : desc->entries())
      if (k != key) kept.put(k, v);
    *desc = std::move(kept);
    return noErr;
  } catch (...) {
    return memFullErr;
  }
}

OSErr VELTRANE_HOSTAPI_CDECL adClear(PIActionDescriptor d) noexcept {
  Descriptor* desc = findDescriptor(d);
  if (!desc) return paramErr;
  *desc = Descriptor{};
  return noErr;
}

OSErr adPut(PIActionDescriptor d, DescriptorKeyID key, const DescriptorValue& value) noexcept {
  Descriptor* desc = findDescriptor(d);
  if (!desc) return paramErr;
  try {
    desc->put(key, value);
    return noErr;
  } catch (...) {
    return memFullErr;
  }
}

OSErr VELTRANE_HOSTAPI_CDECL adPutInteger(PIActionDescriptor d, DescriptorKeyID key, std::int32_t value) noexcept {
  return adPut(d, key, DescriptorValue::ofInteger(value));
}

OSErr VELTRANE_HOSTAPI_CDECL adPutFloat(PIActionDescriptor d, DescriptorKeyID key, double value) noexcept {
  return adPut(d, key, DescriptorValue::ofFloat(value));
}

OSErr VELTRANE_HOSTAPI_CDECL adPutBoolean(PIActionDescriptor d, DescriptorKeyID key, Boolean value) noexcept {
  return adPut(d, key, DescriptorValue::ofBoolean(value != 0));
}

// Looks a key up for a typed read: missing key or wrong type is an error.
OSErr adLookup(PIActionDescriptor d, DescriptorKeyID key, DescriptorValue::Type type, const void* out,
               const DescriptorValue** found) noexcept {
  const Descriptor* desc = findDescriptor(d);
  if (!desc || !out) return paramErr;
  *found = desc->find(key);
  if (!*found) return errMissingParameter;
  return (*found)->type == type ? noErr : paramErr;
}

OSErr VELTRANE_HOSTAPI_CDECL adGetInteger(PIActionDescriptor d, DescriptorKeyID key, std::int32_t* value) noexcept {
  const DescriptorValue* v = nullptr;
  const OSErr err = adLookup(d, key, DescriptorValue::Type::integer, value, &v);
  if (err == noErr) *value = v->integer;
  return err;
}

OSErr VELTRANE_HOSTAPI_CDECL adGetFloat(PIActionDescriptor d, DescriptorKeyID key, double* value) noexcept {
  const DescriptorValue* v = nullptr;
  const OSErr err = adLookup(d, key, DescriptorValue::Type::floating, value, &v);
  if (err == noErr) *value = v->floating;
  return err;
}

OSErr VELTRANE_HOSTAPI_CDECL adGetBoolean(PIActionDescriptor d, DescriptorKeyID key, Boolean* value) noexcept {
  const DescriptorValue* v = nullptr;
  const OSErr err = adLookup(d, key, DescriptorValue::Type::boolean, value, &v);
  if (err == noErr) *value = v->boolean ? 1 : 0;
  return err;
}

template <typename... Args>
OSErr VELTRANE_HOSTAPI_CDECL adUnsupported(Args...) noexcept {
  return errPlugInHostInsufficient;
}

// The routines past GetBoolean are declared without signatures: a routine
// that takes no arguments may be called with any under the C convention.
OSErr VELTRANE_HOSTAPI_CDECL adLaterRoutine() noexcept { return errPlugInHostInsufficient; }

ActionDescriptorSuite makeActionDescriptorSuite() noexcept {
  ActionDescriptorSuite s{};
  s.Make = &adMake;
  s.Free = &adFree;
  s.GetType = &adGetType;
  s.GetKey = &adGetKey;
  s.HasKey = &adHasKey;
  s.GetCount = &adGetCount;
  s.IsEqual = &adIsEqual;
  s.Erase = &adErase;
  s.Clear = &adClear;
  s.PutInteger = &adPutInteger;
  s.PutFloat = &adPutFloat;
  s.PutUnitFloat = &adUnsupported<PIActionDescriptor, DescriptorKeyID, DescriptorUnitID, double>;
  s.PutString = &adUnsupported<PIActionDescriptor, DescriptorKeyID, const char*>;
  s.PutBoolean = &adPutBoolean;
  s.PutList = &adUnsupported<PIActionDescriptor, DescriptorKeyID, PIActionList>;
  s.PutObject = &adUnsupported<PIActionDescriptor, DescriptorKeyID, DescriptorClassID, PIActionDescriptor>;
  s.PutGlobalObject = &adUnsupported<PIActionDescriptor, DescriptorKeyID, DescriptorClassID, PIActionDescriptor>;
  s.PutEnumerated = &adUnsupported<PIActionDescriptor, DescriptorKeyID, DescriptorEnumTypeID, DescriptorEnumID>;
  s.PutReference = &adUnsupported<PIActionDescriptor, DescriptorKeyID, PIActionReference>;
  s.PutClass = &adUnsupported<PIActionDescriptor, DescriptorKeyID, DescriptorClassID>;
  s.PutGlobalClass = &adUnsupported<PIActionDescriptor, DescriptorKeyID, DescriptorClassID>;
  s.PutAlias = &adUnsupported<PIActionDescriptor, DescriptorKeyID, Handle>;
  s.GetInteger = &adGetInteger;
  s.GetFloat = &adGetFloat;
  s.GetUnitFloat = &adUnsupported<PIActionDescriptor, DescriptorKeyID, DescriptorUnitID*, double*>;
  s.GetStringLength = &adUnsupported<PIActionDescriptor, DescriptorKeyID, std::uint32_t*>;
  s.GetString = &adUnsupported<PIActionDescriptor, DescriptorKeyID, char*, std::uint32_t>;
  s.GetBoolean = &adGetBoolean;
  for (void*& slot : s.laterRoutines) slot = reinterpret_cast<void*>(&adLaterRoutine);
  return s;
}

const ActionDescriptorSuite actionDescriptorSuite = makeActionDescriptorSuite();

// ---- descriptor registry -------------------------------------------------------

OSErr VELTRANE_HOSTAPI_CDECL regRegister(const char* key, PIActionDescriptor descriptor,
                                         Boolean /*isPersistent*/) noexcept {
  HostState* host = currentHost();
  if (!host || !key) return paramErr;
  const Descriptor* d = findDescriptor(descriptor);
  if (!d) return paramErr;
  try {
    host->registry->entries[key] = *d;
    return noErr;
  } catch (...) {
    return memFullErr;
  }
}

OSErr VELTRANE_HOSTAPI_CDECL regErase(const char* key) noexcept {
  HostState* host = currentHost();
  if (!host || !key) return paramErr;
  try {
    host->registry->entries.erase(key);
    return noErr;
  } catch (...) {
    return memFullErr;
  }
}

OSErr VELTRANE_HOSTAPI_CDECL regGet(const char* key, PIActionDescriptor* descriptor) noexcept {
  if (descriptor) *descriptor = nullptr;
  HostState* host = currentHost();
  if (!host || !key || !descriptor) return paramErr;
  try {
    const auto it = host->registry->entries.find(key);
    if (it == host->registry->entries.end()) return noErr;  // success, and no descriptor
    return makeDescriptor(host, it->second, descriptor);
  } catch (...) {
    return memFullErr;
  }
}

const DescriptorRegistrySuite registrySuite{&regRegister, &regErase, &regGet};

// ---- basic suite -----------------------------------------------------------------

SPErr VELTRANE_HOSTAPI_CDECL spAcquire(const char* name, std::int32_t version, const void** suite) noexcept {
  if (suite) *suite = nullptr;
  HostState* host = currentHost();
  if (!host || !suite) return spBadParameter;
  if (sameName(name, descriptorRegistrySuiteName) && version == descriptorRegistrySuiteVersion)
    *suite = &registrySuite;
  else if (sameName(name, actionDescriptorSuiteName) && version == actionDescriptorSuiteVersion)
    *suite = &actionDescriptorSuite;
  else
    return spSuiteNotFound;
  ++host->stats.suitesAcquired;
  return spNoError;
}

SPErr VELTRANE_HOSTAPI_CDECL spRelease(const char* name, std::int32_t version) noexcept {
  HostState* host = currentHost();
  if (!host) return spBadParameter;
  const bool known = (sameName(name, descriptorRegistrySuiteName) && version == descriptorRegistrySuiteVersion) ||
                     (sameName(name, actionDescriptorSuiteName) && version == actionDescriptorSuiteVersion);
  if (!known) return spSuiteNotFound;
  ++host->stats.suitesReleased;
  return spNoError;
}

SPBoolean VELTRANE_HOSTAPI_CDECL spIsEqual(const char* a, const char* b) noexcept { return sameName(a, b) ? 1 : 0; }

SPErr VELTRANE_HOSTAPI_CDECL spAllocateBlock(std::size_t size, void** block) noexcept {
  if (!block) return spBadParameter;
  *block = std::malloc(size > 0 ? size : 1);
  return *block ? spNoError : spOutOfMemory;
}

SPErr VELTRANE_HOSTAPI_CDECL spFreeBlock(void* block) noexcept {
  std::free(block);
  return spNoError;
}

SPErr VELTRANE_HOSTAPI_CDECL spReallocateBlock(void* block, std::size_t newSize, void** newBlock) noexcept {
  if (!newBlock) return spBadParameter;
  void* p = std::realloc(block, newSize > 0 ? newSize : 1);
  if (!p) return spOutOfMemory;  // the old block stays valid
  *newBlock = p;
  return spNoError;
}

SPErr VELTRANE_HOSTAPI_CDECL spUndefined() noexcept { return spUnimplemented; }

}  // namespace

void fillBasicSuite(SPBasicSuite& basic) noexcept {
  basic.AcquireSuite = &spAcquire;
  basic.ReleaseSuite = &spRelease;
  basic.IsEqual = &spIsEqual;
  basic.AllocateBlock = &spAllocateBlock;
  basic.FreeBlock = &spFreeBlock;
  basic.ReallocateBlock = &spReallocateBlock;
  basic.Undefined = &spUndefined;
}

}  // namespace veltrane::host::detail

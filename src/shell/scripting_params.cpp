#include "scripting_params.h"

#include <cstdint>
#include <vector>

#include "call_context.h"
#include "host_call.h"
#include "hostapi/constants.h"
#include "parameters.h"
#include "view_state.h"

namespace veltrane {
namespace {

using namespace hostapi;

// Slots whose key is 0 have no key of their own: they are neither written
// nor read, so that they cannot end a read early or overwrite each other
// under one shared key.

// The two suites of the registry, acquired for one operation and released
// on every path.
class RegistrySuites {
 public:
  explicit RegistrySuites(SPBasicSuite* basic) : basic_(basic) {
    if (!basic_ || !basic_->AcquireSuite || !basic_->ReleaseSuite) return;
    const void* p = nullptr;
    if (basic_->AcquireSuite(descriptorRegistrySuiteName, descriptorRegistrySuiteVersion, &p) == 0 && p)
      registry = static_cast<const DescriptorRegistrySuite*>(p);
    p = nullptr;
    if (basic_->AcquireSuite(actionDescriptorSuiteName, actionDescriptorSuiteVersion, &p) == 0 && p)
      descriptors = static_cast<const ActionDescriptorSuite*>(p);
  }
  ~RegistrySuites() {
    if (registry) basic_->ReleaseSuite(descriptorRegistrySuiteName, descriptorRegistrySuiteVersion);
    if (descriptors) basic_->ReleaseSuite(actionDescriptorSuiteName, actionDescriptorSuiteVersion);
  }
  RegistrySuites(const RegistrySuites&) = delete;
  RegistrySuites& operator=(const RegistrySuites&) = delete;

  bool usable() const {
    return registry && descriptors && registry->Register && registry->Get && descriptors->Make &&
           descriptors->Free && descriptors->PutFloat && descriptors->PutBoolean &&
           descriptors->PutInteger && descriptors->GetFloat && descriptors->GetBoolean &&
           descriptors->GetInteger;
  }

  const DescriptorRegistrySuite* registry = nullptr;
  const ActionDescriptorSuite* descriptors = nullptr;

 private:
  SPBasicSuite* basic_;
};

bool readSucceeded(OSErr err) { return err == veltrane::noErr || err == coercedParamErr; }

}  // namespace

ResultCode readRegistry() {
  SPBasicSuite* basic = basicSuite();
  FilterParameters* p = callContext().parameters;
  if (!basic) return errPlugInHostInsufficient;
  if (!p) return badParameters;
  RegistrySuites suites(basic);
  if (!suites.usable()) return errPlugInHostInsufficient;

  const Deliverable& d = activeDeliverable();
  PIActionDescriptor descriptor = nullptr;
  OSErr err = suites.registry->Get(d.registryId, &descriptor);
  if (err != veltrane::noErr || !descriptor) {
    if (descriptor) suites.descriptors->Free(descriptor);
    return err;
  }

  bool ok = true;
  for (std::size_t i = 0; ok && i < realSlotCount; ++i) {
    const std::uint32_t key = d.realKeys[i].key;
    if (key == 0) continue;
    double v = 0.0;
    err = suites.descriptors->GetFloat(descriptor, key, &v);
    if ((ok = readSucceeded(err))) storeReal(*p, i, v);
  }
  for (std::size_t i = 0; ok && i < flagSlotCount; ++i) {
    const std::uint32_t key = d.flagKeys[i].key;
    if (key == 0) continue;
    Boolean v = 0;
    err = suites.descriptors->GetBoolean(descriptor, key, &v);
    if ((ok = readSucceeded(err))) p->flags[i] = v ? 1 : 0;
  }
  ViewState& view = viewState();
  for (std::size_t i = 0; ok && i < viewStateKeyCount; ++i) {
    std::int32_t v = 0;
    err = suites.descriptors->GetInteger(descriptor, viewStateKeys[i], &v);
    if ((ok = readSucceeded(err))) setViewStateValue(view, i, v);
  }
  suites.descriptors->Free(descriptor);
  return ok ? veltrane::noErr : err;
}

ResultCode writeRegistry() {
  SPBasicSuite* basic = basicSuite();
  const FilterParameters* p = callContext().parameters;
  if (!basic) return errPlugInHostInsufficient;
  if (!p) return badParameters;
  RegistrySuites suites(basic);
  if (!suites.usable()) return errPlugInHostInsufficient;

  const Deliverable& d = activeDeliverable();
  PIActionDescriptor descriptor = nullptr;
  OSErr err = suites.descriptors->Make(&descriptor);
  if (err != veltrane::noErr || !descriptor) return err != veltrane::noErr ? err : outOfMemory;

  for (std::size_t i = 0; err == veltrane::noErr && i < realSlotCount; ++i)
    if (d.realKeys[i].key != 0) err = suites.descriptors->PutFloat(descriptor, d.realKeys[i].key, p->reals[i]);
  for (std::size_t i = 0; err == veltrane::noErr && i < flagSlotCount; ++i)
    if (d.flagKeys[i].key != 0)
      err = suites.descriptors->PutBoolean(descriptor, d.flagKeys[i].key, p->flags[i] ? 1 : 0);
  const ViewState& view = viewState();
  for (std::size_t i = 0; err == veltrane::noErr && i < viewStateKeyCount; ++i)
    err = suites.descriptors->PutInteger(descriptor, viewStateKeys[i], viewStateValue(view, i));
  if (err == veltrane::noErr) err = suites.registry->Register(d.registryId, descriptor, 1);
  suites.descriptors->Free(descriptor);
  return err;
}

ResultCode readScriptParams(bool& displayDialog) {
  CallContext& c = callContext();
  if (c.showDialogFlag) displayDialog = *c.showDialogFlag != 0;
  FilterRecord* r = filterRecord();
  PIDescriptorParameters* dp = r ? r->descriptorParameters : nullptr;
  if (!dp || !dp->readDescriptorProcs || !dp->descriptor || !c.parameters) return veltrane::noErr;
  const ReadDescriptorProcs* rp = dp->readDescriptorProcs;
  if (!rp->openReadDescriptorProc || !rp->closeReadDescriptorProc || !rp->getKeyProc ||
      !rp->getFloatProc || !rp->getBooleanProc)
    return veltrane::noErr;

  const Deliverable& d = activeDeliverable();
  // The host marks the keys it hands out in this list, so it is rebuilt for
  // every read and stays alive until the reader is closed.
  std::vector<DescriptorKeyID> keys;
  for (std::size_t i = 0; i < realSlotCount; ++i)
    if (d.realKeys[i].key) keys.push_back(d.realKeys[i].key);
  for (std::size_t i = 0; i < flagSlotCount; ++i)
    if (d.flagKeys[i].key) keys.push_back(d.flagKeys[i].key);
  for (std::size_t i = 0; i <= view::dialogHeight; ++i) keys.push_back(viewStateKeys[i]);
  keys.push_back(0);

  ResultCode code = veltrane::noErr;
  if (PIReadDescriptor reader = rp->openReadDescriptorProc(dp->descriptor, keys.data())) {
    DescriptorKeyID key = 0;
    DescriptorTypeID type = 0;
    std::int32_t flags = 0;
    bool ok = true;
    while (ok && rp->getKeyProc(reader, &key, &type, &flags)) {
      if (key == 0) continue;
      for (std::size_t i = 0; ok && i < realSlotCount; ++i) {
        if (d.realKeys[i].key != key) continue;
        double v = 0.0;
        if ((ok = readSucceeded(rp->getFloatProc(reader, &v)))) storeReal(*c.parameters, i, v);
        break;
      }
      for (std::size_t i = 0; ok && i < flagSlotCount; ++i) {
        if (d.flagKeys[i].key != key) continue;
        Boolean v = 0;
        if ((ok = readSucceeded(rp->getBooleanProc(reader, &v)))) c.parameters->flags[i] = v ? 1 : 0;
        break;
      }
    }
    code = rp->closeReadDescriptorProc(reader);
  }
  if (const HandleProcs* h = handleSuite()) h->disposeProc(dp->descriptor);
  dp->descriptor = nullptr;
  displayDialog = dp->playInfo == plugInDialogDisplay;
  return code;
}

ResultCode writeScriptParams() {
  const CallContext& c = callContext();
  FilterRecord* r = filterRecord();
  PIDescriptorParameters* dp = r ? r->descriptorParameters : nullptr;
  if (!dp || !dp->writeDescriptorProcs || !c.parameters) return veltrane::noErr;
  const WriteDescriptorProcs* wp = dp->writeDescriptorProcs;
  if (!wp->openWriteDescriptorProc || !wp->closeWriteDescriptorProc || !wp->putFloatProc ||
      !wp->putBooleanProc || !wp->putIntegerProc)
    return veltrane::noErr;
  PIWriteDescriptor writer = wp->openWriteDescriptorProc();
  if (!writer) return missingParameter;

  const Deliverable& d = activeDeliverable();
  for (std::size_t i = 0; i < realSlotCount; ++i) {
    const double v = c.parameters->reals[i];
    if (d.realKeys[i].key) wp->putFloatProc(writer, d.realKeys[i].key, &v);
  }
  for (std::size_t i = 0; i < flagSlotCount; ++i)
    if (d.flagKeys[i].key) wp->putBooleanProc(writer, d.flagKeys[i].key, c.parameters->flags[i] ? 1 : 0);
  const ViewState& view = viewState();
  for (std::size_t i : {view::zoom, view::panOffsetH, view::panOffsetV, view::panFullH, view::panFullV,
                        view::storedWidth, view::storedHeight, view::zoomFactor, view::showAdvanced})
    wp->putIntegerProc(writer, viewStateKeys[i], viewStateValue(view, i));

  if (dp->descriptor) {
    if (const HandleProcs* h = handleSuite()) h->disposeProc(dp->descriptor);
    dp->descriptor = nullptr;
  }
  PIDescriptorHandle fresh = nullptr;
  const ResultCode code = wp->closeWriteDescriptorProc(writer, &fresh);
  dp->descriptor = fresh;
  dp->recordInfo = plugInDialogOptional;
  return code;
}

}  // namespace veltrane

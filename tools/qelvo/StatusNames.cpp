#include "tools/qelvo/StatusNames.h"

#include "platform/ComponentLoader.h"

namespace {

struct Named {
  OSStatus status;
  const char* name;
};

constexpr Named kNames[] = {
    {noErr, "noErr"},
    {kAudioUnitErr_InvalidProperty, "kAudioUnitErr_InvalidProperty"},
    {kAudioUnitErr_InvalidParameter, "kAudioUnitErr_InvalidParameter"},
    {kAudioUnitErr_InvalidElement, "kAudioUnitErr_InvalidElement"},
    {kAudioUnitErr_NoConnection, "kAudioUnitErr_NoConnection"},
    {kAudioUnitErr_FailedInitialization, "kAudioUnitErr_FailedInitialization"},
    {kAudioUnitErr_TooManyFramesToProcess, "kAudioUnitErr_TooManyFramesToProcess"},
    {kAudioUnitErr_FormatNotSupported, "kAudioUnitErr_FormatNotSupported"},
    {kAudioUnitErr_Uninitialized, "kAudioUnitErr_Uninitialized"},
    {kAudioUnitErr_InvalidScope, "kAudioUnitErr_InvalidScope"},
    {kAudioUnitErr_PropertyNotWritable, "kAudioUnitErr_PropertyNotWritable"},
    {kAudioUnitErr_InvalidPropertyValue, "kAudioUnitErr_InvalidPropertyValue"},
    {kAudioUnitErr_Initialized, "kAudioUnitErr_Initialized"},
    {paramErr, "paramErr"},
    {fnfErr, "fnfErr"},
    {memFullErr, "memFullErr"},
    {badComponentSelector, "badComponentSelector"},
    {badComponentInstance, "badComponentInstance"},
    {invalidComponentID, "invalidComponentID"},
    {kQelvoErr_ComponentLoadFailed, "kQelvoErr_ComponentLoadFailed"},
    {kQelvoErr_UnitBusy, "kQelvoErr_UnitBusy"},
};

}  // namespace

std::string StatusName(OSStatus status) {
  for (const Named& n : kNames)
    if (n.status == status) return std::string(n.name) + " (" + std::to_string(status) + ")";
  return "status " + std::to_string(status);
}

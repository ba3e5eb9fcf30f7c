// Forwarding of calls into other units to the installed table.
#include <atomic>

#include "platform/ComponentSeam.h"

namespace {
// Read on the render thread: an atomic pointer, so reading never waits.
std::atomic<const AudioUnitHostOps*> sHostOps{nullptr};
}  // namespace

const AudioUnitHostOps* SetAudioUnitHostOps(const AudioUnitHostOps* inOps) {
  return sHostOps.exchange(inOps, std::memory_order_acq_rel);
}

const AudioUnitHostOps* GetAudioUnitHostOps() { return sHostOps.load(std::memory_order_acquire); }

OSStatus AudioUnitGetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, void* outData, UInt32* ioDataSize) {
  const AudioUnitHostOps* ops = GetAudioUnitHostOps();
  if (ops == nullptr || ops->getProperty == nullptr || inUnit == nullptr) return paramErr;
  return ops->getProperty(inUnit, inID, inScope, inElement, outData, ioDataSize);
}

OSStatus AudioUnitRender(AudioUnit inUnit, AudioUnitRenderActionFlags* ioActionFlags,
                         const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                         UInt32 inNumberFrames, AudioBufferList* ioData) {
  const AudioUnitHostOps* ops = GetAudioUnitHostOps();
  if (ops == nullptr || ops->render == nullptr || inUnit == nullptr) return paramErr;
  return ops->render(inUnit, ioActionFlags, inTimeStamp, inOutputBusNumber, inNumberFrames,
                     ioData);
}

void* GetComponentInstanceStorage(ComponentInstance inInstance) {
  const AudioUnitHostOps* ops = GetAudioUnitHostOps();
  if (ops == nullptr || ops->getInstanceStorage == nullptr || inInstance == nullptr) return nullptr;
  return ops->getInstanceStorage(inInstance);
}

OSStatus SetComponentInstanceStorage(ComponentInstance inInstance, void* inStorage) {
  const AudioUnitHostOps* ops = GetAudioUnitHostOps();
  if (ops == nullptr || ops->setInstanceStorage == nullptr || inInstance == nullptr)
    return paramErr;
  return ops->setInstanceStorage(inInstance, inStorage);
}

OSErr GetComponentInfo(ComponentInstance inInstance, ComponentDescription* outDesc) {
  const AudioUnitHostOps* ops = GetAudioUnitHostOps();
  if (ops == nullptr || ops->getComponentInfo == nullptr || inInstance == nullptr ||
      outDesc == nullptr)
    return paramErr;
  return ops->getComponentInfo(inInstance, outDesc);
}

// The audio-unit selectors of the component entry: unpack each selector's
// arguments and call the unit. Failures thrown below pass through to the
// entry point, which turns them into statuses.
#include <cstring>
#include <memory>

#include "framework/AUBase.h"
#include "framework/ComponentArguments.h"

namespace {
// Selectors answered 1 by the capability query in every API version, and
// those answered 1 only from the second generation on (bit n: selector n).
constexpr UInt32 kAlwaysSupportedSelectors = 0x40EFE;  // 1-7, 9-11, 18
constexpr UInt32 kSecondGenerationSelectors = 0x3C000;  // 14-17

bool InMask(UInt32 selector, UInt32 mask) { return selector < 32 && ((mask >> selector) & 1u); }

OSStatus GetPropertyForHost(AUBase& unit, const ComponentArguments& args) {
  const auto inID = args.Get<AudioUnitPropertyID>(0);
  const auto inScope = args.Get<AudioUnitScope>(1);
  const auto inElement = args.Get<AudioUnitElement>(2);
  void* outData = args.Get<void*>(3);
  auto* ioDataSize = args.Get<UInt32*>(4);

  if (ioDataSize == nullptr) return paramErr;

  UInt32 actualSize = 0;
  Boolean writable = false;
  if (outData == nullptr) {
    // Size query only.
    const OSStatus result = unit.DispatchGetPropertyInfo(inID, inScope, inElement, actualSize,
                                                         writable);
    *ioDataSize = actualSize;
    return result;
  }

  const UInt32 callerSize = *ioDataSize;
  if (callerSize == 0) return paramErr;

  OSStatus result = unit.DispatchGetPropertyInfo(inID, inScope, inElement, actualSize, writable);
  if (result != noErr) return result;

  // A caller's buffer smaller than the value gets the value's first bytes
  // through a buffer of full size, so the unit never writes past the
  // caller's. Zeroed: a handler reading input from the buffer sees no
  // stale bytes.
  std::unique_ptr<Byte[]> temp;
  void* target = outData;
  if (callerSize < actualSize) {
    temp.reset(new Byte[actualSize]());
    target = temp.get();
  }

  result = unit.DispatchGetProperty(inID, inScope, inElement, target);
  if (result != noErr) {
    *ioDataSize = 0;
  } else if (temp) {
    std::memcpy(outData, temp.get(), callerSize);
  } else {
    *ioDataSize = actualSize;
  }
  return result;
}
}  // namespace

OSStatus AUBase::ComponentEntryDispatch(ComponentParameters* params, AUBase* This) {
  if (params == nullptr || This == nullptr) return paramErr;

  switch (params->what) {
    case kAudioUnitInitializeSelect:
      return This->DoInitialize();

    case kAudioUnitUninitializeSelect: {
      // Takes down what renders use: no render may run meanwhile.
      AUCallScope control(This->mControlOwner);
      AUCallScope render(This->mRenderOwner);
      if (!control.Entered() || !render.Entered()) return kQelvoErr_UnitBusy;
      This->DoCleanup();
      return noErr;
    }

    case kAudioUnitGetPropertyInfoSelect: {
      const ComponentArguments args(*params, 5);
      if (!args.Complete()) return paramErr;
      auto* outDataSize = args.Get<UInt32*>(3);
      auto* outWritable = args.Get<Boolean*>(4);
      UInt32 dataSize = 0;
      Boolean writable = false;
      const OSStatus result =
          This->DispatchGetPropertyInfo(args.Get<AudioUnitPropertyID>(0),
                                        args.Get<AudioUnitScope>(1),
                                        args.Get<AudioUnitElement>(2), dataSize, writable);
      if (outDataSize != nullptr) *outDataSize = dataSize;
      if (outWritable != nullptr) *outWritable = writable;
      return result;
    }

    case kAudioUnitGetPropertySelect: {
      const ComponentArguments args(*params, 5);
      if (!args.Complete()) return paramErr;
      // The size query and the read inside stay one control call, so the
      // value cannot grow between them.
      AUCallScope control(This->mControlOwner);
      if (!control.Entered()) return kQelvoErr_UnitBusy;
      return GetPropertyForHost(*This, args);
    }

    case kAudioUnitSetPropertySelect: {
      const ComponentArguments args(*params, 5);
      if (!args.Complete()) return paramErr;
      const auto inID = args.Get<AudioUnitPropertyID>(0);
      const auto inScope = args.Get<AudioUnitScope>(1);
      const auto inElement = args.Get<AudioUnitElement>(2);
      const void* inData = args.Get<const void*>(3);
      const auto inDataSize = args.Get<UInt32>(4);
      if (inData != nullptr && inDataSize != 0)
        return This->DispatchSetProperty(inID, inScope, inElement, inData, inDataSize);
      if (inData == nullptr && inDataSize == 0)
        return This->DispatchRemovePropertyValue(inID, inScope, inElement);
      return paramErr;
    }

    case kAudioUnitGetParameterSelect: {
      const ComponentArguments args(*params, 4);
      if (!args.Complete()) return paramErr;
      auto* outValue = args.Get<AudioUnitParameterValue*>(3);
      if (outValue == nullptr) return paramErr;
      return This->GetParameter(args.Get<AudioUnitParameterID>(0), args.Get<AudioUnitScope>(1),
                                args.Get<AudioUnitElement>(2), *outValue);
    }

    case kAudioUnitSetParameterSelect: {
      const ComponentArguments args(*params, 5);
      if (!args.Complete()) return paramErr;
      return This->SetParameter(args.Get<AudioUnitParameterID>(0), args.Get<AudioUnitScope>(1),
                                args.Get<AudioUnitElement>(2),
                                args.Get<AudioUnitParameterValue>(3), args.Get<UInt32>(4));
    }

    case kAudioUnitResetSelect: {
      const ComponentArguments args(*params, 2);
      if (!args.Complete()) return paramErr;
      AUCallScope control(This->mControlOwner);
      if (!control.Entered()) return kQelvoErr_UnitBusy;
      This->mLastRenderedSampleTime = kNoLastRenderedSampleTime;
      return This->Reset(args.Get<AudioUnitScope>(0), args.Get<AudioUnitElement>(1));
    }

    case kAudioUnitAddPropertyListenerSelect: {
      const ComponentArguments args(*params, 3);
      if (!args.Complete()) return paramErr;
      return This->AddPropertyListener(args.Get<AudioUnitPropertyID>(0),
                                       args.Get<AudioUnitPropertyListenerProc>(1),
                                       args.Get<void*>(2));
    }

    case kAudioUnitRemovePropertyListenerSelect: {
      const ComponentArguments args(*params, 2);
      if (!args.Complete()) return paramErr;
      return This->RemovePropertyListener(args.Get<AudioUnitPropertyID>(0),
                                          args.Get<AudioUnitPropertyListenerProc>(1), nullptr,
                                          false);
    }

    case kAudioUnitRemovePropertyListenerWithUserDataSelect: {
      const ComponentArguments args(*params, 3);
      if (!args.Complete()) return paramErr;
      return This->RemovePropertyListener(args.Get<AudioUnitPropertyID>(0),
                                          args.Get<AudioUnitPropertyListenerProc>(1),
                                          args.Get<void*>(2), true);
    }

    case kAudioUnitRenderSelect: {
      const ComponentArguments args(*params, 5);
      if (!args.Complete()) return paramErr;
      auto* ioActionFlags = args.Get<AudioUnitRenderActionFlags*>(0);
      const auto* inTimeStamp = args.Get<const AudioTimeStamp*>(1);
      auto* ioData = args.Get<AudioBufferList*>(4);
      if (inTimeStamp == nullptr || ioData == nullptr) return paramErr;
      AudioUnitRenderActionFlags localFlags = 0;
      return This->DoRender(ioActionFlags != nullptr ? *ioActionFlags : localFlags, *inTimeStamp,
                            args.Get<UInt32>(2), args.Get<UInt32>(3), *ioData);
    }

    case kAudioUnitAddRenderNotifySelect:
    case kAudioUnitRemoveRenderNotifySelect: {
      const ComponentArguments args(*params, 2);
      if (!args.Complete()) return paramErr;
      const auto inProc = args.Get<AURenderCallback>(0);
      void* inRefCon = args.Get<void*>(1);
      return params->what == kAudioUnitAddRenderNotifySelect
                 ? This->SetRenderNotification(inProc, inRefCon)
                 : This->RemoveRenderNotification(inProc, inRefCon);
    }

    case kAudioUnitScheduleParametersSelect: {
      if (This->AudioUnitAPIVersion() < 2) return badComponentSelector;
      const ComponentArguments args(*params, 2);
      if (!args.Complete()) return paramErr;
      const auto* events = args.Get<const AudioUnitParameterEvent*>(0);
      const auto numEvents = args.Get<UInt32>(1);
      // Events promised but not given would be read from address zero.
      if (events == nullptr && numEvents != 0) return paramErr;
      return This->ScheduleParameter(events, numEvents);
    }

    case kComponentCanDoSelect: {
      const ComponentArguments args(*params, 1);
      if (!args.Complete()) return paramErr;
      const auto selector = args.Get<UInt32>(0);
      if (InMask(selector, kAlwaysSupportedSelectors)) return 1;
      if (InMask(selector, kSecondGenerationSelectors))
        return This->AudioUnitAPIVersion() >= 2 ? 1 : 0;
      return ComponentBase::ComponentEntryDispatch(params, This);
    }

    default:
      return ComponentBase::ComponentEntryDispatch(params, This);
  }
}

// The base class of every unit: one open component instance with its five
// scopes, its lifecycle, stream formats, bus memory, properties, saved state,
// render path and scheduled parameters. Subclasses override the virtual hooks.
//
// Thread contract. Every hook and call below carries a tag saying which
// thread may call it, and in which states of the unit:
//   [render]   the render side: the host's audio thread, inside a render call
//              (or scheduling parameters for the next one); never allocates,
//              locks or makes system calls;
//   [control]  the control side: a host thread outside render calls;
//   [delivery] the notification centre's delivery thread;
//   [any]      any thread, any time.
// A state after ';' narrows when: constructing (constructor to
// PostConstructor), uninitialized, initialized, closing (PreDestructor and
// destructor); without one, any state between construction and close.
// Debug builds check [render] hooks cheaply (CheckRenderSide below).
//
// Threads. A unit has two sides, each for one thread at a time:
// - render: DoRender (both render entries) and ScheduleParameter;
// - control: property reads and writes (DispatchGetPropertyInfo,
//   DispatchGetProperty, DispatchSetProperty, DispatchRemovePropertyValue),
//   DoInitialize, the uninitialize and reset selectors, property listeners,
//   and adding a parameter ID that an element does not have yet.
// A call that finds another thread inside the same side answers
// kQelvoErr_UnitBusy and changes nothing; the thread inside may call in
// again. Initializing and uninitializing also refuse while a render runs on
// another thread, and a render refuses while they run. Parameter values of
// existing IDs, render observers, and the bypass and in-place flags may be
// used from any thread at any time. Closing must not overlap any other call.
// The checks cost the render path one compare-and-swap and one store.
#pragma once

#include <pthread.h>

#include <cassert>
#include <vector>

#include "framework/AUCallOwner.h"
#include "framework/AUInputElement.h"
#include "framework/AUOutputElement.h"
#include "framework/AUPropertyListeners.h"
#include "framework/AURenderCallback.h"
#include "framework/AUScopeElement.h"
#include "framework/ComponentBase.h"
#include "framework/TThreadSafeList.h"
#include "platform/AudioTypes.h"
#include "platform/Values.h"
#include "utility/CAStreamBasicDescription.h"

class AUBase : public ComponentBase, public AUElementCreator {
 public:
  static constexpr Float64 kNoLastRenderedSampleTime = -1.0;
  static constexpr UInt32 kNumScopes = 5;
  static constexpr UInt32 kDefaultMaxFramesPerSlice = 1156;
  static constexpr size_t kReservedParameterEvents = 24;

  using RenderCallback = ::RenderCallback;
  using NotificationList = TThreadSafeList<RenderCallback>;
  using ParameterEventList = std::vector<AudioUnitParameterEvent>;

  // Keys of the saved-state dictionary; constant strings set by the first unit.
  static CFStringRef kVersionString;
  static CFStringRef kTypeString;
  static CFStringRef kSubtypeString;
  static CFStringRef kManufacturerString;
  static CFStringRef kDataString;
  static CFStringRef kNameString;
  static CFStringRef kRenderQualityString;
  static CFStringRef kCPULoadString;
  static CFStringRef kElementNameString;
  static CFStringRef kPartString;
  static CFStringRef kUntitledString;
  static bool sAUBaseCFStringsInitialized;

  // The processor's vector-unit type, recorded when the first unit is made.
  static SInt32 sVectorUnitType;

  // [control; constructing]
  AUBase(ComponentInstance inInstance, UInt32 numInputElements, UInt32 numOutputElements,
         UInt32 numGroupElements = 0, UInt32 numPartElements = 0);
  // [control; closing]
  ~AUBase() override;

  // ---- virtual hooks, in table order ------------------------------------------
  // [control; constructing] Creates the elements.
  void PostConstructor() override;
  // [control; closing] Uninitializes a unit still initialized.
  void PreDestructor() override;

  // [control; uninitialized] Through DoInitialize; no render runs meanwhile.
  virtual OSStatus Initialize();
  // [control; initialized] Through DoCleanup; no render runs meanwhile.
  virtual void Cleanup();
  // [control] The reset selector; [render] also, from the effect base, after
  // bypass was left (AUEffectBase).
  virtual OSStatus Reset(AudioUnitScope inScope, AudioUnitElement inElement);

  // [control] Properties the framework does not own; the Dispatch calls
  // below ask these.
  virtual OSStatus GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                   AudioUnitElement inElement, UInt32& outDataSize,
                                   Boolean& outWritable);
  virtual OSStatus GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                               AudioUnitElement inElement, void* outData);
  virtual OSStatus SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                               AudioUnitElement inElement, const void* inData,
                               UInt32 inDataSize);
  virtual OSStatus RemovePropertyValue(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                       AudioUnitElement inElement);

  // [control]
  virtual OSStatus AddPropertyListener(AudioUnitPropertyID inID,
                                       AudioUnitPropertyListenerProc inProc, void* inProcRefCon);
  virtual OSStatus RemovePropertyListener(AudioUnitPropertyID inID,
                                          AudioUnitPropertyListenerProc inProc,
                                          void* inProcRefCon, bool refConSpecified);

  // [any] Posted to the render-observer list; the render thread applies it.
  virtual OSStatus SetRenderNotification(AURenderCallback inProc, void* inRefCon);
  virtual OSStatus RemoveRenderNotification(AURenderCallback inProc, void* inRefCon);

  // [any]
  virtual OSStatus GetParameter(AudioUnitParameterID inID, AudioUnitScope inScope,
                                AudioUnitElement inElement, AudioUnitParameterValue& outValue);
  // A value that is not finite (NaN, an infinity) is refused with
  // kAudioUnitErr_InvalidPropertyValue and changes nothing. Finite values
  // outside the declared range are stored as given; the kernels hold cutoff
  // and resonance within their limits. [any] An ID the element does not have
  // yet is added while renders go on; that is a control change (above).
  // The group calls: [any] as well.
  virtual OSStatus SetParameter(AudioUnitParameterID inID, AudioUnitScope inScope,
                                AudioUnitElement inElement, AudioUnitParameterValue inValue,
                                UInt32 inBufferOffsetInFrames);
  virtual OSStatus SetGroupParameter(AudioUnitParameterID inID, AudioUnitElement inElement,
                                     AudioUnitParameterValue inValue,
                                     UInt32 inBufferOffsetInFrames);
  virtual OSStatus GetGroupParameter(AudioUnitParameterID inID, AudioUnitElement inElement,
                                     AudioUnitParameterValue& outValue);
  // [render] Applies the immediate events and keeps every event for the next
  // render; a ramp for an ID its element does not have yet adds the ID now,
  // so the render never has to. A batch holding a value that is not finite
  // (an immediate value or either end of a ramp) is refused whole with
  // kAudioUnitErr_InvalidPropertyValue.
  virtual OSStatus ScheduleParameter(const AudioUnitParameterEvent* inParameterEvent,
                                     UInt32 inNumEvents);

  // [render; initialized] From DoRender: one output bus, then the unit's render.
  virtual OSStatus RenderBus(AudioUnitRenderActionFlags& ioActionFlags,
                             const AudioTimeStamp& inTimeStamp, UInt32 inBusNumber,
                             UInt32 inNumberFrames);
  virtual OSStatus Render(AudioUnitRenderActionFlags& ioActionFlags,
                          const AudioTimeStamp& inTimeStamp, UInt32 inNumberFrames);

  // [control]
  virtual bool BusCountWritable(AudioUnitScope inScope);
  virtual OSStatus SetBusCount(AudioUnitScope inScope, UInt32 inCount);

  // [control] Inputs; the render thread pulls them (AUInputElement).
  virtual OSStatus SetConnection(const AudioUnitConnection& inConnection);
  virtual OSStatus SetInputCallback(UInt32 inPropertyID, AudioUnitElement inElement,
                                    AURenderCallback inProc, void* inRefCon);

  // [control] Descriptions, state, strings and presets: property requests.
  virtual OSStatus GetParameterList(AudioUnitScope inScope, AudioUnitParameterID* outParameterList,
                                    UInt32& outNumParameters);
  virtual OSStatus GetParameterInfo(AudioUnitScope inScope, AudioUnitParameterID inParameterID,
                                    AudioUnitParameterInfo& outParameterInfo);

  // [control] outData receives a new dictionary the caller owns.
  virtual OSStatus SaveState(CFPropertyListRef* outData);
  virtual OSStatus RestoreState(CFPropertyListRef inData);

  // [control] outStrings null: only say whether there are strings.
  virtual OSStatus GetParameterValueStrings(AudioUnitScope inScope,
                                            AudioUnitParameterID inParameterID,
                                            CFArrayRef* outStrings);
  // outData null: only say whether there are presets.
  virtual OSStatus GetPresets(CFArrayRef* outData) const;
  virtual OSStatus NewFactoryPresetSet(const AUPreset& inNewFactoryPreset);

  // [control]
  virtual int GetNumCustomUIComponents();
  virtual void GetUIComponentDescs(ComponentDescription* inDescArray);
  // A new reference the caller releases, or null.
  virtual CFURLRef CopyIconLocation();

  // [any] Property requests, and the effect base's silence timing on the
  // render thread: constant answers, no allocation.
  virtual Float64 GetLatency();
  virtual Float64 GetTailTime();
  // [control]
  virtual bool SupportsTail();

  // [control] Formats are judged and changed on the control side only.
  virtual bool StreamFormatWritable(AudioUnitScope inScope, AudioUnitElement inElement) = 0;
  // Returns the number of channel configurations and points outInfo at them.
  virtual UInt32 SupportedNumChannels(const AUChannelInfo** outInfo);
  virtual bool ValidFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                           const CAStreamBasicDescription& inNewFormat);
  // [any] A bus's format; the render of an initialized unit reads it too.
  virtual const CAStreamBasicDescription& GetStreamFormat(AudioUnitScope inScope,
                                                          AudioUnitElement inElement);
  // [control] A new format for a bus; announces it to the listeners.
  virtual OSStatus ChangeStreamFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                                      const CAStreamBasicDescription& inPrevFormat,
                                      const CAStreamBasicDescription& inNewFormat);

  // [control] Asked by a scope growing.
  AUElement* CreateElement(AudioUnitScope inScope, AudioUnitElement inElement) override;

  // [control] Bus memory and the slice size; no render runs while they change.
  virtual void ReallocateBuffers();
  virtual void SetMaxFramesPerSlice(UInt32 nFrames);
  virtual OSStatus CanSetMaxFrames() const;

  // [control] Tag count; writes the tags when outLayoutTags is not null.
  virtual UInt32 GetChannelLayoutTags(AudioUnitScope inScope, AudioUnitElement inElement,
                                      AudioChannelLayoutTag* outLayoutTags);
  // Byte size of the layout (0: none); writes it when outLayout is not null.
  virtual UInt32 GetAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement,
                                       AudioChannelLayout* outLayout, Boolean& outWritable);
  virtual OSStatus SetAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement,
                                         const AudioChannelLayout* inLayout);
  virtual OSStatus RemoveAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement);

  // [render; initialized] Cuts a render into slices at the scheduled events.
  virtual OSStatus ProcessForScheduledParams(ParameterEventList& inParamList,
                                             UInt32 inFramesToProcess, void* inUserData);
  virtual OSStatus ProcessScheduledSlice(void* inUserData, UInt32 inStartFrameInBuffer,
                                         UInt32 inSliceFramesToProcess,
                                         UInt32 inTotalBufferFrames);

  // ---- component entry ----------------------------------------------------------
  // [any] Audio-unit selectors; everything else goes to ComponentBase. The
  // thread is the selector's: render and schedule [render], parameters and
  // render observers [any], the rest [control].
  static OSStatus ComponentEntryDispatch(ComponentParameters* params, AUBase* This);

  // ---- lifecycle ------------------------------------------------------------------
  // [control] Refused while a render runs on another thread.
  OSStatus DoInitialize();
  void DoCleanup();
  // [any]
  bool IsInitialized() const { return mInitialized; }
  UInt8 AudioUnitAPIVersion() const { return mAudioUnitAPIVersion; }

  // ---- scopes and elements -----------------------------------------------------------
  // [any] Lookups; the elements themselves change only on the control side
  // while the unit is uninitialized, and the lookups throw for a missing one.
  AUScope& GetScope(AudioUnitScope inScope) {
    if (inScope >= kNumScopes) throw OSStatus(kAudioUnitErr_InvalidScope);
    return mScopes[inScope];
  }
  AUScope& GlobalScope() { return mScopes[kAudioUnitScope_Global]; }
  AUScope& Inputs() { return mScopes[kAudioUnitScope_Input]; }
  AUScope& Outputs() { return mScopes[kAudioUnitScope_Output]; }
  AUScope& Groups() { return mScopes[kAudioUnitScope_Group]; }
  AUScope& Parts() { return mScopes[kAudioUnitScope_Part]; }
  AUElement* Globals() { return mScopes[kAudioUnitScope_Global].GetElement(0); }

  // [any] Null for a missing element.
  AUElement* GetElement(AudioUnitScope inScope, AudioUnitElement inElement) {
    return GetScope(inScope).GetElement(inElement);
  }
  AUElement* SafeGetElement(AudioUnitScope inScope, AudioUnitElement inElement) {
    return GetScope(inScope).SafeGetElement(inElement);
  }
  AUIOElement* GetIOElement(AudioUnitScope inScope, AudioUnitElement inElement) {
    return GetScope(inScope).GetIOElement(inElement);
  }
  AUInputElement* GetInput(AudioUnitElement inElement);
  AUOutputElement* GetOutput(AudioUnitElement inElement);
  // The input exists and has a source.
  bool HasInput(AudioUnitElement inElement);

  // [control; uninitialized] For subclasses; the global scope always keeps
  // exactly one element.
  void SetNumberOfElements(AudioUnitScope inScope, UInt32 inNumElements);

  // ---- stream formats ------------------------------------------------------------
  // [any]
  bool FormatIsCanonical(const CAStreamBasicDescription& inFormat) const;
  void MakeCanonicalFormat(CAStreamBasicDescription& outFormat, int inChannels) const;
  // [control]
  bool IsStreamFormatWritable(AudioUnitScope inScope, AudioUnitElement inElement);

  // [any]
  UInt32 GetMaxFramesPerSlice() const { return mMaxFramesPerSlice; }

  // ---- property dispatch ------------------------------------------------------------
  // [control] One control thread at a time; another is refused with
  // kQelvoErr_UnitBusy.
  OSStatus DispatchGetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                   AudioUnitElement inElement, UInt32& outDataSize,
                                   Boolean& outWritable);
  OSStatus DispatchGetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                               AudioUnitElement inElement, void* outData);
  OSStatus DispatchSetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                               AudioUnitElement inElement, const void* inData,
                               UInt32 inDataSize);
  OSStatus DispatchRemovePropertyValue(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                       AudioUnitElement inElement);
  bool HasIcon();

  // [control] Tells the listeners of one property about a change, on this
  // thread; [render] for the last-render-error property, which a failed
  // render announces.
  void PropertyChanged(AudioUnitPropertyID inID, AudioUnitScope inScope,
                       AudioUnitElement inElement);

  // ---- presets --------------------------------------------------------------------
  // [control] True when the preset was made current (it needs a number and a name).
  bool SetAFactoryPresetAsCurrent(const AUPreset& inPreset);
  const AUPreset& GetCurrentPreset() const { return mCurrentPreset; }

  // ---- rendering ---------------------------------------------------------------------
  // [render; initialized] The render entries; a second thread is refused
  // with kQelvoErr_UnitBusy.
  OSStatus DoRender(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                    UInt32 inBusNumber, UInt32 inNumberFrames, AudioBufferList& ioData);
  OSStatus DoRenderBus(AudioUnitRenderActionFlags& ioActionFlags,
                       const AudioTimeStamp& inTimeStamp, UInt32 inBusNumber,
                       AUOutputElement* theOutput, UInt32 inNumberFrames,
                       AudioBufferList& ioData);
  // [render] False when this sample time was rendered last; remembers it either way.
  bool NeedsToRender(Float64 inSampleTime);
  // [render] Keeps the first failure for the last-render-error property.
  OSStatus SetRenderError(OSStatus inRenderError);
  // [control] Read between renders (the property reads).
  OSStatus GetLastRenderError() const { return mLastRenderError; }
  Float64 GetLastRenderedSampleTime() const { return mLastRenderedSampleTime; }

  // [control] The render records its thread when asked to.
  void SetWantsRenderThreadID(bool inFlag);
  bool WantsRenderThreadID() const { return mWantsRenderThreadID; }
  pthread_t GetRenderThreadID() const { return mRenderThreadID; }

  // [any] In debug builds, stops the process when a [render] hook runs while
  // another thread is inside the render side: a render call made from a
  // control thread. One relaxed load; nothing at all in release builds.
  void CheckRenderSide() const noexcept {
#ifndef NDEBUG
    assert(!mRenderOwner.HeldByOtherThread() && "a [render] hook called outside the render thread");
#endif
  }

  // [render] The events scheduled for the next render.
  ParameterEventList& GetParamEventList() { return mParamList; }
  // [any]
  static bool SortParameterEventList(const AudioUnitParameterEvent& ev1,
                                     const AudioUnitParameterEvent& ev2);

 protected:
  // [control; constructing] Creates the input, output, group and part elements once.
  void CreateElements();

  // [render] Render observers; applied and walked by the render thread only.
  NotificationList& RenderNotifications() { return mRenderCallbacks; }

  // [control; constructing] A unit of the first API generation lowers it in
  // its constructor, which withdraws the selectors and properties of the
  // second.
  void SetAudioUnitAPIVersion(UInt8 inVersion) { mAudioUnitAPIVersion = inVersion; }

 private:
  // For a ramp whose element keeps parameters by ID and lacks this one: adds
  // it as a control change, so the render never allocates for it.
  OSStatus AddRampedParameter(const AudioUnitParameterEvent& event);

  bool mElementsCreated = false;
  bool mInitialized = false;
  UInt8 mAudioUnitAPIVersion = 2;
  const UInt32 mInitNumInputEls;
  const UInt32 mInitNumOutputEls;
  const UInt32 mInitNumGroupEls;
  const UInt32 mInitNumPartEls;
  AUScope mScopes[kNumScopes];
  NotificationList mRenderCallbacks;
  pthread_t mRenderThreadID{};
  bool mWantsRenderThreadID = false;
  Float64 mLastRenderedSampleTime = kNoLastRenderedSampleTime;
  UInt32 mMaxFramesPerSlice = 0;
  OSStatus mLastRenderError = 0;
  AUPreset mCurrentPreset{-1, nullptr};
  ParameterEventList mParamList;
  AUPropertyListeners mPropertyListeners;
  HostCallbackInfo mHostCallbackInfo{};
  CFStringRef mContextName = nullptr;
  bool mBuffersAllocated = false;
  // Which thread is inside each side (see the top of this file).
  AUCallOwner mRenderOwner;
  AUCallOwner mControlOwner;
};

// [control] Stores a signed 32-bit number under a key of a saved-state dictionary.
void AddNumToDictionary(CFMutableDictionaryRef dict, CFStringRef key, SInt32 value);

// The base class of every unit: one open component instance with its five
// scopes, its lifecycle, stream formats, bus memory, properties, saved state,
// render path and scheduled parameters. Subclasses override the virtual hooks.
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

  AUBase(ComponentInstance inInstance, UInt32 numInputElements, UInt32 numOutputElements,
         UInt32 numGroupElements = 0, UInt32 numPartElements = 0);
  ~AUBase() override;

  // ---- virtual hooks, in table order ------------------------------------------
  void PostConstructor() override;
  void PreDestructor() override;

  virtual OSStatus Initialize();
  virtual void Cleanup();
  virtual OSStatus Reset(AudioUnitScope inScope, AudioUnitElement inElement);

  // Properties the framework does not own.
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

  virtual OSStatus AddPropertyListener(AudioUnitPropertyID inID,
                                       AudioUnitPropertyListenerProc inProc, void* inProcRefCon);
  virtual OSStatus RemovePropertyListener(AudioUnitPropertyID inID,
                                          AudioUnitPropertyListenerProc inProc,
                                          void* inProcRefCon, bool refConSpecified);

  virtual OSStatus SetRenderNotification(AURenderCallback inProc, void* inRefCon);
  virtual OSStatus RemoveRenderNotification(AURenderCallback inProc, void* inRefCon);

  virtual OSStatus GetParameter(AudioUnitParameterID inID, AudioUnitScope inScope,
                                AudioUnitElement inElement, AudioUnitParameterValue& outValue);
  // A value that is not finite (NaN, an infinity) is refused with
  // kAudioUnitErr_InvalidPropertyValue and changes nothing. Finite values
  // outside the declared range are stored as given; the kernels hold cutoff
  // and resonance within their limits. [any] An ID the element does not have
  // yet is added while renders go on; that is a control change (above).
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

  virtual OSStatus RenderBus(AudioUnitRenderActionFlags& ioActionFlags,
                             const AudioTimeStamp& inTimeStamp, UInt32 inBusNumber,
                             UInt32 inNumberFrames);
  virtual OSStatus Render(AudioUnitRenderActionFlags& ioActionFlags,
                          const AudioTimeStamp& inTimeStamp, UInt32 inNumberFrames);

  virtual bool BusCountWritable(AudioUnitScope inScope);
  virtual OSStatus SetBusCount(AudioUnitScope inScope, UInt32 inCount);

  virtual OSStatus SetConnection(const AudioUnitConnection& inConnection);
  virtual OSStatus SetInputCallback(UInt32 inPropertyID, AudioUnitElement inElement,
                                    AURenderCallback inProc, void* inRefCon);

  virtual OSStatus GetParameterList(AudioUnitScope inScope, AudioUnitParameterID* outParameterList,
                                    UInt32& outNumParameters);
  virtual OSStatus GetParameterInfo(AudioUnitScope inScope, AudioUnitParameterID inParameterID,
                                    AudioUnitParameterInfo& outParameterInfo);

  // outData receives a new dictionary the caller owns.
  virtual OSStatus SaveState(CFPropertyListRef* outData);
  virtual OSStatus RestoreState(CFPropertyListRef inData);

  // outStrings null: only say whether there are strings.
  virtual OSStatus GetParameterValueStrings(AudioUnitScope inScope,
                                            AudioUnitParameterID inParameterID,
                                            CFArrayRef* outStrings);
  // outData null: only say whether there are presets.
  virtual OSStatus GetPresets(CFArrayRef* outData) const;
  virtual OSStatus NewFactoryPresetSet(const AUPreset& inNewFactoryPreset);

  virtual int GetNumCustomUIComponents();
  virtual void GetUIComponentDescs(ComponentDescription* inDescArray);
  // A new reference the caller releases, or null.
  virtual CFURLRef CopyIconLocation();

  virtual Float64 GetLatency();
  virtual Float64 GetTailTime();
  virtual bool SupportsTail();

  virtual bool StreamFormatWritable(AudioUnitScope inScope, AudioUnitElement inElement) = 0;
  // Returns the number of channel configurations and points outInfo at them.
  virtual UInt32 SupportedNumChannels(const AUChannelInfo** outInfo);
  virtual bool ValidFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                           const CAStreamBasicDescription& inNewFormat);
  virtual const CAStreamBasicDescription& GetStreamFormat(AudioUnitScope inScope,
                                                          AudioUnitElement inElement);
  virtual OSStatus ChangeStreamFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                                      const CAStreamBasicDescription& inPrevFormat,
                                      const CAStreamBasicDescription& inNewFormat);

  AUElement* CreateElement(AudioUnitScope inScope, AudioUnitElement inElement) override;

  virtual void ReallocateBuffers();
  virtual void SetMaxFramesPerSlice(UInt32 nFrames);
  virtual OSStatus CanSetMaxFrames() const;

  // Tag count; writes the tags when outLayoutTags is not null.
  virtual UInt32 GetChannelLayoutTags(AudioUnitScope inScope, AudioUnitElement inElement,
                                      AudioChannelLayoutTag* outLayoutTags);
  // Byte size of the layout (0: none); writes it when outLayout is not null.
  virtual UInt32 GetAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement,
                                       AudioChannelLayout* outLayout, Boolean& outWritable);
  virtual OSStatus SetAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement,
                                         const AudioChannelLayout* inLayout);
  virtual OSStatus RemoveAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement);

  virtual OSStatus ProcessForScheduledParams(ParameterEventList& inParamList,
                                             UInt32 inFramesToProcess, void* inUserData);
  virtual OSStatus ProcessScheduledSlice(void* inUserData, UInt32 inStartFrameInBuffer,
                                         UInt32 inSliceFramesToProcess,
                                         UInt32 inTotalBufferFrames);

  // ---- component entry ----------------------------------------------------------
  // Audio-unit selectors; everything else goes to ComponentBase.
  static OSStatus ComponentEntryDispatch(ComponentParameters* params, AUBase* This);

  // ---- lifecycle ------------------------------------------------------------------
  OSStatus DoInitialize();
  void DoCleanup();
  bool IsInitialized() const { return mInitialized; }
  UInt8 AudioUnitAPIVersion() const { return mAudioUnitAPIVersion; }

  // ---- scopes and elements -----------------------------------------------------------
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

  // Null for a missing element.
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

  // For subclasses; the global scope always keeps exactly one element.
  void SetNumberOfElements(AudioUnitScope inScope, UInt32 inNumElements);

  // ---- stream formats ------------------------------------------------------------
  bool FormatIsCanonical(const CAStreamBasicDescription& inFormat) const;
  void MakeCanonicalFormat(CAStreamBasicDescription& outFormat, int inChannels) const;
  bool IsStreamFormatWritable(AudioUnitScope inScope, AudioUnitElement inElement);

  UInt32 GetMaxFramesPerSlice() const { return mMaxFramesPerSlice; }

  // ---- property dispatch ------------------------------------------------------------
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

  // Tells the listeners of one property about a change.
  void PropertyChanged(AudioUnitPropertyID inID, AudioUnitScope inScope,
                       AudioUnitElement inElement);

  // ---- presets --------------------------------------------------------------------
  // True when the preset was made current (it needs a number and a name).
  bool SetAFactoryPresetAsCurrent(const AUPreset& inPreset);
  const AUPreset& GetCurrentPreset() const { return mCurrentPreset; }

  // ---- rendering ---------------------------------------------------------------------
  OSStatus DoRender(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                    UInt32 inBusNumber, UInt32 inNumberFrames, AudioBufferList& ioData);
  OSStatus DoRenderBus(AudioUnitRenderActionFlags& ioActionFlags,
                       const AudioTimeStamp& inTimeStamp, UInt32 inBusNumber,
                       AUOutputElement* theOutput, UInt32 inNumberFrames,
                       AudioBufferList& ioData);
  // False when this sample time was rendered last; remembers it either way.
  bool NeedsToRender(Float64 inSampleTime);
  // Keeps the first failure for the last-render-error property.
  OSStatus SetRenderError(OSStatus inRenderError);
  OSStatus GetLastRenderError() const { return mLastRenderError; }
  Float64 GetLastRenderedSampleTime() const { return mLastRenderedSampleTime; }

  void SetWantsRenderThreadID(bool inFlag);
  bool WantsRenderThreadID() const { return mWantsRenderThreadID; }
  pthread_t GetRenderThreadID() const { return mRenderThreadID; }

  ParameterEventList& GetParamEventList() { return mParamList; }
  static bool SortParameterEventList(const AudioUnitParameterEvent& ev1,
                                     const AudioUnitParameterEvent& ev2);

 protected:
  // Creates the input, output, group and part elements once.
  void CreateElements();

  // Render observers; applied and walked by the render thread only.
  NotificationList& RenderNotifications() { return mRenderCallbacks; }

  // A unit of the first API generation lowers it in its constructor, which
  // withdraws the selectors and properties of the second.
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

// Stores a signed 32-bit number under a key of a saved-state dictionary.
void AddNumToDictionary(CFMutableDictionaryRef dict, CFStringRef key, SInt32 value);

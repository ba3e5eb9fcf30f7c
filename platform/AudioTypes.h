// Records, codes and constants shared by the plug-ins, the framework and the
// hosts. Native LP64 layout: every pointer-holding field is 8 bytes with
// natural alignment; see docs/platform.md for the sizes that follow.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Values.h"

using OSStatus = int32_t;
using OSErr = int16_t;
using UInt8 = uint8_t;
using SInt16 = int16_t;
using UInt16 = uint16_t;
using SInt32 = int32_t;
using UInt32 = uint32_t;
using SInt64 = int64_t;
using UInt64 = uint64_t;
using Float32 = float;
using Float64 = double;
using Byte = uint8_t;

using AudioUnitPropertyID = UInt32;
using AudioUnitScope = UInt32;
using AudioUnitElement = UInt32;
using AudioUnitParameterID = UInt32;
using AudioUnitParameterValue = Float32;
using AudioUnitRenderActionFlags = UInt32;

// A component instance is an opaque handle owned by the component loader.
struct ComponentInstanceRecord;
using ComponentInstance = ComponentInstanceRecord*;
using AudioUnit = ComponentInstance;
using AudioComponentInstance = ComponentInstance;

// ---- statuses ---------------------------------------------------------------
enum : OSStatus {
  noErr = 0,
  kAudioUnitErr_InvalidProperty = -10879,
  kAudioUnitErr_InvalidParameter = -10878,
  kAudioUnitErr_InvalidElement = -10877,
  kAudioUnitErr_NoConnection = -10876,
  kAudioUnitErr_FailedInitialization = -10875,
  kAudioUnitErr_TooManyFramesToProcess = -10874,
  kAudioUnitErr_FormatNotSupported = -10868,
  kAudioUnitErr_Uninitialized = -10867,
  kAudioUnitErr_InvalidScope = -10866,
  kAudioUnitErr_PropertyNotWritable = -10865,
  kAudioUnitErr_InvalidPropertyValue = -10851,
  kAudioUnitErr_Initialized = -10849,
  paramErr = -50,
  fnfErr = -43,
  memFullErr = -108,
};
constexpr OSStatus badComponentSelector = static_cast<OSStatus>(0x80008002u);
// A unit refused a call because another thread was inside the same side of
// it (a second render at once, or a second control thread); nothing changed.
constexpr OSStatus kQelvoErr_UnitBusy = -3020;

// ---- scopes -----------------------------------------------------------------
enum : AudioUnitScope {
  kAudioUnitScope_Global = 0,
  kAudioUnitScope_Input = 1,
  kAudioUnitScope_Output = 2,
  kAudioUnitScope_Group = 3,
  kAudioUnitScope_Part = 4,
};

// ---- property IDs -----------------------------------------------------------
enum : AudioUnitPropertyID {
  kAudioUnitProperty_ClassInfo = 0,
  kAudioUnitProperty_MakeConnection = 1,
  kAudioUnitProperty_SampleRate = 2,
  kAudioUnitProperty_ParameterList = 3,
  kAudioUnitProperty_ParameterInfo = 4,
  kAudioUnitProperty_FastDispatch = 5,
  kAudioUnitProperty_CPULoad = 6,
  kAudioUnitProperty_StreamFormat = 8,
  kAudioUnitProperty_ElementCount = 11,
  kAudioUnitProperty_Latency = 12,
  kAudioUnitProperty_SupportedNumChannels = 13,
  kAudioUnitProperty_MaximumFramesPerSlice = 14,
  kAudioUnitProperty_SetExternalBuffer = 15,
  kAudioUnitProperty_ParameterValueStrings = 16,
  kAudioUnitProperty_GetUIComponentList = 18,
  kAudioUnitProperty_AudioChannelLayout = 19,
  kAudioUnitProperty_TailTime = 20,
  kAudioUnitProperty_BypassEffect = 21,
  kAudioUnitProperty_LastRenderError = 22,
  kAudioUnitProperty_SetRenderCallback = 23,
  kAudioUnitProperty_FactoryPresets = 24,
  kAudioUnitProperty_ContextName = 25,
  kAudioUnitProperty_RenderQuality = 26,
  kAudioUnitProperty_HostCallbacks = 27,
  kAudioUnitProperty_CurrentPreset = 28,
  kAudioUnitProperty_InPlaceProcessing = 29,
  kAudioUnitProperty_ElementName = 30,
  kAudioUnitProperty_EditorView = 31,
  kAudioUnitProperty_SupportedChannelLayoutTags = 32,
  kAudioUnitProperty_ParameterStringFromValue = 33,
  kAudioUnitProperty_PresentPreset = 36,
  kAudioUnitProperty_ParameterValueFromString = 38,
  kAudioUnitProperty_IconLocation = 39,
};

// ---- component selectors ----------------------------------------------------
enum : SInt16 {
  kComponentOpenSelect = -1,
  kComponentCloseSelect = -2,
  kComponentCanDoSelect = -3,
  kComponentVersionSelect = -4,
  kAudioUnitInitializeSelect = 1,
  kAudioUnitUninitializeSelect = 2,
  kAudioUnitGetPropertyInfoSelect = 3,
  kAudioUnitGetPropertySelect = 4,
  kAudioUnitSetPropertySelect = 5,
  kAudioUnitGetParameterSelect = 6,
  kAudioUnitSetParameterSelect = 7,
  kAudioUnitResetSelect = 9,
  kAudioUnitAddPropertyListenerSelect = 10,
  kAudioUnitRemovePropertyListenerSelect = 11,
  kAudioUnitRenderSelect = 14,
  kAudioUnitAddRenderNotifySelect = 15,
  kAudioUnitRemoveRenderNotifySelect = 16,
  kAudioUnitScheduleParametersSelect = 17,
  kAudioUnitRemovePropertyListenerWithUserDataSelect = 18,
};

// ---- render action flags ----------------------------------------------------
enum : AudioUnitRenderActionFlags {
  kAudioUnitRenderAction_PreRender = 0x4,
  kAudioUnitRenderAction_PostRender = 0x8,
  kAudioUnitRenderAction_OutputIsSilence = 0x10,
  kAudioUnitRenderAction_PostRenderError = 0x100,
};

// ---- stream formats ---------------------------------------------------------
constexpr UInt32 kAudioFormatLinearPCM = 0x6C70636Du;  // 'lpcm'
constexpr UInt32 kAudioFormatLossless = 0x616C6163u;   // 'alac'
constexpr UInt32 kAudioFormatAC3 = 0x61632D33u;        // 'ac-3'
constexpr UInt32 kAudioFormat60958AC3 = 0x63616333u;   // 'cac3'
enum : UInt32 {
  kAudioFormatFlagIsFloat = 0x1,
  kAudioFormatFlagIsBigEndian = 0x2,
  kAudioFormatFlagIsSignedInteger = 0x4,
  kAudioFormatFlagIsPacked = 0x8,
  kAudioFormatFlagIsAlignedHigh = 0x10,
  kAudioFormatFlagIsNonInterleaved = 0x20,
  kAudioFormatFlagIsNonMixable = 0x40,
  kAudioFormatFlagsAreAllClear = 0x80000000u,
};

struct AudioStreamBasicDescription {
  Float64 mSampleRate;
  UInt32 mFormatID;
  UInt32 mFormatFlags;
  UInt32 mBytesPerPacket;
  UInt32 mFramesPerPacket;
  UInt32 mBytesPerFrame;
  UInt32 mChannelsPerFrame;
  UInt32 mBitsPerChannel;
  UInt32 mReserved;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

// ---- buffers ----------------------------------------------------------------
struct AudioBuffer {
  UInt32 mNumberChannels;
  UInt32 mDataByteSize;
  void* mData;
};
static_assert(sizeof(AudioBuffer) == 16);

struct AudioBufferList {
  UInt32 mNumberBuffers;
  AudioBuffer mBuffers[1];  // really mNumberBuffers of them
};
static_assert(offsetof(AudioBufferList, mBuffers) == 8);

// Bytes an AudioBufferList of n buffers occupies.
constexpr size_t AudioBufferListSize(UInt32 n) {
  return offsetof(AudioBufferList, mBuffers) + sizeof(AudioBuffer) * (n == 0 ? 1 : n);
}

// ---- time stamps ------------------------------------------------------------
struct SMPTETime {
  SInt16 mSubframes;
  SInt16 mSubframeDivisor;
  UInt32 mCounter;
  UInt32 mType;
  UInt32 mFlags;
  SInt16 mHours;
  SInt16 mMinutes;
  SInt16 mSeconds;
  SInt16 mFrames;
};
static_assert(sizeof(SMPTETime) == 24);

enum : UInt32 {
  kAudioTimeStampSampleTimeValid = 1u << 0,
  kAudioTimeStampHostTimeValid = 1u << 1,
};

struct AudioTimeStamp {
  Float64 mSampleTime;
  UInt64 mHostTime;
  Float64 mRateScalar;
  UInt64 mWordClockTime;
  SMPTETime mSMPTETime;
  UInt32 mFlags;
  UInt32 mReserved;
};
static_assert(sizeof(AudioTimeStamp) == 64);

// ---- parameters -------------------------------------------------------------
enum : UInt32 {
  kParameterEvent_Immediate = 1,
  kParameterEvent_Ramped = 2,
};

struct AudioUnitParameterEvent {
  AudioUnitScope scope;
  AudioUnitElement element;
  AudioUnitParameterID parameter;
  UInt32 eventType;
  union {
    struct {
      SInt32 startBufferOffset;
      UInt32 durationInFrames;
      AudioUnitParameterValue startValue;
      AudioUnitParameterValue endValue;
    } ramp;
    struct {
      UInt32 bufferOffset;
      AudioUnitParameterValue value;
    } immediate;
  } eventValues;
};
static_assert(sizeof(AudioUnitParameterEvent) == 32);

enum : UInt32 {
  kAudioUnitParameterUnit_Generic = 0,
  kAudioUnitParameterUnit_Indexed = 1,
  kAudioUnitParameterUnit_Boolean = 2,
  kAudioUnitParameterUnit_Percent = 3,
  kAudioUnitParameterUnit_Seconds = 4,
  kAudioUnitParameterUnit_SampleFrames = 5,
  kAudioUnitParameterUnit_Phase = 6,
  kAudioUnitParameterUnit_Rate = 7,
  kAudioUnitParameterUnit_Hertz = 8,
  kAudioUnitParameterUnit_Cents = 9,
  kAudioUnitParameterUnit_RelativeSemiTones = 10,
  kAudioUnitParameterUnit_MIDINoteNumber = 11,
  kAudioUnitParameterUnit_MIDIController = 12,
  kAudioUnitParameterUnit_Decibels = 13,
  kAudioUnitParameterUnit_LinearGain = 14,
  kAudioUnitParameterUnit_Degrees = 15,
  kAudioUnitParameterUnit_EqualPowerCrossfade = 16,
  kAudioUnitParameterUnit_MixerFaderCurve1 = 17,
  kAudioUnitParameterUnit_Pan = 18,
  kAudioUnitParameterUnit_Meters = 19,
  kAudioUnitParameterUnit_AbsoluteCents = 20,
  kAudioUnitParameterUnit_Octaves = 21,
  kAudioUnitParameterUnit_BPM = 22,
  kAudioUnitParameterUnit_Beats = 23,
  kAudioUnitParameterUnit_Milliseconds = 24,
  kAudioUnitParameterUnit_Ratio = 25,
  kAudioUnitParameterUnit_CustomUnit = 26,
};

enum : UInt32 {
  kAudioUnitParameterFlag_CFNameRelease = 0x10,
  kAudioUnitParameterFlag_ValuesHaveStrings = 0x00200000,
  kAudioUnitParameterFlag_DisplayLogarithmic = 0x00400000,
  kAudioUnitParameterFlag_IsHighResolution = 0x00800000,
  kAudioUnitParameterFlag_HasCFNameString = 0x08000000,
  kAudioUnitParameterFlag_IsWritable = 0x40000000,
  kAudioUnitParameterFlag_IsReadable = 0x80000000u,
};

struct AudioUnitParameterInfo {
  char name[52];
  CFStringRef unitName;
  UInt32 clumpID;
  CFStringRef cfNameString;
  UInt32 unit;
  AudioUnitParameterValue minValue;
  AudioUnitParameterValue maxValue;
  AudioUnitParameterValue defaultValue;
  UInt32 flags;
};
static_assert(sizeof(AudioUnitParameterInfo) == 104);

// One parameter of one unit, as a client of the unit names it.
struct AudioUnitParameter {
  AudioUnit mAudioUnit;
  AudioUnitParameterID mParameterID;
  AudioUnitScope mScope;
  AudioUnitElement mElement;
};
static_assert(sizeof(AudioUnitParameter) == 24);

struct AudioUnitParameterStringFromValue {
  AudioUnitParameterID inParamID;
  const AudioUnitParameterValue* inValue;
  CFStringRef outString;
};
static_assert(sizeof(AudioUnitParameterStringFromValue) == 24);

struct AudioUnitParameterValueFromString {
  AudioUnitParameterID inParamID;
  CFStringRef inString;
  AudioUnitParameterValue outValue;
};
static_assert(sizeof(AudioUnitParameterValueFromString) == 24);

// ---- records that cross the property interface -------------------------------
struct AudioUnitConnection {
  AudioUnit sourceAudioUnit;
  UInt32 sourceOutputNumber;
  UInt32 destInputNumber;
};
static_assert(sizeof(AudioUnitConnection) == 16);

using AURenderCallback = OSStatus (*)(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                                      const AudioTimeStamp* inTimeStamp, UInt32 inBusNumber,
                                      UInt32 inNumberFrames, AudioBufferList* ioData);

// Called after a unit changed a property the listener registered for.
using AudioUnitPropertyListenerProc = void (*)(void* inRefCon, AudioUnit inUnit,
                                               AudioUnitPropertyID inID, AudioUnitScope inScope,
                                               AudioUnitElement inElement);

// A unit's direct render entry, called with its instance storage instead of
// going through the component dispatch.
using AudioUnitRenderProc = OSStatus (*)(void* inComponentStorage, AudioUnitRenderActionFlags* ioActionFlags,
                                         const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                                         UInt32 inNumberFrames, AudioBufferList* ioData);

struct AURenderCallbackStruct {
  AURenderCallback inputProc;
  void* inputProcRefCon;
};
static_assert(sizeof(AURenderCallbackStruct) == 16);

struct AudioUnitExternalBuffer {
  Byte* buffer;
  UInt32 size;
};
static_assert(sizeof(AudioUnitExternalBuffer) == 16);

struct AUPreset {
  SInt32 presetNumber;
  CFStringRef presetName;
};
static_assert(sizeof(AUPreset) == 16);

struct HostCallbackInfo {
  void* hostUserData;
  void* beatAndTempoProc;
  void* musicalTimeLocationProc;
  void* transportStateProc;
};
static_assert(sizeof(HostCallbackInfo) == 32);

struct AudioUnitEditorViewInfo {
  CFURLRef mViewBundleLocation;
  CFStringRef mViewClass[1];
};
static_assert(sizeof(AudioUnitEditorViewInfo) == 16);

struct AUChannelInfo {
  SInt16 inChannels;
  SInt16 outChannels;
};
static_assert(sizeof(AUChannelInfo) == 4);

struct ComponentDescription {
  UInt32 componentType;
  UInt32 componentSubType;
  UInt32 componentManufacturer;
  UInt32 componentFlags;
  UInt32 componentFlagsMask;
};
static_assert(sizeof(ComponentDescription) == 20);

struct FrequencyResponsePoint {
  Float64 frequency;
  Float64 magnitude;
};
static_assert(sizeof(FrequencyResponsePoint) == 16);

// ---- channel layouts --------------------------------------------------------
using AudioChannelLayoutTag = UInt32;
using AudioChannelLabel = UInt32;
using AudioChannelBitmap = UInt32;
using AudioChannelFlags = UInt32;

enum : AudioChannelLayoutTag {
  kAudioChannelLayoutTag_UseChannelDescriptions = 0,
  kAudioChannelLayoutTag_UseChannelBitmap = 0x10000,
};
constexpr AudioChannelLabel kAudioChannelLabel_Unknown = 0xFFFFFFFFu;

struct AudioChannelDescription {
  AudioChannelLabel mChannelLabel;
  AudioChannelFlags mChannelFlags;
  Float32 mCoordinates[3];
};
static_assert(sizeof(AudioChannelDescription) == 20);

struct AudioChannelLayout {
  AudioChannelLayoutTag mChannelLayoutTag;
  AudioChannelBitmap mChannelBitmap;
  UInt32 mNumberChannelDescriptions;
  AudioChannelDescription mChannelDescriptions[1];
};
static_assert(offsetof(AudioChannelLayout, mChannelDescriptions) == 12);

// ---- component argument block ------------------------------------------------
// flags, paramSize (bytes of arguments), what (selector), padding, then one
// 8-byte word per argument, the last argument first.
struct ComponentParameters {
  UInt8 flags;
  UInt8 paramSize;
  SInt16 what;
  UInt32 padding;
  intptr_t params[1];
};
static_assert(offsetof(ComponentParameters, params) == 8);

using ComponentResult = OSStatus;
using ComponentEntryFunction = ComponentResult (*)(ComponentParameters* params, void* storage);

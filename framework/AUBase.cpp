// Construction, lifecycle, scopes and elements, stream formats, bus memory,
// unit-level parameters, render notifications and the defaults of the hooks.
#include "framework/AUBase.h"

#include <cmath>
#include <mutex>

#include "utility/CAVectorUnit.h"

CFStringRef AUBase::kVersionString = nullptr;
CFStringRef AUBase::kTypeString = nullptr;
CFStringRef AUBase::kSubtypeString = nullptr;
CFStringRef AUBase::kManufacturerString = nullptr;
CFStringRef AUBase::kDataString = nullptr;
CFStringRef AUBase::kNameString = nullptr;
CFStringRef AUBase::kRenderQualityString = nullptr;
CFStringRef AUBase::kCPULoadString = nullptr;
CFStringRef AUBase::kElementNameString = nullptr;
CFStringRef AUBase::kPartString = nullptr;
CFStringRef AUBase::kUntitledString = nullptr;
bool AUBase::sAUBaseCFStringsInitialized = false;
SInt32 AUBase::sVectorUnitType = kVecUninitialized;

namespace {
// Units may be opened on several host threads at once; the process-wide
// values are written exactly once, and every constructor waits for that.
std::once_flag sSharedStringsOnce;
std::once_flag sVectorUnitOnce;

// The element whose format a scope and element address: the global scope
// speaks for output 0.
AUIOElement* FormatElement(AUBase& unit, AudioUnitScope inScope, AudioUnitElement inElement) {
  switch (inScope) {
    case kAudioUnitScope_Input:
      return unit.GetInput(inElement);
    case kAudioUnitScope_Output:
      return unit.GetOutput(inElement);
    case kAudioUnitScope_Global:
      return unit.GetOutput(0);
    default:
      throw OSStatus(kAudioUnitErr_InvalidScope);
  }
}
}  // namespace

AUBase::AUBase(ComponentInstance inInstance, UInt32 numInputElements, UInt32 numOutputElements,
               UInt32 numGroupElements, UInt32 numPartElements)
    : ComponentBase(inInstance),
      AUElementCreator(),
      mInitNumInputEls(numInputElements),
      mInitNumOutputEls(numOutputElements),
      mInitNumGroupEls(numGroupElements),
      mInitNumPartEls(numPartElements) {
  std::call_once(sSharedStringsOnce, [] {
    kVersionString = CFSTR("version");
    kTypeString = CFSTR("type");
    kSubtypeString = CFSTR("subtype");
    kManufacturerString = CFSTR("manufacturer");
    kDataString = CFSTR("data");
    kNameString = CFSTR("name");
    kRenderQualityString = CFSTR("render-quality");
    kCPULoadString = CFSTR("cpu-load");
    kElementNameString = CFSTR("element-name");
    kPartString = CFSTR("part");
    kUntitledString = CFSTR("Untitled");
    sAUBaseCFStringsInitialized = true;
  });
  std::call_once(sVectorUnitOnce, [] { sVectorUnitType = CAVectorUnit::GetVectorUnitType(); });

  mAudioUnitAPIVersion = 2;
  // The base's own: no subclass part exists yet, and no listener can either.
  AUBase::SetMaxFramesPerSlice(kDefaultMaxFramesPerSlice);
  GlobalScope().Initialize(this, kAudioUnitScope_Global, 1);
  if (mAudioUnitAPIVersion > 1) mParamList.reserve(kReservedParameterEvents);

  mCurrentPreset.presetNumber = -1;
  mCurrentPreset.presetName = kUntitledString;
  CFRetain(mCurrentPreset.presetName);
}

AUBase::~AUBase() {
  if (mCurrentPreset.presetName != nullptr) CFRelease(mCurrentPreset.presetName);
  if (mContextName != nullptr) CFRelease(mContextName);
  // Members go in reverse order: listeners, events, observers, then the
  // scopes from the part scope back to the global scope.
}

void AUBase::PostConstructor() { CreateElements(); }

void AUBase::PreDestructor() { DoCleanup(); }

void AUBase::CreateElements() {
  if (mElementsCreated) return;
  Inputs().Initialize(this, kAudioUnitScope_Input, mInitNumInputEls);
  Outputs().Initialize(this, kAudioUnitScope_Output, mInitNumOutputEls);
  Groups().Initialize(this, kAudioUnitScope_Group, mInitNumGroupEls);
  Parts().Initialize(this, kAudioUnitScope_Part, mInitNumPartEls);
  mElementsCreated = true;
}

AUElement* AUBase::CreateElement(AudioUnitScope inScope, AudioUnitElement /*inElement*/) {
  switch (inScope) {
    case kAudioUnitScope_Global:
    case kAudioUnitScope_Group:
    case kAudioUnitScope_Part:
      return new AUElement(this);
    case kAudioUnitScope_Input:
      return new AUInputElement(this);
    case kAudioUnitScope_Output:
      return new AUOutputElement(this);
    default:
      throw OSStatus(kAudioUnitErr_InvalidScope);
  }
}

// ---- initialization cycle ------------------------------------------------------

OSStatus AUBase::DoInitialize() {
  // [control] Builds what renders use: no render may run meanwhile.
  AUCallScope control(mControlOwner);
  AUCallScope render(mRenderOwner);
  if (!control.Entered() || !render.Entered()) return kQelvoErr_UnitBusy;
  if (mInitialized) return noErr;
  const OSStatus result = Initialize();
  if (result == noErr) {
    mInitialized = true;
    ReallocateBuffers();
  }
  return result;
}

void AUBase::DoCleanup() {
  if (mInitialized) Cleanup();
  mInitialized = false;
}

OSStatus AUBase::Initialize() { return noErr; }

void AUBase::Cleanup() {}

OSStatus AUBase::Reset(AudioUnitScope, AudioUnitElement) {
  mLastRenderedSampleTime = kNoLastRenderedSampleTime;
  return noErr;
}

// ---- elements ----------------------------------------------------------------------

AUInputElement* AUBase::GetInput(AudioUnitElement inElement) {
  AUInputElement* input = Inputs().SafeGetElement(inElement)->AsInputElement();
  if (input == nullptr) throw OSStatus(kAudioUnitErr_InvalidElement);
  return input;
}

AUOutputElement* AUBase::GetOutput(AudioUnitElement inElement) {
  AUOutputElement* output = Outputs().SafeGetElement(inElement)->AsOutputElement();
  if (output == nullptr) throw OSStatus(kAudioUnitErr_InvalidElement);
  return output;
}

bool AUBase::HasInput(AudioUnitElement inElement) {
  AUElement* element = Inputs().GetElement(inElement);
  AUInputElement* input = element != nullptr ? element->AsInputElement() : nullptr;
  return input != nullptr && input->IsActive();
}

void AUBase::SetNumberOfElements(AudioUnitScope inScope, UInt32 inNumElements) {
  if (inScope == kAudioUnitScope_Global && inNumElements != 1)
    throw OSStatus(kAudioUnitErr_InvalidScope);
  GetScope(inScope).SetNumberOfElements(inNumElements);
}

bool AUBase::BusCountWritable(AudioUnitScope) { return false; }

OSStatus AUBase::SetBusCount(AudioUnitScope inScope, UInt32 inCount) {
  if (IsInitialized()) return kAudioUnitErr_Initialized;
  GetScope(inScope).SetNumberOfElements(inCount);
  return noErr;
}

// ---- stream formats -----------------------------------------------------------------

bool AUBase::ValidFormat(AudioUnitScope, AudioUnitElement,
                         const CAStreamBasicDescription& inNewFormat) {
  return FormatIsCanonical(inNewFormat);
}

bool AUBase::FormatIsCanonical(const CAStreamBasicDescription& f) const {
  return f.mFormatID == kAudioFormatLinearPCM && f.mFramesPerPacket == 1 &&
         f.mBytesPerPacket == f.mBytesPerFrame && (f.mFormatFlags & kAudioFormatFlagIsFloat) != 0 &&
         (f.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0 &&
         (f.mFormatFlags & kAudioFormatFlagIsBigEndian) == 0 && f.mBitsPerChannel == 32 &&
         f.mBytesPerFrame == sizeof(Float32) * f.NumberInterleavedChannels();
}

void AUBase::MakeCanonicalFormat(CAStreamBasicDescription& outFormat, int inChannels) const {
  outFormat.SetCanonical(static_cast<UInt32>(inChannels), false);
  outFormat.mSampleRate = 0.0;
}

const CAStreamBasicDescription& AUBase::GetStreamFormat(AudioUnitScope inScope,
                                                        AudioUnitElement inElement) {
  return FormatElement(*this, inScope, inElement)->GetStreamFormat();
}

bool AUBase::IsStreamFormatWritable(AudioUnitScope inScope, AudioUnitElement inElement) {
  switch (inScope) {
    case kAudioUnitScope_Global:
      return StreamFormatWritable(kAudioUnitScope_Output, 0);
    case kAudioUnitScope_Input:
      // A connected input takes its format from its source.
      if (GetInput(inElement)->HasConnection()) return false;
      return StreamFormatWritable(kAudioUnitScope_Input, inElement);
    case kAudioUnitScope_Output:
      return StreamFormatWritable(kAudioUnitScope_Output, inElement);
    default:
      return false;
  }
}

OSStatus AUBase::ChangeStreamFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                                    const CAStreamBasicDescription& /*inPrevFormat*/,
                                    const CAStreamBasicDescription& inNewFormat) {
  FormatElement(*this, inScope, inElement)->SetStreamFormat(inNewFormat);
  PropertyChanged(kAudioUnitProperty_StreamFormat, inScope, inElement);
  return noErr;
}

UInt32 AUBase::SupportedNumChannels(const AUChannelInfo**) { return 0; }

// ---- maximum slice length and bus memory --------------------------------------------

OSStatus AUBase::CanSetMaxFrames() const {
  return IsInitialized() ? OSStatus(kAudioUnitErr_Initialized) : noErr;
}

void AUBase::SetMaxFramesPerSlice(UInt32 nFrames) {
  mMaxFramesPerSlice = nFrames;
  if (mBuffersAllocated) ReallocateBuffers();
  PropertyChanged(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0);
}

void AUBase::ReallocateBuffers() {
  CreateElements();
  // Each element lays out memory only while the unit is initialized.
  AUScope& outputs = Outputs();
  for (UInt32 i = 0, n = outputs.GetNumberOfElements(); i < n; ++i)
    outputs.GetIOElement(i)->AllocateBuffer();
  AUScope& inputs = Inputs();
  for (UInt32 i = 0, n = inputs.GetNumberOfElements(); i < n; ++i)
    inputs.GetIOElement(i)->AllocateBuffer();
  mBuffersAllocated = true;
}

// ---- parameters ------------------------------------------------------------------------

OSStatus AUBase::GetParameterList(AudioUnitScope inScope, AudioUnitParameterID* outParameterList,
                                  UInt32& outNumParameters) {
  AUScope& scope = GetScope(inScope);
  AUElement* richest = nullptr;
  UInt32 most = 0;
  for (UInt32 i = 0, n = scope.GetNumberOfElements(); i < n; ++i) {
    AUElement* element = scope.GetElement(i);
    if (element == nullptr) continue;
    const UInt32 count = element->GetNumberOfParameters();
    if (richest == nullptr || count > most) {
      richest = element;
      most = count;
    }
  }
  if (outParameterList != nullptr && richest != nullptr) richest->GetParameterList(outParameterList);
  outNumParameters = most;
  return noErr;
}

OSStatus AUBase::SetParameter(AudioUnitParameterID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, AudioUnitParameterValue inValue,
                              UInt32 inBufferOffsetInFrames) {
  // NaN or an infinity would reach the kernels and stay in their history.
  if (!std::isfinite(inValue)) return kAudioUnitErr_InvalidPropertyValue;
  if (inScope == kAudioUnitScope_Group)
    return SetGroupParameter(inID, inElement, inValue, inBufferOffsetInFrames);
  AUElement* element = SafeGetElement(inScope, inElement);
  if (element->HasParameter(inID)) {
    element->SetParameter(inID, inValue);
    return noErr;
  }
  // Adding an ID is a control change: one thread adds at a time, while
  // renders read on (AUElement).
  AUCallScope control(mControlOwner);
  if (!control.Entered()) return kQelvoErr_UnitBusy;
  element->SetParameter(inID, inValue);
  return noErr;
}

OSStatus AUBase::GetParameter(AudioUnitParameterID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, AudioUnitParameterValue& outValue) {
  if (inScope == kAudioUnitScope_Group) return GetGroupParameter(inID, inElement, outValue);
  outValue = SafeGetElement(inScope, inElement)->GetParameter(inID);
  return noErr;
}

OSStatus AUBase::SetGroupParameter(AudioUnitParameterID, AudioUnitElement,
                                   AudioUnitParameterValue, UInt32) {
  return kAudioUnitErr_InvalidScope;
}

OSStatus AUBase::GetGroupParameter(AudioUnitParameterID, AudioUnitElement,
                                   AudioUnitParameterValue&) {
  return kAudioUnitErr_InvalidScope;
}

OSStatus AUBase::GetParameterInfo(AudioUnitScope, AudioUnitParameterID, AudioUnitParameterInfo&) {
  return kAudioUnitErr_InvalidParameter;
}

OSStatus AUBase::GetParameterValueStrings(AudioUnitScope, AudioUnitParameterID, CFArrayRef*) {
  return kAudioUnitErr_InvalidProperty;
}

// ---- render notifications --------------------------------------------------------------

OSStatus AUBase::SetRenderNotification(AURenderCallback inProc, void* inRefCon) {
  if (inProc == nullptr) return paramErr;
  // Posting fails only when no list node can be had; say so instead of
  // pretending the observer was registered.
  if (!mRenderCallbacks.deferred_add(RenderCallback{inProc, inRefCon})) return memFullErr;
  return noErr;
}

OSStatus AUBase::RemoveRenderNotification(AURenderCallback inProc, void* inRefCon) {
  if (!mRenderCallbacks.deferred_remove(RenderCallback{inProc, inRefCon})) return memFullErr;
  return noErr;
}

// ---- property listeners ------------------------------------------------------------------

OSStatus AUBase::AddPropertyListener(AudioUnitPropertyID inID,
                                     AudioUnitPropertyListenerProc inProc, void* inProcRefCon) {
  AUCallScope control(mControlOwner);
  if (!control.Entered()) return kQelvoErr_UnitBusy;
  mPropertyListeners.Add(inID, inProc, inProcRefCon);
  return noErr;
}

OSStatus AUBase::RemovePropertyListener(AudioUnitPropertyID inID,
                                        AudioUnitPropertyListenerProc inProc, void* inProcRefCon,
                                        bool refConSpecified) {
  AUCallScope control(mControlOwner);
  if (!control.Entered()) return kQelvoErr_UnitBusy;
  mPropertyListeners.Remove(inID, inProc, inProcRefCon, refConSpecified);
  return noErr;
}

void AUBase::PropertyChanged(AudioUnitPropertyID inID, AudioUnitScope inScope,
                             AudioUnitElement inElement) {
  mPropertyListeners.PropertyChanged(inID, inScope, inElement, GetComponentInstance());
}

// ---- defaults of the remaining hooks ---------------------------------------------------

OSStatus AUBase::GetPropertyInfo(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement, UInt32&,
                                 Boolean&) {
  return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::GetProperty(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement, void*) {
  return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::SetProperty(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement, const void*,
                             UInt32) {
  return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::RemovePropertyValue(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
  return kAudioUnitErr_InvalidPropertyValue;
}

OSStatus AUBase::GetPresets(CFArrayRef*) const { return kAudioUnitErr_InvalidProperty; }

OSStatus AUBase::NewFactoryPresetSet(const AUPreset&) { return kAudioUnitErr_InvalidProperty; }

int AUBase::GetNumCustomUIComponents() { return 0; }

void AUBase::GetUIComponentDescs(ComponentDescription*) {}

CFURLRef AUBase::CopyIconLocation() { return nullptr; }

bool AUBase::HasIcon() {
  CFURLRef location = CopyIconLocation();
  if (location == nullptr) return false;
  CFRelease(location);
  return true;
}

Float64 AUBase::GetLatency() { return 0.0; }

Float64 AUBase::GetTailTime() { return 0.0; }

bool AUBase::SupportsTail() { return false; }

OSStatus AUBase::Render(AudioUnitRenderActionFlags&, const AudioTimeStamp&, UInt32) {
  return noErr;
}

OSStatus AUBase::ProcessScheduledSlice(void*, UInt32, UInt32, UInt32) { return noErr; }

#include "effect/Filter.h"

#include <cstring>

#include "effect/FilterCoefficients.h"
#include "effect/FilterConstants.h"
#include "effect/FilterKernel.h"
#include "effect/FilterParameters.h"
#include "effect/FilterPresets.h"
#include "effect/KestNotificationObserver.h"
#include "effect/ModulationReport.h"
#include "effect/ModulationState.h"
#include "effect/UnitIdentity.h"
#include "variants/VariantValues.h"

namespace {

constexpr OSStatus kFilterVersion = 0x00010000;  // 1.0.0
constexpr Float64 kFilterTailTime = 0.001;       // seconds
constexpr Float64 kMaxNormalisedCutoff = 0.99;

bool IsEditorView(AudioUnitPropertyID inID, AudioUnitScope inScope) {
  return inScope == kAudioUnitScope_Global && inID == kAudioUnitProperty_EditorView;
}

bool IsFrequencyResponse(AudioUnitPropertyID inID, AudioUnitScope inScope) {
  return inScope == kAudioUnitScope_Global && inID == kFrequencyResponsePropertyID;
}

bool IsModulationReport(AudioUnitPropertyID inID, AudioUnitScope inScope) {
  return inScope == kAudioUnitScope_Global && inID == kModulationReportPropertyID;
}

bool IsUnitIdentity(AudioUnitPropertyID inID, AudioUnitScope inScope) {
  return inScope == kAudioUnitScope_Global && inID == kUnitIdentityPropertyID;
}

}  // namespace

Filter::Filter(ComponentInstance inComponentInstance) : AUEffectBase(inComponentInstance, true) {
  // Setting the defaults creates the parameters in the global element.
  for (const FilterParameter& parameter : kFilterParameters) SetParameter(parameter.id, parameter.defaultValue);
  // The cutoff's maximum follows the sample rate.
  SetParamHasSampleRateDependency(true);

  ResetFactorsForNewUnit();

  AddKestNotificationObserverX();
}

Filter::~Filter() = default;

OSStatus Filter::Version() { return kFilterVersion; }

OSStatus Filter::Initialize() {
  const OSStatus result = AUEffectBase::Initialize();
  // The editor view fetches the curve again.
  if (result == noErr) PropertyChanged(kFrequencyResponsePropertyID, kAudioUnitScope_Global, 0);
  return result;
}

OSStatus Filter::GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                                 UInt32& outDataSize, Boolean& outWritable) {
  if (IsEditorView(inID, inScope)) {
    outDataSize = sizeof(AudioUnitEditorViewInfo);
    outWritable = false;
    return noErr;
  }
  if (IsFrequencyResponse(inID, inScope)) {
    outDataSize = kFrequencyResponseByteSize;
    outWritable = false;
    return noErr;
  }
  if (IsModulationReport(inID, inScope)) {
    outDataSize = sizeof(ModulationReport);
    outWritable = false;
    return noErr;
  }
  if (IsUnitIdentity(inID, inScope)) {
    outDataSize = sizeof(UnitIdentity);
    outWritable = false;
    return noErr;
  }
  return AUEffectBase::GetPropertyInfo(inID, inScope, inElement, outDataSize, outWritable);
}

OSStatus Filter::GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                             void* outData) {
  if (IsEditorView(inID, inScope)) return GetEditorView(outData);
  if (IsFrequencyResponse(inID, inScope)) return GetFrequencyResponse(outData);
  if (IsModulationReport(inID, inScope)) {
    ModulationReport report{};
    report.mLevel = levelX.load(std::memory_order_relaxed);
    report.mCutoffFactor = cutoffX.load(std::memory_order_relaxed);
    report.mGainFactor = gainX.load(std::memory_order_relaxed);
    report.mFilterMode = testX.load(std::memory_order_relaxed) != 0 ? 1 : 0;
    std::memcpy(outData, &report, sizeof report);
    return noErr;
  }
  if (IsUnitIdentity(inID, inScope)) {
    const UnitIdentity identity{kPresetDefaultOffset, kFrequencyResponsePropertyID};
    std::memcpy(outData, &identity, sizeof identity);
    return noErr;
  }
  return AUEffectBase::GetProperty(inID, inScope, inElement, outData);
}

OSStatus Filter::GetEditorView(void* outData) {
  CFBundleRef bundle = CFBundleGetBundleWithIdentifier(CFStringMakeConstantString(kBundleIdentifier));
  if (bundle == nullptr) return fnfErr;
  CFURLRef location = CFBundleCopyResourceURL(bundle, CFSTR("EditorViewFactory"), CFSTR("bundle"), nullptr);
  if (location == nullptr) return fnfErr;

  // The URL goes to the caller, who releases it; the class name is constant.
  AudioUnitEditorViewInfo info{};
  info.mViewBundleLocation = location;
  info.mViewClass[0] = CFStringMakeConstantString(kViewFactoryClassName);
  std::memcpy(outData, &info, sizeof info);
  return noErr;
}

OSStatus Filter::GetFrequencyResponse(void* outData) {
  if (!IsInitialized()) return kAudioUnitErr_Uninitialized;

  // The curve of the unmodulated parameters, computed on a coefficient set of
  // its own: the kernels may be rendering on another thread right now.
  const Float64 sampleRate = GetSampleRate();
  const Float64 rate = static_cast<Float32>(sampleRate);
  Float64 cutoff = GetParameter(kParam_CutoffFrequency);
  const Float64 resonance = GetParameter(kParam_Resonance);
  cutoff = (cutoff + cutoff) / rate;
  if (cutoff > kMaxNormalisedCutoff) cutoff = kMaxNormalisedCutoff;
  const FilterCoefficients coefficients = FilterCoefficients::Lopass(cutoff, resonance);

  auto* points = static_cast<FrequencyResponsePoint*>(outData);
  for (UInt32 i = 0; i < kFrequencyResponsePointCount; ++i)
    points[i].magnitude = coefficients.Response(points[i].frequency, sampleRate);
  return noErr;
}

OSStatus Filter::GetParameterInfo(AudioUnitScope inScope, AudioUnitParameterID inParameterID,
                                  AudioUnitParameterInfo& outParameterInfo) {
  outParameterInfo.flags = kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable;
  if (inScope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidParameter;

  const size_t row = FilterParameterIndex(inParameterID);
  if (row == kFilterParameterCount) return kAudioUnitErr_InvalidParameter;
  FillFilterParameterInfo(kFilterParameters[row], GetSampleRate(), outParameterInfo);
  return noErr;
}

OSStatus Filter::GetPresets(CFArrayRef* outData) const {
  if (outData == nullptr) return noErr;  // only asked whether there are presets
  const auto presets = FilterPresets();
  CFMutableArrayRef array = CFArrayCreateMutable(nullptr, static_cast<CFIndex>(presets.size()), nullptr);
  if (array == nullptr) return memFullErr;
  for (const AUPreset& preset : presets) CFArrayAppendValue(array, &preset);
  *outData = array;
  return noErr;
}

OSStatus Filter::NewFactoryPresetSet(const AUPreset& inNewFactoryPreset) {
  // Found by number; the name the host sent is not consulted.
  for (const AUPreset& preset : FilterPresets()) {
    if (preset.presetNumber != inNewFactoryPreset.presetNumber) continue;
    SelectPresetState(preset.presetNumber);
    SetAFactoryPresetAsCurrent(preset);
    return noErr;
  }
  return kAudioUnitErr_InvalidPropertyValue;
}

Float64 Filter::GetLatency() { return 0.0; }

Float64 Filter::GetTailTime() { return kFilterTailTime; }

bool Filter::SupportsTail() { return true; }

AUKernelBase* Filter::NewKernel() { return new FilterKernel(*this); }

#include "tools/qelvo/PluginHost.h"

#include <cstring>

#include "platform/AudioUnitHost.h"
#include "platform/ComponentLoader.h"
#include "tools/qelvo/PluginCatalog.h"
#include "tools/qelvo/StatusNames.h"
#include "tools/qelvo/ToolError.h"
#include "utility/CAStreamBasicDescription.h"

std::string StringOf(CFStringRef s) {
  if (s == nullptr || CFGetTypeID(s) != CFStringGetTypeID()) return {};
  std::string text(static_cast<size_t>(CFStringGetLength(s)) + 1, '\0');
  if (!CFStringGetCString(s, text.data(), static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8)) return {};
  text.resize(std::strlen(text.c_str()));
  return text;
}

PluginInstance::PluginInstance(const std::string& name) {
  Component component = FindInstalledPlugin(name);  // throws for unknown names
  name_ = QelvoGetComponentName(component);
  QelvoGetComponentDescription(component, &description_);
  const OSStatus status = OpenAComponent(component, &unit_);
  if (status != noErr) {
    std::string why = QelvoComponentLoaderLastError();
    throw ToolError("cannot open " + name_ + ": " + StatusName(status) + (why.empty() ? "" : " (" + why + ")"));
  }
}

PluginInstance::~PluginInstance() {
  if (unit_ != nullptr) CloseComponent(unit_);
}

void PluginInstance::SetFormat(double sampleRate, UInt32 channels) {
  const CAStreamBasicDescription format = CAStreamBasicDescription::Canonical(sampleRate, channels);
  for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output}) {
    const OSStatus status =
        AudioUnitSetProperty(unit_, kAudioUnitProperty_StreamFormat, scope, 0, &format, sizeof format);
    if (status != noErr)
      throw ToolError(name_ + " refuses " + std::to_string(channels) + " channel" + (channels == 1 ? "" : "s") +
                      " at " + std::to_string(static_cast<long long>(sampleRate)) + " Hz: " + StatusName(status));
  }
  sampleRate_ = sampleRate;
  channels_ = channels;
}

void PluginInstance::SetMaximumFramesPerSlice(UInt32 frames) {
  const OSStatus status =
      AudioUnitSetProperty(unit_, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, &frames,
                           sizeof frames);
  if (status != noErr)
    throw ToolError(name_ + " refuses " + std::to_string(frames) + " frames per slice: " + StatusName(status));
}

void PluginInstance::Initialize() {
  AURenderCallbackStruct callback{&PluginInstance::InputCallback, this};
  OSStatus status = AudioUnitSetProperty(unit_, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                                         &callback, sizeof callback);
  if (status != noErr) throw ToolError(name_ + " refuses its input callback: " + StatusName(status));
  status = AudioUnitInitialize(unit_);
  if (status != noErr)
    throw ToolError(name_ + " cannot start with " + std::to_string(channels_) + " channel" +
                    (channels_ == 1 ? "" : "s") + " at " + std::to_string(static_cast<long long>(sampleRate_)) +
                    " Hz: " + StatusName(status));
  outputList_.assign(AudioBufferListSize(channels_), 0);
}

std::vector<PresetDescription> PluginInstance::FactoryPresets() const {
  std::vector<PresetDescription> presets;
  CFArrayRef array = nullptr;
  UInt32 size = sizeof array;
  if (AudioUnitGetProperty(unit_, kAudioUnitProperty_FactoryPresets, kAudioUnitScope_Global, 0, &array, &size) !=
          noErr ||
      array == nullptr)
    return presets;
  // The array is ours; the records it points at belong to the unit.
  CFRef<CFArrayRef> owned = CFRef<CFArrayRef>::Adopt(array);
  for (CFIndex i = 0; i < CFArrayGetCount(array); ++i) {
    const auto* preset = static_cast<const AUPreset*>(CFArrayGetValueAtIndex(array, i));
    if (preset != nullptr) presets.push_back({preset->presetNumber, StringOf(preset->presetName)});
  }
  return presets;
}

void PluginInstance::SelectFactoryPreset(const PresetDescription& preset) {
  CFRef<CFStringRef> name =
      CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, preset.name.c_str(), kCFStringEncodingUTF8));
  AUPreset record{preset.number, name.get()};
  const OSStatus status = AudioUnitSetProperty(unit_, kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global,
                                               0, &record, sizeof record);
  if (status != noErr)
    throw ToolError(name_ + " refuses preset " + std::to_string(preset.number) + ": " + StatusName(status));
}

PresetDescription PluginInstance::CurrentPreset() const {
  AUPreset record{-1, nullptr};
  UInt32 size = sizeof record;
  if (AudioUnitGetProperty(unit_, kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, &record, &size) !=
      noErr)
    return {-1, ""};
  // The present preset hands its name to the reader.
  CFRef<CFStringRef> name = CFRef<CFStringRef>::Adopt(record.presetName);
  return {record.presetNumber, StringOf(name.get())};
}

std::vector<ParameterDescription> PluginInstance::Parameters() const {
  std::vector<ParameterDescription> parameters;
  UInt32 size = 0;
  Boolean writable = false;
  if (AudioUnitGetPropertyInfo(unit_, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, &size,
                               &writable) != noErr ||
      size == 0)
    return parameters;
  std::vector<AudioUnitParameterID> ids(size / sizeof(AudioUnitParameterID));
  if (AudioUnitGetProperty(unit_, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, ids.data(),
                           &size) != noErr)
    return parameters;
  ids.resize(size / sizeof(AudioUnitParameterID));
  for (AudioUnitParameterID id : ids) {
    ParameterDescription p;
    p.id = id;
    UInt32 infoSize = sizeof p.info;
    if (AudioUnitGetProperty(unit_, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, id, &p.info,
                             &infoSize) != noErr)
      continue;
    const bool handedOver = (p.info.flags & kAudioUnitParameterFlag_CFNameRelease) != 0;
    if ((p.info.flags & kAudioUnitParameterFlag_HasCFNameString) != 0 && p.info.cfNameString != nullptr)
      p.name = StringOf(p.info.cfNameString);
    else
      p.name.assign(p.info.name, strnlen(p.info.name, sizeof p.info.name));
    if (handedOver) {
      if (p.info.cfNameString != nullptr) CFRelease(p.info.cfNameString);
      if (p.info.unitName != nullptr) CFRelease(p.info.unitName);
    }
    p.info.cfNameString = nullptr;
    p.info.unitName = nullptr;
    p.info.flags &= ~static_cast<UInt32>(kAudioUnitParameterFlag_CFNameRelease);
    parameters.push_back(std::move(p));
  }
  return parameters;
}

void PluginInstance::SetParameter(AudioUnitParameterID id, float value) {
  const OSStatus status = AudioUnitSetParameter(unit_, id, kAudioUnitScope_Global, 0, value, 0);
  if (status != noErr)
    throw ToolError(name_ + " refuses parameter " + std::to_string(id) + ": " + StatusName(status));
}

float PluginInstance::GetParameter(AudioUnitParameterID id) const {
  float value = 0;
  const OSStatus status = AudioUnitGetParameter(unit_, id, kAudioUnitScope_Global, 0, &value);
  if (status != noErr) throw ToolError(name_ + " cannot read parameter " + std::to_string(id) + ": " + StatusName(status));
  return value;
}

std::optional<UnitIdentity> PluginInstance::Identity() const {
  return ReadUnitProperty<UnitIdentity>(unit_, kUnitIdentityPropertyID);
}

std::optional<int> PluginInstance::VariantIndex() const {
  const std::optional<UnitIdentity> identity = Identity();
  if (!identity) return std::nullopt;
  return identity->mVariantIndex;
}

UInt32 PluginInstance::FrequencyResponsePropertyID() const {
  const std::optional<UnitIdentity> identity = Identity();
  return identity ? identity->mFrequencyResponsePropertyID : 0;
}

std::vector<double> PluginInstance::FrequencyResponse(const std::vector<double>& frequencies) const {
  const UInt32 id = FrequencyResponsePropertyID();
  if (id == 0) throw ToolError(name_ + " has no frequency-response property");
  std::vector<FrequencyResponsePoint> points(kFrequencyResponsePoints);
  for (size_t i = 0; i < points.size(); ++i)
    points[i].frequency = i < frequencies.size() ? frequencies[i] : frequencies.empty() ? 0.0 : frequencies.back();
  UInt32 size = static_cast<UInt32>(points.size() * sizeof(FrequencyResponsePoint));
  const OSStatus status = AudioUnitGetProperty(unit_, id, kAudioUnitScope_Global, 0, points.data(), &size);
  if (status != noErr) throw ToolError(name_ + " gives no frequency response: " + StatusName(status));
  std::vector<double> magnitudes;
  for (size_t i = 0; i < frequencies.size() && i < points.size(); ++i) magnitudes.push_back(points[i].magnitude);
  return magnitudes;
}

CFRef<CFPropertyListRef> PluginInstance::SaveState() const {
  CFPropertyListRef state = nullptr;
  UInt32 size = sizeof state;
  const OSStatus status =
      AudioUnitGetProperty(unit_, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &state, &size);
  if (status != noErr || state == nullptr)
    throw ToolError(name_ + " cannot save its state: " + StatusName(status));
  return CFRef<CFPropertyListRef>::Adopt(state);
}

void PluginInstance::RestoreState(CFPropertyListRef state) {
  const OSStatus status =
      AudioUnitSetProperty(unit_, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &state, sizeof state);
  if (status != noErr) throw ToolError(name_ + " refuses the saved state: " + StatusName(status));
}

void PluginInstance::ReadInputWhereItIs() {
  UInt32 inPlace = 0;
  const OSStatus status = AudioUnitSetProperty(unit_, kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global,
                                               0, &inPlace, sizeof inPlace);
  // A unit that keeps processing in place still gets its input copied in.
  inputWhereItIs_ = status == noErr;
}

OSStatus PluginInstance::InputCallback(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                                       UInt32 frames, AudioBufferList* data) {
  auto* self = static_cast<PluginInstance*>(refCon);
  if (self->input_ == nullptr || data == nullptr || data->mNumberBuffers != self->channels_) return paramErr;
  for (UInt32 c = 0; c < data->mNumberBuffers; ++c) {
    AudioBuffer& b = data->mBuffers[c];
    if (self->inputWhereItIs_) {
      // Not in place, the unit only reads what it is handed.
      b.mData = const_cast<float*>(self->input_[c]);
      b.mDataByteSize = frames * sizeof(float);
      continue;
    }
    if (b.mData == nullptr || b.mDataByteSize < frames * sizeof(float)) return paramErr;
    std::memcpy(b.mData, self->input_[c], frames * sizeof(float));
  }
  return noErr;
}

void PluginInstance::Render(const float* const* input, float* const* output, UInt32 frames, double sampleTime) {
  auto* list = reinterpret_cast<AudioBufferList*>(outputList_.data());
  list->mNumberBuffers = channels_;
  for (UInt32 c = 0; c < channels_; ++c)
    list->mBuffers[c] = AudioBuffer{1, static_cast<UInt32>(frames * sizeof(float)), output[c]};
  AudioTimeStamp time{};
  time.mSampleTime = sampleTime;
  time.mFlags = kAudioTimeStampSampleTimeValid;
  AudioUnitRenderActionFlags flags = 0;
  input_ = input;
  const OSStatus status = AudioUnitRender(unit_, &flags, &time, 0, frames, list);
  input_ = nullptr;
  if (status != noErr)
    throw ToolError(name_ + " failed to render at frame " + std::to_string(static_cast<long long>(sampleTime)) +
                    ": " + StatusName(status));
  // The unit copies into buffers the host supplies; keep to that contract.
  for (UInt32 c = 0; c < channels_; ++c)
    if (list->mBuffers[c].mData != output[c])
      std::memcpy(output[c], list->mBuffers[c].mData, frames * sizeof(float));
}

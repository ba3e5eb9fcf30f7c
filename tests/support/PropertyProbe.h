// A test unit whose property hooks answer what a test sets up, an output
// element that takes channel layouts, and helpers that pass values through
// heap buffers of exactly the reported size, so a read or write past a
// caller's buffer shows up under the address sanitizer.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/CFRef.h"
#include "support/PropertyNotices.h"
#include "support/TestUnit.h"
#include "utility/CAAudioChannelLayout.h"

// A property ID no part of the framework owns.
constexpr AudioUnitPropertyID kProbeProperty = 64000;
constexpr UInt32 kProbePropertySize = 12;

// An output bus with a fixed tag list and one stored layout.
class LayoutOutput : public AUOutputElement {
 public:
  using AUOutputElement::AUOutputElement;

  UInt32 GetChannelLayoutTags(AudioChannelLayoutTag* outTags) override {
    if (outTags != nullptr) std::copy(tags.begin(), tags.end(), outTags);
    return static_cast<UInt32>(tags.size());
  }
  UInt32 GetAudioChannelLayout(AudioChannelLayout* outLayout, Boolean& outWritable) override {
    if (layout.empty()) return 0;
    outWritable = layoutWritable;
    if (outLayout != nullptr) std::memcpy(outLayout, layout.data(), layout.size());
    return static_cast<UInt32>(layout.size());
  }
  OSStatus SetAudioChannelLayout(const AudioChannelLayout& inLayout) override {
    ++setCalls;
    const auto* bytes = reinterpret_cast<const Byte*>(&inLayout);
    layout.assign(bytes, bytes + CAAudioChannelLayout::CalculateByteSize(
                                     inLayout.mNumberChannelDescriptions));
    return noErr;
  }
  OSStatus RemoveAudioChannelLayout() override {
    ++removeCalls;
    layout.clear();
    return noErr;
  }

  std::vector<AudioChannelLayoutTag> tags;
  std::vector<Byte> layout;  // empty: no layout
  Boolean layoutWritable = true;
  int setCalls = 0;
  int removeCalls = 0;
};

// One input, one output, one group element, no parts; global parameters 5
// and 7. Every hook answers like the framework default until a test changes
// the fields below.
class ProbeUnit : public TestUnit {
 public:
  explicit ProbeUnit(bool layoutOutputs = false) : TestUnit(1, 1, 1, 0), mLayoutOutputs(layoutOutputs) {
    Globals()->SetParameter(5, 0.5f);
    Globals()->SetParameter(7, 0.7f);
  }

  AUElement* CreateElement(AudioUnitScope scope, AudioUnitElement element) override {
    if (mLayoutOutputs && scope == kAudioUnitScope_Output) return new LayoutOutput(this);
    return TestUnit::CreateElement(scope, element);
  }
  LayoutOutput* LayoutBus(AudioUnitElement element = 0) {
    return dynamic_cast<LayoutOutput*>(Outputs().GetElement(element));
  }

  UInt32 SupportedNumChannels(const AUChannelInfo** outInfo) override {
    if (outInfo != nullptr) *outInfo = channels.data();
    return static_cast<UInt32>(channels.size());
  }
  int GetNumCustomUIComponents() override { return static_cast<int>(views.size()); }
  void GetUIComponentDescs(ComponentDescription* outDescs) override {
    std::copy(views.begin(), views.end(), outDescs);
  }
  bool SupportsTail() override { return tail; }
  Float64 GetTailTime() override { return tailTime; }
  Float64 GetLatency() override { return latency; }
  CFURLRef CopyIconLocation() override {
    if (icon) CFRetain(icon.get());
    return icon.get();
  }
  bool BusCountWritable(AudioUnitScope) override { return busCountWritable; }

  OSStatus GetParameterInfo(AudioUnitScope scope, AudioUnitParameterID id,
                            AudioUnitParameterInfo& info) override {
    if (scope != kAudioUnitScope_Global || (id != 5 && id != 7))
      return kAudioUnitErr_InvalidParameter;
    std::memset(&info, 0, sizeof info);
    info.unit = kAudioUnitParameterUnit_Hertz;
    info.maxValue = static_cast<Float32>(id * 100);
    info.flags = kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable;
    return noErr;
  }
  OSStatus GetParameterValueStrings(AudioUnitScope, AudioUnitParameterID,
                                    CFArrayRef* outStrings) override {
    if (!valueStrings) return kAudioUnitErr_InvalidProperty;
    if (outStrings != nullptr) *outStrings = CFRef<CFArrayRef>(valueStrings).release();
    return noErr;
  }
  // A failing read writes nothing, so the dispatch's own null is what the caller sees.
  OSStatus GetPresets(CFArrayRef* outData) const override {
    if (presetsStatus != noErr) return presetsStatus;
    if (outData != nullptr) *outData = CFRef<CFArrayRef>(presets).release();
    return noErr;
  }
  OSStatus NewFactoryPresetSet(const AUPreset& preset) override {
    factoryPresetsAsked.push_back(preset.presetNumber);
    return factoryPresetStatus;
  }
  OSStatus SaveState(CFPropertyListRef* outData) override {
    if (saveStatus != noErr) return saveStatus;
    *outData = CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                         &kCFTypeDictionaryValueCallBacks);
    return noErr;
  }
  OSStatus RestoreState(CFPropertyListRef data) override {
    restored.push_back(data);
    return restoreStatus;
  }
  OSStatus SetConnection(const AudioUnitConnection& connection) override {
    connections.push_back(connection);
    return noErr;
  }
  OSStatus SetInputCallback(UInt32 id, AudioUnitElement element, AURenderCallback proc,
                            void* refCon) override {
    callbacks.push_back({id, element, proc, refCon});
    return noErr;
  }

  // kProbeProperty everywhere; fast dispatch element 9 when extraFastPath.
  OSStatus GetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                           UInt32& outSize, Boolean& outWritable) override {
    if (id != kProbeProperty) return TestUnit::GetPropertyInfo(id, scope, element, outSize, outWritable);
    outSize = kProbePropertySize;
    outWritable = true;
    return noErr;
  }
  OSStatus GetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                       void* outData) override {
    if (id == kProbeProperty || (id == kAudioUnitProperty_FastDispatch && extraFastPath)) {
      Put<UInt32>(outData, 0xFEEDu);
      return noErr;
    }
    return TestUnit::GetProperty(id, scope, element, outData);
  }
  OSStatus SetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                       const void* data, UInt32 size) override {
    if (id != kProbeProperty) return TestUnit::SetProperty(id, scope, element, data, size);
    return probeSetStatus;
  }
  OSStatus RemovePropertyValue(AudioUnitPropertyID id, AudioUnitScope scope,
                               AudioUnitElement element) override {
    if (id != kProbeProperty) return TestUnit::RemovePropertyValue(id, scope, element);
    return noErr;
  }

  template <class T>
  static void Put(void* data, T value) {
    std::memcpy(data, &value, sizeof value);
  }

  struct CallbackCall {
    UInt32 id;
    AudioUnitElement element;
    AURenderCallback proc;
    void* refCon;
  };

  std::vector<AUChannelInfo> channels;
  std::vector<ComponentDescription> views;
  bool tail = false;
  Float64 tailTime = 0.0;
  Float64 latency = 0.0;
  CFRef<CFURLRef> icon;
  bool busCountWritable = false;
  CFRef<CFArrayRef> valueStrings;
  OSStatus presetsStatus = kAudioUnitErr_InvalidProperty;
  CFRef<CFArrayRef> presets;
  OSStatus factoryPresetStatus = noErr;
  std::vector<SInt32> factoryPresetsAsked;
  OSStatus saveStatus = noErr;
  OSStatus restoreStatus = noErr;
  std::vector<CFPropertyListRef> restored;
  std::vector<AudioUnitConnection> connections;
  std::vector<CallbackCall> callbacks;
  bool extraFastPath = false;
  OSStatus probeSetStatus = noErr;

 private:
  bool mLayoutOutputs;
};

using ProbeUnitPtr = std::unique_ptr<ProbeUnit, TestUnitCloser>;

// Constructed and given its elements, as the component entry opens a unit.
inline ProbeUnitPtr OpenProbeUnit(bool layoutOutputs = false) {
  ProbeUnitPtr unit(new ProbeUnit(layoutOutputs));
  unit->PostConstructor();
  return unit;
}

// A status thrown below the dispatch, as the component entry would report it.
template <class F>
OSStatus StatusOf(F&& f) {
  try {
    return f();
  } catch (OSStatus status) {
    return status;
  }
}

// Every change notice a unit sends for the registered IDs.
class NoticeLog {
 public:
  void Listen(AUBase& unit, std::initializer_list<AudioUnitPropertyID> ids) {
    for (AudioUnitPropertyID id : ids) unit.AddPropertyListener(id, &NoticeLog::Record, this);
  }
  void ListenToAll(AUBase& unit) {
    for (AudioUnitPropertyID id = 0; id <= 40; ++id) unit.AddPropertyListener(id, &NoticeLog::Record, this);
    unit.AddPropertyListener(kProbeProperty, &NoticeLog::Record, this);
  }
  std::vector<Notice> notices;

 private:
  static void Record(void* refCon, AudioUnit, AudioUnitPropertyID id, AudioUnitScope scope,
                     AudioUnitElement element) {
    static_cast<NoticeLog*>(refCon)->notices.push_back({id, scope, element});
  }
};

// Reads a property the way the component entry does: asks for the size, then
// reads into a heap buffer of exactly that size. Empty on failure.
inline OSStatus ReadProperty(AUBase& unit, AudioUnitPropertyID id, AudioUnitScope scope,
                             AudioUnitElement element, std::vector<Byte>& out) {
  out.clear();
  UInt32 size = 0;
  Boolean writable = false;
  OSStatus status =
      StatusOf([&] { return unit.DispatchGetPropertyInfo(id, scope, element, size, writable); });
  if (status != noErr) return status;
  std::unique_ptr<Byte[]> buffer(new Byte[size]);
  std::memset(buffer.get(), 0xA5, size);
  status = StatusOf([&] { return unit.DispatchGetProperty(id, scope, element, buffer.get()); });
  out.assign(buffer.get(), buffer.get() + size);
  return status;
}

// A value read as T; the property must be exactly that size.
template <class T>
T ReadAs(AUBase& unit, AudioUnitPropertyID id, AudioUnitScope scope = kAudioUnitScope_Global,
         AudioUnitElement element = 0) {
  std::vector<Byte> bytes;
  EXPECT_EQ(ReadProperty(unit, id, scope, element, bytes), noErr) << "property " << id;
  T value{};
  EXPECT_EQ(bytes.size(), sizeof(T)) << "property " << id;
  if (bytes.size() == sizeof(T)) std::memcpy(&value, bytes.data(), sizeof(T));
  return value;
}

// Writes through a heap copy of exactly `bytes.size()` bytes.
inline OSStatus WriteProperty(AUBase& unit, AudioUnitPropertyID id, AudioUnitScope scope,
                              AudioUnitElement element, const std::vector<Byte>& bytes) {
  std::unique_ptr<Byte[]> buffer(new Byte[bytes.size()]);
  std::memcpy(buffer.get(), bytes.data(), bytes.size());
  return StatusOf([&] {
    return unit.DispatchSetProperty(id, scope, element, buffer.get(),
                                    static_cast<UInt32>(bytes.size()));
  });
}

// The bytes of a value, cut or zero-padded to `size` (default: its own size).
template <class T>
std::vector<Byte> BytesOf(const T& value, size_t size = sizeof(T)) {
  std::vector<Byte> bytes(size, 0);
  std::memcpy(bytes.data(), &value, std::min(size, sizeof(T)));
  return bytes;
}

inline OSStatus RemoveProperty(AUBase& unit, AudioUnitPropertyID id, AudioUnitScope scope,
                               AudioUnitElement element) {
  return StatusOf([&] { return unit.DispatchRemovePropertyValue(id, scope, element); });
}

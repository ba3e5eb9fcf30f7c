// Helpers for tests of saved states: a component description for the test
// unit's instance, big-endian byte strings and state dictionaries.
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/CFRef.h"
#include "platform/ComponentSeam.h"
#include "support/TestUnit.h"

namespace saved_state_test {

constexpr UInt32 FourCC(const char (&code)[5]) {
  return (UInt32(UInt8(code[0])) << 24) | (UInt32(UInt8(code[1])) << 16) |
         (UInt32(UInt8(code[2])) << 8) | UInt32(UInt8(code[3]));
}

constexpr UInt32 kType = FourCC("aufx");
constexpr UInt32 kSubtype = FourCC("Qbs7");
constexpr UInt32 kManufacturer = FourCC("Qelv");
// What the description lookup answers for any instance but the test unit's.
constexpr OSErr kNoDescription = -32766;

inline OSErr TestComponentInfo(ComponentInstance instance, ComponentDescription* outDesc) {
  if (instance != TestUnit::DefaultInstance()) return kNoDescription;
  *outDesc = ComponentDescription{kType, kSubtype, kManufacturer, 0, 0};
  return noErr;
}

// Makes GetComponentInfo answer for the test unit's instance.
inline void InstallTestComponentInfo() {
  static AudioUnitHostOps ops{};
  ops.getComponentInfo = TestComponentInfo;
  SetAudioUnitHostOps(&ops);
}

// Big-endian 32-bit words.
inline std::vector<UInt8> Words(std::initializer_list<UInt32> words) {
  std::vector<UInt8> bytes;
  for (UInt32 w : words) {
    bytes.push_back(UInt8(w >> 24));
    bytes.push_back(UInt8(w >> 16));
    bytes.push_back(UInt8(w >> 8));
    bytes.push_back(UInt8(w));
  }
  return bytes;
}

inline UInt32 Bits(Float32 value) {
  UInt32 bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

inline std::vector<UInt8> Concat(std::initializer_list<std::vector<UInt8>> parts) {
  std::vector<UInt8> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

inline CFRef<CFStringRef> Str(const char* text) {
  return CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8));
}

inline CFRef<CFNumberRef> Int(SInt32 value) {
  return CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt32Type, &value));
}

inline CFRef<CFMutableDictionaryRef> NewDict() {
  return CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
}

inline CFRef<CFDataRef> Data(const std::vector<UInt8>& bytes) {
  return CFRef<CFDataRef>::Adopt(
      CFDataCreate(nullptr, bytes.data(), static_cast<CFIndex>(bytes.size())));
}

// The same value held as a plain value reference.
template <class T>
CFRef<CFTypeRef> AsAny(const CFRef<T>& value) {
  return CFRef<CFTypeRef>::Retain(value.get());
}

inline void Set(CFMutableDictionaryRef dict, const char* key, CFTypeRef value) {
  CFDictionarySetValue(dict, Str(key).get(), value);
}

// The smallest state the test unit accepts.
inline CFRef<CFMutableDictionaryRef> MinimalState() {
  CFRef<CFMutableDictionaryRef> state = NewDict();
  Set(state.get(), "version", Int(0).get());
  Set(state.get(), "type", Int(SInt32(kType)).get());
  Set(state.get(), "subtype", Int(SInt32(kSubtype)).get());
  Set(state.get(), "manufacturer", Int(SInt32(kManufacturer)).get());
  return state;
}

inline std::vector<UInt8> BytesOf(CFTypeRef data) {
  if (data == nullptr || CFGetTypeID(data) != CFDataGetTypeID()) return {};
  const auto d = static_cast<CFDataRef>(data);
  const UInt8* p = CFDataGetBytePtr(d);
  return std::vector<UInt8>(p, p + CFDataGetLength(d));
}

inline std::string TextOf(CFTypeRef string) {
  if (string == nullptr || CFGetTypeID(string) != CFStringGetTypeID()) return "<not a string>";
  return CFStringGetCStringPtr(static_cast<CFStringRef>(string), kCFStringEncodingUTF8);
}

}  // namespace saved_state_test

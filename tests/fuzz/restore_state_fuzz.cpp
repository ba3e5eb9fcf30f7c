// Fuzz target: builds a saved-state value from the input bytes and restores
// it into a test unit. A restore may fail but must never crash, read outside
// a buffer or leak; a restore that succeeds must save a state that restores
// into a fresh unit and saves again equal.
//
// Input, read front to back (a missing byte reads as 0):
//   flags byte: bit 0 prefills "version", "type", "subtype" and "manufacturer"
//     with valid values; bit 1 restores a single value instead of a
//     dictionary; bit 2 gives the global element 3 indexed parameters;
//     bits 3-4 are the input count.
//   entry count byte (mod 16), then that many key/value pairs (see ReadKey
//   and ReadValue).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/SavedStateSupport.h"

using namespace saved_state_test;

namespace {

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : mData(data), mSize(size) {}
  uint8_t Byte() { return mPos < mSize ? mData[mPos++] : 0; }
  uint32_t Word() {
    uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w = (w << 8) | Byte();
    return w;
  }
  std::vector<UInt8> Bytes(size_t count) {
    std::vector<UInt8> bytes;
    for (size_t i = 0; i < count && mPos < mSize; ++i) bytes.push_back(mData[mPos++]);
    return bytes;
  }

 private:
  const uint8_t* mData;
  size_t mSize;
  size_t mPos = 0;
};

constexpr const char* kKnownKeys[] = {"version", "type",     "subtype",        "manufacturer",
                                      "data",    "name",     "render-quality", "cpu-load",
                                      "element-name", "part", "0", "1", "2", "3", "4"};
constexpr size_t kKnownKeyCount = sizeof kKnownKeys / sizeof kKnownKeys[0];

CFRef<CFTypeRef> ReadValue(Reader& in, int depth);

CFRef<CFTypeRef> Text(const std::vector<UInt8>& bytes) {
  CFRef<CFStringRef> s = CFRef<CFStringRef>::Adopt(CFStringCreateWithBytes(
      nullptr, bytes.data(), static_cast<CFIndex>(bytes.size()), kCFStringEncodingUTF8, false));
  return s ? AsAny(s) : AsAny(Str("?"));
}

CFRef<CFTypeRef> Number(SInt32 value) { return AsAny(Int(value)); }

// Key byte: a known key, a decimal number, free text or a number key.
CFRef<CFTypeRef> ReadKey(Reader& in) {
  const uint8_t k = in.Byte() % (kKnownKeyCount + 3);
  if (k < kKnownKeyCount) return AsAny(Str(kKnownKeys[k]));
  if (k == kKnownKeyCount) return AsAny(Str(std::to_string(in.Word() % 2048).c_str()));
  if (k == kKnownKeyCount + 1) return Text(in.Bytes(in.Byte() % 40));
  return Number(SInt32(in.Word()));
}

// Parameter chunks, mostly well formed, then cut to a chosen length.
CFRef<CFTypeRef> ReadChunks(Reader& in) {
  std::vector<UInt8> bytes;
  const int chunks = in.Byte() % 6;
  for (int c = 0; c < chunks; ++c) {
    const uint8_t scope = in.Byte();
    const auto header = Words({scope < 200 ? scope % 3u : scope, UInt32(in.Byte() % 3),
                               UInt32(in.Byte() % 5)});
    bytes.insert(bytes.end(), header.begin(), header.end());
    const UInt32 count = UInt32(bytes[bytes.size() - 1]);
    for (UInt32 e = 0; e < count; ++e) {
      const auto entry = Words({UInt32(in.Byte() % 6), in.Word()});
      bytes.insert(bytes.end(), entry.begin(), entry.end());
    }
  }
  const uint8_t cut = in.Byte();
  if (cut & 0x80) bytes.resize(bytes.size() - std::min<size_t>(bytes.size(), cut & 0x7F));
  return AsAny(Data(bytes));
}

CFRef<CFTypeRef> ReadDictionary(Reader& in, int depth) {
  CFRef<CFMutableDictionaryRef> dict = NewDict();
  const int count = in.Byte() % 8;
  for (int i = 0; i < count; ++i) {
    CFRef<CFTypeRef> key = ReadKey(in);
    CFRef<CFTypeRef> value = ReadValue(in, depth + 1);
    CFDictionarySetValue(dict.get(), key.get(), value.get());
  }
  return AsAny(dict);
}

CFRef<CFTypeRef> ReadValue(Reader& in, int depth) {
  static const SInt32 kInteresting[] = {0, SInt32(kSubtype), SInt32(kManufacturer), SInt32(kType),
                                        1, -1, 1023, 1024, SInt32(0x80000000)};
  switch (in.Byte() % 10) {
    case 0:
      return Number(SInt32(in.Word()));
    case 1:
      return Number(kInteresting[in.Byte() % (sizeof kInteresting / sizeof kInteresting[0])]);
    case 2: {
      const UInt32 bits = in.Word();
      Float32 f;
      std::memcpy(&f, &bits, sizeof f);
      return AsAny(CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberFloatType, &f)));
    }
    case 3: {
      const UInt64 bits = (UInt64{in.Word()} << 32) | in.Word();
      Float64 d;
      std::memcpy(&d, &bits, sizeof d);
      return AsAny(CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberDoubleType, &d)));
    }
    case 4:
      return Text(in.Bytes(in.Byte() % 40));
    case 5: {
      const size_t length = (size_t{in.Byte()} << 8 | in.Byte()) % 512;
      return AsAny(Data(in.Bytes(length)));
    }
    case 6:
      return ReadChunks(in);
    case 7:
      if (depth < 4) return ReadDictionary(in, depth);
      return Number(0);
    case 8:
      if (in.Byte() & 1) return CFRef<CFTypeRef>::Retain(kCFBooleanTrue);
      return CFRef<CFTypeRef>();
    default: {
      CFRef<CFMutableArrayRef> array =
          CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
      const int count = in.Byte() % 4;
      for (int i = 0; i < count && depth < 4; ++i)
        CFArrayAppendValue(array.get(), ReadValue(in, depth + 1).get());
      return AsAny(array);
    }
  }
}

struct Config {
  UInt32 inputs;
  bool indexed;
};

TestUnitPtr Open(const Config& config) {
  TestUnitPtr unit = OpenTestUnit(config.inputs, 1);
  if (config.indexed) unit->Globals()->UseIndexedParameters(3);
  return unit;
}

OSStatus Restore(AUBase& unit, CFPropertyListRef state) {
  try {
    return unit.RestoreState(state);
  } catch (OSStatus status) {
    return status;
  }
}

CFRef<CFDictionaryRef> Save(AUBase& unit) {
  CFPropertyListRef state = nullptr;
  if (unit.SaveState(&state) != noErr) std::abort();
  return CFRef<CFDictionaryRef>::Adopt(static_cast<CFDictionaryRef>(state));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool installed = (InstallTestComponentInfo(), true);
  (void)installed;

  Reader in(data, size);
  const uint8_t flags = in.Byte();
  const Config config{UInt32((flags >> 3) & 3), (flags & 4) != 0};

  CFRef<CFTypeRef> state;
  if (flags & 2) {
    state = ReadValue(in, 0);
  } else {
    CFRef<CFMutableDictionaryRef> dict = (flags & 1) ? MinimalState() : NewDict();
    const int entries = in.Byte() % 16;
    for (int i = 0; i < entries; ++i) {
      CFRef<CFTypeRef> key = ReadKey(in);
      CFRef<CFTypeRef> value = ReadValue(in, 1);
      CFDictionarySetValue(dict.get(), key.get(), value.get());
    }
    state = AsAny(dict);
  }

  TestUnitPtr unit = Open(config);
  if (Restore(*unit, state.get()) != noErr) return 0;

  // Whatever was accepted saves into a state that survives a round trip.
  CFRef<CFDictionaryRef> saved = Save(*unit);
  TestUnitPtr fresh = Open(config);
  if (Restore(*fresh, saved.get()) != noErr) std::abort();
  if (!CFEqual(Save(*fresh).get(), saved.get())) std::abort();
  return 0;
}

// Byte and key encodings of the saved-state dictionary, shared by the unit
// and its scopes and elements: big-endian 32-bit words in "data", and element
// and scope numbers as decimal text keys.
#pragma once

#include <cstdio>

#include "platform/AudioTypes.h"
#include "platform/CFRef.h"

// [control] Every helper: states are saved and restored on the control side.
namespace saved_state {

inline void AppendWord(CFMutableDataRef data, UInt32 word) {
  const UInt8 bytes[4] = {static_cast<UInt8>(word >> 24), static_cast<UInt8>(word >> 16),
                          static_cast<UInt8>(word >> 8), static_cast<UInt8>(word)};
  CFDataAppendBytes(data, bytes, sizeof bytes);
}

// The caller has checked that four bytes are there.
inline UInt32 ReadWord(const UInt8* p) {
  return (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]);
}

// Bytes left between p and end, without forming a pointer past end.
inline size_t Remaining(const UInt8* p, const UInt8* end) { return static_cast<size_t>(end - p); }

// Room for any UInt32 in decimal and the terminator; one per call, so units
// on different threads never share it.
struct DecimalKeyBuffer {
  char text[32];
};

// A new ASCII string holding the number in decimal.
inline CFRef<CFStringRef> MakeDecimalKey(UInt32 number) {
  DecimalKeyBuffer buffer;
  std::snprintf(buffer.text, sizeof buffer.text, "%u", static_cast<unsigned>(number));
  return CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCString(kCFAllocatorDefault, buffer.text, kCFStringEncodingASCII));
}

// Reads a key that must be a string of 1 to 31 decimal digits whose value
// fits in 32 bits. Signs, spaces and other text are refused, so a key never
// stands for a number it does not spell.
inline bool ParseDecimalKey(CFTypeRef key, UInt32& outNumber) {
  if (key == nullptr || CFGetTypeID(key) != CFStringGetTypeID()) return false;
  DecimalKeyBuffer buffer;
  if (!CFStringGetCString(static_cast<CFStringRef>(key), buffer.text, sizeof buffer.text,
                          kCFStringEncodingASCII))
    return false;
  if (buffer.text[0] == '\0') return false;
  UInt64 value = 0;
  for (const char* c = buffer.text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    value = value * 10 + static_cast<UInt64>(*c - '0');
    if (value > 0xFFFFFFFFull) return false;
  }
  outNumber = static_cast<UInt32>(value);
  return true;
}

}  // namespace saved_state

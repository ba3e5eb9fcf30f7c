#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "platform/CFRef.h"
#include "platform/Values.h"

namespace {

CFRef<CFStringRef> Str(const char* text) {
  return CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8));
}
CFRef<CFNumberRef> Int32(int32_t v) { return CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt32Type, &v)); }
CFRef<CFNumberRef> Double(double v) { return CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberDoubleType, &v)); }
CFRef<CFMutableDictionaryRef> TypeDict() {
  return CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
}

// Counts releases, to see when a container lets go of what it holds.
int gReleases = 0;
void CountingRelease(CFAllocatorRef, const void*) { ++gReleases; }

}  // namespace

// ---- reference counts ---------------------------------------------------------------

TEST(ValueRefCount, RetainReleaseAndOwnershipThroughContainers) {
  auto s = Str("level");
  EXPECT_EQ(CFGetRetainCount(s.get()), 1);
  EXPECT_EQ(CFRetain(s.get()), s.get());
  EXPECT_EQ(CFGetRetainCount(s.get()), 2);
  CFRelease(s.get());
  EXPECT_EQ(CFGetRetainCount(s.get()), 1);

  {
    auto array = CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
    CFArrayAppendValue(array.get(), s.get());
    CFArrayAppendValue(array.get(), s.get());
    EXPECT_EQ(CFGetRetainCount(s.get()), 3);
    CFArrayRemoveValueAtIndex(array.get(), 0);
    EXPECT_EQ(CFGetRetainCount(s.get()), 2);
  }
  EXPECT_EQ(CFGetRetainCount(s.get()), 1) << "destroying the array releases what it holds";

  {
    auto dict = TypeDict();
    auto key = Str("key");
    CFDictionarySetValue(dict.get(), key.get(), s.get());
    EXPECT_EQ(CFGetRetainCount(key.get()), 2);
    EXPECT_EQ(CFGetRetainCount(s.get()), 2);
  }
  EXPECT_EQ(CFGetRetainCount(s.get()), 1);
}

TEST(ValueRefCount, ConstantsAndBooleansAreImmortal) {
  CFStringRef a = CFSTR("Kest Symbol");
  EXPECT_EQ(a, CFStringMakeConstantString("Kest Symbol")) << "constant strings are interned";
  EXPECT_EQ(a, CFSTR("Kest Symbol"));
  EXPECT_NE(a, CFSTR("New Level"));
  for (CFTypeRef v : {static_cast<CFTypeRef>(a), static_cast<CFTypeRef>(kCFBooleanTrue),
                      static_cast<CFTypeRef>(kCFBooleanFalse)}) {
    for (int i = 0; i < 5; ++i) CFRelease(v);
    CFRetain(v);
    EXPECT_EQ(CFGetRetainCount(v), std::numeric_limits<CFIndex>::max());
  }
  char buffer[32];
  ASSERT_TRUE(CFStringGetCString(a, buffer, sizeof buffer, kCFStringEncodingASCII));
  EXPECT_STREQ(buffer, "Kest Symbol");
  EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
  EXPECT_FALSE(CFBooleanGetValue(kCFBooleanFalse));
}

TEST(ValueRefCount, NullAndWrongTypedArgumentsAreHarmless) {
  CFRelease(nullptr);
  EXPECT_EQ(CFRetain(nullptr), nullptr);
  EXPECT_EQ(CFGetRetainCount(nullptr), 0);
  EXPECT_FALSE(CFEqual(nullptr, nullptr));
  EXPECT_EQ(CFHash(nullptr), 0u);
  EXPECT_EQ(CFGetTypeID(nullptr), 0u);
  EXPECT_EQ(CFStringCreateWithCString(nullptr, nullptr, kCFStringEncodingUTF8), nullptr);
  EXPECT_EQ(CFStringMakeConstantString(nullptr), nullptr);
  EXPECT_EQ(CFStringGetLength(nullptr), 0);
  EXPECT_EQ(CFStringGetCStringPtr(nullptr, kCFStringEncodingUTF8), nullptr);
  EXPECT_EQ(CFNumberCreate(nullptr, kCFNumberIntType, nullptr), nullptr);
  double d = 7;
  EXPECT_FALSE(CFNumberGetValue(nullptr, kCFNumberDoubleType, &d));
  EXPECT_EQ(d, 7);
  EXPECT_FALSE(CFBooleanGetValue(nullptr));
  CFArrayAppendValue(nullptr, &d);
  EXPECT_EQ(CFArrayGetCount(nullptr), 0);
  EXPECT_EQ(CFArrayGetValueAtIndex(nullptr, 0), nullptr);
  CFDictionarySetValue(nullptr, CFSTR("k"), CFSTR("v"));
  CFDictionaryRemoveValue(nullptr, CFSTR("k"));
  EXPECT_EQ(CFDictionaryGetValue(nullptr, CFSTR("k")), nullptr);
  EXPECT_FALSE(CFDictionaryContainsKey(nullptr, CFSTR("k")));
  EXPECT_EQ(CFDictionaryGetCount(nullptr), 0);
  CFDictionaryGetKeysAndValues(nullptr, nullptr, nullptr);
  CFDataAppendBytes(nullptr, reinterpret_cast<const uint8_t*>("x"), 1);
  EXPECT_EQ(CFDataGetBytePtr(nullptr), nullptr);
  EXPECT_EQ(CFURLCreateWithFileSystemPath(nullptr, nullptr, kCFURLPOSIXPathStyle, false), nullptr);
  EXPECT_EQ(CFURLCopyFileSystemPath(nullptr, kCFURLPOSIXPathStyle), nullptr);

  // A value of another type is refused the same way, not misread.
  auto s = Str("not a number");
  int32_t i = 5;
  EXPECT_FALSE(CFNumberGetValue(reinterpret_cast<CFNumberRef>(s.get()), kCFNumberIntType, &i));
  EXPECT_EQ(i, 5);
  EXPECT_EQ(CFDictionaryGetCount(reinterpret_cast<CFDictionaryRef>(s.get())), 0);
  EXPECT_EQ(CFStringGetLength(reinterpret_cast<CFStringRef>(Int32(3).get())), 0);
}

TEST(ValueRefCount, TypeIDsAreFixed) {
  auto n = Double(1);
  auto dict = TypeDict();
  auto data = CFRef<CFDataRef>::Adopt(CFDataCreate(nullptr, nullptr, 0));
  auto url = CFRef<CFURLRef>::Adopt(CFURLCreateWithFileSystemPath(nullptr, CFSTR("/tmp"), kCFURLPOSIXPathStyle, true));
  auto array = CFRef<CFArrayRef>::Adopt(CFArrayCreate(nullptr, nullptr, 0, &kCFTypeArrayCallBacks));
  const struct {
    CFTypeRef value;
    CFTypeID (*getter)();
    CFTypeID id;
  } cases[] = {
      {CFSTR("s"), CFStringGetTypeID, 1}, {n.get(), CFNumberGetTypeID, 2},   {kCFBooleanTrue, CFBooleanGetTypeID, 3},
      {array.get(), CFArrayGetTypeID, 4}, {dict.get(), CFDictionaryGetTypeID, 5}, {data.get(), CFDataGetTypeID, 6},
      {url.get(), CFURLGetTypeID, 7},
  };
  for (const auto& c : cases) {
    ASSERT_NE(c.value, nullptr);
    EXPECT_EQ(CFGetTypeID(c.value), c.id);
    EXPECT_EQ(c.getter(), c.id);
  }
}

// ---- strings -----------------------------------------------------------------------

TEST(ValueString, CreationValidatesTheEncoding) {
  const struct {
    const char* bytes;
    CFStringEncoding encoding;
    bool accepted;
  } cases[] = {
      {"", kCFStringEncodingASCII, true},
      {"BS7V0", kCFStringEncodingASCII, true},
      {"\x7F", kCFStringEncodingASCII, true},
      {"caf\xC3\xA9", kCFStringEncodingASCII, false},  // >127 is not ASCII
      {"caf\xC3\xA9", kCFStringEncodingUTF8, true},
      {"\xE2\x82\xAC", kCFStringEncodingUTF8, true},      // euro sign
      {"\xF0\x9F\x8E\xB5", kCFStringEncodingUTF8, true},  // 4-byte character
      {"\xF4\x8F\xBF\xBF", kCFStringEncodingUTF8, true},  // U+10FFFF
      {"\x80", kCFStringEncodingUTF8, false},             // stray continuation
      {"\xC3", kCFStringEncodingUTF8, false},             // cut short at the end
      {"\xE2\x82x", kCFStringEncodingUTF8, false},        // cut short mid-text
      {"\xC0\x80", kCFStringEncodingUTF8, false},         // overlong zero
      {"\xE0\x80\xAF", kCFStringEncodingUTF8, false},     // overlong slash
      {"\xED\xA0\x80", kCFStringEncodingUTF8, false},     // surrogate
      {"\xF4\x90\x80\x80", kCFStringEncodingUTF8, false}, // above U+10FFFF
      {"\xFF", kCFStringEncodingUTF8, false},
      {"ok", 0x0500, false},  // unsupported encoding
  };
  for (const auto& c : cases) {
    auto s = CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, c.bytes, c.encoding));
    EXPECT_EQ(s.get() != nullptr, c.accepted) << "bytes: " << c.bytes;
    if (s) {
      EXPECT_EQ(CFStringGetLength(s.get()), static_cast<CFIndex>(std::strlen(c.bytes)));
      EXPECT_STREQ(CFStringGetCStringPtr(s.get(), kCFStringEncodingUTF8), c.bytes);
    }
    auto viaBytes = CFRef<CFStringRef>::Adopt(CFStringCreateWithBytes(
        nullptr, reinterpret_cast<const uint8_t*>(c.bytes), static_cast<CFIndex>(std::strlen(c.bytes)), c.encoding,
        false));
    EXPECT_EQ(viaBytes.get() != nullptr, c.accepted) << "bytes: " << c.bytes;
    if (s && viaBytes) {
      EXPECT_TRUE(CFEqual(s.get(), viaBytes.get()));
    }
  }
}

TEST(ValueString, CreateWithBytesTakesExactlyLengthBytes) {
  const uint8_t bytes[] = {'a', 'b', 'c', 'd'};
  auto s = CFRef<CFStringRef>::Adopt(CFStringCreateWithBytes(nullptr, bytes, 2, kCFStringEncodingASCII, false));
  EXPECT_STREQ(CFStringGetCStringPtr(s.get(), kCFStringEncodingASCII), "ab");
  EXPECT_EQ(CFStringCreateWithBytes(nullptr, bytes, -1, kCFStringEncodingASCII, false), nullptr);
  EXPECT_EQ(CFStringCreateWithBytes(nullptr, nullptr, 3, kCFStringEncodingASCII, false), nullptr);
}

TEST(ValueString, GetCStringRespectsTheBufferSize) {
  // "h\xC3\xA9llo" is 6 bytes of text; it needs 7 with the terminator.
  auto s = Str("h\xC3\xA9llo");
  const struct {
    CFIndex size;
    bool ok;
    const char* written;  // null: nothing written at all
  } cases[] = {
      {0, false, nullptr},   {1, false, ""},   {2, false, "h"},
      {3, false, "h"},  // the two-byte character is not split
      {4, false, "h\xC3\xA9"}, {6, false, "h\xC3\xA9ll"}, {7, true, "h\xC3\xA9llo"}, {8, true, "h\xC3\xA9llo"},
  };
  for (const auto& c : cases) {
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(CFStringGetCString(s.get(), buffer, c.size, kCFStringEncodingUTF8), c.ok) << "size " << c.size;
    if (c.written == nullptr) {
      EXPECT_EQ(buffer[0], '#');
    } else {
      EXPECT_STREQ(buffer, c.written) << "size " << c.size;
    }
    for (CFIndex i = c.size; i < static_cast<CFIndex>(sizeof buffer); ++i) {
      ASSERT_EQ(buffer[i], '#') << "wrote past size " << c.size;
    }
  }
}

TEST(ValueString, GetCStringRefusesWhatTheEncodingCannotExpress) {
  char buffer[16];
  auto accented = Str("caf\xC3\xA9");
  EXPECT_FALSE(CFStringGetCString(accented.get(), buffer, sizeof buffer, kCFStringEncodingASCII));
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(CFStringGetCStringPtr(accented.get(), kCFStringEncodingASCII), nullptr);
  EXPECT_FALSE(CFStringGetCString(accented.get(), buffer, sizeof buffer, 0x0500));

  const uint8_t withZero[] = {'a', 0, 'b'};
  auto s = CFRef<CFStringRef>::Adopt(CFStringCreateWithBytes(nullptr, withZero, 3, kCFStringEncodingASCII, false));
  ASSERT_TRUE(s);
  EXPECT_EQ(CFStringGetLength(s.get()), 3);
  EXPECT_FALSE(CFStringGetCString(s.get(), buffer, sizeof buffer, kCFStringEncodingASCII));
}

TEST(ValueString, EqualityAndHashFollowContent) {
  auto a = Str("peakLV");
  auto b = CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, "peakLV", kCFStringEncodingASCII));
  auto c = Str("peakRV");
  EXPECT_NE(a.get(), b.get());
  EXPECT_TRUE(CFEqual(a.get(), b.get()));
  EXPECT_TRUE(CFEqual(a.get(), CFSTR("peakLV")));
  EXPECT_EQ(CFHash(a.get()), CFHash(CFSTR("peakLV")));
  EXPECT_FALSE(CFEqual(a.get(), c.get()));
  EXPECT_FALSE(CFEqual(Str("").get(), Str("x").get()));
  EXPECT_FALSE(CFEqual(Str("3").get(), Int32(3).get())) << "different types never compare equal";
}

// ---- numbers -----------------------------------------------------------------------

namespace {
struct Conversion {
  CFNumberType from;
  double in;  // stored with the "from" type
  CFNumberType to;
  double out;  // what the read stores, as a double
  bool exact;
};

CFRef<CFNumberRef> MakeNumber(CFNumberType type, double v) {
  int8_t i8 = static_cast<int8_t>(v);
  int16_t i16 = static_cast<int16_t>(v);
  int32_t i32 = static_cast<int32_t>(v);
  int64_t i64 = static_cast<int64_t>(v);
  float f = static_cast<float>(v);
  const void* p = &v;
  switch (type) {
    case kCFNumberSInt8Type: case kCFNumberCharType: p = &i8; break;
    case kCFNumberSInt16Type: case kCFNumberShortType: p = &i16; break;
    case kCFNumberSInt32Type: case kCFNumberIntType: p = &i32; break;
    case kCFNumberSInt64Type: case kCFNumberLongType: case kCFNumberLongLongType: p = &i64; break;
    case kCFNumberFloat32Type: case kCFNumberFloatType: p = &f; break;
    default: break;
  }
  return CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, type, p));
}

// Reads into a zero-filled 8-byte slot and widens the result for comparison.
bool Read(CFNumberRef n, CFNumberType type, double* out) {
  alignas(8) unsigned char slot[8] = {};
  const Boolean ok = CFNumberGetValue(n, type, slot);
  switch (type) {
    case kCFNumberSInt8Type: case kCFNumberCharType: { int8_t v; std::memcpy(&v, slot, 1); *out = v; break; }
    case kCFNumberSInt16Type: case kCFNumberShortType: { int16_t v; std::memcpy(&v, slot, 2); *out = v; break; }
    case kCFNumberSInt32Type: case kCFNumberIntType: { int32_t v; std::memcpy(&v, slot, 4); *out = v; break; }
    case kCFNumberFloat32Type: case kCFNumberFloatType: { float v; std::memcpy(&v, slot, 4); *out = v; break; }
    case kCFNumberFloat64Type: case kCFNumberDoubleType: { std::memcpy(out, slot, 8); break; }
    default: { int64_t v; std::memcpy(&v, slot, 8); *out = static_cast<double>(v); break; }
  }
  return ok;
}
}  // namespace

TEST(ValueNumber, ConversionsOnRead) {
  const double inf = std::numeric_limits<double>::infinity();
  const Conversion cases[] = {
      {kCFNumberIntType, 10, kCFNumberDoubleType, 10, true},
      {kCFNumberSInt32Type, -7, kCFNumberSInt8Type, -7, true},
      {kCFNumberSInt32Type, 300, kCFNumberSInt8Type, 44, false},  // low bits kept
      {kCFNumberSInt32Type, -129, kCFNumberCharType, 127, false},
      {kCFNumberSInt32Type, 70000, kCFNumberShortType, 4464, false},
      {kCFNumberSInt32Type, 16777217, kCFNumberFloatType, 16777216, false},  // not representable
      {kCFNumberSInt32Type, 16777216, kCFNumberFloatType, 16777216, true},
      {kCFNumberDoubleType, 3.7, kCFNumberSInt32Type, 3, false},
      {kCFNumberDoubleType, -3.7, kCFNumberIntType, -3, false},
      {kCFNumberDoubleType, 42.0, kCFNumberSInt32Type, 42, true},
      {kCFNumberDoubleType, -0.0, kCFNumberSInt32Type, 0, true},
      {kCFNumberDoubleType, NAN, kCFNumberSInt32Type, 0, false},
      {kCFNumberDoubleType, 1e10, kCFNumberSInt32Type, 2147483647, false},  // saturates
      {kCFNumberDoubleType, -1e10, kCFNumberSInt32Type, -2147483648.0, false},
      {kCFNumberDoubleType, 2147483647.0, kCFNumberSInt32Type, 2147483647, true},
      {kCFNumberDoubleType, 2147483648.0, kCFNumberSInt32Type, 2147483647, false},
      {kCFNumberDoubleType, -2147483648.0, kCFNumberSInt32Type, -2147483648.0, true},
      {kCFNumberDoubleType, -9223372036854775808.0, kCFNumberSInt64Type, -9223372036854775808.0, true},
      {kCFNumberDoubleType, 9223372036854775808.0, kCFNumberLongType, 9223372036854775807.0, false},
      {kCFNumberDoubleType, 200.0, kCFNumberSInt8Type, 127, false},
      {kCFNumberDoubleType, 0.5, kCFNumberFloatType, 0.5, true},
      {kCFNumberDoubleType, 0.1, kCFNumberFloatType, static_cast<float>(0.1), false},
      {kCFNumberDoubleType, 1e300, kCFNumberFloatType, inf, false},
      {kCFNumberDoubleType, -1e300, kCFNumberFloat32Type, -inf, false},
      {kCFNumberDoubleType, inf, kCFNumberFloatType, inf, true},
      {kCFNumberFloatType, 0.1, kCFNumberDoubleType, static_cast<float>(0.1), true},  // widening is exact
      {kCFNumberFloatType, 1.5f, kCFNumberFloatType, 1.5, true},
      {kCFNumberFloat32Type, 6.0, kCFNumberSInt16Type, 6, true},
      {kCFNumberCharType, -5, kCFNumberLongLongType, -5, true},
  };
  for (const auto& c : cases) {
    auto n = MakeNumber(c.from, c.in);
    ASSERT_TRUE(n);
    double got = 12345;
    EXPECT_EQ(Read(n.get(), c.to, &got), c.exact) << c.in << " type " << c.from << " read as " << c.to;
    EXPECT_EQ(got, c.out) << c.in << " type " << c.from << " read as " << c.to;
  }

  // 2^53 + 1 and the largest 64-bit integer have no double of their own.
  for (const int64_t big : {int64_t{9007199254740993}, std::numeric_limits<int64_t>::max()}) {
    auto n = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt64Type, &big));
    double d = 0;
    EXPECT_FALSE(CFNumberGetValue(n.get(), kCFNumberDoubleType, &d));
    EXPECT_EQ(d, static_cast<double>(big));
    int64_t back = 0;
    EXPECT_TRUE(CFNumberGetValue(n.get(), kCFNumberLongLongType, &back));
    EXPECT_EQ(back, big);
  }
}

TEST(ValueNumber, KeepsItsTypeAndRefusesUnknownTypes) {
  EXPECT_EQ(CFNumberGetType(MakeNumber(kCFNumberIntType, 1).get()), kCFNumberIntType);
  EXPECT_EQ(CFNumberGetType(MakeNumber(kCFNumberSInt32Type, 1).get()), kCFNumberSInt32Type);
  EXPECT_TRUE(CFNumberIsFloatType(MakeNumber(kCFNumberFloatType, 1).get()));
  EXPECT_FALSE(CFNumberIsFloatType(MakeNumber(kCFNumberLongType, 1).get()));
  const int32_t v = 1;
  EXPECT_EQ(CFNumberCreate(nullptr, 0, &v), nullptr);
  EXPECT_EQ(CFNumberCreate(nullptr, 99, &v), nullptr);
  int64_t out = 9;
  EXPECT_FALSE(CFNumberGetValue(Int32(1).get(), 99, &out));
  EXPECT_EQ(out, 9) << "an unknown read type writes nothing";
}

TEST(ValueNumber, EqualityAndHashByValueAcrossTypes) {
  const struct {
    CFNumberType a;
    double va;
    CFNumberType b;
    double vb;
    bool equal;
  } cases[] = {
      {kCFNumberSInt32Type, 3, kCFNumberDoubleType, 3.0, true},
      {kCFNumberCharType, -1, kCFNumberFloatType, -1.0, true},
      {kCFNumberSInt32Type, 3, kCFNumberDoubleType, 3.5, false},
      {kCFNumberFloatType, 0.5, kCFNumberDoubleType, 0.5, true},
      {kCFNumberFloatType, 0.1, kCFNumberDoubleType, 0.1, false},  // the float is not the same value
      {kCFNumberDoubleType, 0.0, kCFNumberDoubleType, -0.0, true},
      {kCFNumberSInt32Type, 0, kCFNumberDoubleType, -0.0, true},
      {kCFNumberDoubleType, NAN, kCFNumberFloatType, NAN, true},  // NaN keys must find themselves
      {kCFNumberLongType, 7, kCFNumberShortType, 7, true},
  };
  for (const auto& c : cases) {
    auto x = MakeNumber(c.a, c.va);
    auto y = MakeNumber(c.b, c.vb);
    EXPECT_EQ(CFEqual(x.get(), y.get()), c.equal) << c.va << " vs " << c.vb;
    EXPECT_EQ(CFEqual(y.get(), x.get()), c.equal) << c.va << " vs " << c.vb;
    if (c.equal) {
      EXPECT_EQ(CFHash(x.get()), CFHash(y.get())) << c.va << " vs " << c.vb;
    }
  }
  const int64_t big = 9007199254740993;
  auto exact = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt64Type, &big));
  EXPECT_FALSE(CFEqual(exact.get(), Double(9007199254740992.0).get())) << "no rounding through double";
  EXPECT_FALSE(CFEqual(kCFBooleanTrue, kCFBooleanFalse));
  EXPECT_FALSE(CFEqual(kCFBooleanTrue, Int32(1).get()));
}

// ---- arrays --------------------------------------------------------------------------

TEST(ValueArray, WithoutCallbacksHoldsPlainPointers) {
  // Pointers to plain records, as the preset list holds: never retained,
  // released or compared as values (any of those would crash here).
  static const int records[3] = {1, 2, 3};
  auto array = CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(nullptr, 3, nullptr));
  for (const int& r : records) CFArrayAppendValue(array.get(), &r);
  CFArrayAppendValue(array.get(), &records[0]);  // more than the capacity hint
  ASSERT_EQ(CFArrayGetCount(array.get()), 4);
  for (CFIndex i = 0; i < 3; ++i) EXPECT_EQ(CFArrayGetValueAtIndex(array.get(), i), &records[i]);
  EXPECT_EQ(CFArrayGetValueAtIndex(array.get(), 4), nullptr);
  EXPECT_EQ(CFArrayGetValueAtIndex(array.get(), -1), nullptr);

  auto other = CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(nullptr, 0, nullptr));
  for (const int& r : records) CFArrayAppendValue(other.get(), &r);
  CFArrayAppendValue(other.get(), &records[0]);
  EXPECT_TRUE(CFEqual(array.get(), other.get()));
  CFArrayRemoveAllValues(other.get());
  EXPECT_EQ(CFArrayGetCount(other.get()), 0);
}

TEST(ValueArray, CallbacksAreHonoured) {
  gReleases = 0;
  CFArrayCallBacks counting = kCFTypeArrayCallBacks;
  counting.release = CountingRelease;
  {
    auto s = Str("x");
    const void* items[] = {s.get(), s.get()};
    auto array = CFRef<CFArrayRef>::Adopt(CFArrayCreate(nullptr, items, 2, &counting));
    EXPECT_EQ(CFGetRetainCount(s.get()), 3);
    CFRelease(s.get());  // balance the retains the counting release will not undo
    CFRelease(s.get());
    // Appending to an array made immutable is refused, even behind a cast.
    CFArrayAppendValue(const_cast<CFMutableArrayRef>(array.get()), s.get());
    EXPECT_EQ(CFArrayGetCount(array.get()), 2);
  }
  EXPECT_EQ(gReleases, 2);
}

TEST(ValueArray, EqualityComparesElementsByValue) {
  auto a = CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
  auto b = CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
  CFArrayAppendValue(a.get(), Str("one").get());
  CFArrayAppendValue(b.get(), CFSTR("one"));
  EXPECT_TRUE(CFEqual(a.get(), b.get()));
  EXPECT_EQ(CFHash(a.get()), CFHash(b.get()));
  CFArrayAppendValue(a.get(), Int32(2).get());
  CFArrayAppendValue(b.get(), Double(2.5).get());
  EXPECT_FALSE(CFEqual(a.get(), b.get()));
}

// ---- dictionaries -------------------------------------------------------------------

TEST(ValueDictionary, KeysMatchByValueAndMissingKeysReadAsNull) {
  auto dict = TypeDict();
  CFDictionarySetValue(dict.get(), Str("New Level").get(), Double(10).get());
  CFDictionarySetValue(dict.get(), CFSTR("Kest Symbol"), CFSTR("BS7V0"));
  EXPECT_EQ(CFDictionaryGetCount(dict.get()), 2);

  double level = 0;
  EXPECT_TRUE(CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(dict.get(), CFSTR("New Level"))),
                               kCFNumberDoubleType, &level));
  EXPECT_EQ(level, 10);
  EXPECT_TRUE(CFEqual(CFDictionaryGetValue(dict.get(), Str("Kest Symbol").get()), CFSTR("BS7V0")));

  EXPECT_EQ(CFDictionaryGetValue(dict.get(), CFSTR("missing")), nullptr);
  const void* value = &level;
  EXPECT_FALSE(CFDictionaryGetValueIfPresent(dict.get(), CFSTR("missing"), &value));
  EXPECT_EQ(value, &level) << "a miss leaves the out value alone";
  EXPECT_TRUE(CFDictionaryGetValueIfPresent(dict.get(), CFSTR("Kest Symbol"), &value));
  EXPECT_EQ(value, CFSTR("BS7V0"));
  EXPECT_TRUE(CFDictionaryGetValueIfPresent(dict.get(), CFSTR("Kest Symbol"), nullptr));
  EXPECT_TRUE(CFDictionaryContainsKey(dict.get(), CFSTR("New Level")));
  EXPECT_FALSE(CFDictionaryContainsKey(dict.get(), CFSTR("new level")));

  // Numbers as keys: 3 and 3.0 are the same key.
  CFDictionarySetValue(dict.get(), Int32(3).get(), CFSTR("three"));
  EXPECT_EQ(CFDictionaryGetValue(dict.get(), Double(3.0).get()), CFSTR("three"));

  // A null key is refused rather than stored where no lookup can find it.
  CFDictionarySetValue(dict.get(), nullptr, CFSTR("v"));
  EXPECT_EQ(CFDictionaryGetCount(dict.get()), 3);
  EXPECT_EQ(CFDictionaryGetValue(dict.get(), nullptr), nullptr);
}

TEST(ValueDictionary, ReplaceAndRemoveReleaseWhatTheyDrop) {
  auto dict = TypeDict();
  auto key = Str("name");
  auto sameKey = Str("name");
  auto first = Str("first");
  auto second = Str("second");
  CFDictionarySetValue(dict.get(), key.get(), first.get());
  CFDictionarySetValue(dict.get(), sameKey.get(), second.get());
  EXPECT_EQ(CFDictionaryGetCount(dict.get()), 1);
  EXPECT_EQ(CFGetRetainCount(first.get()), 1) << "replaced value released";
  EXPECT_EQ(CFGetRetainCount(second.get()), 2);
  EXPECT_EQ(CFGetRetainCount(key.get()), 2) << "the first key stays";
  EXPECT_EQ(CFGetRetainCount(sameKey.get()), 1);

  // Setting the value it already holds must not free it in between.
  CFDictionarySetValue(dict.get(), key.get(), second.get());
  EXPECT_EQ(CFGetRetainCount(second.get()), 2);

  CFDictionaryRemoveValue(dict.get(), sameKey.get());
  EXPECT_EQ(CFDictionaryGetCount(dict.get()), 0);
  EXPECT_EQ(CFGetRetainCount(key.get()), 1);
  EXPECT_EQ(CFGetRetainCount(second.get()), 1);
  CFDictionaryRemoveValue(dict.get(), sameKey.get());  // already gone

  // The only reference to a value may be the dictionary's.
  CFDictionarySetValue(dict.get(), CFSTR("k"), Str("owned").get());
  EXPECT_TRUE(CFEqual(CFDictionaryGetValue(dict.get(), CFSTR("k")), CFSTR("owned")));
}

TEST(ValueDictionary, KeepsInsertionOrderThroughReplaceAndRemove) {
  auto dict = TypeDict();
  const char* names[] = {"version", "type", "subtype", "manufacturer", "data", "name"};
  for (int i = 0; i < 6; ++i) CFDictionarySetValue(dict.get(), Str(names[i]).get(), Int32(i).get());
  CFDictionarySetValue(dict.get(), CFSTR("type"), Int32(100).get());  // replacing keeps the place
  CFDictionaryRemoveValue(dict.get(), CFSTR("subtype"));
  CFDictionarySetValue(dict.get(), CFSTR("subtype"), Int32(200).get());  // re-added goes last

  const char* expectedKeys[] = {"version", "type", "manufacturer", "data", "name", "subtype"};
  const int32_t expectedValues[] = {0, 100, 3, 4, 5, 200};
  ASSERT_EQ(CFDictionaryGetCount(dict.get()), 6);
  const void* keys[6];
  const void* values[6];
  CFDictionaryGetKeysAndValues(dict.get(), keys, values);
  for (int i = 0; i < 6; ++i) {
    EXPECT_STREQ(CFStringGetCStringPtr(static_cast<CFStringRef>(keys[i]), kCFStringEncodingUTF8), expectedKeys[i]);
    int32_t v = -1;
    CFNumberGetValue(static_cast<CFNumberRef>(values[i]), kCFNumberSInt32Type, &v);
    EXPECT_EQ(v, expectedValues[i]);
    // Lookups still work after the index was rebuilt.
    EXPECT_EQ(CFDictionaryGetValue(dict.get(), keys[i]), values[i]);
  }
  const void* onlyKeys[6] = {};
  CFDictionaryGetKeysAndValues(dict.get(), onlyKeys, nullptr);
  EXPECT_EQ(onlyKeys[5], keys[5]);
}

TEST(ValueDictionary, WithoutCallbacksKeysByPointerAndRetainsNothing) {
  static const int a = 1, b = 1;
  auto dict = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  CFDictionarySetValue(dict.get(), &a, &b);
  CFDictionarySetValue(dict.get(), &b, &a);
  CFDictionarySetValue(dict.get(), nullptr, &a);  // a null pointer is a key like any other here
  EXPECT_EQ(CFDictionaryGetCount(dict.get()), 3);
  EXPECT_EQ(CFDictionaryGetValue(dict.get(), &a), &b);
  EXPECT_EQ(CFDictionaryGetValue(dict.get(), nullptr), &a);

  auto s = Str("kept");
  auto t = Str("kept");
  CFDictionarySetValue(dict.get(), s.get(), s.get());
  EXPECT_EQ(CFGetRetainCount(s.get()), 1);
  EXPECT_EQ(CFDictionaryGetValue(dict.get(), t.get()), nullptr) << "equal content, other pointer";

  // Compared by value but without a hash: equal keys must still meet.
  CFDictionaryKeyCallBacks noHash = kCFTypeDictionaryKeyCallBacks;
  noHash.hash = nullptr;
  auto byValue = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(nullptr, 0, &noHash, nullptr));
  CFDictionarySetValue(byValue.get(), s.get(), &a);
  CFDictionarySetValue(byValue.get(), t.get(), &b);
  EXPECT_EQ(CFDictionaryGetCount(byValue.get()), 1);
  EXPECT_EQ(CFDictionaryGetValue(byValue.get(), CFSTR("kept")), &b);
}

TEST(ValueDictionary, EqualityCopyAndImmutableCreation) {
  auto a = TypeDict();
  auto b = TypeDict();
  CFDictionarySetValue(a.get(), CFSTR("version"), Int32(0).get());
  CFDictionarySetValue(a.get(), CFSTR("name"), CFSTR("Untitled"));
  CFDictionarySetValue(b.get(), Str("name").get(), Str("Untitled").get());  // other order, other objects
  CFDictionarySetValue(b.get(), Str("version").get(), Double(0).get());
  EXPECT_TRUE(CFEqual(a.get(), b.get()));
  EXPECT_EQ(CFHash(a.get()), CFHash(b.get()));
  CFDictionarySetValue(b.get(), CFSTR("version"), Int32(1).get());
  EXPECT_FALSE(CFEqual(a.get(), b.get()));

  auto copy = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutableCopy(nullptr, 0, a.get()));
  EXPECT_TRUE(CFEqual(copy.get(), a.get()));
  CFDictionarySetValue(copy.get(), CFSTR("extra"), kCFBooleanTrue);
  EXPECT_EQ(CFDictionaryGetCount(a.get()), 2) << "the copy is independent";

  const void* keys[] = {CFSTR("k1"), CFSTR("k2")};
  const void* values[] = {CFSTR("v1"), kCFBooleanFalse};
  auto fixed = CFRef<CFDictionaryRef>::Adopt(
      CFDictionaryCreate(nullptr, keys, values, 2, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  EXPECT_EQ(CFDictionaryGetValue(fixed.get(), CFSTR("k2")), kCFBooleanFalse);
  CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(fixed.get()), CFSTR("k3"), CFSTR("v3"));
  EXPECT_EQ(CFDictionaryGetCount(fixed.get()), 2);
}

TEST(ValueDictionary, NestedValuesAreFreedWithTheOuterDictionary) {
  // Leak checkers see the result: nothing below may survive the outer release.
  auto outer = TypeDict();
  {
    auto names = TypeDict();
    auto scope = TypeDict();
    CFDictionarySetValue(scope.get(), Str("2").get(), Str("Side chain").get());
    CFDictionarySetValue(names.get(), Str("1").get(), scope.get());
    CFDictionarySetValue(outer.get(), CFSTR("element-name"), names.get());
    auto data = CFRef<CFMutableDataRef>::Adopt(CFDataCreateMutable(nullptr, 0));
    CFDictionarySetValue(outer.get(), CFSTR("data"), data.get());
    EXPECT_EQ(CFGetRetainCount(scope.get()), 2);
  }
  auto names = static_cast<CFDictionaryRef>(CFDictionaryGetValue(outer.get(), CFSTR("element-name")));
  auto scope = static_cast<CFDictionaryRef>(CFDictionaryGetValue(names, CFSTR("1")));
  EXPECT_TRUE(CFEqual(CFDictionaryGetValue(scope, CFSTR("2")), CFSTR("Side chain")));
}

// ---- byte strings and URLs ---------------------------------------------------------------

TEST(ValueData, GrowsInAppendOrder) {
  auto data = CFRef<CFMutableDataRef>::Adopt(CFDataCreateMutable(nullptr, 4));
  EXPECT_EQ(CFDataGetLength(data.get()), 0);
  std::vector<uint8_t> expected;
  for (int chunk = 0; chunk < 50; ++chunk) {
    const uint8_t bytes[3] = {static_cast<uint8_t>(chunk), 0, static_cast<uint8_t>(255 - chunk)};
    CFDataAppendBytes(data.get(), bytes, 3);
    expected.insert(expected.end(), bytes, bytes + 3);
  }
  CFDataAppendBytes(data.get(), nullptr, 5);
  CFDataAppendBytes(data.get(), expected.data(), -1);
  ASSERT_EQ(CFDataGetLength(data.get()), 150);
  EXPECT_EQ(std::vector<uint8_t>(CFDataGetBytePtr(data.get()), CFDataGetBytePtr(data.get()) + 150), expected);

  auto same = CFRef<CFDataRef>::Adopt(CFDataCreate(nullptr, expected.data(), 150));
  EXPECT_TRUE(CFEqual(same.get(), data.get()));
  EXPECT_EQ(CFHash(same.get()), CFHash(data.get()));
  CFDataAppendBytes(const_cast<CFMutableDataRef>(same.get()), expected.data(), 1);
  EXPECT_EQ(CFDataGetLength(same.get()), 150) << "immutable byte strings do not grow";

  CFDataSetLength(data.get(), 2);
  EXPECT_EQ(CFDataGetLength(data.get()), 2);
  CFDataSetLength(data.get(), 4);
  EXPECT_EQ(CFDataGetBytePtr(data.get())[3], 0);
  CFDataGetMutableBytePtr(data.get())[3] = 9;
  EXPECT_EQ(CFDataGetBytePtr(data.get())[3], 9);
  EXPECT_EQ(CFDataCreate(nullptr, nullptr, 1), nullptr);
}

TEST(ValueURL, FilePathsRoundTrip) {
  const struct {
    const char* in;
    bool directory;
    const char* out;
  } cases[] = {
      {"/usr/lib/qelvo/AUQelvoBS7.so", false, "/usr/lib/qelvo/AUQelvoBS7.so"},
      {"/usr/lib/qelvo/", true, "/usr/lib/qelvo"},
      {"/", true, "/"},
      {"Resources/view.png", false, "Resources/view.png"},
      {"/tmp/caf\xC3\xA9", false, "/tmp/caf\xC3\xA9"},
  };
  for (const auto& c : cases) {
    auto url = CFRef<CFURLRef>::Adopt(
        CFURLCreateWithFileSystemPath(nullptr, Str(c.in).get(), kCFURLPOSIXPathStyle, c.directory));
    ASSERT_TRUE(url) << c.in;
    auto path = CFRef<CFStringRef>::Adopt(CFURLCopyFileSystemPath(url.get(), kCFURLPOSIXPathStyle));
    EXPECT_STREQ(CFStringGetCStringPtr(path.get(), kCFStringEncodingUTF8), c.out);
    EXPECT_EQ(CFURLHasDirectoryPath(url.get()), c.directory);
    uint8_t buffer[64];
    EXPECT_TRUE(CFURLGetFileSystemRepresentation(url.get(), true, buffer, sizeof buffer));
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), c.out);
    EXPECT_FALSE(CFURLGetFileSystemRepresentation(url.get(), true, buffer, static_cast<CFIndex>(std::strlen(c.out))));
  }
  EXPECT_EQ(CFURLCreateWithFileSystemPath(nullptr, CFSTR(""), kCFURLPOSIXPathStyle, false), nullptr);
  EXPECT_EQ(CFURLCreateWithFileSystemPath(nullptr, CFSTR("/x"), 2, false), nullptr);
  auto a = CFRef<CFURLRef>::Adopt(CFURLCreateWithFileSystemPath(nullptr, CFSTR("/x/"), kCFURLPOSIXPathStyle, true));
  auto b = CFRef<CFURLRef>::Adopt(CFURLCreateWithFileSystemPath(nullptr, CFSTR("/x"), kCFURLPOSIXPathStyle, true));
  EXPECT_TRUE(CFEqual(a.get(), b.get()));
}

// ---- the holder ------------------------------------------------------------------------

TEST(ValueHolder, AdoptRetainCopyMoveAndHandOver) {
  CFStringRef raw = CFStringCreateWithCString(nullptr, "held", kCFStringEncodingASCII);
  {
    auto adopted = CFRef<CFStringRef>::Adopt(raw);
    EXPECT_EQ(CFGetRetainCount(raw), 1);
    {
      auto retained = CFRef<CFStringRef>::Retain(raw);
      CFRef<CFStringRef> copy = retained;
      EXPECT_EQ(CFGetRetainCount(raw), 3);
      CFRef<CFStringRef> moved = std::move(copy);
      EXPECT_FALSE(copy);
      EXPECT_EQ(CFGetRetainCount(raw), 3);
      moved = retained;  // assigning the value it already holds keeps the count balanced
      EXPECT_EQ(CFGetRetainCount(raw), 3);
      moved.reset();
      EXPECT_EQ(CFGetRetainCount(raw), 2);
    }
    EXPECT_EQ(CFGetRetainCount(raw), 1);
    CFStringRef handed = adopted.release();
    EXPECT_FALSE(adopted);
    EXPECT_EQ(CFGetRetainCount(handed), 1);
    adopted.reset(handed);
  }

  CFRef<CFDictionaryRef> out;
  *out.receive() = TypeDict().release();
  EXPECT_EQ(CFGetRetainCount(out.get()), 1);
  *out.receive() = CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr);  // the first one is freed
  EXPECT_EQ(CFDictionaryGetCount(out.get()), 0);
  EXPECT_EQ(CFRef<CFStringRef>::Retain(nullptr).get(), nullptr);
}

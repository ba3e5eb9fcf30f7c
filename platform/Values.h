// The value library: reference-counted property-list values shared by every
// deliverable and host in a process (they live in the platform runtime).
// Reference counts are atomic since values cross threads; a value returned by
// a Create or Copy operation belongs to the caller. Immutable values may be
// shared freely across threads; a mutable array, dictionary or byte string
// must not be changed while another thread uses it.
//
// Every operation accepts null (and values of the wrong type) without harm:
// it does nothing and answers null, 0 or false. CFRelease(null) is ignored.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/RuntimeApi.h"

using Boolean = unsigned char;
using CFIndex = long;
using CFTypeID = unsigned long;
using CFOptionFlags = unsigned long;
using CFHashCode = unsigned long;
using CFStringEncoding = uint32_t;

using CFTypeRef = const void*;
using CFAllocatorRef = const void*;
constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

struct CFStringObject;
struct CFNumberObject;
struct CFBooleanObject;
struct CFArrayObject;
struct CFDictionaryObject;
struct CFDataObject;
struct CFURLObject;
struct CFBundleObject;
struct CFLocaleObject;
struct CFNumberFormatterObject;
struct CFNotificationCenterObject;

using CFStringRef = const CFStringObject*;
using CFMutableStringRef = CFStringObject*;
using CFNumberRef = const CFNumberObject*;
using CFBooleanRef = const CFBooleanObject*;
using CFArrayRef = const CFArrayObject*;
using CFMutableArrayRef = CFArrayObject*;
using CFDictionaryRef = const CFDictionaryObject*;
using CFMutableDictionaryRef = CFDictionaryObject*;
using CFDataRef = const CFDataObject*;
using CFMutableDataRef = CFDataObject*;
using CFURLRef = const CFURLObject*;
using CFBundleRef = CFBundleObject*;
using CFLocaleRef = const CFLocaleObject*;
using CFNumberFormatterRef = CFNumberFormatterObject*;
using CFNotificationCenterRef = CFNotificationCenterObject*;
using CFPropertyListRef = CFTypeRef;

// The value types stay the runtime's own; the operations below are its API.
QELVO_RUNTIME_API_BEGIN

// ---- every value ------------------------------------------------------------
CFTypeRef CFRetain(CFTypeRef value);
void CFRelease(CFTypeRef value);
// Immortal values (constant strings, booleans) report the largest CFIndex.
CFIndex CFGetRetainCount(CFTypeRef value);
// Same type and same content; numbers compare by value across their types.
// Null equals nothing, not even null.
Boolean CFEqual(CFTypeRef a, CFTypeRef b);
CFHashCode CFHash(CFTypeRef value);
CFTypeID CFGetTypeID(CFTypeRef value);

// Fixed type IDs.
enum : CFTypeID {
  kQelvoTypeIDString = 1,
  kQelvoTypeIDNumber = 2,
  kQelvoTypeIDBoolean = 3,
  kQelvoTypeIDArray = 4,
  kQelvoTypeIDDictionary = 5,
  kQelvoTypeIDData = 6,
  kQelvoTypeIDURL = 7,
  kQelvoTypeIDBundle = 8,
  kQelvoTypeIDLocale = 9,
  kQelvoTypeIDNumberFormatter = 10,
  kQelvoTypeIDNotificationCenter = 11,
};
CFTypeID CFStringGetTypeID();
CFTypeID CFNumberGetTypeID();
CFTypeID CFBooleanGetTypeID();
CFTypeID CFArrayGetTypeID();
CFTypeID CFDictionaryGetTypeID();
CFTypeID CFDataGetTypeID();
CFTypeID CFURLGetTypeID();
CFTypeID CFBundleGetTypeID();

// ---- strings ----------------------------------------------------------------
// Creation checks the text: ASCII refuses bytes above 127, UTF-8 refuses
// malformed sequences; both answer null then, as does any other encoding.
enum : CFStringEncoding {
  kCFStringEncodingASCII = 0x0600,
  kCFStringEncodingUTF8 = 0x08000100,
};
CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* text, CFStringEncoding encoding);
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const uint8_t* bytes, CFIndex length,
                                    CFStringEncoding encoding, Boolean isExternal);
// Copies the text and a terminating zero into buffer; false when it does not fit
// or cannot be expressed in the encoding (non-ASCII text asked as ASCII, or a
// zero byte inside the text). Never writes past bufferSize; when bufferSize is
// positive the buffer always ends up terminated: the whole text, else the
// longest prefix of whole characters that fits, else (not expressible) empty.
Boolean CFStringGetCString(CFStringRef s, char* buffer, CFIndex bufferSize, CFStringEncoding encoding);
// The string's UTF-8 text, valid while the string lives.
const char* CFStringGetCStringPtr(CFStringRef s, CFStringEncoding encoding);
CFIndex CFStringGetLength(CFStringRef s);  // bytes of UTF-8 text
// A string that lives until the process ends; retain and release do nothing.
CFStringRef CFStringMakeConstantString(const char* text);
// Each use site looks its string up once.
#define CFSTR(text)                                                               \
  ([]() -> CFStringRef {                                                          \
    static const CFStringRef qelvoConstantString = CFStringMakeConstantString("" text ""); \
    return qelvoConstantString;                                                   \
  }())

// ---- numbers and booleans -----------------------------------------------------
using CFNumberType = CFIndex;
enum : CFNumberType {
  kCFNumberSInt8Type = 1,
  kCFNumberSInt16Type = 2,
  kCFNumberSInt32Type = 3,
  kCFNumberSInt64Type = 4,
  kCFNumberFloat32Type = 5,
  kCFNumberFloat64Type = 6,
  kCFNumberCharType = 7,
  kCFNumberShortType = 8,
  kCFNumberIntType = 9,
  kCFNumberLongType = 10,
  kCFNumberLongLongType = 11,
  kCFNumberFloatType = 12,
  kCFNumberDoubleType = 13,
};
CFNumberRef CFNumberCreate(CFAllocatorRef alloc, CFNumberType type, const void* valuePtr);
CFNumberType CFNumberGetType(CFNumberRef number);
Boolean CFNumberIsFloatType(CFNumberRef number);
// Converts to the asked type; false when the conversion was lossy or out of range,
// but the converted value is stored even then: floats read as integers
// truncate toward zero and saturate (NaN reads as 0), integers out of range of
// a narrower integer keep their low bits, doubles too large for a float become
// infinity.
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* valuePtr);

// The runtime's constant data carry linkage names of their own (namespace
// qelvo_values; code uses the plain names): a host program that exports a
// variable of the plain name cannot stand in for them, neither in the runtime
// nor in a plug-in. Every one is a constant, so copies agree.
namespace qelvo_values {
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;
}  // namespace qelvo_values
using qelvo_values::kCFBooleanFalse;
using qelvo_values::kCFBooleanTrue;
Boolean CFBooleanGetValue(CFBooleanRef b);

// ---- arrays -----------------------------------------------------------------
using CFArrayRetainCallBack = const void* (*)(CFAllocatorRef, const void*);
using CFArrayReleaseCallBack = void (*)(CFAllocatorRef, const void*);
struct CFArrayCallBacks {
  CFIndex version;
  CFArrayRetainCallBack retain;
  CFArrayReleaseCallBack release;
  void* copyDescription;
  Boolean (*equal)(const void*, const void*);
};
namespace qelvo_values {
extern const CFArrayCallBacks kCFTypeArrayCallBacks;
}  // namespace qelvo_values
using qelvo_values::kCFTypeArrayCallBacks;
// callBacks null: the array holds plain pointers, never retained or compared.
CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef alloc, CFIndex capacity, const CFArrayCallBacks* callBacks);
CFArrayRef CFArrayCreate(CFAllocatorRef alloc, const void** values, CFIndex count, const CFArrayCallBacks* callBacks);
void CFArrayAppendValue(CFMutableArrayRef array, const void* value);
void CFArrayRemoveValueAtIndex(CFMutableArrayRef array, CFIndex index);
void CFArrayRemoveAllValues(CFMutableArrayRef array);
CFIndex CFArrayGetCount(CFArrayRef array);
// Null when index is out of range.
const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index);

// ---- dictionaries -------------------------------------------------------------
struct CFDictionaryKeyCallBacks {
  CFIndex version;
  const void* (*retain)(CFAllocatorRef, const void*);
  void (*release)(CFAllocatorRef, const void*);
  void* copyDescription;
  Boolean (*equal)(const void*, const void*);
  CFHashCode (*hash)(const void*);
};
struct CFDictionaryValueCallBacks {
  CFIndex version;
  const void* (*retain)(CFAllocatorRef, const void*);
  void (*release)(CFAllocatorRef, const void*);
  void* copyDescription;
  Boolean (*equal)(const void*, const void*);
};
namespace qelvo_values {
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;
}  // namespace qelvo_values
using qelvo_values::kCFTypeDictionaryKeyCallBacks;
using qelvo_values::kCFTypeDictionaryValueCallBacks;
// With the kCFType callbacks keys match by CFEqual/CFHash and setting retains
// key and value (a replaced or removed one is released; a replaced value keeps
// the first key). Null callbacks: keys match by pointer, nothing is retained.
// A dictionary keyed by value ignores a null key.
CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef alloc, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks);
CFDictionaryRef CFDictionaryCreate(CFAllocatorRef alloc, const void** keys, const void** values, CFIndex count,
                                   const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks);
// Same callbacks and entries (in the same order) as dict.
CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef alloc, CFIndex capacity, CFDictionaryRef dict);
void CFDictionarySetValue(CFMutableDictionaryRef dict, const void* key, const void* value);
void CFDictionaryRemoveValue(CFMutableDictionaryRef dict, const void* key);
const void* CFDictionaryGetValue(CFDictionaryRef dict, const void* key);
Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef dict, const void* key, const void** value);
Boolean CFDictionaryContainsKey(CFDictionaryRef dict, const void* key);
CFIndex CFDictionaryGetCount(CFDictionaryRef dict);
// Fills keys and values (either may be null) in insertion order.
void CFDictionaryGetKeysAndValues(CFDictionaryRef dict, const void** keys, const void** values);

// ---- byte strings -------------------------------------------------------------
CFDataRef CFDataCreate(CFAllocatorRef alloc, const uint8_t* bytes, CFIndex length);
CFMutableDataRef CFDataCreateMutable(CFAllocatorRef alloc, CFIndex capacity);
void CFDataAppendBytes(CFMutableDataRef data, const uint8_t* bytes, CFIndex length);
// Grows with zero bytes or cuts.
void CFDataSetLength(CFMutableDataRef data, CFIndex length);
uint8_t* CFDataGetMutableBytePtr(CFMutableDataRef data);
const uint8_t* CFDataGetBytePtr(CFDataRef data);
CFIndex CFDataGetLength(CFDataRef data);

// ---- URLs (file paths) ---------------------------------------------------------
CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef alloc, CFStringRef path, CFIndex pathStyle, Boolean isDirectory);
// A new string holding the URL's path (no trailing slash except for "/").
CFStringRef CFURLCopyFileSystemPath(CFURLRef url, CFIndex pathStyle);
Boolean CFURLHasDirectoryPath(CFURLRef url);
// The path as C text; false when it does not fit in maxBufLen bytes.
Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, uint8_t* buffer,
                                         CFIndex maxBufLen);
constexpr CFIndex kCFURLPOSIXPathStyle = 0;


// ---- locales and number formatting ------------------------------------------------
// Locale-aware decimal text in the conventions of a locale (decimal and
// grouping separators, digits), and its parsing.
CFTypeID CFLocaleGetTypeID();
CFTypeID CFNumberFormatterGetTypeID();

// The current locale, read from the environment on every call the POSIX way:
// the first non-empty of LC_ALL, LC_NUMERIC and LANG. A codeset (".UTF-8")
// and a modifier ("@euro") are dropped; "C", "POSIX" or no setting at all
// give "en_US_POSIX" (plain digits, '.' decimal separator, no grouping).
CFLocaleRef CFLocaleCopyCurrent();
// A locale by identifier ("de_DE", "de-DE", "de_DE.UTF-8", "C"), read the same
// way as the environment; null for a null or non-string identifier. An
// identifier without locale data formats like its nearest known parent.
CFLocaleRef CFLocaleCreate(CFAllocatorRef alloc, CFStringRef identifier);
// The canonical identifier ("de_DE", "en_US_POSIX"); not retained for the caller.
CFStringRef CFLocaleGetIdentifier(CFLocaleRef locale);

struct CFRange {
  CFIndex location;
  CFIndex length;
};
inline CFRange CFRangeMake(CFIndex location, CFIndex length) { return CFRange{location, length}; }

using CFNumberFormatterStyle = CFIndex;
enum : CFNumberFormatterStyle {
  kCFNumberFormatterDecimalStyle = 1,
};
// Only the decimal style exists; any other style, or a formatter that cannot
// be made, answers null. A null locale formats like "en_US_POSIX". The
// formatter keeps its own reference to the locale. Changing a formatter's
// properties while another thread uses it is not safe.
CFNumberFormatterRef CFNumberFormatterCreate(CFAllocatorRef alloc, CFLocaleRef locale, CFNumberFormatterStyle style);
CFLocaleRef CFNumberFormatterGetLocale(CFNumberFormatterRef formatter);

using CFNumberFormatterKey = CFStringRef;
// Property values are numbers, read as integers; negative counts as 0. Setting
// a maximum below the minimum lowers the minimum too, and the other way round.
namespace qelvo_values {
extern const CFNumberFormatterKey kCFNumberFormatterMinFractionDigits;
extern const CFNumberFormatterKey kCFNumberFormatterMaxFractionDigits;
}  // namespace qelvo_values
using qelvo_values::kCFNumberFormatterMaxFractionDigits;
using qelvo_values::kCFNumberFormatterMinFractionDigits;
// Unknown keys and values that are no number are ignored.
void CFNumberFormatterSetProperty(CFNumberFormatterRef formatter, CFNumberFormatterKey key, CFTypeRef value);
// A new number holding the property's current value, or null for an unknown key.
CFTypeRef CFNumberFormatterCopyProperty(CFNumberFormatterRef formatter, CFNumberFormatterKey key);

// Formats the value at valuePtr, read as numberType: integer types exactly,
// floating types in double precision rounded half to even to the fraction
// digits. Null for an unknown type or a null pointer.
CFStringRef CFNumberFormatterCreateStringWithValue(CFAllocatorRef alloc, CFNumberFormatterRef formatter,
                                                   CFNumberType numberType, const void* valuePtr);
// Parses a number written in the formatter's locale and stores it as
// numberType. Ranges count bytes of the UTF-8 text, like CFStringGetLength.
// With rangep null the whole string must be the number (ASCII white space
// around it is allowed). With rangep, parsing starts at rangep->location,
// stays within rangep->length bytes and may stop early; on success the range
// is narrowed to the bytes parsed. False when nothing parses, when the range
// lies outside the string or splits a character, or when the number does not
// convert exactly to an integer numberType.
Boolean CFNumberFormatterGetValueFromString(CFNumberFormatterRef formatter, CFStringRef string, CFRange* rangep,
                                            CFNumberType numberType, void* valuePtr);

// ---- bundles ------------------------------------------------------------------
// A bundle is a directory <Name>.bundle with a manifest, a shared object and a
// Resources folder (docs/bundles.md). There is one bundle value per directory;
// it lives until the process ends, so retain and release do nothing to it.
// Null when the directory is no readable bundle (the component loader's last
// error tells why).
CFBundleRef CFBundleCreate(CFAllocatorRef alloc, CFURLRef bundleURL);
// A bundle whose shared object is loaded right now (an instance of it is
// open, or it was loaded explicitly) and whose identifier is bundleID; null
// when there is none. The caller does not own the result.
CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID);
CFStringRef CFBundleGetIdentifier(CFBundleRef bundle);
CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle);
CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle);
// The URL of Resources[/subDirName]/resourceName[.resourceType] when that file
// or directory exists, else null. resourceType may be null (no extension) and
// may start with a dot; names that would leave the Resources folder answer null.
CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName, CFStringRef resourceType,
                                 CFStringRef subDirName);
Boolean CFBundleIsExecutableLoaded(CFBundleRef bundle);
// Loads the shared object once on behalf of the caller (instances count on
// their own); false when it cannot be loaded.
Boolean CFBundleLoadExecutable(CFBundleRef bundle);
void CFBundleUnloadExecutable(CFBundleRef bundle);

QELVO_RUNTIME_API_END

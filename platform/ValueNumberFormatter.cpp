// Decimal number formatters over the locale data of the system's ICU library:
// text in a locale's conventions and back. Ranges and lengths count bytes of
// UTF-8 text, like every other string operation of the value library.
#include <unicode/unum.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "platform/CFRef.h"
#include "platform/ValueObject.h"
#include "platform/WideNumber.h"

struct CFNumberFormatterObject : QelvoValue {
  CFNumberFormatterObject(UNumberFormat* f, CFRef<CFLocaleRef> l)
      : QelvoValue(kQelvoTypeIDNumberFormatter, false), format(f), locale(std::move(l)) {}
  ~CFNumberFormatterObject() override { unum_close(format); }

  UNumberFormat* const format;
  const CFRef<CFLocaleRef> locale;
};

// The keys are defined with the strings (ValueString.cpp).

namespace {

CFNumberFormatterObject* AsFormatter(CFNumberFormatterRef formatter) {
  return QelvoMutableValueAs<CFNumberFormatterObject>(formatter, kQelvoTypeIDNumberFormatter);
}

// The attribute behind a key; keys match by content, so an equal string works too.
bool AttributeOf(CFNumberFormatterKey key, UNumberFormatAttribute& attribute) {
  if (CFEqual(key, kCFNumberFormatterMinFractionDigits)) {
    attribute = UNUM_MIN_FRACTION_DIGITS;
    return true;
  }
  if (CFEqual(key, kCFNumberFormatterMaxFractionDigits)) {
    attribute = UNUM_MAX_FRACTION_DIGITS;
    return true;
  }
  return false;
}

bool IsFloatType(CFNumberType type) {
  return type == kCFNumberFloat32Type || type == kCFNumberFloat64Type || type == kCFNumberFloatType ||
         type == kCFNumberDoubleType;
}

bool IsAsciiSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

bool ToUtf16(std::string_view text, std::u16string& out) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  if (text.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 2)) return false;
  out.resize(text.size());  // UTF-16 never needs more units than UTF-8 has bytes
  u_strFromUTF8(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &length, text.data(),
                static_cast<int32_t>(text.size()), &status);
  if (U_FAILURE(status)) return false;
  out.resize(static_cast<size_t>(length));
  return true;
}

// Bytes of UTF-8 that the first units of text take.
int32_t Utf8Length(const std::u16string& text, int32_t units) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strToUTF8(nullptr, 0, &length, reinterpret_cast<const UChar*>(text.data()), units, &status);
  return length;
}

CFStringRef StringFromUtf16(const UChar* text, int32_t units) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strToUTF8(nullptr, 0, &length, text, units, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return nullptr;
  std::string bytes(static_cast<size_t>(length), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8(bytes.data(), length, nullptr, text, units, &status);
  if (U_FAILURE(status)) return nullptr;
  return CFStringCreateWithBytes(nullptr, reinterpret_cast<const uint8_t*>(bytes.data()),
                                 static_cast<CFIndex>(bytes.size()), kCFStringEncodingUTF8, false);
}

}  // namespace

CFTypeID CFNumberFormatterGetTypeID() { return kQelvoTypeIDNumberFormatter; }

CFNumberFormatterRef CFNumberFormatterCreate(CFAllocatorRef, CFLocaleRef locale, CFNumberFormatterStyle style) {
  if (style != kCFNumberFormatterDecimalStyle) return nullptr;
  CFRef<CFLocaleRef> held = CFGetTypeID(locale) == kQelvoTypeIDLocale
                                ? CFRef<CFLocaleRef>::Retain(locale)
                                : CFRef<CFLocaleRef>::Adopt(CFLocaleCreate(nullptr, CFSTR("C")));
  UErrorCode status = U_ZERO_ERROR;
  UNumberFormat* format = unum_open(UNUM_DECIMAL, nullptr, 0, QelvoLocaleName(held.get()), nullptr, &status);
  if (U_FAILURE(status) || format == nullptr) {
    if (format != nullptr) unum_close(format);
    return nullptr;
  }
  return new CFNumberFormatterObject(format, std::move(held));
}

CFLocaleRef CFNumberFormatterGetLocale(CFNumberFormatterRef formatter) {
  const CFNumberFormatterObject* object = AsFormatter(formatter);
  return object != nullptr ? object->locale.get() : nullptr;
}

void CFNumberFormatterSetProperty(CFNumberFormatterRef formatter, CFNumberFormatterKey key, CFTypeRef value) {
  CFNumberFormatterObject* object = AsFormatter(formatter);
  UNumberFormatAttribute attribute;
  if (object == nullptr || !AttributeOf(key, attribute) || CFGetTypeID(value) != kQelvoTypeIDNumber) return;
  int64_t count = 0;
  CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt64Type, &count);
  count = std::clamp<int64_t>(count, 0, std::numeric_limits<int32_t>::max());
  unum_setAttribute(object->format, attribute, static_cast<int32_t>(count));
}

CFTypeRef CFNumberFormatterCopyProperty(CFNumberFormatterRef formatter, CFNumberFormatterKey key) {
  const CFNumberFormatterObject* object = AsFormatter(formatter);
  UNumberFormatAttribute attribute;
  if (object == nullptr || !AttributeOf(key, attribute)) return nullptr;
  const int32_t count = unum_getAttribute(object->format, attribute);
  return CFNumberCreate(nullptr, kCFNumberSInt32Type, &count);
}

CFStringRef CFNumberFormatterCreateStringWithValue(CFAllocatorRef, CFNumberFormatterRef formatter,
                                                   CFNumberType numberType, const void* valuePtr) {
  const CFNumberFormatterObject* object = AsFormatter(formatter);
  if (object == nullptr) return nullptr;
  // The value library reads every number type; reuse it rather than repeat the table.
  const CFRef<CFNumberRef> number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, numberType, valuePtr));
  if (!number) return nullptr;
  std::u16string text(32, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    auto* buffer = reinterpret_cast<UChar*>(text.data());
    const auto capacity = static_cast<int32_t>(text.size());
    int32_t length;
    const WideNumber wide = ReadWideNumber(number.get());
    if (wide.isFloat) {
      length = unum_formatDouble(object->format, wide.real, buffer, capacity, nullptr, &status);
    } else {
      length = unum_formatInt64(object->format, wide.integer, buffer, capacity, nullptr, &status);
    }
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      text.assign(static_cast<size_t>(length) + 1, u'\0');
      continue;
    }
    if (U_FAILURE(status)) return nullptr;
    return StringFromUtf16(buffer, length);
  }
  return nullptr;
}

Boolean CFNumberFormatterGetValueFromString(CFNumberFormatterRef formatter, CFStringRef string, CFRange* rangep,
                                            CFNumberType numberType, void* valuePtr) {
  const CFNumberFormatterObject* object = AsFormatter(formatter);
  const char* bytes = CFStringGetCStringPtr(string, kCFStringEncodingUTF8);
  if (object == nullptr || bytes == nullptr || valuePtr == nullptr) return false;
  const std::string_view all(bytes, static_cast<size_t>(CFStringGetLength(string)));

  size_t begin = 0;
  size_t end = all.size();
  if (rangep != nullptr) {
    if (rangep->location < 0 || rangep->length < 0 || static_cast<size_t>(rangep->location) > all.size() ||
        static_cast<size_t>(rangep->length) > all.size() - static_cast<size_t>(rangep->location))
      return false;
    begin = static_cast<size_t>(rangep->location);
    end = begin + static_cast<size_t>(rangep->length);
  } else {
    while (begin < end && IsAsciiSpace(all[begin])) ++begin;
    while (end > begin && IsAsciiSpace(all[end - 1])) --end;
  }

  std::u16string text;  // a range that splits a character is no valid UTF-8
  if (!ToUtf16(all.substr(begin, end - begin), text) || text.empty()) return false;
  UErrorCode status = U_ZERO_ERROR;
  int32_t parsed = 0;
  const double value = unum_parseDouble(object->format, reinterpret_cast<const UChar*>(text.data()),
                                        static_cast<int32_t>(text.size()), &parsed, &status);
  if (U_FAILURE(status) || parsed <= 0) return false;
  if (rangep == nullptr && static_cast<size_t>(parsed) != text.size()) return false;

  const CFRef<CFNumberRef> number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberFloat64Type, &value));
  // Floats may round; an integer type takes only a whole number in its range.
  if (!CFNumberGetValue(number.get(), numberType, valuePtr) && !IsFloatType(numberType)) return false;
  if (rangep != nullptr) rangep->length = Utf8Length(text, parsed);
  return true;
}

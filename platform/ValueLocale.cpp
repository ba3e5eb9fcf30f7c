// Locales: an identifier naming the conventions used for numbers. The current
// locale follows the environment the POSIX way and is read on every call, so
// a process that changes LC_ALL or LANG sees the change at once.
#include <unicode/uloc.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/CFRef.h"
#include "platform/ValueObject.h"

namespace {
constexpr const char* kPosixLocale = "en_US_POSIX";
}  // namespace

struct CFLocaleObject : QelvoValue {
  explicit CFLocaleObject(std::string id)
      : QelvoValue(kQelvoTypeIDLocale, false),
        name(std::move(id)),
        identifier(CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, name.c_str(), kCFStringEncodingUTF8))) {}
  bool Equal(const QelvoValue& other) const override { return name == static_cast<const CFLocaleObject&>(other).name; }
  CFHashCode Hash() const override { return QelvoHashBytes(name.data(), name.size()); }

  const std::string name;
  const CFRef<CFStringRef> identifier;
};

namespace {

const CFLocaleObject* AsLocale(CFLocaleRef locale) { return QelvoValueAs<CFLocaleObject>(locale, kQelvoTypeIDLocale); }

// "de_DE.UTF-8@euro" -> "de_DE"; "de-DE" -> "de_DE"; "C", "POSIX" and "" -> the
// POSIX locale. Identifiers the formatting library cannot read fall back to it too.
std::string CanonicalName(std::string_view posixName) {
  const size_t cut = posixName.find_first_of(".@");
  if (cut != std::string_view::npos) posixName = posixName.substr(0, cut);
  if (posixName.empty() || posixName == "C" || posixName == "POSIX") return kPosixLocale;
  const std::string raw(posixName);
  char buffer[ULOC_FULLNAME_CAPACITY];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length = uloc_canonicalize(raw.c_str(), buffer, sizeof buffer, &status);
  if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || length <= 0) return kPosixLocale;
  return std::string(buffer, static_cast<size_t>(length));
}

const char* FirstSet(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return "";
}

}  // namespace

CFTypeID CFLocaleGetTypeID() { return kQelvoTypeIDLocale; }

CFLocaleRef CFLocaleCopyCurrent() {
  return new CFLocaleObject(CanonicalName(FirstSet({"LC_ALL", "LC_NUMERIC", "LANG"})));
}

CFLocaleRef CFLocaleCreate(CFAllocatorRef, CFStringRef identifier) {
  if (CFGetTypeID(identifier) != kQelvoTypeIDString) return nullptr;
  return new CFLocaleObject(CanonicalName(CFStringGetCStringPtr(identifier, kCFStringEncodingUTF8)));
}

CFStringRef CFLocaleGetIdentifier(CFLocaleRef locale) {
  const CFLocaleObject* object = AsLocale(locale);
  return object != nullptr ? object->identifier.get() : nullptr;
}

const char* QelvoLocaleName(CFLocaleRef locale) {
  const CFLocaleObject* object = AsLocale(locale);
  return object != nullptr ? object->name.c_str() : kPosixLocale;
}

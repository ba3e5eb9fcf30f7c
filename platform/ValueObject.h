// The object header every value of the runtime starts with. Types implemented
// elsewhere in the runtime (bundles, the notification centre) derive from
// QelvoValue too, as their only base, so that a CFTypeRef is the address of
// the header and CFRetain/CFRelease/CFEqual/CFHash/CFGetTypeID work on them.
#pragma once

#include <atomic>

#include "platform/Values.h"

struct QelvoValue {
  // Immortal values (constant strings, the booleans, process singletons) ignore
  // retain and release, so they can be shared without touching the count.
  constexpr QelvoValue(CFTypeID type, bool isImmortal) : typeID(type), immortal(isImmortal) {}
  QelvoValue(const QelvoValue&) = delete;
  QelvoValue& operator=(const QelvoValue&) = delete;
  virtual ~QelvoValue() = default;

  // Called only with another value of the same type ID.
  virtual bool Equal(const QelvoValue& other) const { return this == &other; }
  // Values that compare equal must hash equal.
  virtual CFHashCode Hash() const;

  const CFTypeID typeID;
  const bool immortal;
  std::atomic<CFIndex> retainCount{1};
};

inline const QelvoValue* QelvoValueOf(CFTypeRef value) { return static_cast<const QelvoValue*>(value); }

// The value as its concrete type, or null when it is null or of another type,
// so every operation shrugs off a wrong or missing argument.
template <class T>
const T* QelvoValueAs(CFTypeRef value, CFTypeID type) {
  const QelvoValue* base = QelvoValueOf(value);
  return base != nullptr && base->typeID == type ? static_cast<const T*>(base) : nullptr;
}
template <class T>
T* QelvoMutableValueAs(CFTypeRef value, CFTypeID type) {
  return const_cast<T*>(QelvoValueAs<T>(value, type));
}

// FNV-1a over bytes: the hash of strings and byte strings.
CFHashCode QelvoHashBytes(const void* bytes, size_t length);

// Keeps a constant-initialised object alive past static destruction, for
// immortal values that other static destructors may still touch.
template <class T>
union QelvoImmortal {
  template <class... Args>
  constexpr explicit QelvoImmortal(Args... args) : value(args...) {}
  ~QelvoImmortal() {}
  T value;
};

// The locale's identifier as C text for the formatting library; "en_US_POSIX"
// for null or a value of another type.
const char* QelvoLocaleName(CFLocaleRef locale);

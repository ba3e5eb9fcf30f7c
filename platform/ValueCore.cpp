// Reference counting, equality, hashing and type identity of every value.
#include <limits>

#include "platform/ValueObject.h"

CFHashCode QelvoValue::Hash() const { return static_cast<CFHashCode>(reinterpret_cast<uintptr_t>(this) >> 4); }

CFHashCode QelvoHashBytes(const void* bytes, size_t length) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < length; ++i) {
    h ^= p[i];
    h *= 1099511628211ull;
  }
  return static_cast<CFHashCode>(h);
}

CFTypeRef CFRetain(CFTypeRef value) {
  const QelvoValue* base = QelvoValueOf(value);
  if (base != nullptr && !base->immortal) {
    const_cast<QelvoValue*>(base)->retainCount.fetch_add(1, std::memory_order_relaxed);
  }
  return value;
}

void CFRelease(CFTypeRef value) {
  const QelvoValue* base = QelvoValueOf(value);
  if (base == nullptr || base->immortal) return;
  // acq_rel: the thread that destroys must see every other owner's writes.
  if (const_cast<QelvoValue*>(base)->retainCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete base;
  }
}

CFIndex CFGetRetainCount(CFTypeRef value) {
  const QelvoValue* base = QelvoValueOf(value);
  if (base == nullptr) return 0;
  if (base->immortal) return std::numeric_limits<CFIndex>::max();
  return base->retainCount.load(std::memory_order_relaxed);
}

Boolean CFEqual(CFTypeRef a, CFTypeRef b) {
  if (a == nullptr || b == nullptr) return false;
  if (a == b) return true;
  const QelvoValue* x = QelvoValueOf(a);
  const QelvoValue* y = QelvoValueOf(b);
  return x->typeID == y->typeID && x->Equal(*y);
}

CFHashCode CFHash(CFTypeRef value) {
  const QelvoValue* base = QelvoValueOf(value);
  return base != nullptr ? base->Hash() : 0;
}

CFTypeID CFGetTypeID(CFTypeRef value) {
  const QelvoValue* base = QelvoValueOf(value);
  return base != nullptr ? base->typeID : 0;
}

// Ordered arrays. Without callbacks they hold plain pointers (never retained,
// released or compared as values); with the value callbacks they own them.
#include <vector>

#include "platform/ValueObject.h"

namespace {
const void* RetainValue(CFAllocatorRef, const void* value) { return CFRetain(value); }
void ReleaseValue(CFAllocatorRef, const void* value) { CFRelease(value); }
Boolean EqualValues(const void* a, const void* b) { return CFEqual(a, b); }
}  // namespace

constinit const CFArrayCallBacks qelvo_values::kCFTypeArrayCallBacks = {0, RetainValue, ReleaseValue, nullptr, EqualValues};

struct CFArrayObject : QelvoValue {
  CFArrayObject(const CFArrayCallBacks* cb, bool isMutable)
      : QelvoValue(kQelvoTypeIDArray, false), callBacks(cb != nullptr ? *cb : CFArrayCallBacks{}), mutable_(isMutable) {}
  ~CFArrayObject() override {
    for (const void* item : items) Drop(item);
  }
  bool Equal(const QelvoValue& other) const override {
    const auto& o = static_cast<const CFArrayObject&>(other);
    if (items.size() != o.items.size()) return false;
    for (size_t i = 0; i < items.size(); ++i) {
      const bool same = callBacks.equal != nullptr ? callBacks.equal(items[i], o.items[i]) : items[i] == o.items[i];
      if (!same) return false;
    }
    return true;
  }
  CFHashCode Hash() const override { return items.size(); }

  const void* Keep(const void* value) const {
    return callBacks.retain != nullptr ? callBacks.retain(nullptr, value) : value;
  }
  void Drop(const void* value) const {
    if (callBacks.release != nullptr) callBacks.release(nullptr, value);
  }

  const CFArrayCallBacks callBacks;
  const bool mutable_;
  std::vector<const void*> items;
};

namespace {
const CFArrayObject* AsArray(CFArrayRef a) { return QelvoValueAs<CFArrayObject>(a, kQelvoTypeIDArray); }
// Writes are refused on arrays made immutable, even behind a cast.
CFArrayObject* AsMutableArray(CFMutableArrayRef a) {
  auto* array = QelvoMutableValueAs<CFArrayObject>(a, kQelvoTypeIDArray);
  return array != nullptr && array->mutable_ ? array : nullptr;
}
}  // namespace

CFTypeID CFArrayGetTypeID() { return kQelvoTypeIDArray; }

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex capacity, const CFArrayCallBacks* callBacks) {
  auto* array = new CFArrayObject(callBacks, true);
  if (capacity > 0) array->items.reserve(static_cast<size_t>(capacity));
  return array;
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex count, const CFArrayCallBacks* callBacks) {
  if (count < 0 || (values == nullptr && count > 0)) return nullptr;
  auto* array = new CFArrayObject(callBacks, false);
  array->items.reserve(static_cast<size_t>(count));
  for (CFIndex i = 0; i < count; ++i) array->items.push_back(array->Keep(values[i]));
  return array;
}

void CFArrayAppendValue(CFMutableArrayRef array, const void* value) {
  CFArrayObject* a = AsMutableArray(array);
  if (a == nullptr) return;
  a->items.push_back(a->Keep(value));
}

void CFArrayRemoveValueAtIndex(CFMutableArrayRef array, CFIndex index) {
  CFArrayObject* a = AsMutableArray(array);
  if (a == nullptr || index < 0 || static_cast<size_t>(index) >= a->items.size()) return;
  const void* removed = a->items[static_cast<size_t>(index)];
  a->items.erase(a->items.begin() + index);
  a->Drop(removed);
}

void CFArrayRemoveAllValues(CFMutableArrayRef array) {
  CFArrayObject* a = AsMutableArray(array);
  if (a == nullptr) return;
  std::vector<const void*> removed;
  removed.swap(a->items);
  for (const void* item : removed) a->Drop(item);
}

CFIndex CFArrayGetCount(CFArrayRef array) {
  const CFArrayObject* a = AsArray(array);
  return a != nullptr ? static_cast<CFIndex>(a->items.size()) : 0;
}

const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index) {
  const CFArrayObject* a = AsArray(array);
  if (a == nullptr || index < 0 || static_cast<size_t>(index) >= a->items.size()) return nullptr;
  return a->items[static_cast<size_t>(index)];
}

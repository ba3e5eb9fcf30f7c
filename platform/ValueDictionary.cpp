// Hashed dictionaries that remember insertion order. With the value callbacks
// they key by CFEqual/CFHash and own keys and values; without callbacks they
// key by pointer and hold plain pointers.
#include <unordered_map>
#include <vector>

#include "platform/ValueObject.h"

namespace {
const void* RetainValue(CFAllocatorRef, const void* value) { return CFRetain(value); }
void ReleaseValue(CFAllocatorRef, const void* value) { CFRelease(value); }
Boolean EqualValues(const void* a, const void* b) { return CFEqual(a, b); }
CFHashCode HashValue(const void* value) { return CFHash(value); }
}  // namespace

constinit const CFDictionaryKeyCallBacks qelvo_values::kCFTypeDictionaryKeyCallBacks = {
    0, RetainValue, ReleaseValue, nullptr, EqualValues, HashValue};
constinit const CFDictionaryValueCallBacks qelvo_values::kCFTypeDictionaryValueCallBacks = {
    0, RetainValue, ReleaseValue, nullptr, EqualValues};

struct CFDictionaryObject : QelvoValue {
  struct Entry {
    const void* key;
    const void* value;
    CFHashCode hash;
  };

  CFDictionaryObject(const CFDictionaryKeyCallBacks* kcb, const CFDictionaryValueCallBacks* vcb, bool isMutable)
      : QelvoValue(kQelvoTypeIDDictionary, false),
        keyCallBacks(kcb != nullptr ? *kcb : CFDictionaryKeyCallBacks{}),
        valueCallBacks(vcb != nullptr ? *vcb : CFDictionaryValueCallBacks{}),
        mutable_(isMutable) {}
  ~CFDictionaryObject() override {
    for (const Entry& e : entries) DropEntry(e);
  }

  bool Equal(const QelvoValue& other) const override {
    const auto& o = static_cast<const CFDictionaryObject&>(other);
    if (entries.size() != o.entries.size()) return false;
    for (const Entry& e : entries) {
      const Entry* match = o.Find(e.key);
      if (match == nullptr || !ValuesEqual(e.value, match->value)) return false;
    }
    return true;
  }
  CFHashCode Hash() const override { return entries.size(); }

  CFHashCode HashKey(const void* key) const {
    if (keyCallBacks.hash != nullptr) return keyCallBacks.hash(key);
    // Keys compared by value but not hashed must all land in one bucket, or
    // equal keys at different addresses would never meet.
    if (keyCallBacks.equal != nullptr) return 0;
    return static_cast<CFHashCode>(reinterpret_cast<uintptr_t>(key) >> 3);
  }
  bool KeysEqual(const void* a, const void* b) const {
    return a == b || (keyCallBacks.equal != nullptr && keyCallBacks.equal(a, b));
  }
  bool ValuesEqual(const void* a, const void* b) const {
    return a == b || (valueCallBacks.equal != nullptr && valueCallBacks.equal(a, b));
  }
  // Value-keyed dictionaries have no null key: CFEqual never matches null.
  bool UsableKey(const void* key) const { return key != nullptr || keyCallBacks.equal == nullptr; }

  const Entry* Find(const void* key) const {
    if (!UsableKey(key)) return nullptr;
    const CFHashCode h = HashKey(key);
    auto [first, last] = index.equal_range(h);
    for (auto it = first; it != last; ++it) {
      const Entry& e = entries[it->second];
      if (KeysEqual(e.key, key)) return &e;
    }
    return nullptr;
  }

  void Set(const void* key, const void* value) {
    if (!UsableKey(key)) return;
    if (const Entry* found = Find(key)) {
      // Take the new value before letting go of the old one: they may be the same.
      auto& slot = const_cast<Entry&>(*found);
      const void* old = slot.value;
      slot.value = KeepValue(value);
      DropValue(old);
      return;
    }
    const CFHashCode h = HashKey(key);
    entries.push_back(Entry{KeepKey(key), KeepValue(value), h});
    index.emplace(h, entries.size() - 1);
  }

  void Remove(const void* key) {
    const Entry* found = Find(key);
    if (found == nullptr) return;
    const Entry removed = *found;
    entries.erase(entries.begin() + (found - entries.data()));
    index.clear();
    for (size_t i = 0; i < entries.size(); ++i) index.emplace(entries[i].hash, i);
    // Released last, so a callback that reenters sees a consistent dictionary.
    DropEntry(removed);
  }

  const void* KeepKey(const void* k) const { return keyCallBacks.retain != nullptr ? keyCallBacks.retain(nullptr, k) : k; }
  const void* KeepValue(const void* v) const {
    return valueCallBacks.retain != nullptr ? valueCallBacks.retain(nullptr, v) : v;
  }
  void DropValue(const void* v) const {
    if (valueCallBacks.release != nullptr) valueCallBacks.release(nullptr, v);
  }
  void DropEntry(const Entry& e) const {
    if (keyCallBacks.release != nullptr) keyCallBacks.release(nullptr, e.key);
    DropValue(e.value);
  }

  const CFDictionaryKeyCallBacks keyCallBacks;
  const CFDictionaryValueCallBacks valueCallBacks;
  const bool mutable_;
  std::vector<Entry> entries;  // insertion order
  std::unordered_multimap<CFHashCode, size_t> index;
};

namespace {
const CFDictionaryObject* AsDictionary(CFDictionaryRef d) {
  return QelvoValueAs<CFDictionaryObject>(d, kQelvoTypeIDDictionary);
}
CFDictionaryObject* AsMutableDictionary(CFMutableDictionaryRef d) {
  auto* dict = QelvoMutableValueAs<CFDictionaryObject>(d, kQelvoTypeIDDictionary);
  return dict != nullptr && dict->mutable_ ? dict : nullptr;
}
}  // namespace

CFTypeID CFDictionaryGetTypeID() { return kQelvoTypeIDDictionary; }

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks) {
  auto* dict = new CFDictionaryObject(keyCallBacks, valueCallBacks, true);
  if (capacity > 0) dict->entries.reserve(static_cast<size_t>(capacity));
  return dict;
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values, CFIndex count,
                                   const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks) {
  if (count < 0 || (count > 0 && (keys == nullptr || values == nullptr))) return nullptr;
  auto* dict = new CFDictionaryObject(keyCallBacks, valueCallBacks, false);
  for (CFIndex i = 0; i < count; ++i) dict->Set(keys[i], values[i]);
  return dict;
}

CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef, CFIndex capacity, CFDictionaryRef dict) {
  const CFDictionaryObject* source = AsDictionary(dict);
  if (source == nullptr) return nullptr;
  auto* copy = new CFDictionaryObject(&source->keyCallBacks, &source->valueCallBacks, true);
  if (capacity > 0) copy->entries.reserve(static_cast<size_t>(capacity));
  for (const auto& e : source->entries) copy->Set(e.key, e.value);
  return copy;
}

void CFDictionarySetValue(CFMutableDictionaryRef dict, const void* key, const void* value) {
  if (CFDictionaryObject* d = AsMutableDictionary(dict)) d->Set(key, value);
}

void CFDictionaryRemoveValue(CFMutableDictionaryRef dict, const void* key) {
  if (CFDictionaryObject* d = AsMutableDictionary(dict)) d->Remove(key);
}

const void* CFDictionaryGetValue(CFDictionaryRef dict, const void* key) {
  const CFDictionaryObject* d = AsDictionary(dict);
  const auto* e = d != nullptr ? d->Find(key) : nullptr;
  return e != nullptr ? e->value : nullptr;
}

Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef dict, const void* key, const void** value) {
  const CFDictionaryObject* d = AsDictionary(dict);
  const auto* e = d != nullptr ? d->Find(key) : nullptr;
  if (e == nullptr) return false;
  if (value != nullptr) *value = e->value;
  return true;
}

Boolean CFDictionaryContainsKey(CFDictionaryRef dict, const void* key) {
  const CFDictionaryObject* d = AsDictionary(dict);
  return d != nullptr && d->Find(key) != nullptr;
}

CFIndex CFDictionaryGetCount(CFDictionaryRef dict) {
  const CFDictionaryObject* d = AsDictionary(dict);
  return d != nullptr ? static_cast<CFIndex>(d->entries.size()) : 0;
}

void CFDictionaryGetKeysAndValues(CFDictionaryRef dict, const void** keys, const void** values) {
  const CFDictionaryObject* d = AsDictionary(dict);
  if (d == nullptr) return;
  for (size_t i = 0; i < d->entries.size(); ++i) {
    if (keys != nullptr) keys[i] = d->entries[i].key;
    if (values != nullptr) values[i] = d->entries[i].value;
  }
}

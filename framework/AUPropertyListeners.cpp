#include "framework/AUPropertyListeners.h"

#include <algorithm>

namespace {
constexpr size_t kReservedListeners = 32;
}

void AUPropertyListeners::Add(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                              void* refCon) {
  if (mListeners.empty()) mListeners.reserve(kReservedListeners);
  mListeners.push_back(Entry{PropertyListener{id, proc, refCon}, false});
}

void AUPropertyListeners::Remove(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                                 void* refCon, bool refConSpecified) {
  for (size_t i = mListeners.size(); i-- > 0;) {
    Entry& e = mListeners[i];
    if (e.removed || e.listener.propertyID != id || e.listener.listenerProc != proc) continue;
    if (refConSpecified && e.listener.listenerRefCon != refCon) continue;
    if (mWalkDepth > 0) {
      e.removed = true;
      mRemovedInWalk = true;
    } else {
      mListeners.erase(mListeners.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

void AUPropertyListeners::PropertyChanged(AudioUnitPropertyID id, AudioUnitScope scope,
                                          AudioUnitElement element, AudioUnit unit) {
  struct WalkGuard {
    AUPropertyListeners& list;
    explicit WalkGuard(AUPropertyListeners& l) : list(l) { ++list.mWalkDepth; }
    ~WalkGuard() { list.EndWalk(); }
  } guard(*this);

  for (size_t i = 0; i < mListeners.size(); ++i) {
    // A copy: the listener may grow the storage and move the record.
    const Entry e = mListeners[i];
    if (e.removed || e.listener.propertyID != id) continue;
    // A host may register a null function; calling it would crash the host.
    if (e.listener.listenerProc == nullptr) continue;
    e.listener.listenerProc(e.listener.listenerRefCon, unit, id, scope, element);
  }
}

size_t AUPropertyListeners::Count() const {
  return static_cast<size_t>(
      std::count_if(mListeners.begin(), mListeners.end(), [](const Entry& e) { return !e.removed; }));
}

void AUPropertyListeners::EndWalk() {
  if (--mWalkDepth > 0 || !mRemovedInWalk) return;
  std::erase_if(mListeners, [](const Entry& e) { return e.removed; });
  mRemovedInWalk = false;
}

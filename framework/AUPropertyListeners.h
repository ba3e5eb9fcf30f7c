// The property listeners of one unit: hosts register a callback per property
// ID and are called back, on the thread that made the change, whenever the
// unit changes that property.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/AudioTypes.h"

struct PropertyListener {
  AudioUnitPropertyID propertyID;
  AudioUnitPropertyListenerProc listenerProc;
  void* listenerRefCon;  // handed back to the listener, never dereferenced
};

// Listeners run synchronously and may add or remove listeners, or announce
// further changes, while a walk is under way. The walk goes by index,
// re-reads the size before every step (so records appended meanwhile are
// reached) and copies each record before calling it (so growth of the storage
// never leaves it reading freed memory). Removals made during a walk only mark
// their records; the marked records are erased when the outermost walk ends.
// Positions therefore never shift under a walk: a removed record not reached
// yet is not called, one already called is simply gone afterwards, and no
// other record is skipped or called twice.
//
// No lock: the owner's callers must not change the list from one thread while
// another walks it.
class AUPropertyListeners {
 public:
  // [control] Appends the record; duplicates are kept and any ID is accepted.
  void Add(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc, void* refCon);

  // [control] Removes every record of this ID and function, and of this refCon too when
  // refConSpecified is true.
  void Remove(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc, void* refCon,
              bool refConSpecified);

  // [control] Calls the listeners of `id` in registration order with `unit`
  // as the changed unit, on this thread; [render] for the render error
  // (AUBase::PropertyChanged).
  void PropertyChanged(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                       AudioUnit unit);

  // [control] Records in effect (those removed during a running walk not counted).
  size_t Count() const;

 private:
  struct Entry {
    PropertyListener listener;
    bool removed;
  };

  void EndWalk();

  std::vector<Entry> mListeners;
  unsigned mWalkDepth = 0;      // nested walks: a listener may announce a change itself
  bool mRemovedInWalk = false;  // marked records wait for the outermost walk to end
};

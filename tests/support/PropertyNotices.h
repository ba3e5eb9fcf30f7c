// The change notices a unit sends its property listeners, recorded in order.
#pragma once

#include <vector>

#include "platform/AudioTypes.h"

struct Notice {
  AudioUnitPropertyID id;
  AudioUnitScope scope;
  AudioUnitElement element;
  AudioUnit unit = nullptr;  // recorded by RecordNoticeWithUnit only
  bool operator==(const Notice&) const = default;
};

// Property listeners whose refCon is a std::vector<Notice>.
inline void RecordNotice(void* refCon, AudioUnit, AudioUnitPropertyID id, AudioUnitScope scope,
                         AudioUnitElement element) {
  static_cast<std::vector<Notice>*>(refCon)->push_back({id, scope, element});
}
inline void RecordNoticeWithUnit(void* refCon, AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                                 AudioUnitElement element) {
  static_cast<std::vector<Notice>*>(refCon)->push_back({id, scope, element, unit});
}

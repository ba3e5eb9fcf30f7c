// The probe unit of the component loader tests: a bundle with a hand-written
// entry that records the raw argument block of each call and answers a few
// properties of its own, so tests see exactly what the loader passed.
#pragma once

#include <cstdint>

#include "platform/AudioTypes.h"

enum : AudioUnitPropertyID {
  // ProbeCall: the block of the last call before this query.
  kProbeProperty_LastCall = 64000,
  // ProbeCounters of this instance.
  kProbeProperty_Counters = 64001,
  // Set (any value): registers the probe's notification observer, once per load.
  kProbeProperty_Listen = 64002,
  // ProbeIdentity: what the unit sees of itself through the platform.
  kProbeProperty_Identity = 64003,
  // A ComponentInstance to pull input from when rendering (null: none).
  kProbeProperty_Source = 64004,
};

// The name of the notification the probe observes.
inline constexpr const char* kProbeNotificationName = "Qelvo Probe Notification";
// When set in the environment, the probe's open fails with kProbeOpenFailure.
inline constexpr const char* kProbeFailOpenVariable = "QELVO_PROBE_FAIL_OPEN";
constexpr OSStatus kProbeOpenFailure = -4242;

struct ProbeCall {
  SInt16 what;
  UInt8 paramSize;
  UInt8 flags;
  UInt32 padding;
  intptr_t words[16];  // as the block held them: the last argument first
};

struct ProbeCounters {
  UInt32 initialize;
  UInt32 uninitialize;
  UInt32 reset;
  UInt32 render;
  UInt32 notifications;  // of the whole loaded object
  UInt32 opens;          // instances opened since the object was loaded
};

struct ProbeIdentity {
  void* storage;                       // the probe object the entry receives
  void* storageSeen;                   // GetComponentInstanceStorage of its own instance
  ComponentInstance instance;
  OSErr infoStatus;
  ComponentDescription description;    // GetComponentInfo of its own instance
  char editorViewPath[512];            // resource URL found through its loaded bundle, or ""
};

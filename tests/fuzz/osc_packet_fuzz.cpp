// Fuzz target: the OSC packet reader, as the bridge runs it. A datagram goes
// through liblo's server (deserialising, bundles, dispatch by address) into
// the bridge's handlers and map. It may be refused but must never crash, read
// outside a buffer or leak; every level that reaches the sink must be a
// finite number for a measure name the map or the message gave, and the
// counts must add up.
//
// Input: one selector byte (even: no map, /kest/level; odd: a map with rules
// of every kind), then the datagram.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/qelvo/OscBridge.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

constexpr const char* kMap =
    "/eeg/alpha                     0  BS3V0  scale=2\n"
    "/eeg/alpha                     1  BS3V1  offset=-1\n"
    "/muse/elements/alpha_absolute  *  BS3V0  log scale=10\n"
    "/a/b/c                         3  peakLV\n"
    "/muse/elements/beta_absolute   *  BS4V0  norm=window:5 range=0..10 warmup=0 spike=5 smooth=0.1 rate=50 "
    "hold-when=/muse/elements/horseshoe>2 hold-when=/muse/elements/touching_forehead<1\n";

long long sPosted = 0;

bool Collect(const std::string& symbol, double level) {
  Require(std::isfinite(level));
  Require(!symbol.empty() && symbol.size() <= 64);
  for (char c : symbol) Require(c > ' ' && c != '"' && c != '\'' && c != ',' && c != 0x7F);
  ++sPosted;
  return true;
}

OscBridge& Bridge(bool mapped) {
  // Built once: each binds a socket (127.0.0.1, a free port) it never reads.
  static OscBridge plain(BridgeMap{}, "127.0.0.1", 0, Collect);
  static OscBridge withMap(ParseBridgeMap(kMap, "fuzz.map"), "127.0.0.1", 0, Collect);
  return mapped ? withMap : plain;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 65536) return 0;
  OscBridge& bridge = Bridge((data[0] & 1) != 0);
  const OscBridgeCounts before = bridge.Counts();
  const long long postedBefore = sPosted;
  bridge.Dispatch(data + 1, size - 1);
  const OscBridgeCounts after = bridge.Counts();
  const long long messages = after.messages - before.messages;
  Require(after.posted - before.posted == sPosted - postedBefore);
  Require(after.dropped == before.dropped);
  // A message is rejected, ignored, or taken by one address or more.
  Require(after.rejected - before.rejected + after.unknown - before.unknown <= messages);
  Require(after.malformed >= before.malformed);
  return 0;
}

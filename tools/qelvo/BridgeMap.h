// How OSC messages become levels. Without a map file one address is known:
// /kest/level with a string (the measure) and a float or double (the level).
// A map file turns other senders' addresses into measures (format in
// docs/osc-bridge.md):
//
//   # address                       argument  symbol  [scale=X] [offset=Y] [log]
//   /openbci/band-power/0           2         BS3V0   scale=1
//   /muse/elements/alpha_absolute   *         BS3V0   log scale=10
//
// The argument is an index from 0 or "*" for the mean of all of them; "log"
// marks a value sent as log10 of the level. The level posted is
// (value or 10^value) x scale + offset.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct BridgeRule {
  std::string address;
  int argument = 0;  // -1: the mean of all arguments
  std::string symbol;
  double scale = 1.0;
  double offset = 0.0;
  bool logScaled = false;
  int line = 0;
};

struct BridgeMap {
  bool defaultAddress = true;  // /kest/level, when no map file is given
  std::vector<BridgeRule> rules;
};

BridgeMap ParseBridgeMap(std::string_view text, const std::string& sourceName);
BridgeMap ReadBridgeMap(const std::string& path);

// One OSC argument as the bridge sees it.
struct OscValue {
  char type = 0;  // the OSC type tag: 's', 'f', 'd', 'i', ...
  double number = 0;
  std::string text;
};

struct BridgeLevel {
  std::string symbol;
  double level = 0;
};

enum class BridgeOutcome {
  kPosted,          // levels to post
  kUnknownAddress,  // no rule for the address: ignored
  kRejected,        // wrong argument count or type, or a non-finite value
};

struct BridgeResult {
  BridgeOutcome outcome = BridgeOutcome::kUnknownAddress;
  std::vector<BridgeLevel> levels;
  std::string reason;  // why it was rejected
};

// What one message becomes. A message is taken whole or not at all: one bad
// argument rejects every level it would have carried.
BridgeResult TranslateOscMessage(const BridgeMap& map, const std::string& address, const std::vector<OscValue>& args);

inline constexpr const char* kDefaultBridgeAddress = "/kest/level";

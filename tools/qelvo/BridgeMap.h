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
// marks a value sent as log10 of the level. The value a rule reads is
// (value or 10^value) x scale + offset; the shaping options (norm=, z=,
// range=, warmup=, smooth=, rate=, spike=, hold-when=) say what becomes of
// it on its way to the bus (LevelNormaliser.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// How a rule's values become levels beyond scale and offset. Seconds and
// rates are finite and positive when set; 0 means the option is off.
struct LevelShaping {
  enum class Norm { kNone, kPercentiles, kZScore };
  Norm norm = Norm::kNone;
  double window = 0;  // norm=window:SECONDS or z=SECONDS
  double low = 0, high = 0;  // range=LOW..HIGH: where the 5th and 95th percentile (or z -2 and +2) land
  double warmup = 10;  // seconds of values before an adaptive rule posts
  double smooth = 0;   // time constant of the moving average, seconds
  double rate = 0;     // at most this many levels a second
  double spike = 0;    // drop values more than this many MADs from the median
  std::vector<size_t> holdWhen;  // indices into BridgeMap::conditions

  bool Adaptive() const { return norm != Norm::kNone; }
};

// hold-when=ADDRESS>N (or <, >=, <=): contact is bad while any number in
// the latest message to ADDRESS compares so with N.
struct HoldCondition {
  std::string address;
  char comparison = '>';  // '>', '<', 'g' (>=), 'l' (<=)
  double threshold = 0;
  std::string text;  // as written in the map, for messages
};

struct BridgeRule {
  std::string address;
  int argument = 0;  // -1: the mean of all arguments
  std::string symbol;
  double scale = 1.0;
  double offset = 0.0;
  bool logScaled = false;
  LevelShaping shaping;
  int line = 0;
};

struct BridgeMap {
  bool defaultAddress = true;  // /kest/level, when no map file is given
  std::vector<BridgeRule> rules;
  std::vector<HoldCondition> conditions;  // distinct hold-when= conditions of all rules
};

BridgeMap ParseBridgeMap(std::string_view text, const std::string& sourceName);
BridgeMap ReadBridgeMap(const std::string& path);

// The line format maps share with calibration files: '#' starts a comment,
// words are separated by spaces or tabs, CRLF line ends and a byte-order
// mark are fine. Calls read for each line with words, with where as
// "FILE:LINE: " for messages.
using MapLineReader =
    std::function<void(const std::vector<std::string_view>& words, const std::string& where, int line)>;
void ForEachMapLine(std::string_view text, const std::string& sourceName, const MapLineReader& read);
// A rule's address, argument and symbol from the first three words; throws
// ToolError starting with where.
void ParseRuleHead(const std::vector<std::string_view>& words, const std::string& where, BridgeRule* rule);
// A finite number, with an optional leading '+', and nothing after it.
bool ParseFiniteNumber(std::string_view text, double* out);

// One OSC argument as the bridge sees it.
struct OscValue {
  char type = 0;  // the OSC type tag: 's', 'f', 'd', 'i', ...
  double number = 0;
  std::string text;
};

struct BridgeLevel {
  std::string symbol;
  double level = 0;  // the value the rule read, before any shaping
  int rule = -1;     // index into the map's rules; -1 for /kest/level
};

// A message to a hold-when= address: whether that condition now says the
// contact is bad.
struct ContactReading {
  size_t condition = 0;
  bool bad = false;
};

enum class BridgeOutcome {
  kPosted,          // levels to post
  kUnknownAddress,  // no rule for the address: ignored
  kRejected,        // wrong argument count or type, or a non-finite value
};

struct BridgeResult {
  BridgeOutcome outcome = BridgeOutcome::kUnknownAddress;
  std::vector<BridgeLevel> levels;
  std::vector<ContactReading> contact;  // with kPosted, for hold-when= addresses
  std::string reason;  // why it was rejected
};

// What one message becomes. A message is taken whole or not at all: one bad
// argument rejects every level it would have carried. A message to a
// hold-when= address is read as contact quality (its numbers may be
// integers too) and is kPosted with no levels when no rule reads it.
BridgeResult TranslateOscMessage(const BridgeMap& map, const std::string& address, const std::vector<OscValue>& args);

inline constexpr const char* kDefaultBridgeAddress = "/kest/level";

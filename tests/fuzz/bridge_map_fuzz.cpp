// Fuzz target: OSC map files as `qelvo bridge --map` reads them, the
// translation of a message through what was read and the shaping of the
// levels it carries; and the same text read as a calibration file.
//
// Input: the map text, then, after the first NUL byte if any, the arguments
// of one message sent to each rule's address: per argument a type byte
// (f, d, i or s by its value mod 4) and eight bytes of value (a double's bits,
// or a string's characters).
//
// A refused map must come with a message; an accepted one has rules with
// exact addresses, symbols a level can carry and finite options. A message
// is posted whole, with finite levels, or not at all; a shaped level is
// finite, and inside its range when the rule normalises. A calibration is
// refused with a message or has 21 rising quantiles per entry.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "tools/qelvo/BridgeMap.h"
#include "tools/qelvo/Calibration.h"
#include "tools/qelvo/LevelCsv.h"
#include "tools/qelvo/LevelNormaliser.h"
#include "tools/qelvo/ToolError.h"

namespace {

std::vector<OscValue> ReadArguments(std::string_view bytes) {
  std::vector<OscValue> args;
  while (bytes.size() >= 9 && args.size() < 16) {
    OscValue v;
    v.type = "fdis"[static_cast<unsigned char>(bytes[0]) % 4];
    if (v.type == 's') {
      v.text = std::string(bytes.substr(1, 8));
    } else {
      std::memcpy(&v.number, bytes.data() + 1, sizeof v.number);
      if (v.type == 'f') v.number = static_cast<float>(v.number);
      if (v.type == 'i') v.number = std::trunc(std::fmod(v.number, 2147483648.0));
    }
    args.push_back(v);
    bytes.remove_prefix(9);
  }
  return args;
}

void CheckCalibration(std::string_view text) {
  Calibration c;
  try {
    c = ParseCalibration(text, "fuzz.cal");
  } catch (const ToolError& e) {
    if (std::strlen(e.what()) == 0) std::abort();
    return;
  }
  for (const CalibrationEntry& e : c.entries) {
    if (e.quantiles.size() != kCalibrationQuantiles || e.values < 1) std::abort();
    for (size_t i = 1; i < e.quantiles.size(); ++i)
      if (!(e.quantiles[i] >= e.quantiles[i - 1])) std::abort();
  }
}

void CheckShaped(const BridgeMap& map, const ShapedLevel& l) {
  if (l.fate != LevelFate::kPosted && l.fate != LevelFate::kWaiting) return;
  if (!std::isfinite(l.level)) std::abort();
  if (l.rule < 0) return;
  const LevelShaping& s = map.rules[static_cast<size_t>(l.rule)].shaping;
  if (s.Adaptive() && (l.level < std::min(s.low, s.high) || l.level > std::max(s.low, s.high))) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string_view text = input.substr(0, nul);
  CheckCalibration(text);
  BridgeMap map;
  try {
    map = ParseBridgeMap(text, "fuzz.map");
  } catch (const ToolError& e) {
    if (std::strlen(e.what()) == 0) std::abort();
    return 0;
  }
  if (map.rules.empty() || map.defaultAddress) std::abort();
  for (const BridgeRule& r : map.rules) {
    if (r.address.empty() || r.address[0] != '/' || r.address.find_first_of("?*[]{} \t") != std::string::npos)
      std::abort();
    if (!IsMeasureName(r.symbol) || !std::isfinite(r.scale) || !std::isfinite(r.offset)) std::abort();
    if (r.argument < -1 || r.argument > 255) std::abort();
    const LevelShaping& s = r.shaping;
    if (s.Adaptive() && (!(s.window > 0) || !std::isfinite(s.low) || !std::isfinite(s.high) || s.low == s.high))
      std::abort();
    if (!(s.warmup >= 0) || !(s.smooth >= 0) || !(s.rate >= 0) || !(s.spike >= 0)) std::abort();
    for (size_t c : s.holdWhen)
      if (c >= map.conditions.size()) std::abort();
  }

  const std::vector<OscValue> args = ReadArguments(nul == std::string_view::npos ? "" : input.substr(nul + 1));
  LevelNormaliser normaliser(map);
  double now = 0;
  // Each rule's message a few times over, so statistics, guards and rate
  // limits all have something to work on.
  for (int round = 0; round < 4; ++round)
    for (size_t i = 0; i < map.rules.size() && i < 8; ++i) {
      const BridgeResult result = TranslateOscMessage(map, map.rules[i].address, args);
      if (result.outcome == BridgeOutcome::kUnknownAddress) std::abort();  // the rule's own address
      if (result.outcome == BridgeOutcome::kRejected && (!result.levels.empty() || result.reason.empty()))
        std::abort();
      for (const BridgeLevel& level : result.levels)
        if (!std::isfinite(level.level) || !IsMeasureName(level.symbol)) std::abort();
      now += 0.37 * (round + 1);
      for (const ShapedLevel& l : normaliser.Take(result, now)) CheckShaped(map, l);
      now += 0.5;
      for (const ShapedLevel& l : normaliser.Due(now)) CheckShaped(map, l);
    }
  return 0;
}

#include "tools/qelvo/BridgeMap.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "tools/qelvo/InputFile.h"
#include "tools/qelvo/LevelCsv.h"
#include "tools/qelvo/NumberText.h"
#include "tools/qelvo/ToolError.h"

namespace {

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
    if (j > i) words.push_back(line.substr(i, j - i));
    i = j;
  }
  return words;
}

// Map files are a few lines; anything this large is not one.
constexpr size_t kMaxMapFileBytes = 1 << 20;

// Characters OSC gives a meaning in address patterns.
constexpr std::string_view kPatternCharacters = "?*[]{}";

bool IsNumeric(char type) { return type == 'f' || type == 'd'; }

// Contact messages often carry integers (0 or 1 for "touching").
bool IsContactNumber(char type) { return IsNumeric(type) || type == 'i'; }

constexpr const char* kKnownOptions =
    "known: scale=X, offset=Y, log, norm=window:SECONDS, z=SECONDS, range=LOW..HIGH, warmup=SECONDS, "
    "smooth=SECONDS, rate=HZ, spike=K, hold-when=ADDRESS>N";

// Limits that keep a typing slip from meaning something absurd: a day of
// history, a thousand posts a second.
constexpr double kMaxSeconds = 86400;
constexpr double kMaxRate = 1000;
constexpr double kMaxSpike = 1000;

// SECONDS for an option: above 0 (or from 0 when zeroAllowed), a day at most.
double ParseSeconds(std::string_view text, const std::string& where, const std::string& option, bool zeroAllowed) {
  double v = 0;
  if (!ParseFiniteNumber(text, &v) || v < 0 || (v == 0 && !zeroAllowed) || v > kMaxSeconds)
    throw ToolError(where + option + " wants a number of seconds " + (zeroAllowed ? "from 0" : "above 0") +
                    " to 86400, got '" + std::string(text) + "'");
  return v;
}

double ParsePositive(std::string_view text, double most, const std::string& where, const std::string& option,
                     const char* what) {
  double v = 0;
  if (!ParseFiniteNumber(text, &v) || !(v > 0) || v > most)
    throw ToolError(where + option + " wants " + what + " above 0 and at most " + ShortestText(most) + ", got '" +
                    std::string(text) + "'");
  return v;
}

HoldCondition ParseHoldCondition(std::string_view text, const std::string& where) {
  const std::string usage = "hold-when= wants ADDRESS>N, ADDRESS<N, ADDRESS>=N or ADDRESS<=N, e.g. "
                            "hold-when=/muse/elements/horseshoe>2";
  const size_t at = text.find_first_of("<>");
  if (at == std::string_view::npos || at == 0) throw ToolError(where + usage + ", got '" + std::string(text) + "'");
  HoldCondition c;
  c.text = std::string(text);
  c.address = std::string(text.substr(0, at));
  const bool orEqual = at + 1 < text.size() && text[at + 1] == '=';
  c.comparison = text[at] == '>' ? (orEqual ? 'g' : '>') : (orEqual ? 'l' : '<');
  if (c.address.front() != '/') throw ToolError(where + "hold-when=: an OSC address starts with '/'");
  if (const size_t p = c.address.find_first_of(kPatternCharacters); p != std::string::npos)
    throw ToolError(where + "hold-when=: '" + c.address[p] + "' makes " + c.address +
                    " an OSC address pattern; name the address exactly");
  if (!ParseFiniteNumber(text.substr(at + (orEqual ? 2 : 1)), &c.threshold))
    throw ToolError(where + usage + " with N a finite number, got '" + std::string(text) + "'");
  return c;
}

bool ContactIsBad(const HoldCondition& c, double v) {
  switch (c.comparison) {
    case '>': return v > c.threshold;
    case '<': return v < c.threshold;
    case 'g': return v >= c.threshold;
    default: return v <= c.threshold;
  }
}

// The options after the symbol; each may appear once, hold-when= repeatedly.
void ParseOptions(const std::vector<std::string_view>& words, const std::string& where, BridgeRule& rule,
                  BridgeMap& map) {
  LevelShaping& s = rule.shaping;
  std::vector<std::string_view> seen;
  bool range = false, warmup = false;
  for (size_t i = 3; i < words.size(); ++i) {
    const std::string_view w = words[i];
    const size_t eq = w.find('=');
    const std::string_view name = w.substr(0, eq == std::string_view::npos ? w.size() : eq + 1);
    const std::string_view value = eq == std::string_view::npos ? std::string_view() : w.substr(eq + 1);
    if (name != "hold-when=") {
      if (std::find(seen.begin(), seen.end(), name) != seen.end())
        throw ToolError(where + std::string(name) + " is given twice");
      seen.push_back(name);
    }
    const std::string option(name);
    if (w == "log") {
      rule.logScaled = true;
    } else if (name == "scale=") {
      if (!ParseFiniteNumber(value, &rule.scale)) throw ToolError(where + "scale= wants a finite number");
    } else if (name == "offset=") {
      if (!ParseFiniteNumber(value, &rule.offset)) throw ToolError(where + "offset= wants a finite number");
    } else if (name == "norm=" || name == "z=") {
      if (s.norm != LevelShaping::Norm::kNone)
        throw ToolError(where + "norm= and z= exclude each other: give one of them");
      std::string_view seconds = value;
      if (name == "norm=") {
        if (!value.starts_with("window:"))
          throw ToolError(where + "norm= wants window:SECONDS (the 5th to 95th percentile of the last SECONDS), got '" +
                          std::string(value) + "'");
        seconds.remove_prefix(7);
      }
      s.norm = name == "norm=" ? LevelShaping::Norm::kPercentiles : LevelShaping::Norm::kZScore;
      s.window = ParseSeconds(seconds, where, option, false);
    } else if (name == "range=") {
      const size_t dots = value.find("..");
      if (dots == std::string_view::npos || !ParseFiniteNumber(value.substr(0, dots), &s.low) ||
          !ParseFiniteNumber(value.substr(dots + 2), &s.high) || s.low == s.high)
        throw ToolError(where + "range= wants LOW..HIGH, two different finite numbers such as 5..60, got '" +
                        std::string(value) + "'");
      range = true;
    } else if (name == "warmup=") {
      s.warmup = ParseSeconds(value, where, option, true);
      warmup = true;
    } else if (name == "smooth=") {
      s.smooth = ParseSeconds(value, where, option, false);
    } else if (name == "rate=") {
      s.rate = ParsePositive(value, kMaxRate, where, option, "levels a second");
    } else if (name == "spike=") {
      s.spike = ParsePositive(value, kMaxSpike, where, option, "a number of median absolute deviations");
    } else if (name == "hold-when=") {
      HoldCondition c = ParseHoldCondition(value, where);
      auto same = std::find_if(map.conditions.begin(), map.conditions.end(),
                               [&](const HoldCondition& o) { return o.text == c.text; });
      if (same == map.conditions.end()) same = map.conditions.insert(same, std::move(c));
      const size_t index = static_cast<size_t>(same - map.conditions.begin());
      if (std::find(s.holdWhen.begin(), s.holdWhen.end(), index) == s.holdWhen.end()) s.holdWhen.push_back(index);
    } else {
      throw ToolError(where + "unknown option '" + std::string(w) + "' (" + kKnownOptions + ")");
    }
  }
  if (range != s.Adaptive())
    throw ToolError(where + (range ? "range= needs norm=window:SECONDS or z=SECONDS to map from"
                                   : "norm= and z= need range=LOW..HIGH, the levels to map onto"));
  if (warmup && !s.Adaptive()) throw ToolError(where + "warmup= applies to norm= and z= rules only");
}

std::string Describe(const std::vector<OscValue>& args) {
  std::string tags;
  for (const OscValue& v : args) tags += v.type;
  return tags.empty() ? "no arguments" : "arguments ," + tags;
}

}  // namespace

bool ParseFiniteNumber(std::string_view text, double* out) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size() && std::isfinite(*out);
}

void ForEachMapLine(std::string_view text, const std::string& sourceName, const MapLineReader& read) {
  text = WithoutByteOrderMark(text);
  int lineNumber = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    if (const size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    const std::vector<std::string_view> words = Words(line);
    if (!words.empty()) read(words, sourceName + ":" + std::to_string(lineNumber) + ": ", lineNumber);
  }
}

void ParseRuleHead(const std::vector<std::string_view>& words, const std::string& where, BridgeRule* rule) {
  if (words.size() < 3) throw ToolError(where + "expected: address argument symbol [options] (" + kKnownOptions + ")");
  rule->address = std::string(words[0]);
  if (rule->address.front() != '/') throw ToolError(where + "an OSC address starts with '/'");
  // A pattern would be taken as a literal address no sender uses, and the
  // rule would silently never match.
  if (const size_t p = rule->address.find_first_of(kPatternCharacters); p != std::string::npos)
    throw ToolError(where + "'" + rule->address[p] + "' makes " + rule->address +
                    " an OSC address pattern; a map names each address exactly, one rule per address");
  if (words[1] == "*") {
    rule->argument = -1;
  } else {
    auto [p, ec] = std::from_chars(words[1].data(), words[1].data() + words[1].size(), rule->argument);
    if (ec != std::errc() || p != words[1].data() + words[1].size() || rule->argument < 0 || rule->argument > 255)
      throw ToolError(where + "the argument is an index from 0 to 255, or * for the mean of all");
  }
  if (!IsMeasureName(words[2])) throw ToolError(where + "the symbol must be a measure name such as BS7V0");
  rule->symbol = std::string(words[2]);
}

BridgeMap ParseBridgeMap(std::string_view text, const std::string& sourceName) {
  BridgeMap map;
  map.defaultAddress = false;
  ForEachMapLine(text, sourceName, [&](const std::vector<std::string_view>& words, const std::string& where, int line) {
    BridgeRule rule;
    rule.line = line;
    ParseRuleHead(words, where, &rule);
    ParseOptions(words, where, rule, map);
    map.rules.push_back(std::move(rule));
  });
  if (map.rules.empty()) throw ToolError(sourceName + ": the map has no rules");
  return map;
}

BridgeMap ReadBridgeMap(const std::string& path) {
  return ParseBridgeMap(ReadInputText(path, kMaxMapFileBytes, "an OSC map"), path == "-" ? kStandardInputName : path);
}

BridgeResult TranslateOscMessage(const BridgeMap& map, const std::string& address, const std::vector<OscValue>& args) {
  BridgeResult result;
  auto reject = [&](std::string reason) {
    result.outcome = BridgeOutcome::kRejected;
    result.levels.clear();
    result.contact.clear();
    result.reason = address + ": " + std::move(reason);
    return result;
  };

  if (map.defaultAddress && address == kDefaultBridgeAddress) {
    if (args.size() != 2 || args[0].type != 's' || !IsNumeric(args[1].type))
      return reject("expected a string and a float or double, got " + Describe(args));
    if (!IsMeasureName(args[0].text)) return reject("the symbol is no measure name");
    if (!std::isfinite(args[1].number)) return reject("the level is not a finite number");
    result.outcome = BridgeOutcome::kPosted;
    result.levels.push_back({args[0].text, args[1].number});
    return result;
  }

  bool matched = false;
  for (size_t i = 0; i < map.conditions.size(); ++i) {
    const HoldCondition& c = map.conditions[i];
    if (c.address != address) continue;
    matched = true;
    if (args.empty()) return reject("expected numbers for " + c.text + ", got no arguments");
    bool bad = false;
    for (const OscValue& v : args) {
      if (!IsContactNumber(v.type))
        return reject("expected only numbers for " + c.text + ", got " + Describe(args));
      if (!std::isfinite(v.number)) return reject("a value for " + c.text + " is not a finite number");
      bad = bad || ContactIsBad(c, v.number);
    }
    result.contact.push_back({i, bad});
  }
  for (size_t r = 0; r < map.rules.size(); ++r) {
    const BridgeRule& rule = map.rules[r];
    if (rule.address != address) continue;
    matched = true;
    double value = 0;
    if (rule.argument < 0) {
      if (args.empty()) return reject("expected numbers, got no arguments");
      for (const OscValue& v : args) {
        if (!IsNumeric(v.type)) return reject("expected only floats or doubles, got " + Describe(args));
        value += v.number;
      }
      value /= static_cast<double>(args.size());
    } else {
      const size_t index = static_cast<size_t>(rule.argument);
      if (index >= args.size())
        return reject("expected at least " + std::to_string(index + 1) + " arguments, got " + Describe(args));
      if (!IsNumeric(args[index].type))
        return reject("argument " + std::to_string(index) + " must be a float or double, got " + Describe(args));
      value = args[index].number;
    }
    if (!std::isfinite(value)) return reject("a value is not a finite number");
    const double level = (rule.logScaled ? std::pow(10.0, value) : value) * rule.scale + rule.offset;
    if (!std::isfinite(level)) return reject("the level for " + rule.symbol + " is out of range");
    result.levels.push_back({rule.symbol, level, static_cast<int>(r)});
  }
  if (!matched) return result;  // unknown address
  result.outcome = BridgeOutcome::kPosted;
  return result;
}

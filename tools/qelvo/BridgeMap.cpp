#include "tools/qelvo/BridgeMap.h"

#include <charconv>
#include <cmath>

#include "tools/qelvo/InputFile.h"
#include "tools/qelvo/LevelCsv.h"
#include "tools/qelvo/ToolError.h"

namespace {

bool ParseNumber(std::string_view text, double* out) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size() && std::isfinite(*out);
}

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

std::string Describe(const std::vector<OscValue>& args) {
  std::string tags;
  for (const OscValue& v : args) tags += v.type;
  return tags.empty() ? "no arguments" : "arguments ," + tags;
}

}  // namespace

BridgeMap ParseBridgeMap(std::string_view text, const std::string& sourceName) {
  text = WithoutByteOrderMark(text);
  BridgeMap map;
  map.defaultAddress = false;
  int lineNumber = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    if (const size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    const std::vector<std::string_view> words = Words(line);
    if (words.empty()) continue;
    const std::string where = sourceName + ":" + std::to_string(lineNumber) + ": ";
    if (words.size() < 3) throw ToolError(where + "expected: address argument symbol [scale=X] [offset=Y] [log]");
    BridgeRule rule;
    rule.line = lineNumber;
    rule.address = std::string(words[0]);
    if (rule.address.front() != '/') throw ToolError(where + "an OSC address starts with '/'");
    // A pattern would be taken as a literal address no sender uses, and the
    // rule would silently never match.
    if (const size_t p = rule.address.find_first_of(kPatternCharacters); p != std::string::npos)
      throw ToolError(where + "'" + rule.address[p] + "' makes " + rule.address +
                      " an OSC address pattern; a map names each address exactly, one rule per address");
    if (words[1] == "*") {
      rule.argument = -1;
    } else {
      auto [p, ec] = std::from_chars(words[1].data(), words[1].data() + words[1].size(), rule.argument);
      if (ec != std::errc() || p != words[1].data() + words[1].size() || rule.argument < 0 || rule.argument > 255)
        throw ToolError(where + "the argument is an index from 0 to 255, or * for the mean of all");
    }
    if (!IsMeasureName(words[2])) throw ToolError(where + "the symbol must be a measure name such as BS7V0");
    rule.symbol = std::string(words[2]);
    for (size_t i = 3; i < words.size(); ++i) {
      const std::string_view w = words[i];
      if (w == "log") {
        rule.logScaled = true;
      } else if (w.starts_with("scale=")) {
        if (!ParseNumber(w.substr(6), &rule.scale)) throw ToolError(where + "scale= wants a finite number");
      } else if (w.starts_with("offset=")) {
        if (!ParseNumber(w.substr(7), &rule.offset)) throw ToolError(where + "offset= wants a finite number");
      } else {
        throw ToolError(where + "unknown option '" + std::string(w) + "' (known: scale=X, offset=Y, log)");
      }
    }
    map.rules.push_back(std::move(rule));
  }
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
  for (const BridgeRule& rule : map.rules) {
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
    result.levels.push_back({rule.symbol, level});
  }
  if (!matched) return result;  // unknown address
  result.outcome = BridgeOutcome::kPosted;
  return result;
}

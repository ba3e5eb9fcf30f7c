#include "tools/qelvo/Calibration.h"

#include <algorithm>
#include <cmath>

#include "tools/qelvo/AtomicOutput.h"
#include "tools/qelvo/InputFile.h"
#include "tools/qelvo/NumberText.h"
#include "tools/qelvo/SampleWindow.h"
#include "tools/qelvo/ToolError.h"

namespace {

constexpr const char* kHeader = "qelvo-calibration";
constexpr const char* kVersion = "1";
// A calibration has a line per rule; anything this large is not one.
constexpr size_t kMaxCalibrationBytes = 1 << 20;

std::string ArgumentText(int argument) { return argument < 0 ? "*" : std::to_string(argument); }

bool SameRule(const CalibrationEntry& e, const BridgeRule& r) {
  return e.address == r.address && e.argument == r.argument && e.symbol == r.symbol;
}

// The fields after address, argument and symbol; each exactly once.
void ParseFields(const std::vector<std::string_view>& words, const std::string& where, CalibrationEntry* e) {
  struct Field {
    const char* name;
    double* value;
    bool seen;
  };
  double values = 0;
  Field fields[] = {{"values", &values, false}, {"seconds", &e->seconds, false}, {"mean", &e->mean, false},
                    {"sd", &e->sd, false},       {"median", &e->median, false},  {"mad", &e->mad, false}};
  bool quantiles = false;
  const std::string known = "values=N, seconds=S, mean=M, sd=D, median=X, mad=Y, quantiles=Q0,Q5,...,Q100";
  for (size_t i = 3; i < words.size(); ++i) {
    const std::string_view w = words[i];
    const size_t eq = w.find('=');
    const std::string_view name = w.substr(0, eq);
    std::string_view text = eq == std::string_view::npos ? "" : w.substr(eq + 1);
    if (name == "quantiles" && eq != std::string_view::npos) {
      if (quantiles) throw ToolError(where + "quantiles= is given twice");
      quantiles = true;
      while (true) {
        const size_t comma = text.find(',');
        double q = 0;
        if (!ParseFiniteNumber(text.substr(0, comma), &q))
          throw ToolError(where + "quantiles= wants " + std::to_string(kCalibrationQuantiles) +
                          " finite numbers separated by commas");
        if (!e->quantiles.empty() && q < e->quantiles.back())
          throw ToolError(where + "quantiles= must not decrease: " + ShortestText(q) + " comes after " +
                          ShortestText(e->quantiles.back()));
        e->quantiles.push_back(q);
        if (comma == std::string_view::npos || e->quantiles.size() > kCalibrationQuantiles) break;
        text.remove_prefix(comma + 1);
      }
      if (e->quantiles.size() != kCalibrationQuantiles)
        throw ToolError(where + "quantiles= wants " + std::to_string(kCalibrationQuantiles) +
                        " numbers (0%, 5%, ..., 100%), got " +
                        (e->quantiles.size() > kCalibrationQuantiles ? "more" : std::to_string(e->quantiles.size())));
      continue;
    }
    Field* f = std::find_if(std::begin(fields), std::end(fields), [&](const Field& f) { return name == f.name; });
    if (f == std::end(fields) || eq == std::string_view::npos)
      throw ToolError(where + "unknown field '" + std::string(w) + "' (known: " + known + ")");
    if (f->seen) throw ToolError(where + std::string(name) + "= is given twice");
    f->seen = true;
    if (!ParseFiniteNumber(text, f->value)) throw ToolError(where + std::string(name) + "= wants a finite number");
  }
  for (const Field& f : fields)
    if (!f.seen) throw ToolError(where + "missing " + f.name + "= (an entry has " + known + ")");
  if (!quantiles) throw ToolError(where + "missing quantiles= (an entry has " + known + ")");
  if (values < 1 || values != std::floor(values) || values > 9e15)
    throw ToolError(where + "values= wants a whole number from 1");
  e->values = static_cast<long long>(values);
  if (e->seconds < 0 || e->sd < 0 || e->mad < 0)
    throw ToolError(where + "seconds=, sd= and mad= must not be negative");
}

}  // namespace

CalibrationEntry MakeCalibrationEntry(const BridgeRule& rule, const SampleWindow& values, long long count,
                                      double seconds) {
  CalibrationEntry e;
  e.address = rule.address;
  e.argument = rule.argument;
  e.symbol = rule.symbol;
  e.values = count;
  e.seconds = seconds;
  e.mean = values.Mean();
  e.sd = values.Deviation();
  e.median = values.Median();
  e.mad = values.Mad();
  for (size_t i = 0; i < kCalibrationQuantiles; ++i)
    e.quantiles.push_back(values.Percentile(static_cast<double>(i) / static_cast<double>(kCalibrationQuantiles - 1)));
  return e;
}

std::string FormatCalibration(const Calibration& calibration) {
  std::string text = std::string(kHeader) + " " + kVersion +
                     "\n# Written by qelvo bridge --calibrate; read by qelvo bridge --calibration.\n"
                     "# address argument symbol values=N seconds=S mean=M sd=D median=X mad=Y "
                     "quantiles=Q0,Q5,...,Q100 (percent)\n";
  for (const CalibrationEntry& e : calibration.entries) {
    text += e.address + " " + ArgumentText(e.argument) + " " + e.symbol + " values=" + std::to_string(e.values) +
            " seconds=" + ShortestText(e.seconds) + " mean=" + ShortestText(e.mean) + " sd=" + ShortestText(e.sd) +
            " median=" + ShortestText(e.median) + " mad=" + ShortestText(e.mad) + " quantiles=";
    for (size_t i = 0; i < e.quantiles.size(); ++i) text += (i == 0 ? "" : ",") + ShortestText(e.quantiles[i]);
    text += "\n";
  }
  return text;
}

Calibration ParseCalibration(std::string_view text, const std::string& sourceName) {
  Calibration calibration;
  bool header = false;
  ForEachMapLine(text, sourceName, [&](const std::vector<std::string_view>& words, const std::string& where, int line) {
    if (!header) {
      if (words.size() != 2 || words[0] != kHeader)
        throw ToolError(where + "expected the first line '" + kHeader + " " + kVersion +
                        "': this is no calibration written by qelvo bridge --save-calibration");
      if (words[1] != kVersion)
        throw ToolError(where + "calibration version " + std::string(words[1]) + " is not known (known: " + kVersion +
                        ")");
      header = true;
      return;
    }
    CalibrationEntry e;
    e.line = line;
    BridgeRule head;
    ParseRuleHead(words, where, &head);
    e.address = head.address;
    e.argument = head.argument;
    e.symbol = head.symbol;
    ParseFields(words, where, &e);
    calibration.entries.push_back(std::move(e));
  });
  if (!header) throw ToolError(sourceName + ": empty; a calibration starts with '" + kHeader + " " + kVersion + "'");
  return calibration;
}

Calibration ReadCalibration(const std::string& path) {
  return ParseCalibration(ReadInputText(path, kMaxCalibrationBytes, "a calibration"),
                          path == "-" ? kStandardInputName : path);
}

void WriteCalibration(const Calibration& calibration, const std::string& path) {
  WriteFileAtomically(path, FormatCalibration(calibration));
}

std::vector<const CalibrationEntry*> MatchCalibration(const Calibration& calibration, const BridgeMap& map,
                                                      const std::string& sourceName,
                                                      std::vector<std::string>* warnings) {
  std::vector<const CalibrationEntry*> matched(map.rules.size(), nullptr);
  std::vector<bool> used(calibration.entries.size(), false);
  for (size_t r = 0; r < map.rules.size(); ++r)
    for (size_t i = 0; i < calibration.entries.size(); ++i)
      if (!used[i] && SameRule(calibration.entries[i], map.rules[r])) {
        used[i] = true;
        matched[r] = &calibration.entries[i];
        break;
      }
  for (size_t i = 0; i < calibration.entries.size(); ++i)
    if (!used[i]) {
      const CalibrationEntry& e = calibration.entries[i];
      warnings->push_back(sourceName + ":" + std::to_string(e.line) + ": no rule of the map reads " + e.address + " " +
                          ArgumentText(e.argument) + " into " + e.symbol + "; this entry is not used");
    }
  return matched;
}

#include "tools/qelvo/LevelSymbols.h"

#include <algorithm>
#include <optional>

#include "tools/qelvo/Suggest.h"

namespace {

constexpr size_t kNamed = 3;

bool Contains(const std::vector<std::string>& list, const std::string& name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

}  // namespace

std::vector<std::string> LevelSymbolWarnings(const std::vector<LevelEvent>& levels, const LevelSymbolCheck& check) {
  std::vector<std::string> warnings;
  if (levels.empty()) return warnings;

  std::vector<const LevelEvent*> strangers;  // first level of each symbol never followed
  bool followed = false;
  for (const LevelEvent& e : levels) {
    followed = followed || e.symbol == check.followed;
    if (Contains(check.familyMeasures, e.symbol)) continue;
    if (std::none_of(strangers.begin(), strangers.end(), [&](const LevelEvent* s) { return s->symbol == e.symbol; }))
      strangers.push_back(&e);
  }

  if (!strangers.empty()) {
    std::string text = check.source + ": " + check.plugin + " never follows ";
    for (size_t i = 0; i < strangers.size() && i < kNamed; ++i) {
      const LevelEvent& e = *strangers[i];
      text += (i == 0 ? "" : ", ") + e.symbol + " (line " + std::to_string(e.line);
      // Another plug-in's measure is no typo; anything else may be one.
      if (!Contains(check.knownMeasures, e.symbol))
        if (const std::optional<std::string> near = ClosestName(e.symbol, check.familyMeasures))
          text += "; did you mean " + *near + "?";
      text += ")";
    }
    if (strangers.size() > kNamed) text += " and " + std::to_string(strangers.size() - kNamed) + " more";
    text += "; their levels change nothing";
    warnings.push_back(text);
  }
  if (!followed)
    warnings.push_back(check.source + ": no level is for " + check.followed + ", the measure " + check.preset +
                       " follows; the output is not modulated");
  return warnings;
}

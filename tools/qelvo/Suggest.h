// "Did you mean": the valid name closest to a mistyped one.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Lower-case letters and digits only, so "Cutoff Frequency", "cutoff-frequency"
// and "cutoff_frequency" all compare equal.
std::string FoldedName(const std::string& text);

// The candidate nearest to wanted, comparing letters and digits only and
// ignoring letter case ("lch count filtr" is near "LCH Count-Filter"), by
// edit distance to the whole candidate or to its beginning (an abbreviation),
// or as its ending ("BS7" for "AUQelvoBS7").
// None when no candidate is near enough to be a likely slip, or when two are
// equally near, so a suggestion is never a guess between several.
std::optional<std::string> ClosestName(const std::string& wanted, const std::vector<std::string>& candidates);

// " (did you mean 'X'?)" for messages, or empty.
std::string DidYouMean(const std::string& wanted, const std::vector<std::string>& candidates);

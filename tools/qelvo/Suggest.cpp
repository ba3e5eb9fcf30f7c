#include "tools/qelvo/Suggest.h"

#include <algorithm>
#include <cctype>

namespace {

// Letters and digits read alike, so "BS7VO" is nearer "BS7V0" than "BS7V1".
bool LookAlike(char a, char b) {
  auto pair = [&](char x, char y) { return (a == x && b == y) || (a == y && b == x); };
  return pair('o', '0') || pair('l', '1') || pair('i', '1') || pair('s', '5') || pair('z', '2');
}

// Edit distance in half edits: a look-alike substitution costs one, every
// other edit two.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = 2 * j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = 2 * i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      const char x = a[i - 1], y = b[j - 1];
      const size_t substitution = x == y ? 0 : LookAlike(x, y) ? 1 : 2;
      row[j] = std::min({row[j] + 2, row[j - 1] + 2, diagonal + substitution});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// A slip is one edit in a short name, two in a longer one, three at most
// (in half edits).
size_t Allowance(size_t length) { return 2 * (length <= 4 ? 1 : length <= 8 ? 2 : 3); }

}  // namespace

std::string FoldedName(const std::string& text) {
  std::string out;
  for (unsigned char c : text)
    if (std::isalnum(c)) out += static_cast<char>(std::tolower(c));
  return out;
}

std::optional<std::string> ClosestName(const std::string& wanted, const std::vector<std::string>& candidates) {
  const std::string w = FoldedName(wanted);
  if (w.empty()) return std::nullopt;
  const std::string* best = nullptr;
  size_t bestDistance = Allowance(w.size()) + 1;
  bool tie = false;
  for (const std::string& candidate : candidates) {
    const std::string c = FoldedName(candidate);
    if (c.empty()) continue;
    size_t d = EditDistance(w, c);
    if (c.size() > w.size()) {
      d = std::min(d, EditDistance(w, c.substr(0, w.size())));
      if (c.ends_with(w)) d = 0;  // "bs7" for "AUQelvoBS7"
    }
    // Must leave some of the name intact: "x" is not a slip for "q".
    if (d >= 2 * w.size()) continue;
    if (d < bestDistance) {
      best = &candidate;
      bestDistance = d;
      tie = false;
    } else if (d == bestDistance && best != nullptr && FoldedName(*best) != c) {
      tie = true;
    }
  }
  if (best == nullptr || tie) return std::nullopt;
  return *best;
}

std::string DidYouMean(const std::string& wanted, const std::vector<std::string>& candidates) {
  const std::optional<std::string> name = ClosestName(wanted, candidates);
  return name ? " (did you mean '" + *name + "'?)" : "";
}

// Level recordings: CSV text with a header line "time_s,symbol,level", one
// level per line after it; blank lines and lines starting with '#' are
// skipped. Times are seconds from the start of the audio, in order.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct LevelEvent {
  double time = 0;  // seconds
  std::string symbol;
  double level = 0;
  int line = 0;     // in the source, for messages
};

// Parses the text; sourceName prefixes messages ("levels.csv:7: ..."). Throws
// ToolError on the first bad line. Times must be finite, not negative and not
// decreasing; levels finite; symbols non-empty without spaces or quotes.
std::vector<LevelEvent> ParseLevelCsv(std::string_view text, const std::string& sourceName);
std::vector<LevelEvent> ReadLevelCsv(const std::string& path);

// A symbol a recording can hold: 1 to 64 bytes, no spaces, control
// characters, quotes or commas.
bool ValidLevelSymbol(std::string_view symbol);

// The audio frame a level belongs to: its time times the rate, rounded down,
// allowing for a time written in decimal that lands a hair below a frame.
long long LevelFrame(double time, double sampleRate);

// Level recordings: CSV text with a header line "time_s,symbol,level", one
// level per line after it; blank lines and lines starting with '#' are
// skipped, and so is a UTF-8 byte-order mark before the first line. Times are
// seconds from the start of the audio, in order.
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
// Reads a regular file, or standard input for "-" (see InputFile.h); at
// most 64 MiB.
std::vector<LevelEvent> ReadLevelCsv(const std::string& path);

// A symbol a level can carry: 1 to 64 characters, no spaces, control
// characters, quotes or commas. Recordings, posts and OSC maps share it.
bool IsMeasureName(std::string_view symbol);

// text without a leading UTF-8 byte-order mark, which some editors write.
std::string_view WithoutByteOrderMark(std::string_view text);

// Later than any audio file: the frame of a time too large to count (2^62).
inline constexpr double kLevelFrameNever = 0x1p62;

// [any] The audio frame a level belongs to: its time times the rate, rounded
// down, allowing for a time written in decimal that lands a hair below a
// frame. Times beyond kLevelFrameNever frames (a recording may hold any
// finite time) answer kLevelFrameNever: such a level never applies.
long long LevelFrame(double time, double sampleRate);

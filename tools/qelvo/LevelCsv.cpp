#include "tools/qelvo/LevelCsv.h"

#include <charconv>
#include <cmath>

#include "tools/qelvo/InputFile.h"
#include "tools/qelvo/ToolError.h"

namespace {

// A long session of every measure at 100 levels a second is a few MiB.
constexpr size_t kMaxLevelFileBytes = 64 << 20;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool ParseDouble(std::string_view text, double* out) {
  text = Trim(text);
  if (text.empty()) return false;
  if (text.front() == '+') text.remove_prefix(1);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool IsMeasureName(std::string_view s) {
  if (s.empty() || s.size() > 64) return false;
  for (char c : s)
    if (c <= ' ' || c == '"' || c == '\'' || c == ',' || c == 0x7F) return false;
  return true;
}

std::string_view WithoutByteOrderMark(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  return text;
}

long long LevelFrame(double time, double sampleRate) {
  const double frame = std::floor(time * sampleRate + 1e-6);
  // A recording may carry any finite time; one past every file stays there
  // instead of overflowing the conversion.
  if (!(frame < kLevelFrameNever)) return static_cast<long long>(kLevelFrameNever);
  if (frame < -kLevelFrameNever) return -static_cast<long long>(kLevelFrameNever);
  return static_cast<long long>(frame);
}

std::vector<LevelEvent> ParseLevelCsv(std::string_view text, const std::string& sourceName) {
  text = WithoutByteOrderMark(text);
  std::vector<LevelEvent> events;
  bool sawHeader = false;
  int lineNumber = 0;
  double lastTime = 0;
  std::string lastText;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    const std::string where = sourceName + ":" + std::to_string(lineNumber) + ": ";
    line = Trim(line);
    if (line.empty() || line.front() == '#') continue;
    if (!sawHeader) {
      std::string header;
      for (char c : line)
        if (c != ' ' && c != '\t') header += c;
      if (header != "time_s,symbol,level")
        throw ToolError(where + "expected the header line \"time_s,symbol,level\"");
      sawHeader = true;
      continue;
    }
    const size_t c1 = line.find(',');
    const size_t c2 = c1 == std::string_view::npos ? c1 : line.find(',', c1 + 1);
    if (c2 == std::string_view::npos || line.find(',', c2 + 1) != std::string_view::npos)
      throw ToolError(where + "expected three fields: time_s,symbol,level");
    LevelEvent e;
    e.line = lineNumber;
    if (!ParseDouble(line.substr(0, c1), &e.time) || !std::isfinite(e.time) || e.time < 0)
      throw ToolError(where + "the time must be a number of seconds, 0 or more");
    if (e.time < lastTime)
      throw ToolError(where + "times must not decrease: " + std::string(Trim(line.substr(0, c1))) +
                      " comes after " + lastText);
    const std::string_view symbol = Trim(line.substr(c1 + 1, c2 - c1 - 1));
    if (!IsMeasureName(symbol)) throw ToolError(where + "the symbol must be a measure name such as BS7V0");
    e.symbol = std::string(symbol);
    if (!ParseDouble(line.substr(c2 + 1), &e.level) || !std::isfinite(e.level))
      throw ToolError(where + "the level must be a finite number");
    lastTime = e.time;
    lastText = std::string(Trim(line.substr(0, c1)));
    events.push_back(std::move(e));
  }
  if (!sawHeader) throw ToolError(sourceName + ": no header line \"time_s,symbol,level\"");
  return events;
}

std::vector<LevelEvent> ReadLevelCsv(const std::string& path) {
  return ParseLevelCsv(ReadInputText(path, kMaxLevelFileBytes, "a level recording"),
                       path == "-" ? kStandardInputName : path);
}

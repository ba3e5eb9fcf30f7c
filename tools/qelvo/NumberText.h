// Numbers in messages: the shortest text that reads back as the same double.
#pragma once

#include <charconv>
#include <string>

inline std::string ShortestText(double value) {
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

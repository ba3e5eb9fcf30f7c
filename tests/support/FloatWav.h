// Interleaved 32-bit float WAV files for tests that hand audio to programs,
// so no sample is rounded on the way.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

inline void WriteFloatWav(const std::string& path, const std::vector<float>& interleaved, uint16_t channels,
                          uint32_t rate) {
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  const uint32_t bytes = static_cast<uint32_t>(interleaved.size() * sizeof(float));
  out.write("RIFF", 4);
  u32(36 + bytes);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(3);  // IEEE float
  u16(channels);
  u32(rate);
  u32(rate * channels * 4);
  u16(static_cast<uint16_t>(channels * 4));
  u16(32);
  out.write("data", 4);
  u32(bytes);
  out.write(reinterpret_cast<const char*>(interleaved.data()), bytes);
}

// The parameter table drives the LV2 face: a parameter added to a copy of the
// table becomes a port with its own range and unit, the ports after it move
// up, the unit's parameter info describes it, and the wrapper holds its
// values within its range.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "effect/FilterParameters.h"
#include "lv2/Lv2Description.h"
#include "lv2/Lv2Ports.h"

namespace {

constexpr FilterParameter kDrive{7, "drive", "drive amount", "Drive", kAudioUnitParameterUnit_Decibels, 0.0f, 24.0f,
                                 6.0f, kAudioUnitParameterFlag_IsHighResolution, false};

std::vector<FilterParameter> TablePlusDrive() {
  std::vector<FilterParameter> table(std::begin(kFilterParameters), std::end(kFilterParameters));
  table.push_back(kDrive);
  return table;
}

// Each port of the first plug-in in a plug-in file: symbol to its block.
std::map<std::string, std::string> PortsOfFirstPlugin(const std::string& turtle) {
  const std::string first = turtle.substr(0, turtle.find("\t] .\n"));
  std::map<std::string, std::string> ports;
  size_t at = first.find("lv2:port [");
  while (at != std::string::npos) {
    const size_t end = first.find("] , [", at + 1);
    const std::string block = first.substr(at, end == std::string::npos ? std::string::npos : end - at);
    const size_t symbol = block.find("lv2:symbol \"");
    if (symbol != std::string::npos) {
      const size_t from = symbol + 12;
      ports[block.substr(from, block.find('"', from) - from)] = block;
    }
    at = end;
  }
  return ports;
}

bool Has(const std::string& block, const std::string& line) { return block.find(line) != std::string::npos; }

TEST(ParameterTable, AnAddedParameterBecomesAPortAndMovesTheOthersUp) {
  const std::vector<FilterParameter> table = TablePlusDrive();
  Lv2DescriptionInput in;
  in.name = "AUQelvoBS7";
  in.binary = "AUQelvoBS7.so";
  in.presetNames = {"one", "two"};
  in.parameters = table;
  std::ostringstream out;
  WriteLv2Plugins(out, in);
  const auto ports = PortsOfFirstPlugin(out.str());

  ASSERT_TRUE(ports.count("drive")) << out.str();
  const std::string& drive = ports.at("drive");
  EXPECT_TRUE(Has(drive, "lv2:index 3 ;")) << drive;
  EXPECT_TRUE(Has(drive, "lv2:name \"Drive\" ;")) << drive;
  EXPECT_TRUE(Has(drive, "lv2:default 6.0 ;")) << drive;
  EXPECT_TRUE(Has(drive, "lv2:minimum 0.0 ;")) << drive;
  EXPECT_TRUE(Has(drive, "lv2:maximum 24.0 ;")) << drive;
  EXPECT_TRUE(Has(drive, "units:unit units:db")) << drive;
  EXPECT_FALSE(Has(drive, "logarithmic")) << drive;
  EXPECT_TRUE(Has(ports.at("cutoff"), "lv2:portProperty pprops:logarithmic")) << ports.at("cutoff");

  // Stereo: 4 parameters, preset, enabled, four outputs, then the audio.
  const std::pair<const char*, int> expected[] = {
      {"cutoff", 0}, {"resonance", 1}, {"gain", 2},       {"preset", 4},         {"enabled", 5},  {"mode", 6},
      {"level", 7},  {"gain_factor", 8}, {"cutoff_factor", 9}, {"in_left", 10}, {"in_right", 11}, {"out_left", 12},
      {"out_right", 13}};
  for (const auto& [symbol, index] : expected) {
    ASSERT_TRUE(ports.count(symbol)) << symbol;
    EXPECT_TRUE(Has(ports.at(symbol), "lv2:index " + std::to_string(index) + " ;")) << symbol << ports.at(symbol);
  }
  EXPECT_EQ(ports.size(), std::size(expected) + 1);

  const std::vector<std::string> symbols = Lv2ControlSymbols(in);
  EXPECT_EQ(symbols, (std::vector<std::string>{"cutoff", "resonance", "gain", "drive", "preset", "enabled", "mode",
                                               "level", "gain_factor", "cutoff_factor"}));
  EXPECT_EQ(Lv2PortLayout{4}.Count(2), 14u);
}

TEST(ParameterTable, AnAddedParameterIsDescribedByTheUnitsParameterInfo) {
  AudioUnitParameterInfo info{};
  info.flags = kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable;
  info.clumpID = 99;
  FillFilterParameterInfo(kDrive, 48000.0, info);
  EXPECT_STREQ(info.name, "drive amount");
  ASSERT_NE(info.cfNameString, nullptr);
  EXPECT_STREQ(CFStringGetCStringPtr(info.cfNameString, kCFStringEncodingUTF8), "drive amount");
  EXPECT_EQ(info.unit, static_cast<UInt32>(kAudioUnitParameterUnit_Decibels));
  EXPECT_EQ(info.minValue, 0.0f);
  EXPECT_EQ(info.maxValue, 24.0f);  // not the sample rate's half: only rows that say so
  EXPECT_EQ(info.defaultValue, 6.0f);
  EXPECT_EQ(info.flags, 0xC8800000u);
  EXPECT_EQ(info.clumpID, 0u);
  EXPECT_EQ(FilterParameterIndex(7, TablePlusDrive()), 3u);
  EXPECT_EQ(FilterParameterIndex(7), kFilterParameterCount);
}

TEST(ParameterTable, TheWrapperHoldsPortValuesWithinEachRowsRange) {
  const FilterParameter& cutoff = kFilterParameters[kLv2PortCutoff];
  const FilterParameter& resonance = kFilterParameters[kLv2PortResonance];
  struct Case {
    const FilterParameter* row;
    float port;
    bool connected;
    double rate;
    float given;
  };
  const float nan = std::nanf("");
  const Case cases[] = {
      {&kDrive, 30.0f, true, 48000, 24.0f},    {&kDrive, -1.0f, true, 48000, 0.0f},
      {&kDrive, 12.5f, true, 48000, 12.5f},    {&kDrive, nan, true, 48000, 6.0f},
      {&kDrive, 0.0f, false, 48000, 6.0f},     {&cutoff, 30000.0f, true, 96000, 20000.0f},
      {&cutoff, 30000.0f, true, 22050, 11025.0f}, {&cutoff, 1.0f, true, 44100, 12.0f},
      {&cutoff, 100.0f, true, 16, 8.0f},       {&cutoff, INFINITY, true, 44100, 1000.0f},
      {&resonance, -35.0f, true, 44100, -20.0f}, {&resonance, 35.0f, true, 44100, 20.0f},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Lv2ParameterValue(*c.row, c.connected ? &c.port : nullptr, c.rate), c.given)
        << c.row->symbol << " " << c.port << " at " << c.rate;
  }
}

}  // namespace

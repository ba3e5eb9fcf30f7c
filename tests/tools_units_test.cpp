// The host program's own pieces, without a plug-in: level recordings, the
// OSC bridge's translation, saved-state files, outputs that appear whole,
// and the matching of presets and parameters.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "support/ToolErrorText.h"
#include "support/ToolTestFiles.h"
#include "tools/qelvo/AtomicOutput.h"
#include "tools/qelvo/AudioFile.h"
#include "tools/qelvo/BridgeMap.h"
#include "tools/qelvo/Interleave.h"
#include "tools/qelvo/LevelCsv.h"
#include "tools/qelvo/StatePlist.h"
#include "tools/qelvo/ToolError.h"
#include "tools/qelvo/UnitSettings.h"

namespace {

TEST(LevelCsv, ReadsLevelsSkippingCommentsBlankLinesAndCarriageReturns) {
  const auto events = ParseLevelCsv(
      "# session\r\n\ntime_s, symbol, level\r\n0,BS7V0,10\r\n# mid comment\n0.5,BS7F0,-2.5e1\n0.5,peakLV,+3\n", "s.csv");
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].symbol, "BS7V0");
  EXPECT_EQ(events[0].level, 10.0);
  EXPECT_EQ(events[1].time, 0.5);
  EXPECT_EQ(events[1].level, -25.0);
  EXPECT_EQ(events[1].line, 6);
  EXPECT_EQ(events[2].level, 3.0);
}

TEST(LevelCsv, BadRowsNameTheFileAndLine) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"0,BS7V0,1\n", "levels.csv:1: expected the header line"},
      {"time_s,symbol,level\n0,BS7V0\n", "levels.csv:2: expected three fields"},
      {"time_s,symbol,level\n0,BS7V0,1,2\n", "levels.csv:2: expected three fields"},
      {"time_s,symbol,level\n\nabc,BS7V0,1\n", "levels.csv:3: the time must be"},
      {"time_s,symbol,level\n-1,BS7V0,1\n", "levels.csv:2: the time must be"},
      {"time_s,symbol,level\ninf,BS7V0,1\n", "levels.csv:2: the time must be"},
      {"time_s,symbol,level\n0,BS7V0,nan\n", "levels.csv:2: the level must be a finite number"},
      {"time_s,symbol,level\n0,BS7V0,1e999\n", "levels.csv:2: the level must be a finite number"},
      {"time_s,symbol,level\n0,BS7V0,12x\n", "levels.csv:2: the level must be"},
      {"time_s,symbol,level\n0,,1\n", "levels.csv:2: the symbol"},
      {"time_s,symbol,level\n0,BS 7,1\n", "levels.csv:2: the symbol"},
      {"time_s,symbol,level\n2,BS7V0,1\n1,BS7V0,1\n", "levels.csv:3: times must not decrease: 1 comes after 2"},
      {"# only a comment\n", "levels.csv: no header line"},
  };
  for (const Case& c : cases)
    EXPECT_NE(ErrorOf([&] { ParseLevelCsv(c.text, "levels.csv"); }).find(c.message), std::string::npos)
        << c.text << " gave: " << ErrorOf([&] { ParseLevelCsv(c.text, "levels.csv"); });
}

TEST(LevelCsv, FrameOfATimeRoundsDownButForgivesDecimalNoise) {
  EXPECT_EQ(LevelFrame(0.5, 44100), 22050);
  EXPECT_EQ(LevelFrame(0.1, 44100), 4410);
  EXPECT_EQ(LevelFrame(0.7, 44100), 30870);  // 0.7 * 44100 is 30869.999999999996
  EXPECT_EQ(LevelFrame(1.0 / 3.0, 48000), 16000);
  EXPECT_EQ(LevelFrame(0.00001, 44100), 0);
  EXPECT_EQ(LevelFrame(0.49999, 44100), 22049);
  // Any finite time a recording may hold stays after every file.
  EXPECT_EQ(LevelFrame(4.4e68, 48000), 1LL << 62);
  EXPECT_EQ(LevelFrame(1.7e308, 192000), 1LL << 62);
  EXPECT_EQ(LevelFrame(1e9, 48000), 48000000000000LL);
}

std::vector<OscValue> Args(std::initializer_list<OscValue> v) { return v; }
OscValue S(const char* s) { return {'s', 0, s}; }
OscValue F(double v) { return {'f', v, ""}; }
OscValue D(double v) { return {'d', v, ""}; }
OscValue I(int v) { return {'i', static_cast<double>(v), ""}; }

TEST(BridgeTranslation, DefaultAddressTakesASymbolAndAFloatOrDouble) {
  const BridgeMap map;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* address;
    std::vector<OscValue> args;
    BridgeOutcome outcome;
    double level;
  } cases[] = {
      {"/kest/level", Args({S("BS7V0"), F(12.5)}), BridgeOutcome::kPosted, 12.5},
      {"/kest/level", Args({S("BS7V0"), D(-3.25)}), BridgeOutcome::kPosted, -3.25},
      {"/kest/level", Args({S("BS7V0"), I(3)}), BridgeOutcome::kRejected, 0},
      {"/kest/level", Args({F(1), S("BS7V0")}), BridgeOutcome::kRejected, 0},
      {"/kest/level", Args({S("BS7V0")}), BridgeOutcome::kRejected, 0},
      {"/kest/level", Args({S("BS7V0"), F(1), F(2)}), BridgeOutcome::kRejected, 0},
      {"/kest/level", Args({S("BS7V0"), F(nan)}), BridgeOutcome::kRejected, 0},
      {"/kest/level", Args({S("BS7V0"), D(-inf)}), BridgeOutcome::kRejected, 0},
      {"/kest/level", Args({S("two words"), F(1)}), BridgeOutcome::kRejected, 0},
      {"/kest/levels", Args({S("BS7V0"), F(1)}), BridgeOutcome::kUnknownAddress, 0},
  };
  for (const Case& c : cases) {
    const BridgeResult r = TranslateOscMessage(map, c.address, c.args);
    EXPECT_EQ(r.outcome, c.outcome) << c.address << " " << r.reason;
    if (c.outcome == BridgeOutcome::kPosted) {
      ASSERT_EQ(r.levels.size(), 1u);
      EXPECT_EQ(r.levels[0].level, c.level);
    } else {
      EXPECT_TRUE(r.levels.empty());
    }
  }
}

TEST(BridgeTranslation, MapRulesPickScaleAndTakeMessagesWhole) {
  const BridgeMap map = ParseBridgeMap(
      "# five bands of channel 0\n"
      "/openbci/band-power/0  0  BS1V0\n"
      "/openbci/band-power/0  2  BS3V0  scale=2 offset=1   # alpha\n"
      "/muse/elements/alpha_absolute  *  BS3V0  log scale=10\n",
      "m.map");
  ASSERT_EQ(map.rules.size(), 3u);
  EXPECT_FALSE(map.defaultAddress);

  // More floats than the rules need are fine; each rule posts one level.
  BridgeResult r = TranslateOscMessage(map, "/openbci/band-power/0", Args({F(4), F(5), F(6), F(7), F(8), F(9)}));
  ASSERT_EQ(r.outcome, BridgeOutcome::kPosted);
  ASSERT_EQ(r.levels.size(), 2u);
  EXPECT_EQ(r.levels[0].symbol, "BS1V0");
  EXPECT_EQ(r.levels[0].level, 4.0);
  EXPECT_EQ(r.levels[1].level, 6.0 * 2 + 1);

  // Too few for the second rule: nothing at all is posted.
  r = TranslateOscMessage(map, "/openbci/band-power/0", Args({F(4), F(5)}));
  EXPECT_EQ(r.outcome, BridgeOutcome::kRejected);
  EXPECT_TRUE(r.levels.empty());
  r = TranslateOscMessage(map, "/openbci/band-power/0", Args({F(4), F(5), S("x")}));
  EXPECT_EQ(r.outcome, BridgeOutcome::kRejected);

  // The mean of one or four log-scaled values.
  r = TranslateOscMessage(map, "/muse/elements/alpha_absolute", Args({F(0.5)}));
  ASSERT_EQ(r.outcome, BridgeOutcome::kPosted);
  EXPECT_NEAR(r.levels[0].level, std::pow(10.0, 0.5) * 10, 1e-9);
  r = TranslateOscMessage(map, "/muse/elements/alpha_absolute", Args({F(0), F(1), F(0), F(1)}));
  EXPECT_NEAR(r.levels[0].level, std::pow(10.0, 0.5) * 10, 1e-9);
  r = TranslateOscMessage(map, "/muse/elements/alpha_absolute", Args({F(0), F(std::nan(""))}));
  EXPECT_EQ(r.outcome, BridgeOutcome::kRejected);
  r = TranslateOscMessage(map, "/muse/elements/alpha_absolute", Args({F(400)}));  // 10^400 overflows
  EXPECT_EQ(r.outcome, BridgeOutcome::kRejected);

  // A map replaces the default address.
  EXPECT_EQ(TranslateOscMessage(map, "/kest/level", Args({S("BS7V0"), F(1)})).outcome, BridgeOutcome::kUnknownAddress);
}

TEST(BridgeTranslation, MapFileMistakesNameTheLine) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"/a 0\n", "m.map:1: expected: address argument symbol"},
      {"\n a 0 BS1V0\n", "m.map:2: an OSC address starts with '/'"},
      {"/a -1 BS1V0\n", "m.map:1: the argument is an index"},
      {"/a x BS1V0\n", "m.map:1: the argument is an index"},
      {"/a 0 BS1V0 scale=abc\n", "m.map:1: scale= wants a finite number"},
      {"/a 0 BS1V0 offset=inf\n", "m.map:1: offset= wants a finite number"},
      {"/a 0 BS1V0 gain=2\n", "m.map:1: unknown option 'gain=2'"},
      {"# nothing\n", "m.map: the map has no rules"},
  };
  for (const Case& c : cases)
    EXPECT_NE(ErrorOf([&] { ParseBridgeMap(c.text, "m.map"); }).find(c.message), std::string::npos) << c.text;
}

CFRef<CFTypeRef> Num(int64_t v) { return CFRef<CFTypeRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt64Type, &v)); }

TEST(StatePlist, EveryValueKindSurvivesTheRoundTrip) {
  CFRef<CFMutableDictionaryRef> state = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  const uint8_t bytes[] = {0x00, 0x00, 0x00, 0x03, 0x44, 0x7A, 0x00, 0x00, 0xFF};
  CFRef<CFDataRef> data = CFRef<CFDataRef>::Adopt(CFDataCreate(nullptr, bytes, sizeof bytes));
  CFRef<CFStringRef> name = CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, "LCH Count-Filter <&>", kCFStringEncodingUTF8));
  const float load = 0.25f;
  CFRef<CFNumberRef> real = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberFloatType, &load));
  CFRef<CFMutableDictionaryRef> names = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  CFDictionarySetValue(names.get(), CFSTR("2"), CFSTR("side chain"));
  CFRef<CFMutableArrayRef> list = CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
  CFArrayAppendValue(list.get(), kCFBooleanTrue);
  CFArrayAppendValue(list.get(), Num(-7).get());

  CFDictionarySetValue(state.get(), CFSTR("version"), Num(0).get());
  CFDictionarySetValue(state.get(), CFSTR("subtype"), Num(static_cast<int32_t>(0x80000001u)).get());  // negative as signed 32-bit
  CFDictionarySetValue(state.get(), CFSTR("data"), data.get());
  CFDictionarySetValue(state.get(), CFSTR("name"), name.get());
  CFDictionarySetValue(state.get(), CFSTR("cpu-load"), real.get());
  CFDictionarySetValue(state.get(), CFSTR("element-name"), names.get());
  CFDictionarySetValue(state.get(), CFSTR("list"), list.get());

  const std::string xml = PropertyListToXml(state.get());
  EXPECT_NE(xml.find("<plist"), std::string::npos);
  CFRef<CFPropertyListRef> back = PropertyListFromXml(xml, "state.plist");
  EXPECT_TRUE(CFEqual(back.get(), state.get())) << xml;

  int32_t subtype = 0;
  CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(static_cast<CFDictionaryRef>(back.get()), CFSTR("subtype"))),
                   kCFNumberSInt32Type, &subtype);
  EXPECT_EQ(static_cast<uint32_t>(subtype), 0x80000001u);
}

TEST(StatePlist, FilesThatAreNoSavedStateAreRefused) {
  ScratchDir dir;
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"time_s,symbol,level\n", "not an XML property list"},
      {"<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key>", "not a readable XML property list"},
      {"<?xml version=\"1.0\"?><plist version=\"1.0\"><array><integer>1</integer></array></plist>", "a saved state is a dictionary"},
      {"<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>d</key><date>2020-01-01T00:00:00Z</date></dict></plist>",
       "a date or an identifier"},
  };
  for (const Case& c : cases) {
    WriteText(dir.File("s.plist"), c.text);
    EXPECT_NE(ErrorOf([&] { ReadStateFile(dir.File("s.plist")); }).find(c.message), std::string::npos) << c.text;
  }
  EXPECT_NE(ErrorOf([&] { ReadStateFile(dir.File("missing.plist")); }).find("cannot read"), std::string::npos);
}

TEST(AtomicOutputFile, AppearsOnlyWhenCommitted) {
  ScratchDir dir;
  const std::string target = dir.File("out.bin");
  WriteText(target, "old");
  {
    AtomicOutput out(target);
    out.Write("new", 3);
    EXPECT_EQ(ReadBytes(target), "old");
    EXPECT_EQ(dir.Entries().size(), 2u);
  }  // abandoned: the old file stays and the temporary one goes
  EXPECT_EQ(ReadBytes(target), "old");
  EXPECT_EQ(dir.Entries().size(), 1u);
  {
    AtomicOutput out(target);
    out.Write("new", 3);
    out.Commit();
  }
  EXPECT_EQ(ReadBytes(target), "new");
  EXPECT_EQ(dir.Entries().size(), 1u);

  EXPECT_NE(ErrorOf([&] { AtomicOutput out(dir.File("no/such/dir/x")); }).find("cannot write"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { AtomicOutput out(dir.Path()); }).find("is a directory"), std::string::npos);
}

TEST(AudioFiles, FloatSamplesPassThroughExactlyAndBadFilesAreNamed) {
  ScratchDir dir;
  const Planar signal = TestSignal(3, 1000);
  WriteAudio(dir.File("in.wav"), signal, 48000);
  AudioReader reader(dir.File("in.wav"));
  EXPECT_EQ(reader.Info().channels, 3);
  EXPECT_EQ(reader.Info().sampleRate, 48000);
  Planar got(3, std::vector<float>(1000));
  float* ptr[3] = {got[0].data(), got[1].data(), got[2].data()};
  EXPECT_EQ(reader.ReadPlanar(ptr, 600), 600u);
  float* rest[3] = {got[0].data() + 600, got[1].data() + 600, got[2].data() + 600};
  EXPECT_EQ(reader.ReadPlanar(rest, 600), 400u);
  EXPECT_EQ(got, signal);

  WriteText(dir.File("text.wav"), "not audio at all");
  EXPECT_NE(ErrorOf([&] { AudioReader r(dir.File("text.wav")); }).find("cannot read " + dir.File("text.wav")), std::string::npos);
  // FLAC holds at most eight channels: refused before anything is written.
  EXPECT_NE(ErrorOf([&] { AudioWriter w(dir.File("o.flac"), 44100, 9, OutputFormatFromName("flac-16", 0)); })
                .find("cannot hold 9 channels"),
            std::string::npos);
  EXPECT_FALSE(Exists(dir.File("o.flac")));
  EXPECT_NE(ErrorOf([&] { OutputFormatFromName("mp9", 0); }).find("known formats: same, wav-float"), std::string::npos);
}

ParameterDescription Param(AudioUnitParameterID id, const char* name, float lo, float hi, UInt32 unit) {
  ParameterDescription p;
  p.id = id;
  p.name = name;
  p.info.minValue = lo;
  p.info.maxValue = hi;
  p.info.unit = unit;
  return p;
}

TEST(UnitChoices, PresetsByNumberOrNameAndParametersByNamePrefixOrID) {
  const std::vector<PresetDescription> presets = {{0, "LCH Count-Gain"}, {1, "LCH Count-Filter"}, {11, "Coherence F-Filter"}};
  EXPECT_EQ(ResolvePreset(presets, "11", "U").number, 11);
  EXPECT_EQ(ResolvePreset(presets, "lch count filter", "U").number, 1);
  const std::string unknown = ErrorOf([&] { ResolvePreset(presets, "12", "AUQelvoBS7"); });
  EXPECT_NE(unknown.find("unknown preset '12' for AUQelvoBS7"), std::string::npos);
  EXPECT_NE(unknown.find("11  Coherence F-Filter"), std::string::npos);

  const std::vector<ParameterDescription> params = {Param(0, "cutoff frequency", 12, 22050, kAudioUnitParameterUnit_Hertz),
                                                    Param(1, "resonance", -20, 20, kAudioUnitParameterUnit_Decibels),
                                                    Param(2, "Gain", 0, 1, kAudioUnitParameterUnit_LinearGain)};
  struct Good {
    const char* text;
    AudioUnitParameterID id;
    float value;
  } good[] = {{"cutoff-frequency=800", 0, 800}, {"Cutoff Frequency=12", 0, 12}, {"cutoff=22050", 0, 22050},
              {"res=-20", 1, -20},              {"2=0.5", 2, 0.5f},             {"gain= 1 ", 2, 1}};
  for (const Good& g : good) {
    const ParameterAssignment a = ResolveParameter(params, g.text, "U");
    EXPECT_EQ(a.parameter.id, g.id) << g.text;
    EXPECT_EQ(a.value, g.value) << g.text;
  }
  struct Bad {
    const char* text;
    const char* message;
  } bad[] = {
      {"cutoff=30000", "cutoff frequency must be between 12 and 22050 Hz, got 30000"},
      {"resonance=21", "resonance must be between -20 and 20 dB"},
      {"gain=-0.1", "Gain must be between 0 and 1"},
      {"gain=nan", "must be a number"},
      {"gain=loud", "must be a number"},
      {"q=1", "unknown parameter 'q' for U"},
      {"3=1", "unknown parameter '3'"},
      {"gain", "wants NAME=VALUE"},
  };
  for (const Bad& b : bad) EXPECT_NE(ErrorOf([&] { ResolveParameter(params, b.text, "U"); }).find(b.message), std::string::npos) << b.text;
  // Every parameter is listed with its range for an unknown name.
  EXPECT_NE(ErrorOf([&] { ResolveParameter(params, "q=1", "U"); }).find("1  resonance (-20 to 20 dB)"), std::string::npos);
}

// Frames of a file to the unit's buffers and back, bit for bit: every
// channel count, frame counts on both sides of the four-frame steps, and
// bit patterns arithmetic would change (NaN payloads, -0, infinities).
TEST(Interleave, MovesEverySampleBitForBitBothWays) {
  std::mt19937 random(5);
  for (size_t channels = 1; channels <= 3; ++channels) {
    for (size_t frames : {0, 1, 3, 4, 5, 8, 37}) {
      std::vector<float> interleaved(channels * frames);
      for (float& x : interleaved) x = std::bit_cast<float>(static_cast<uint32_t>(random()));
      if (!interleaved.empty()) interleaved[0] = -0.0f;
      std::vector<std::vector<float>> planar(channels, std::vector<float>(frames));
      std::vector<float*> to;
      std::vector<const float*> from;
      for (auto& c : planar) to.push_back(c.data()), from.push_back(c.data());
      Deinterleave(interleaved.data(), to.data(), channels, frames);
      for (size_t f = 0; f < frames; ++f)
        for (size_t c = 0; c < channels; ++c)
          ASSERT_EQ(std::bit_cast<uint32_t>(planar[c][f]), std::bit_cast<uint32_t>(interleaved[f * channels + c]))
              << channels << " channels, " << frames << " frames: frame " << f << ", channel " << c;
      std::vector<float> back(interleaved.size(), 1.0f);
      Interleave(from.data(), back.data(), channels, frames);
      for (size_t i = 0; i < back.size(); ++i)
        ASSERT_EQ(std::bit_cast<uint32_t>(back[i]), std::bit_cast<uint32_t>(interleaved[i]))
            << channels << " channels, " << frames << " frames: sample " << i;
    }
  }
}

TEST(Interleave, CountsWhatAnIntegerFormatWouldClip) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const float justAbove = std::nextafter(1.0f, 2.0f);
  const std::vector<float> samples = {1.0f, -1.0f, justAbove, -justAbove, nan, inf, -inf, 0.0f, 0.5f,
                                      -0.0f, 2.0f, -nan, 1.0f};
  // Every start and length, so each sample is met in the four-wide steps and
  // in the tail.
  for (size_t start = 0; start < samples.size(); ++start) {
    for (size_t n = 0; start + n <= samples.size(); ++n) {
      long long expected = 0;
      for (size_t i = start; i < start + n; ++i) expected += !(std::fabs(samples[i]) <= 1.0f);
      ASSERT_EQ(CountBeyondFullScale(samples.data() + start, n), expected) << "from " << start << ", " << n;
    }
  }
}

}  // namespace

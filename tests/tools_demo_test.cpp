// The demo runs with no arguments and no bus, and writes what it promises.
#include <gtest/gtest.h>

#include <cmath>

#include "support/ToolRunner.h"
#include "support/ToolTestFiles.h"

namespace {

double Rms(const std::vector<float>& x, size_t from, size_t to) {
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += static_cast<double>(x[i]) * x[i];
  return std::sqrt(sum / static_cast<double>(to - from));
}

std::vector<float> Differences(const std::vector<float>& x) {
  std::vector<float> d(x.size());
  for (size_t i = 1; i < x.size(); ++i) d[i] = x[i] - x[i - 1];
  return d;
}

TEST(Demo, RunsWithoutArgumentsAndWritesTwoRendersWithPictures) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  const ToolResult r = RunTool({kQelvo, "demo"}, {{"DBUS_SESSION_BUS_ADDRESS", ""}, {"XDG_RUNTIME_DIR", ""}}, dir.Path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string out = dir.File("qelvo-demo");
  for (const char* name : {"input.wav", "filter-mode.wav", "filter-mode.png", "gain-mode.wav", "gain-mode.png"}) {
    EXPECT_NE(r.out.find(std::string("qelvo-demo/") + name), std::string::npos) << name << "\n" << r.out;
    ASSERT_TRUE(Exists(out + "/" + name)) << name;
  }
  for (const char* png : {"filter-mode.png", "gain-mode.png"}) EXPECT_EQ(ReadBytes(out + "/" + png).substr(0, 4), "\x89PNG");
  EXPECT_NE(r.out.find("levels applied (200 for BS7V0)"), std::string::npos) << r.out;

  const AudioFileContents input = ReadAudio(out + "/input.wav");
  const AudioFileContents filtered = ReadAudio(out + "/filter-mode.wav");
  const AudioFileContents gained = ReadAudio(out + "/gain-mode.wav");
  ASSERT_EQ(input.channels.size(), 2u);
  ASSERT_EQ(input.channels[0].size(), 20u * 44100);
  ASSERT_EQ(filtered.channels[0].size(), input.channels[0].size());
  ASSERT_EQ(gained.channels[0].size(), input.channels[0].size());
  // The session's level is low at 0 s and 10 s and high at 5 s and 15 s: the
  // gain-mode output follows it loud and soft, the filter lets more through.
  const size_t s = 44100;
  const double quietGain = Rms(gained.channels[0], 9 * s, 11 * s) / Rms(input.channels[0], 9 * s, 11 * s);
  const double loudGain = Rms(gained.channels[0], 4 * s, 6 * s) / Rms(input.channels[0], 4 * s, 6 * s);
  EXPECT_LT(quietGain, 0.4);
  EXPECT_GT(loudGain, 1.2);
  // Sample-to-sample differences weigh the highs the filter lets through.
  const double openHighs = Rms(Differences(filtered.channels[0]), 4 * s, 6 * s);
  const double closedHighs = Rms(Differences(filtered.channels[0]), 9 * s, 11 * s);
  EXPECT_GT(openHighs, 2.0 * closedHighs);

  // --out chooses the directory, made when missing.
  const ToolResult again = RunTool({kQelvo, "demo", "--out", dir.File("a/b")}, {{"DBUS_SESSION_BUS_ADDRESS", ""}});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(ReadBytes(dir.File("a/b/gain-mode.wav")), ReadBytes(out + "/gain-mode.wav"));
}

}  // namespace

// What the program writes, and where: over an existing file (its permissions
// and symbolic links stay), into a FIFO (which stays a FIFO), to standard
// output, in the container OUT's extension names, and with clipped samples
// counted when an integer format cannot hold them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <poll.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "support/ToolRunner.h"
#include "support/ToolTestFiles.h"

namespace {

const std::vector<std::string> kGainMode = {kQelvo, "render", "--plugin", "AUQelvoBS7", "--preset", "0"};

std::vector<std::string> With(std::vector<std::string> base, const std::vector<std::string>& extra) {
  base.insert(base.end(), extra.begin(), extra.end());
  return base;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  return st.st_mode;
}

TEST(Outputs, RerenderingKeepsPermissionsAndWritesThroughSymbolicLinks) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  const Planar input = TestSignal(1, 500, 4);
  WriteAudio(dir.File("in.wav"), input, 8000);
  ASSERT_EQ(mkdir(dir.File("takes").c_str(), 0755), 0);
  WriteText(dir.File("takes/take.wav"), "old take");
  ASSERT_EQ(chmod(dir.File("takes/take.wav").c_str(), 0640), 0);
  // A relative link through another, and one whose file does not exist yet.
  ASSERT_EQ(symlink("takes/take.wav", dir.File("inner.wav").c_str()), 0);
  ASSERT_EQ(symlink("inner.wav", dir.File("latest.wav").c_str()), 0);
  ASSERT_EQ(symlink("takes/next.wav", dir.File("next.wav").c_str()), 0);

  for (const char* out : {"latest.wav", "next.wav"}) {
    const ToolResult r = RunTool(With(kGainMode, {dir.File("in.wav"), dir.File(out)}));
    ASSERT_EQ(r.status, 0) << r.err;
  }
  EXPECT_TRUE(S_ISLNK(ModeOf(dir.File("latest.wav"))));
  EXPECT_TRUE(S_ISLNK(ModeOf(dir.File("inner.wav"))));
  EXPECT_TRUE(S_ISLNK(ModeOf(dir.File("next.wav"))));
  EXPECT_EQ(ModeOf(dir.File("takes/take.wav")) & 07777, 0640u);
  EXPECT_EQ(ReadAudio(dir.File("takes/take.wav")).channels, input);
  EXPECT_EQ(ReadAudio(dir.File("takes/next.wav")).channels, input);
  // No temporary file stays beside either.
  EXPECT_EQ(dir.Entries().size(), 5u) << ::testing::PrintToString(dir.Entries());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("takes")), {}), 2);
}

TEST(Outputs, AFifoIsWrittenInPlaceAndStaysAFifo) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  const Planar input = TestSignal(2, 3000, 5);
  WriteAudio(dir.File("in.wav"), input, 8000);
  ASSERT_EQ(mkfifo(dir.File("out.wav").c_str(), 0644), 0);
  // Opened without waiting for a writer, so the reader ends even when the
  // program never writes (or replaces the FIFO instead).
  const int fifo = open(dir.File("out.wav").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(fifo, 0);
  std::atomic<bool> finished{false};
  std::string received;
  std::thread reader([&] {
    char buf[4096];
    for (;;) {
      pollfd p{fifo, POLLIN, 0};
      poll(&p, 1, 100);
      const ssize_t n = read(fifo, buf, sizeof buf);
      if (n > 0) received.append(buf, static_cast<size_t>(n));
      else if (finished && (n == 0 || errno != EINTR)) break;
    }
  });
  const ToolResult r = RunTool(With(kGainMode, {dir.File("in.wav"), dir.File("out.wav")}));
  finished = true;
  reader.join();
  close(fifo);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(S_ISFIFO(ModeOf(dir.File("out.wav"))));
  WriteText(dir.File("received.wav"), received);
  EXPECT_EQ(ReadAudio(dir.File("received.wav")).channels, input);
}

TEST(Outputs, ADashIsStandardOutputOrStandardInput) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  const Planar input = TestSignal(1, 4000, 6);
  WriteAudio(dir.File("in.wav"), input, 8000);
  WriteText(dir.File("levels.csv"), "time_s,symbol,level\n0,BS7V0,10\n");
  // Through a pipe: the container is finished before it is copied out.
  const ToolResult r = RunTool(With(kGainMode, {"--levels", "-", dir.File("in.wav"), "-"}), {}, "", 120,
                               dir.File("levels.csv"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("1 level applied (1 for BS7V0) -> standard output"), std::string::npos) << r.err;
  WriteText(dir.File("out.wav"), r.out);
  const AudioFileContents out = ReadAudio(dir.File("out.wav"));
  ASSERT_EQ(out.channels[0].size(), input[0].size());
  for (size_t i = 0; i < input[0].size(); ++i) ASSERT_EQ(out.channels[0][i], (input[0][i] * 1.0f) * 0.3f) << i;

  const ToolResult state = RunTool({kQelvo, "state", "save", "--plugin", "AUQelvoBS7", "--preset", "3", "-"});
  ASSERT_EQ(state.status, 0) << state.err;
  EXPECT_TRUE(state.out.starts_with("<?xml")) << state.out;
  EXPECT_NE(state.out.find("<string>LCH F-Filter</string>"), std::string::npos);
  EXPECT_NE(state.err.find("-> standard output"), std::string::npos) << state.err;
  EXPECT_EQ(dir.Entries().size(), 3u) << ::testing::PrintToString(dir.Entries());
}

TEST(Outputs, TheContainerFollowsTheExtensionUnlessAFormatIsNamed) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  WriteAudio(dir.File("in16.wav"), TestSignal(2, 2000, 7), 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  WriteAudio(dir.File("inf.wav"), TestSignal(2, 2000, 7), 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  struct Case {
    const char* in;
    std::vector<std::string> format;
    const char* out;
    int expected;
    bool warns;
  } cases[] = {
      {"in16.wav", {}, "a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, false},
      {"inf.wav", {}, "b.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, false},  // FLAC holds no floats
      {"inf.wav", {}, "c.aif", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, false},
      {"in16.wav", {}, "D.CAF", SF_FORMAT_CAF | SF_FORMAT_PCM_16, false},
      {"in16.wav", {}, "e.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, false},
      {"inf.wav", {}, "f.take", SF_FORMAT_WAV | SF_FORMAT_FLOAT, false},  // unknown: the input's
      {"in16.wav", {"--format", "wav-24"}, "g.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, false},
      {"inf.wav", {"--format", "same"}, "h.flac", SF_FORMAT_WAV | SF_FORMAT_FLOAT, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    const ToolResult r = RunTool(With(With(kGainMode, c.format), {dir.File(c.in), dir.File(c.out)}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadAudio(dir.File(c.out)).format, c.expected);
    EXPECT_EQ(r.err.find("whose extension names another container") != std::string::npos, c.warns) << r.err;
  }
}

TEST(Outputs, SamplesClippedByAnIntegerFormatAreCounted) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  Planar loud = TestSignal(2, 1000, 8);
  // Five beyond full scale; exactly full scale is no clip.
  loud[0][10] = 1.5f;
  loud[0][11] = -1.01f;
  loud[1][500] = 2.0f;
  loud[1][501] = -3.0f;
  loud[1][999] = 1.0001f;
  loud[0][20] = 1.0f;
  loud[1][20] = -1.0f;
  WriteAudio(dir.File("loud.wav"), loud, 8000);
  struct Case {
    const char* format;
    const char* expected;  // in stderr; empty: no warning at all
  } cases[] = {{"wav-16", "qelvo: warning: 5 samples clipped"},
               {"flac-24", "qelvo: warning: 5 samples clipped"},
               {"wav-float", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    const ToolResult r =
        RunTool(With(kGainMode, {"--format", c.format, dir.File("loud.wav"), dir.File("out")}));
    ASSERT_EQ(r.status, 0) << r.err;
    if (*c.expected != '\0')
      EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
    else
      EXPECT_EQ(r.err.find("clipped"), std::string::npos) << r.err;
  }
}

}  // namespace

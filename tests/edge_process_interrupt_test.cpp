// Renders stopped by a signal, as users stop a live render: the first SIGINT
// or SIGTERM ends the render at the next slice and keeps a valid file with
// everything rendered so far (status 130 or 143); a second one removes the
// unfinished file and ends at once. No temporary file is ever left behind.
//
// An offline render is too fast to catch by timing, so the test freezes the
// program (SIGSTOP) as soon as its temporary output has grown, queues the
// signals and lets it go on.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "support/PrivateBus.h"
#include "support/ToolRunner.h"
#include "support/ToolTestFiles.h"

namespace {

constexpr int kRate = 8000;
// Far above any run here; only a hang reaches it.
constexpr double kHangGuard = 120;

bool IsTemporaryOutput(const std::string& name) { return name.starts_with(".out.wav.qelvo-"); }

off_t SizeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// Starts the render and freezes it once its temporary output holds at least
// minBytes. False when the render got past that point first (it finished).
bool StartFrozen(std::unique_ptr<BackgroundTool>& tool, const ScratchDir& dir, const std::vector<std::string>& args,
                 off_t minBytes) {
  const int watch = inotify_init1(IN_CLOEXEC);
  if (watch < 0 || inotify_add_watch(watch, dir.Path().c_str(), IN_CREATE | IN_MODIFY) < 0) return false;
  tool = std::make_unique<BackgroundTool>(args);
  std::string temporary;
  alignas(inotify_event) char buf[4096];
  for (;;) {
    pollfd p{watch, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(kHangGuard * 1000)) <= 0) break;
    const ssize_t n = read(watch, buf, sizeof buf);
    bool grew = false;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
      if (e->len > 0 && IsTemporaryOutput(e->name)) {
        temporary = dir.File(e->name);
        grew = true;
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
    if (!grew) continue;
    tool->Signal(SIGSTOP);
    const off_t size = SizeOf(temporary);
    if (size >= minBytes) break;
    if (size < 0) break;  // renamed into place: finished
    tool->Signal(SIGCONT);
  }
  close(watch);
  // Still unfinished only if its temporary file is still there.
  return !temporary.empty() && SizeOf(temporary) >= minBytes;
}

// The time the program reports, to the hundredth of a second.
std::string ReportedTime(size_t frames) {
  char text[64];
  std::snprintf(text, sizeof text, "render interrupted at t = %.2f s", static_cast<double>(frames) / kRate);
  return text;
}

// The output is the input's beginning, passed through unchanged (gain mode,
// no levels), and the program said where it stopped.
void ExpectTheBeginningKept(const ScratchDir& dir, const Planar& input, const ToolResult& r) {
  ASSERT_TRUE(Exists(dir.File("out.wav")));
  const AudioFileContents out = ReadAudio(dir.File("out.wav"));
  ASSERT_EQ(out.channels.size(), input.size());
  const size_t frames = out.channels[0].size();
  EXPECT_GT(frames, 0u);
  EXPECT_LT(frames, input[0].size()) << "the render was not cut short";
  for (size_t c = 0; c < input.size(); ++c)
    for (size_t i = 0; i < frames; ++i) ASSERT_EQ(out.channels[c][i], input[c][i]) << c << " " << i;
  EXPECT_NE(r.err.find("qelvo: " + ReportedTime(frames) + "; " + dir.File("out.wav")), std::string::npos) << r.err;
}

std::vector<std::string> OfflineRender(const ScratchDir& dir) {
  // One frame per slice keeps the render busy for a while.
  return {kQelvo, "render", "--plugin", "AUQelvoBS7", "--preset", "0", "--block", "1", dir.File("in.wav"),
          dir.File("out.wav")};
}

TEST(InterruptedRender, TheFirstSignalKeepsWhatWasRendered) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  const Planar input = TestSignal(1, 3000000, 12);
  WriteAudio(dir.File("in.wav"), input, kRate, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  const Planar stored = ReadAudio(dir.File("in.wav")).channels;
  std::unique_ptr<BackgroundTool> render;
  // Stopped with audio written, so the render is under way.
  ASSERT_TRUE(StartFrozen(render, dir, OfflineRender(dir), 4096)) << "the render finished before it could be stopped";
  render->Signal(SIGINT);
  render->Signal(SIGCONT);
  const ToolResult r = render->Finish(kHangGuard);
  EXPECT_EQ(r.status, 130) << r.err;
  ExpectTheBeginningKept(dir, stored, r);
  EXPECT_EQ(dir.Entries().size(), 2u) << ::testing::PrintToString(dir.Entries());
}

TEST(InterruptedRender, ASecondSignalRemovesTheUnfinishedFile) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  WriteAudio(dir.File("in.wav"), TestSignal(1, 3000000, 13), kRate, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  std::unique_ptr<BackgroundTool> render;
  ASSERT_TRUE(StartFrozen(render, dir, OfflineRender(dir), 0)) << "the render finished before it could be stopped";
  // Both wait while it is stopped, and arrive together when it goes on.
  render->Signal(SIGINT);
  render->Signal(SIGTERM);
  render->Signal(SIGCONT);
  const ToolResult r = render->Finish(kHangGuard);
  EXPECT_TRUE(r.status == 130 || r.status == 143) << r.status << " " << r.err;
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.wav"});
}

TEST(InterruptedRender, ALiveRenderStoppedBySigtermKeepsItsTake) {
  REQUIRE_BUNDLES();
  PrivateBus bus;
  ScratchDir dir;
  WriteAudio(dir.File("in.wav"), TestSignal(2, kRate * 60, 14), kRate, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  const Planar stored = ReadAudio(dir.File("in.wav")).channels;
  BackgroundTool render({kQelvo, "render", "--plugin", "AUQelvoBS7", "--preset", "0", "--live", dir.File("in.wav"),
                         dir.File("out.wav")});
  ASSERT_TRUE(render.WaitForOutput("following levels", 30));
  // Wait until audio has reached the temporary file: the render is under way.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(static_cast<int>(kHangGuard));
  bool writing = false;
  while (!writing && std::chrono::steady_clock::now() < end) {
    for (const std::string& name : dir.Entries()) {
      struct stat st {};
      if (IsTemporaryOutput(name) && stat(dir.File(name).c_str(), &st) == 0 && st.st_size > 4096) writing = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(writing);
  render.Signal(SIGTERM);
  const ToolResult r = render.Finish(kHangGuard);
  EXPECT_EQ(r.status, 143) << r.err;
  ExpectTheBeginningKept(dir, stored, r);
  EXPECT_NE(r.out.find("levels heard"), std::string::npos) << r.out;
  EXPECT_EQ(dir.Entries().size(), 2u) << ::testing::PrintToString(dir.Entries());
}

}  // namespace

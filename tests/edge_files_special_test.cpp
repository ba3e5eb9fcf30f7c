// Files the program reads, from a careless user or a hostile one: devices,
// FIFOs and directories where a file belongs, endless or huge input, a saved
// state nested a million deep, and files that are missing or forbidden. Each
// ends promptly with a message naming the file and the reason, status 1, and
// nothing written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/ToolErrorText.h"
#include "support/ToolRunner.h"
#include "support/ToolTestFiles.h"
#include "tools/qelvo/StatePlist.h"

namespace {

const BackgroundTool::Env kNoBus = {{"DBUS_SESSION_BUS_ADDRESS", ""}, {"XDG_RUNTIME_DIR", ""}};
// Far above any run here; only a hang reaches it.
constexpr double kHangGuard = 60;

// Where each reader takes its file; "@X" is the file under test.
struct Reader {
  const char* name;
  std::vector<std::string> args;
};

const Reader kReaders[] = {
    {"render --state", {"render", "--plugin", "AUQelvoBS7", "--preset", "1", "--state", "@X", "@in.wav", "@out.wav"}},
    {"render --levels", {"render", "--plugin", "AUQelvoBS7", "--preset", "1", "--levels", "@X", "@in.wav", "@out.wav"}},
    {"render IN", {"render", "--plugin", "AUQelvoBS7", "--preset", "1", "@X", "@out.wav"}},
    {"bridge --map", {"bridge", "--osc-port", "0", "--timeout", "1", "--map", "@X"}},
    {"replay", {"replay", "@X"}},
};

std::vector<std::string> Args(const Reader& reader, const ScratchDir& dir, const std::string& file) {
  std::vector<std::string> args = {kQelvo};
  for (const std::string& a : reader.args)
    args.push_back(a == "@X" ? file : a.starts_with("@") ? dir.File(a.substr(1)) : a);
  return args;
}

// The scratch directory holds in.wav and whatever the case added; nothing more
// may appear.
void ExpectNothingWritten(const ScratchDir& dir, size_t before) {
  EXPECT_EQ(dir.Entries().size(), before) << ::testing::PrintToString(dir.Entries());
}

TEST(SpecialFiles, EveryReaderRefusesThemAtOnceAndSaysWhatTheyAre) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  WriteAudio(dir.File("in.wav"), TestSignal(1, 100), 8000);
  // A FIFO nobody writes: opening it for reading the ordinary way blocks forever.
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(dir.File("folder").c_str(), 0755), 0);
  const size_t before = dir.Entries().size();
  struct Kind {
    std::string path;
    const char* reason;
  } kinds[] = {{"/dev/zero", "it is a character device, not a regular file"},
               {dir.File("fifo"), "it is a FIFO (named pipe), not a regular file"},
               {dir.File("folder"), "it is a directory"}};
  for (const Reader& reader : kReaders)
    for (const Kind& kind : kinds) {
      SCOPED_TRACE(std::string(reader.name) + " " + kind.path);
      const ToolResult r = RunTool(Args(reader, dir, kind.path), kNoBus, "", kHangGuard);
      ASSERT_FALSE(r.timedOut) << "hung";
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_NE(r.err.find("qelvo: cannot read " + kind.path + ": " + kind.reason), std::string::npos) << r.err;
      ExpectNothingWritten(dir, before);
    }
}

TEST(SpecialFiles, ReadingStopsAtTheCap) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  WriteAudio(dir.File("in.wav"), TestSignal(1, 100), 8000);
  // Sparse: a size far past the cap without the disk space.
  for (const char* name : {"huge.plist", "huge.csv", "huge.map"}) {
    const int fd = open(dir.File(name).c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, off_t{1} << 32), 0);
    close(fd);
  }
  const size_t before = dir.Entries().size();
  struct Case {
    const Reader& reader;
    std::string file;
    std::string input;  // standard input
    std::string message;
  } cases[] = {
      {kReaders[0], dir.File("huge.plist"), "/dev/null", dir.File("huge.plist") + ": larger than 16 MiB, too large for a saved state"},
      {kReaders[1], dir.File("huge.csv"), "/dev/null", dir.File("huge.csv") + ": larger than 64 MiB, too large for a level recording"},
      {kReaders[3], dir.File("huge.map"), "/dev/null", dir.File("huge.map") + ": larger than 1 MiB, too large for an OSC map"},
      // Standard input has no size to check first: the reading itself stops.
      {kReaders[1], "-", "/dev/zero", "standard input: larger than 64 MiB, too large for a level recording"},
      {kReaders[3], "-", "/dev/zero", "standard input: larger than 1 MiB, too large for an OSC map"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.reader.name) + " " + c.file + " < " + c.input);
    const ToolResult r = RunTool(Args(c.reader, dir, c.file), kNoBus, "", kHangGuard, c.input);
    ASSERT_FALSE(r.timedOut) << "hung";
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("qelvo: cannot read " + c.message), std::string::npos) << r.err;
    ExpectNothingWritten(dir, before);
  }
}

std::string Nested(int depth, const std::string& open, const std::string& close, const std::string& inner = "") {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
  text.reserve(text.size() + static_cast<size_t>(depth) * (open.size() + close.size()) + 64);
  for (int i = 0; i < depth; ++i) text += open;
  text += inner;
  for (int i = 0; i < depth; ++i) text += close;
  return text + "</plist>\n";
}

TEST(CraftedState, AMillionLevelsDeepIsRefusedBeforeItIsParsed) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  WriteAudio(dir.File("in.wav"), TestSignal(1, 100), 8000);
  // 15 MB, under the size cap, so only the nesting can refuse it.
  const std::string deep = Nested(1000000, "<array>", "</array>");
  ASSERT_LT(deep.size(), 16u << 20);
  WriteText(dir.File("deep.plist"), deep);
  const ToolResult r = RunTool(Args(kReaders[0], dir, dir.File("deep.plist")), kNoBus, "", kHangGuard);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("qelvo: " + dir.File("deep.plist") + ": nested too deeply to be a saved state"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(Exists(dir.File("out.wav")));
}

std::string NestingError(const std::string& xml) {
  return ErrorOf([&] { PropertyListFromXml(xml, "s.plist"); });
}

// The early check counts elements in the raw text; it must not refuse what
// the parser would accept.
TEST(CraftedState, TheEarlyNestingCheckCountsOnlyRealElements) {
  const std::string tooDeep = "nested too deeply";
  EXPECT_EQ(NestingError(Nested(32, "<dict><key>k</key>", "</dict>", "<string>x</string>")), "");
  EXPECT_NE(NestingError(Nested(33, "<dict><key>k</key>", "</dict>", "<string>x</string>")).find(tooDeep),
            std::string::npos);
  EXPECT_NE(NestingError(Nested(40, "<array>", "</array>")).find(tooDeep), std::string::npos);
  std::string flat = "<dict>";
  for (int i = 0; i < 100; ++i) flat += "<key>k" + std::to_string(i) + "</key><dict/><!-- <array><array> -->";
  flat += "<key>s</key><string><![CDATA[" + std::string(200, '<') + "<dict><dict>]]></string></dict>";
  EXPECT_EQ(NestingError(Nested(1, "", "", flat)), "");
  const std::string quoted = "<dict attr=\"<dict><dict>\"><key>a</key><array/></dict>";
  EXPECT_EQ(NestingError(Nested(1, "", "", quoted)).find(tooDeep), std::string::npos);
}

// Permissions do not stop root, so the forbidden case runs as nobody then.
std::vector<std::string> AsUnprivileged(std::vector<std::string> args) {
  if (geteuid() != 0) return args;
  args.insert(args.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  return args;
}

TEST(FileErrors, MissingAndForbiddenAreToldApart) {
  REQUIRE_BUNDLES();
  if (geteuid() == 0 && !Exists("/usr/bin/setpriv")) GTEST_SKIP() << "running as root without setpriv";
  ScratchDir dir;
  ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
  WriteAudio(dir.File("in.wav"), TestSignal(1, 100), 8000);
  for (const char* name : {"secret.plist", "secret.csv", "secret.map", "secret.wav"}) {
    WriteText(dir.File(name), "x");
    ASSERT_EQ(chmod(dir.File(name).c_str(), 0), 0);
  }
  ASSERT_EQ(mkdir(dir.File("locked").c_str(), 0555), 0);
  const size_t before = dir.Entries().size();
  struct Case {
    const Reader& reader;
    const char* file;
  } cases[] = {{kReaders[0], "secret.plist"}, {kReaders[1], "secret.csv"}, {kReaders[2], "secret.wav"},
               {kReaders[3], "secret.map"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reader.name);
    ToolResult r = RunTool(AsUnprivileged(Args(c.reader, dir, dir.File(c.file))), kNoBus, "", kHangGuard);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("qelvo: cannot read " + dir.File(c.file) + ": permission denied"), std::string::npos) << r.err;
    r = RunTool(Args(c.reader, dir, dir.File("missing")), kNoBus, "", kHangGuard);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("qelvo: cannot read " + dir.File("missing") + ": no such file"), std::string::npos) << r.err;
  }
  // Outputs: a directory that is not there, and one that may not be written.
  std::vector<std::string> render = {kQelvo, "render", "--plugin", "AUQelvoBS7", "--preset", "1", dir.File("in.wav")};
  std::vector<std::string> args = render;
  args.push_back(dir.File("none/out.wav"));
  ToolResult r = RunTool(args);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write " + dir.File("none/out.wav") + ": no such directory " + dir.File("none")),
            std::string::npos)
      << r.err;
  args = render;
  args.push_back(dir.File("locked/out.wav"));
  r = RunTool(AsUnprivileged(args));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write " + dir.File("locked/out.wav") + ": permission denied"), std::string::npos)
      << r.err;
  ExpectNothingWritten(dir, before);
}

}  // namespace

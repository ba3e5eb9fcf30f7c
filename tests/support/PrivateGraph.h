// A private audio graph for tests: pipewire and wireplumber with a runtime
// directory of their own and no hardware, on the private session bus the
// test started, plus a null sink "test-sink" that is the default output. The
// variables that point programs at it (XDG_RUNTIME_DIR and the directories
// wireplumber keeps its state in) are set in this process, so the programs
// the test starts find it and nothing touches the user's own.
//
// Construct a PrivateBus first, on the main thread.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <utility>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/PrivateBus.h"
#include "support/ToolRunner.h"

class PrivateGraph {
 public:
  // The programs it runs; a test skips when one is missing.
  static std::string MissingProgram() {
    for (const char* p : {"pipewire", "wireplumber", "pw-cli", "pw-play", "pw-record", "pw-link", "pw-metadata"})
      if (PrivateBus::FindProgram(p).empty()) return p;
    return "";
  }

  PrivateGraph() {
    char dir[] = "/tmp/qelvo-graph-XXXXXX";
    if (mkdtemp(dir) == nullptr) throw std::runtime_error("cannot make a directory for the private graph");
    dir_ = dir;
    for (const char* sub : {"/run", "/config", "/state", "/data"}) mkdir((dir_ + sub).c_str(), 0700);
    for (const auto& [name, sub] : kVariables) {
      const char* old = getenv(name);
      saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
      if (sub == nullptr)
        unsetenv(name);
      else
        setenv(name, (dir_ + sub).c_str(), 1);
    }

    pipewire_ = Spawn({"pipewire"}, "pipewire.log");
    Await([] { return RunTool({"pw-cli", "info", "0"}, {}, "", 10).status == 0; }, "pipewire to answer");
    wireplumber_ = Spawn({"wireplumber"}, "wireplumber.log");
    // The session manager's defaults are up once its metadata exists.
    Await([] { return Contains(RunTool({"pw-cli", "ls", "Metadata"}, {}, "", 10).out, "\"default\""); },
          "wireplumber to start");
    AddNullSink("test-sink");
    const ToolResult set = RunTool({"pw-metadata", "0", "default.configured.audio.sink", "{ \"name\": \"test-sink\" }"});
    if (set.status != 0) throw std::runtime_error("cannot make test-sink the default sink: " + set.err);
  }
  PrivateGraph(const PrivateGraph&) = delete;
  PrivateGraph& operator=(const PrivateGraph&) = delete;
  ~PrivateGraph() {
    Stop(wireplumber_);
    Stop(pipewire_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name, value->c_str(), 1);
      else
        unsetenv(name);
    }
  }

  const std::string& Dir() const { return dir_; }
  std::string RuntimeDir() const { return dir_ + "/run"; }

  // A sink with no hardware behind it, its ports ready to link.
  void AddNullSink(const std::string& name) {
    const ToolResult made = RunTool({"pw-cli", "create-node", "adapter",
                                     "{ factory.name=support.null-audio-sink node.name=" + name +
                                         " media.class=Audio/Sink audio.position=[FL FR] object.linger=true }"});
    if (made.status != 0) throw std::runtime_error("cannot make the null sink " + name + ": " + made.err);
    AwaitPort(name + ":monitor_FR", false);
  }

  // Waits until the port exists (an output port, or an input port with input).
  static void AwaitPort(const std::string& port, bool input, double seconds = 30) {
    Await([&] { return Contains(RunTool({"pw-link", input ? "-i" : "-o"}, {}, "", 10).out, port + "\n"); },
          "the port " + port, seconds);
  }

  // Waits until from is linked to to (full port names).
  static void AwaitLink(const std::string& from, const std::string& to, double seconds = 30) {
    Await([&] { return Linked(RunTool({"pw-link", "-l", "-o"}, {}, "", 10).out, from, to); },
          "a link from " + from + " to " + to, seconds);
  }

  static bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

 private:
  // Whether the block of `pw-link -l -o` for from lists to.
  static bool Linked(const std::string& links, const std::string& from, const std::string& to) {
    size_t at = links.find(from + "\n");
    if (at == std::string::npos) return false;
    at += from.size() + 1;
    while (at < links.size() && links.compare(at, 2, "  ") == 0) {
      const size_t end = links.find('\n', at);
      if (links.substr(at, end - at).find("|-> " + to) != std::string::npos) return true;
      at = end == std::string::npos ? links.size() : end + 1;
    }
    return false;
  }

  template <typename Ready>
  static void Await(Ready ready, const std::string& what, double seconds = 30) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!ready()) {
      if (std::chrono::steady_clock::now() >= end) throw std::runtime_error("timed out waiting for " + what);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  // Starts a daemon with its output in a log file in the graph's directory;
  // it dies with this thread.
  pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
    const std::string program = PrivateBus::FindProgram(args[0].c_str());
    const std::string logPath = dir_ + "/" + log;
    std::vector<const char*> argv;
    argv.push_back(program.c_str());
    for (size_t i = 1; i < args.size(); ++i) argv.push_back(args[i].c_str());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(126);
      const int fd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd >= 0) {
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
      }
      const int devnull = open("/dev/null", O_RDONLY);
      if (devnull >= 0) dup2(devnull, STDIN_FILENO);
      execv(argv[0], const_cast<char* const*>(argv.data()));
      _exit(127);
    }
    return pid;
  }

  static void Stop(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    // A daemon that ignores SIGTERM for 10 s is killed.
    for (int i = 0; i < 100 && waitpid(pid, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (waitpid(pid, &status, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    pid = -1;
  }

  // What points programs at the graph: a directory under ours, or unset.
  static constexpr std::pair<const char*, const char*> kVariables[] = {
      {"XDG_RUNTIME_DIR", "/run"}, {"XDG_CONFIG_HOME", "/config"}, {"XDG_STATE_HOME", "/state"},
      {"XDG_DATA_HOME", "/data"},  {"PIPEWIRE_REMOTE", nullptr},   {"PIPEWIRE_RUNTIME_DIR", nullptr}};

  std::string dir_;
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
  pid_t pipewire_ = -1;
  pid_t wireplumber_ = -1;
};

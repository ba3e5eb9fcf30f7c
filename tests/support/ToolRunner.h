// Runs the qelvo program (or any program) from a test: arguments without a
// shell, extra environment, captured output, a time limit. Background runs
// can be waited on for a line of output, for commands that must be ready
// before the test goes on.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

struct ToolResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
  bool timedOut = false;
};

class BackgroundTool {
 public:
  using Env = std::vector<std::pair<std::string, std::string>>;

  // stdinPath: what the program reads as standard input.
  BackgroundTool(const std::vector<std::string>& args, const Env& env = {}, const std::string& cwd = "",
                 const std::string& stdinPath = "/dev/null") {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(126);
      // Signals as a program started from a terminal gets them, whatever the
      // test runner inherited (a background job ignores SIGINT).
      for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(s, SIG_DFL);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      const int in = open(stdinPath.c_str(), O_RDONLY);
      if (in >= 0) dup2(in, STDIN_FILENO);
      if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(125);
      for (const auto& [name, value] : env) {
        if (value.empty())
          unsetenv(name.c_str());
        else
          setenv(name.c_str(), value.c_str(), 1);
      }
      execvp(argv[0], const_cast<char* const*>(argv.data()));
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  BackgroundTool(const BackgroundTool&) = delete;
  BackgroundTool& operator=(const BackgroundTool&) = delete;
  ~BackgroundTool() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }

  // Reads output until text appears on stdout or stderr; false on timeout or end.
  bool WaitForOutput(const std::string& text, double seconds) {
    const Clock::time_point end = Deadline(seconds);
    while (result_.out.find(text) == std::string::npos && result_.err.find(text) == std::string::npos) {
      if (Clock::now() >= end || !Pump(end)) return false;
    }
    return true;
  }

  // What arrived on stdout so far.
  const std::string& Out() const { return result_.out; }

  pid_t Pid() const { return pid_; }
  // Sends a signal to the program while it runs.
  void Signal(int signal) const {
    if (pid_ > 0) kill(pid_, signal);
  }

  // Sends SIGTERM (when asked) and collects everything up to the exit.
  ToolResult Finish(double seconds, bool terminate = false) {
    if (terminate && pid_ > 0) kill(pid_, SIGTERM);
    const Clock::time_point end = Deadline(seconds);
    while (Pump(end)) {
    }
    if (pid_ > 0) {
      int status = 0;
      if (Clock::now() >= end || waitpid(pid_, &status, WNOHANG) == 0) {
        result_.timedOut = Clock::now() >= end;
        if (result_.timedOut) kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
      result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      pid_ = -1;
    }
    return result_;
  }

 private:
  using Clock = std::chrono::steady_clock;

  static Clock::time_point Deadline(double seconds) {
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  }

  // One round of reading; false once both pipes are closed or time is up.
  bool Pump(Clock::time_point end) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    int open = 0;
    for (pollfd& f : fds) open += f.fd >= 0;
    if (open == 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return false;
    if (poll(fds, 2, static_cast<int>(std::min<long long>(left, 100))) < 0) return false;
    Drain(fds[0], out_, result_.out);
    Drain(fds[1], err_, result_.err);
    return true;
  }

  static void Drain(const pollfd& p, int& fd, std::string& into) {
    if (fd < 0 || (p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) return;
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      into.append(buf, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      close(fd);
      fd = -1;
    }
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  ToolResult result_;
};

inline ToolResult RunTool(const std::vector<std::string>& args, const BackgroundTool::Env& env = {},
                          const std::string& cwd = "", double seconds = 120,
                          const std::string& stdinPath = "/dev/null") {
  BackgroundTool tool(args, env, cwd, stdinPath);
  return tool.Finish(seconds);
}

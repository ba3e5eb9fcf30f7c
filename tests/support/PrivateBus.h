// A private session bus for tests: runs dbus-daemon on a socket of its own,
// points DBUS_SESSION_BUS_ADDRESS at it and stops it on destruction, so no
// test ever touches the user's bus. The address stays the same across
// Stop() and Start(), for tests of a bus that goes away and comes back.
//
// Construct it on the main thread before anything opens a bus connection: the
// daemon is told to die with the thread that started it, so a crashed test
// leaves nothing behind.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

class PrivateBus {
 public:
  // Deferred: the address is set in the environment, but the daemon starts
  // only with Start(), for tests of a bus that appears later.
  enum Starting { kStartNow, kDeferred };
  explicit PrivateBus(Starting starting = kStartNow) {
    char dir[] = "/tmp/qelvo-bus-XXXXXX";
    if (mkdtemp(dir) == nullptr) throw std::runtime_error("cannot make a directory for the private bus");
    dir_ = dir;
    socket_ = dir_ + "/bus";
    address_ = "unix:path=" + socket_;
    if (starting == kStartNow)
      Start();
    else
      setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;
  ~PrivateBus() {
    Stop();
    rmdir(dir_.c_str());
  }

  // What clients connect to (no server guid in it, so it stays valid when
  // the daemon restarts).
  const std::string& Address() const { return address_; }
  const std::string& SocketPath() const { return socket_; }
  bool Running() const { return pid_ > 0; }

  void Start() {
    if (pid_ > 0) return;
    unlink(socket_.c_str());
    std::string daemon = FindProgram("dbus-daemon");
    if (daemon.empty()) throw std::runtime_error("dbus-daemon is not installed");
    std::string addressArg = "--address=" + address_;
    std::vector<const char*> argv = {daemon.c_str(), "--session",  "--nofork", "--nopidfile",
                                     addressArg.c_str(), "--print-address", nullptr};
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      // Only async-signal-safe calls between fork and exec.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(126);
      dup2(out[1], STDOUT_FILENO);
      int devnull = open("/dev/null", O_RDONLY);
      if (devnull >= 0) dup2(devnull, STDIN_FILENO);
      execv(argv[0], const_cast<char* const*>(argv.data()));
      _exit(127);
    }
    close(out[1]);
    pid_ = pid;
    // The daemon prints its address once it listens.
    std::string line;
    char c;
    pollfd p{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&p, 1, 10'000) > 0 && read(out[0], &c, 1) == 1) line += c;
    close(out[0]);
    if (line.find('\n') == std::string::npos) {
      Stop();
      throw std::runtime_error("dbus-daemon did not start");
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
  }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    unlink(socket_.c_str());
  }

  // The full path of a program found on PATH, or "".
  static std::string FindProgram(const char* name) {
    const char* path = getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
      size_t end = dirs.find(':', start);
      if (end == std::string::npos) end = dirs.size();
      std::string candidate = dirs.substr(start, end - start) + "/" + name;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
      start = end + 1;
    }
    return "";
  }

 private:
  std::string dir_;
  std::string socket_;
  std::string address_;
  pid_t pid_ = -1;
};

// A socket where the session bus would be that accepts connections and never
// answers, as a hung bus daemon does: clients get connected and then wait
// for the greeting forever. What they send is read and thrown away.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class StuckBus {
 public:
  explicit StuckBus(const std::string& path) : path_(path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long: " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    unlink(path.c_str());
    listen_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listen_, 64) != 0 || pipe2(stop_, O_CLOEXEC) != 0)
      throw std::runtime_error("cannot listen on " + path);
    thread_ = std::thread([this] { Serve(); });
  }
  StuckBus(const StuckBus&) = delete;
  StuckBus& operator=(const StuckBus&) = delete;
  ~StuckBus() { Stop(); }

  // Hangs up on every client and takes the socket away.
  void Stop() {
    if (!thread_.joinable()) return;
    const char byte = 0;
    (void)!write(stop_[1], &byte, 1);
    thread_.join();
    close(listen_);
    close(stop_[0]);
    close(stop_[1]);
    unlink(path_.c_str());
  }

  // Connections taken so far.
  int Accepted() const { return accepted_.load(); }

 private:
  void Serve() {
    std::vector<int> clients;
    for (;;) {
      std::vector<pollfd> fds = {{stop_[0], POLLIN, 0}, {listen_, POLLIN, 0}};
      for (int c : clients) fds.push_back({c, POLLIN, 0});
      if (poll(fds.data(), fds.size(), -1) < 0) continue;
      if (fds[0].revents != 0) break;
      if (fds[1].revents & POLLIN) {
        const int c = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0) {
          clients.push_back(c);
          ++accepted_;
        }
      }
      for (size_t i = 2; i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        char sink[4096];
        if (read(fds[i].fd, sink, sizeof sink) <= 0) {
          close(fds[i].fd);
          clients.erase(std::find(clients.begin(), clients.end(), fds[i].fd));
        }
      }
    }
    for (int c : clients) close(c);
  }

  std::string path_;
  int listen_ = -1;
  int stop_[2] = {-1, -1};
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

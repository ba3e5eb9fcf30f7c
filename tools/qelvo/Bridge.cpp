// qelvo bridge: OSC over UDP in, level notifications on the bus out.
#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <lo/lo.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/qelvo/BridgeLevels.h"
#include "tools/qelvo/BridgeMap.h"
#include "tools/qelvo/Commands.h"
#include "tools/qelvo/Interrupt.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/NumberText.h"
#include "tools/qelvo/ToolError.h"

namespace {

// Bundles inside bundles go no deeper than this.
constexpr int kMaxBundleDepth = 8;
constexpr size_t kMaxDatagram = 65536;

struct BridgeCounts {
  long long messages = 0;
  long long posted = 0;
  long long rejected = 0;
  long long unknown = 0;
  long long malformed = 0;
};

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Binds a UDP socket to address:port; answers it with the port it got.
int BindUdp(const std::string& address, int port, std::string* boundText) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = getaddrinfo(address.c_str(), service.c_str(), &hints, &found); rc != 0)
    throw UsageError("--bind wants a numeric IP address such as 127.0.0.1, got '" + address + "'");
  const int fd = socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
  if (fd < 0 || bind(fd, found->ai_addr, found->ai_addrlen) != 0) {
    const int error = errno;
    if (fd >= 0) close(fd);
    freeaddrinfo(found);
    throw ToolError("cannot listen on udp " + address + ":" + service + ": " + std::strerror(error));
  }
  freeaddrinfo(found);
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  char host[NI_MAXHOST] = "", serv[NI_MAXSERV] = "";
  getnameinfo(reinterpret_cast<sockaddr*>(&bound), length, host, sizeof host, serv, sizeof serv,
              NI_NUMERICHOST | NI_NUMERICSERV);
  *boundText = std::string(host) + ":" + serv;
  return fd;
}

class Bridge {
 public:
  Bridge(const BridgeMap& map, BridgeLevels& levels, bool verbose) : map_(map), levels_(levels), verbose_(verbose) {}

  void Packet(unsigned char* data, size_t size, int depth) {
    if (size >= 8 && std::memcmp(data, "#bundle", 8) == 0) {
      if (depth >= kMaxBundleDepth || size < 16) return Malformed("a bundle nested too deeply or cut short");
      size_t at = 16;  // after the tag and the time tag
      while (at < size) {
        if (size - at < 4) return Malformed("a bundle element is cut short");
        uint32_t length = 0;
        std::memcpy(&length, data + at, 4);
        length = ntohl(length);
        at += 4;
        if (length > size - at) return Malformed("a bundle element is longer than the bundle");
        Packet(data + at, length, depth + 1);
        at += length;
      }
      return;
    }
    Message(data, size);
  }

  const BridgeCounts& Counts() const { return counts_; }
  void Tick() { counts_.posted += levels_.Tick().posted; }

 private:
  void Malformed(const char* why) {
    ++counts_.malformed;
    if (verbose_) std::printf("malformed packet: %s\n", why);
  }

  void Message(unsigned char* data, size_t size) {
    ++counts_.messages;
    const size_t pathEnd = size == 0 ? 0 : strnlen(reinterpret_cast<const char*>(data), size);
    int result = 0;
    lo_message message = pathEnd < size && data[0] == '/' ? lo_message_deserialise(data, size, &result) : nullptr;
    if (message == nullptr) {
      ++counts_.rejected;
      if (verbose_) std::printf("rejected: not an OSC message\n");
      return;
    }
    const std::string address(reinterpret_cast<const char*>(data), pathEnd);
    std::vector<OscValue> args;
    const char* types = lo_message_get_types(message);
    lo_arg** argv = lo_message_get_argv(message);
    const int argc = lo_message_get_argc(message);
    for (int i = 0; i < argc && types != nullptr && types[i] != '\0'; ++i) {
      OscValue v;
      v.type = types[i];
      // Arguments sit at 4-byte offsets in the packet: read them bytewise
      // rather than through the 8-byte-aligned argument union.
      const void* raw = argv[i];
      if (v.type == LO_FLOAT) {
        float f = 0;
        std::memcpy(&f, raw, sizeof f);
        v.number = f;
      }
      if (v.type == LO_DOUBLE) std::memcpy(&v.number, raw, sizeof v.number);
      if (v.type == LO_INT32) {
        int32_t n = 0;
        std::memcpy(&n, raw, sizeof n);
        v.number = n;
      }
      if (v.type == LO_STRING || v.type == LO_SYMBOL) v.text = static_cast<const char*>(raw);
      args.push_back(std::move(v));
    }
    lo_message_free(message);

    const BridgeResult r = TranslateOscMessage(map_, address, args);
    switch (r.outcome) {
      case BridgeOutcome::kUnknownAddress:
        ++counts_.unknown;
        if (verbose_) std::printf("ignored: %s (no rule for this address)\n", address.c_str());
        break;
      case BridgeOutcome::kRejected:
        ++counts_.rejected;
        if (verbose_) std::printf("rejected: %s\n", r.reason.c_str());
        break;
      case BridgeOutcome::kPosted:
        counts_.posted += levels_.Take(r, address).posted;
        break;
    }
    if (verbose_) std::fflush(stdout);
  }

  const BridgeMap& map_;
  BridgeLevels& levels_;
  bool verbose_;
  BridgeCounts counts_;
};

}  // namespace

int RunBridgeCommand(const BridgeOptions& options) {
  if (options.port < 0 || options.port > 65535) throw UsageError("--osc-port must be between 0 and 65535");
  if (options.timeout < 0 || !std::isfinite(options.timeout)) throw UsageError("--timeout must not be negative");
  const BridgeMap map = options.mapFile.empty() ? BridgeMap{} : ReadBridgeMap(options.mapFile);
  BridgeLevels levels(map, options.levels);
  // A calibration run ends when its baseline is collected.
  const double timeout = options.levels.calibrateSeconds > 0 ? options.levels.calibrateSeconds : options.timeout;
  CFNotificationCenterRef center = RequireBus("bridge");
  std::string bound;
  Socket socket(BindUdp(options.bindAddress, options.port, &bound));
  CatchInterrupts();
  std::printf("qelvo bridge: listening for OSC on udp %s (%s), posting levels to the session bus\n", bound.c_str(),
              options.mapFile.empty() ? kDefaultBridgeAddress : options.mapFile.c_str());
  std::fflush(stdout);

  BridgeLevels::Log log;
  if (options.verbose)
    log = [](const std::string& line) {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
    };
  levels.Start(
      [center](const ShapedLevel& l) {
        PostShapedLevel(center, l);
        return true;
      },
      log);
  levels.SayWhoWarmsUp();
  Bridge bridge(map, levels, options.verbose);
  std::vector<unsigned char> buffer(kMaxDatagram);
  const auto start = std::chrono::steady_clock::now();
  while (!Interrupted()) {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (timeout > 0 && elapsed >= timeout) break;
    bridge.Tick();
    pollfd p{socket.fd(), POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = recv(socket.fd(), buffer.data(), buffer.size(), 0);
    if (n < 0) continue;
    bridge.Packet(buffer.data(), static_cast<size_t>(n), 0);
  }
  const BridgeCounts& c = bridge.Counts();
  std::printf("qelvo bridge: %lld message%s, %lld level%s posted, %lld rejected, %lld ignored (unknown address)",
              c.messages, c.messages == 1 ? "" : "s", c.posted, c.posted == 1 ? "" : "s", c.rejected, c.unknown);
  if (c.malformed > 0) std::printf(", %lld malformed packet%s", c.malformed, c.malformed == 1 ? "" : "s");
  std::printf("\n");
  levels.Finish(Interrupted());
  return kExitOk;
}

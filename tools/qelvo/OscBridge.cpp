#include "tools/qelvo/OscBridge.h"

#include <fcntl.h>
#include <lo/lo.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "tools/qelvo/ToolError.h"

namespace {

// liblo's error callback carries no user data; the bridge dispatching on
// this thread is the one it concerns.
thread_local OscBridge* tDispatching = nullptr;

// Datagrams taken in one go before Poll returns to its caller.
constexpr int kReceiveBatch = 64;

// How often a thread of its own wakes for levels waiting under rate=.
constexpr int kTickMs = 20;

// Binds a UDP socket to address:port; answers it with "address:port" as bound.
int BindUdp(const std::string& address, int port, std::string* boundText) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(address.c_str(), service.c_str(), &hints, &found) != 0)
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

lo_server Server(void* server) { return static_cast<lo_server>(server); }

}  // namespace

// liblo calls these while it dispatches a datagram: the first catch-all
// counts the message, one handler per known address maps it, the last
// catch-all counts what no address took. Returning 1 passes the message on.
struct OscBridge::Handlers {
  static OscBridge* Self(void* data) { return static_cast<OscBridge*>(data); }
  // Inside a bundle refused as too deep. Each handler asks: for an address
  // pattern liblo calls every matching handler, whatever they return.
  static bool Skipped(const OscBridge* self) { return self->depth_ > kMaxOscBundleDepth; }

  static int First(const char*, const char*, lo_arg**, int, lo_message, void* data) {
    OscBridge* self = Self(data);
    if (Skipped(self)) return 0;
    self->Count(self->messages_);
    self->addressMatched_ = false;
    self->messageRejected_ = false;
    return 1;
  }

  static int Address(const char* path, const char* types, lo_arg** argv, int argc, lo_message, void* data) {
    OscBridge* self = Self(data);
    if (Skipped(self)) return 0;
    std::vector<OscValue> args;
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
    const BridgeResult r = TranslateOscMessage(self->map_, path, args);
    switch (r.outcome) {
      case BridgeOutcome::kUnknownAddress:
        break;
      case BridgeOutcome::kRejected:
        self->addressMatched_ = true;
        if (!self->messageRejected_) self->Count(self->rejected_);
        self->messageRejected_ = true;
        self->Say("rejected: " + r.reason);
        break;
      case BridgeOutcome::kPosted:
        self->addressMatched_ = true;
        self->Count(self->levels_->Take(r, path));
        break;
    }
    return 1;
  }

  static int Last(const char* path, const char*, lo_arg**, int, lo_message, void* data) {
    OscBridge* self = Self(data);
    if (!Skipped(self) && !self->addressMatched_) {
      self->Count(self->unknown_);
      self->Say(std::string("ignored: ") + path + " (no rule for this address)");
    }
    return 0;
  }

  static int BundleStart(lo_timetag, void* data) {
    OscBridge* self = Self(data);
    if (++self->depth_ == kMaxOscBundleDepth + 1) {
      self->Count(self->malformed_);
      self->Say("malformed packet: a bundle nested too deeply");
    }
    return 0;
  }

  static int BundleEnd(void* data) {
    --Self(data)->depth_;
    return 0;
  }

  // What liblo could not decode. Its numbers for socket errors are errno
  // values, below its own range; those are no packet's fault.
  static void Error(int number, const char* message, const char*) {
    OscBridge* self = tDispatching;
    if (self == nullptr || number < LO_ENOPATH || Skipped(self)) return;
    if (std::strcmp(message, "Invalid bundle") == 0) {
      self->Count(self->malformed_);
      self->Say("malformed packet: a bundle cut short or with an element longer than itself");
      return;
    }
    // A datagram or a bundle element that is no OSC message.
    self->Count(self->messages_);
    self->Count(self->rejected_);
    self->Say("rejected: not an OSC message");
  }
};

OscBridge::OscBridge(BridgeMap map, const std::string& address, int port, Sink sink, Log log)
    : OscBridge(
          std::move(map), address, port,
          [sink = std::move(sink)](const ShapedLevel& l) { return l.fate != LevelFate::kPosted || sink(l.symbol, l.level); },
          std::move(log), BridgeLevelOptions{}) {}

OscBridge::OscBridge(BridgeMap map, const std::string& address, int port, ShapedSink sink, Log log,
                     const BridgeLevelOptions& levels)
    : map_(std::move(map)), log_(std::move(log)), levels_(std::make_unique<BridgeLevels>(map_, levels)) {
  levels_->Start(std::move(sink), log_);
  const int fd = BindUdp(address, port, &bound_);
  // liblo 0.31 binds its UDP servers to every interface only; the bridge
  // listens on one address (127.0.0.1 unless told otherwise). So the socket
  // bound above takes the place of liblo's own, under the same descriptor
  // number, and liblo receives from it.
  lo_server server = lo_server_new_with_proto(nullptr, LO_UDP, Handlers::Error);
  const int loFd = server != nullptr ? lo_server_get_socket_fd(server) : -1;
  if (loFd < 0 || dup3(fd, loFd, O_CLOEXEC) < 0) {
    const int error = errno;
    close(fd);
    if (server != nullptr) lo_server_free(server);
    throw ToolError(std::string("cannot set up the OSC server: ") + std::strerror(error));
  }
  close(fd);
  server_ = server;
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  // Every message at once, whatever its bundle's time tag. The methods take
  // any type tags, so liblo converts no argument: an integer level is
  // refused rather than turned into a float.
  lo_server_enable_queue(server, 0, 1);
  lo_server_max_msg_size(server, LO_MAX_UDP_MSG_SIZE);
  lo_server_add_bundle_handlers(server, Handlers::BundleStart, Handlers::BundleEnd, this);
  lo_server_add_method(server, nullptr, nullptr, Handlers::First, this);
  std::vector<std::string> addresses;
  if (map_.defaultAddress) addresses.push_back(kDefaultBridgeAddress);
  for (const BridgeRule& rule : map_.rules)
    if (std::find(addresses.begin(), addresses.end(), rule.address) == addresses.end())
      addresses.push_back(rule.address);
  // Contact quality for hold-when=, read like a rule's address.
  for (const HoldCondition& c : map_.conditions)
    if (std::find(addresses.begin(), addresses.end(), c.address) == addresses.end()) addresses.push_back(c.address);
  for (const std::string& a : addresses) lo_server_add_method(server, a.c_str(), nullptr, Handlers::Address, this);
  lo_server_add_method(server, nullptr, nullptr, Handlers::Last, this);
}

OscBridge::~OscBridge() {
  Stop();
  lo_server_free(Server(server_));
  if (stopFd_ >= 0) close(stopFd_);
}

void OscBridge::Receive() {
  tDispatching = this;
  for (int n = 0; n < kReceiveBatch; ++n) {
    depth_ = 0;  // an error may have left a bundle without its end
    if (lo_server_recv_noblock(Server(server_), 0) <= 0) break;
  }
  tDispatching = nullptr;
}

void OscBridge::Poll(int timeoutMs) {
  pollfd p[2] = {{lo_server_get_socket_fd(Server(server_)), POLLIN, 0}, {stopFd_, POLLIN, 0}};
  if (poll(p, 2, timeoutMs) > 0 && (p[0].revents & POLLIN) != 0) Receive();
  Count(levels_->Tick());
}

void OscBridge::Start() {
  if (thread_.joinable()) return;
  stopping_.store(false);
  thread_ = std::thread([this] {
    while (!stopping_.load()) Poll(levels_->NeedsTicks() ? kTickMs : -1);
  });
}

void OscBridge::Stop() {
  if (!thread_.joinable()) return;
  stopping_.store(true);
  const uint64_t one = 1;
  ssize_t ignored = write(stopFd_, &one, sizeof one);
  (void)ignored;
  thread_.join();
  uint64_t count = 0;
  ignored = read(stopFd_, &count, sizeof count);
}

OscBridgeCounts OscBridge::Counts() const {
  OscBridgeCounts c;
  c.messages = messages_.load();
  c.posted = posted_.load();
  c.dropped = dropped_.load();
  c.rejected = rejected_.load();
  c.unknown = unknown_.load();
  c.malformed = malformed_.load();
  return c;
}

void OscBridge::Dispatch(const void* data, size_t size) {
  // liblo looks a few bytes past a bundle element for the bundle tag; its
  // own receive buffer always has room for that, so give it the same here.
  std::vector<unsigned char> copy(size + 16, 0);
  if (size > 0) std::memcpy(copy.data(), data, size);
  tDispatching = this;
  depth_ = 0;
  lo_server_dispatch_data(Server(server_), copy.data(), size);
  tDispatching = nullptr;
}

namespace {

const char* Plural(long long n) { return n == 1 ? "" : "s"; }

std::string Count(long long n, const char* what) { return std::to_string(n) + " " + what + Plural(n); }

}  // namespace

std::string OscBridgeSummary(const OscBridgeCounts& c) {
  std::string text = Count(c.messages, "message") + ", " + Count(c.posted, "level") + " posted, " +
                     std::to_string(c.rejected) + " rejected, " + std::to_string(c.unknown) +
                     " ignored (unknown address)";
  if (c.malformed > 0) text += ", " + Count(c.malformed, "malformed packet");
  if (c.dropped > 0) text += ", " + Count(c.dropped, "level") + " dropped (no session bus)";
  return text;
}

// The OSC bridge's core: receive → map → shape → post. A liblo server
// receives the datagrams on one UDP address, unpacks bundles and dispatches
// each message by address; the map (BridgeMap.h) turns a message into
// values, the map's shaping options fit them to the listener (BridgeLevels.h),
// and a sink posts the levels. A caller drives it from its own loop (Poll) or
// lets it run on a thread of its own (Start, Stop); `qelvo bridge` and
// `qelvo live --osc` are such callers.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "tools/qelvo/BridgeLevels.h"
#include "tools/qelvo/BridgeMap.h"

// Bundles inside bundles go no deeper than this.
inline constexpr int kMaxOscBundleDepth = 8;

struct OscBridgeCounts {
  long long messages = 0;   // OSC messages received, undecodable ones included
  long long posted = 0;     // levels the sink posted
  long long dropped = 0;    // levels the sink could not post (no bus)
  long long rejected = 0;   // messages refused: arguments, values, not OSC at all
  long long unknown = 0;    // messages to an address no rule names
  long long malformed = 0;  // bundles cut short or nested too deeply
};

// "3 messages, 2 levels posted, 1 rejected, 0 ignored (unknown address)",
// with malformed packets and dropped levels when there were any.
std::string OscBridgeSummary(const OscBridgeCounts& counts);

class OscBridge {
 public:
  // Takes a level: true when posted, false when it had to be dropped.
  using Sink = std::function<bool(const std::string& symbol, double level)>;
  // Takes what the map's shaping made of each value: a level to post (fate
  // kPosted; true when posted) with its raw value, or a value it did not
  // post, to announce (held, dropped, warming up).
  using ShapedSink = BridgeLevels::Sink;
  // One line on the fate of each message, for --verbose.
  using Log = std::function<void(const std::string& line)>;

  // Listens on UDP address:port (port 0: a free one). Throws UsageError when
  // the address is not a numeric IP address, ToolError when the port cannot
  // be had or the calibration is bad. Sink and log are called on the
  // receiving thread.
  OscBridge(BridgeMap map, const std::string& address, int port, Sink sink, Log log = {});
  OscBridge(BridgeMap map, const std::string& address, int port, ShapedSink sink, Log log,
            const BridgeLevelOptions& levels);
  OscBridge(const OscBridge&) = delete;
  OscBridge& operator=(const OscBridge&) = delete;
  ~OscBridge();  // stops the thread of its own, if running

  // "127.0.0.1:9000": the address and the port really bound.
  const std::string& BoundAddress() const { return bound_; }

  // [control] Receives and dispatches what arrives within timeoutMs
  // (-1: waits until something does). Not while the own thread runs.
  void Poll(int timeoutMs);
  // [control] Receives on a thread of its own until Stop().
  void Start();
  void Stop();

  // [any]
  OscBridgeCounts Counts() const;

  // [control] Dispatches one datagram as if it had been received.
  void Dispatch(const void* data, size_t size);

  // [control] The shaping: its summary, the calibration it collected.
  // While no thread of its own runs.
  BridgeLevels& Levels() { return *levels_; }

 private:
  struct Handlers;

  void Receive();
  void Count(const BridgeLevels::Emitted& e) {
    posted_.fetch_add(e.posted, std::memory_order_relaxed);
    dropped_.fetch_add(e.dropped, std::memory_order_relaxed);
  }
  void Count(std::atomic<long long>& counter) { counter.fetch_add(1, std::memory_order_relaxed); }
  void Say(const std::string& line) const {
    if (log_) log_(line);
  }

  BridgeMap map_;
  Log log_;
  std::unique_ptr<BridgeLevels> levels_;  // refers to map_
  std::string bound_;
  void* server_ = nullptr;  // lo_server
  int stopFd_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};

  // The datagram and the message being dispatched.
  int depth_ = 0;
  bool addressMatched_ = false;
  bool messageRejected_ = false;

  std::atomic<long long> messages_{0}, posted_{0}, dropped_{0}, rejected_{0}, unknown_{0}, malformed_{0};
};

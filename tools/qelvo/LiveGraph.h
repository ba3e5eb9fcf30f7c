// `qelvo live`'s place in the audio graph (PipeWire): a connection to the
// server, the list of its nodes, and two streams grouped into one node of
// the graph's schedule. The input stream is a virtual sink that players
// see in the sound settings, or with --capture a recording stream on a
// source; the output stream plays to the default sink or a chosen one. The
// output stream is processed right after the input stream in the same graph
// cycle, so the node adds no latency of its own.
//
// Everything here runs on the thread that calls Run(), except the streams'
// process callbacks, which run on the server's real-time data thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/qelvo/LiveProcessor.h"
#include "tools/qelvo/LiveTargets.h"

struct LiveGraphOptions {
  bool capture = false;
  std::string captureTarget;  // with capture: a source or sink (its monitor); empty: the default source
  std::string target;         // the output: a sink; empty: the default sink
  uint32_t channels = 0;      // 0: the capture target's when it says, otherwise 2
  std::string nodeName;       // node.name of the input side; the output side adds "-output"
  std::string description;    // what the sound settings show
  double answerTimeout = 5;   // seconds the server may take to answer at start
};

// What the graph negotiated, for messages.
struct LiveGraphFormat {
  double sampleRate = 0;
  uint32_t channels = 0;
};

class LiveGraph {
 public:
  // Connects and lists the graph's nodes. Throws ToolError when there is no
  // server or it does not answer within answerTimeout.
  explicit LiveGraph(LiveGraphOptions options);
  LiveGraph(const LiveGraph&) = delete;
  LiveGraph& operator=(const LiveGraph&) = delete;
  ~LiveGraph();

  const std::vector<GraphNode>& Nodes() const;

  // Checks the targets (a usage error lists the choices) and creates the
  // streams. Each format the input side negotiates configures the processor
  // (paused meanwhile); onFormat is then called.
  void Start(LiveProcessor& processor, std::function<void(const LiveGraphFormat&)> onFormat);

  // Runs until tick (called every 50 ms) answers false or the graph fails.
  void Run(const std::function<bool()>& tick);

  // Why the graph stopped by itself (lost server, stream error, a format the
  // unit refuses); empty otherwise.
  std::string Failure() const;
  // Both streams are linked and running.
  bool Streaming() const;
  // The channel count the streams were set up with.
  uint32_t Channels() const;
  // The target names the output and input go to, for messages.
  std::string OutputDescription() const;
  std::string InputDescription() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The nodes of the audio graph that `qelvo live` can take sound from or send
// it to, and how a name on the command line picks one of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct GraphNode {
  uint32_t id = 0;
  uint64_t serial = 0;
  std::string name;         // node.name
  std::string description;  // node.description, what sound settings show
  std::string mediaClass;   // "Audio/Sink", "Audio/Source", ...
  uint32_t channels = 0;    // audio.channels when the node says; 0 otherwise
};

enum class TargetRole {
  kOutput,   // where processed sound goes: a sink
  kCapture,  // what --capture processes: a source, or a sink's monitor
};

// A sink for kOutput; a source or a sink for kCapture.
bool Suits(const GraphNode& node, TargetRole role);

// The node that text names: its node.name, its serial number or its
// description, among those that suit the role. Otherwise a usage error that
// lists the ones that do.
const GraphNode& ChooseTarget(const std::vector<GraphNode>& nodes, const std::string& text, TargetRole role);

// Channel positions for 1 to 8 channels, as the graph names them
// ("FL", "FR", ...).
std::vector<std::string> ChannelPositionNames(uint32_t channels);

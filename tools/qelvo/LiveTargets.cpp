#include "tools/qelvo/LiveTargets.h"

#include <algorithm>
#include <charconv>

#include "tools/qelvo/ToolError.h"

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool IsSink(const GraphNode& n) { return n.mediaClass == "Audio/Sink" || n.mediaClass == "Audio/Duplex"; }

std::string Choices(const std::vector<GraphNode>& nodes, TargetRole role) {
  std::vector<const GraphNode*> suitable;
  for (const GraphNode& n : nodes)
    if (Suits(n, role)) suitable.push_back(&n);
  std::sort(suitable.begin(), suitable.end(), [](const GraphNode* a, const GraphNode* b) { return a->name < b->name; });
  if (suitable.empty()) return role == TargetRole::kOutput ? " there are no sinks" : " there are no sources or sinks";
  std::string list = role == TargetRole::kOutput ? " the sinks are:" : " the sources and sinks (for their monitor) are:";
  for (const GraphNode* n : suitable) {
    list += "\n  " + n->name + "  (serial " + std::to_string(n->serial);
    if (!n->description.empty() && n->description != n->name) list += ", \"" + n->description + "\"";
    list += ", " + n->mediaClass + ")";
  }
  return list;
}

}  // namespace

bool Suits(const GraphNode& node, TargetRole role) {
  if (IsSink(node)) return true;
  return role == TargetRole::kCapture && StartsWith(node.mediaClass, "Audio/Source");
}

const GraphNode& ChooseTarget(const std::vector<GraphNode>& nodes, const std::string& text, TargetRole role) {
  uint64_t serial = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), serial);
  const bool numeric = !text.empty() && ec == std::errc() && end == text.data() + text.size();
  // Names first: a description may repeat, a name should not.
  for (const GraphNode& n : nodes)
    if (Suits(n, role) && n.name == text) return n;
  if (numeric)
    for (const GraphNode& n : nodes)
      if (Suits(n, role) && n.serial == serial) return n;
  for (const GraphNode& n : nodes)
    if (Suits(n, role) && !n.description.empty() && n.description == text) return n;
  const char* what = role == TargetRole::kOutput ? "--target" : "--capture";
  for (const GraphNode& n : nodes)
    if (n.name == text)
      throw UsageError(std::string(what) + " " + text + " is not " +
                       (role == TargetRole::kOutput ? "a sink" : "a source or a sink") +
                       (n.mediaClass.empty() ? "" : " but " + n.mediaClass) + ";" + Choices(nodes, role));
  throw UsageError(std::string(what) + ": no node named '" + text + "' in the audio graph;" + Choices(nodes, role));
}

std::vector<std::string> ChannelPositionNames(uint32_t channels) {
  switch (channels) {
    case 1: return {"MONO"};
    case 2: return {"FL", "FR"};
    case 3: return {"FL", "FR", "FC"};
    case 4: return {"FL", "FR", "RL", "RR"};
    case 5: return {"FL", "FR", "FC", "RL", "RR"};
    case 6: return {"FL", "FR", "FC", "LFE", "RL", "RR"};
    case 7: return {"FL", "FR", "FC", "LFE", "RC", "SL", "SR"};
    case 8: return {"FL", "FR", "FC", "LFE", "RL", "RR", "SL", "SR"};
    default: return {};
  }
}

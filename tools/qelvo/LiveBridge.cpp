// The bridge command itself runs on a thread of its own; it ends, as it does
// on a terminal, when the process is interrupted.
#include "tools/qelvo/LiveBridge.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "tools/qelvo/BridgeMap.h"
#include "tools/qelvo/Commands.h"
#include "tools/qelvo/Interrupt.h"
#include "tools/qelvo/ToolError.h"

namespace {

class BridgeThread : public LiveOscBridge {
 public:
  explicit BridgeThread(BridgeOptions options) {
    thread_ = std::thread([this, options] {
      try {
        RunBridgeCommand(options);
      } catch (const std::exception& e) {
        std::lock_guard<std::mutex> lock(mutex_);
        failure_ = std::string("the OSC bridge stopped: ") + e.what();
      }
    });
  }

  ~BridgeThread() override {
    // The bridge runs until the process is interrupted; when live stops for
    // another reason, interrupt it (the handler only sets the flag).
    if (!Interrupted()) kill(getpid(), SIGINT);
    thread_.join();
  }

  std::string Failure() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
  }

 private:
  mutable std::mutex mutex_;
  std::string failure_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<LiveOscBridge> StartLiveOscBridge(int port, const std::string& mapFile) {
  if (port < 0 || port > 65535) throw UsageError("--osc must be a UDP port between 0 and 65535");
  // Read here, so a bad map stops live before it starts.
  if (!mapFile.empty()) ReadBridgeMap(mapFile);
  BridgeOptions options;
  options.port = port;
  options.mapFile = mapFile;
  return std::make_unique<BridgeThread>(options);
}

// Opening a plug-in while the session bus hangs: the native open of the
// band-7 deliverable with a socket in the bus's place that accepts and never
// answers. The first open loads the bundle and starts the notification
// centre; later ones find the centre still waiting for the bus.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <string>

#include "platform/ComponentLoader.h"
#include "support/StuckBus.h"

namespace {

// Set up before anything opens the centre, kept to the end.
void HangTheBus() {
  static StuckBus* const stuck = [] {
    char dir[] = "/tmp/qelvo-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) abort();
    const std::string socket = std::string(dir) + "/bus";
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
    setenv("QELVO_PLUGIN_PATH", QELVO_PLUGIN_BUILD_DIR, 1);
    setenv("QELVO_PLUGIN_PATH_ONLY", "1", 1);
    return new StuckBus(socket);
  }();
  (void)stuck;
}

// The first open is kept, so the bundle stays loaded for the later ones.
ComponentInstance sFirst = nullptr;

void BM_FirstOpenWhileTheBusHangs(benchmark::State& state) {
  HangTheBus();
  for (auto _ : state) {
    if (QelvoOpenComponent("AUQelvoBS7", &sFirst) != noErr) state.SkipWithError("cannot open AUQelvoBS7");
  }
}
BENCHMARK(BM_FirstOpenWhileTheBusHangs)->Iterations(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_OpenAndCloseWhileTheBusHangs(benchmark::State& state) {
  HangTheBus();
  for (auto _ : state) {
    ComponentInstance unit = nullptr;
    if (QelvoOpenComponent("AUQelvoBS7", &unit) != noErr) state.SkipWithError("cannot open AUQelvoBS7");
    CloseComponent(unit);
  }
}
BENCHMARK(BM_OpenAndCloseWhileTheBusHangs)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
BENCHMARK_MAIN();

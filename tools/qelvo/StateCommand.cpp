// qelvo state save: a deliverable's saved state as an XML property list.
#include <cstdio>

#include "tools/qelvo/Commands.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/StatePlist.h"
#include "tools/qelvo/ToolError.h"

int RunStateSaveCommand(const StateSaveOptions& options) {
  DetachFromBus();
  if (!(options.sampleRate >= 8000 && options.sampleRate <= 384000))
    throw UsageError("--rate must be between 8000 and 384000 Hz");
  PluginInstance unit(options.unit.plugin);
  unit.SetFormat(options.sampleRate, 2);
  const std::optional<PresetDescription> preset = ApplyUnitSettings(unit, options.unit);
  CFRef<CFPropertyListRef> state = unit.SaveState();
  WriteStateFile(options.file, state.get());
  std::printf("saved the state of %s", unit.Name().c_str());
  if (preset) std::printf(" (preset %d \"%s\")", preset->number, preset->name.c_str());
  std::printf(" -> %s\n", options.file.c_str());
  return kExitOk;
}

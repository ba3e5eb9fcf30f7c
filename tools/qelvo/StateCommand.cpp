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
  // The state itself may take standard output; the report then goes to stderr.
  FILE* report = stdout;
  if (options.file == "-") {
    const std::string xml = PropertyListToXml(state.get());
    std::fwrite(xml.data(), 1, xml.size(), stdout);
    report = stderr;
  } else {
    WriteStateFile(options.file, state.get());
  }
  std::fprintf(report, "saved the state of %s", unit.Name().c_str());
  if (preset) std::fprintf(report, " (preset %d \"%s\")", preset->number, preset->name.c_str());
  std::fprintf(report, " -> %s\n", options.file == "-" ? "standard output" : options.file.c_str());
  return kExitOk;
}

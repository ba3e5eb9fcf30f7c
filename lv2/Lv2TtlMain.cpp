// Writes <dir>/manifest.ttl, <dir>/<Name>.ttl and <dir>/presets.ttl for the
// deliverable whose values this program is linked with. With --control-symbols
// it prints the control ports' symbols instead, one a line, in port order
// (for the tests).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "effect/FilterPresets.h"
#include "lv2/Lv2Description.h"
#include "platform/Values.h"
#include "variants/VariantValues.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--control-symbols") == 0) {
    for (const std::string& symbol : Lv2ControlSymbols(Lv2DescriptionInput{})) std::printf("%s\n", symbol.c_str());
    return 0;
  }
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s <bundle dir> <binary> <minor version> <micro version> | --control-symbols\n",
                 argv[0]);
    return 2;
  }
  Lv2DescriptionInput in;
  in.name = kDeliverableName;
  in.binary = argv[2];
  in.minorVersion = std::atoi(argv[3]);
  in.microVersion = std::atoi(argv[4]);
  for (const AUPreset& preset : FilterPresets()) {
    char name[256];
    if (!CFStringGetCString(preset.presetName, name, sizeof name, kCFStringEncodingUTF8)) return 1;
    in.presetNames.emplace_back(name);
  }
  const std::string dir = argv[1];
  std::ofstream manifest(dir + "/manifest.ttl");
  WriteLv2Manifest(manifest, in);
  std::ofstream plugins(dir + "/" + Lv2PluginFileName(in));
  WriteLv2Plugins(plugins, in);
  std::ofstream presets(dir + "/" + Lv2PresetsFileName());
  WriteLv2Presets(presets, in);
  manifest.close();
  plugins.close();
  presets.close();
  return manifest && plugins && presets ? 0 : 1;
}

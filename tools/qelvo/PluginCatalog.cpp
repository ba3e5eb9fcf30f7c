#include "tools/qelvo/PluginCatalog.h"

#include <algorithm>
#include <iterator>

#include "effect/KestSelection.h"
#include "tools/qelvo/PluginHost.h"
#include "tools/qelvo/Suggest.h"
#include "tools/qelvo/ToolError.h"

std::vector<InstalledPlugin> InstalledPlugins() {
  std::vector<InstalledPlugin> plugins;
  for (Component c = FindNextComponent(nullptr, nullptr); c != nullptr; c = FindNextComponent(c, nullptr)) {
    InstalledPlugin p;
    p.component = c;
    p.name = QelvoGetComponentName(c);
    QelvoGetComponentDescription(c, &p.description);
    if (CFBundleRef bundle = QelvoGetComponentBundle(c)) {
      p.identifier = StringOf(CFBundleGetIdentifier(bundle));
      CFRef<CFURLRef> url = CFRef<CFURLRef>::Adopt(CFBundleCopyBundleURL(bundle));
      CFRef<CFStringRef> path = CFRef<CFStringRef>::Adopt(CFURLCopyFileSystemPath(url.get(), kCFURLPOSIXPathStyle));
      p.path = StringOf(path.get());
    }
    plugins.push_back(std::move(p));
  }
  return plugins;
}

Component FindInstalledPlugin(const std::string& name) {
  if (Component c = QelvoFindComponent(name.c_str())) return c;
  std::string message = "unknown plug-in '" + name + "'";
  const std::vector<InstalledPlugin> installed = InstalledPlugins();
  if (installed.empty()) {
    message += "; no plug-ins are installed. Searched:";
    for (const std::string& dir : QelvoComponentSearchPath()) message += " " + dir;
    message += std::string(" (set ") + kQelvoPluginPathVariable + " to add directories)";
  } else {
    std::vector<std::string> names;
    for (const InstalledPlugin& p : installed) names.push_back(p.name);
    message += DidYouMean(name, names) + "; installed:";
    for (const InstalledPlugin& p : installed) message += " " + p.name;
  }
  throw UsageError(message);
}

std::optional<PresetMeasure> MeasureForPreset(int variant, int preset) {
  KestSelection selection{};
  if (!SelectKest(variant, preset, &selection) || selection.keyIndex < 0 || selection.keyIndex >= kKestKeyCount)
    return std::nullopt;
  return PresetMeasure{kKestKeyNames[selection.keyIndex], selection.scale, selection.mode != 0};
}

std::vector<std::string> FamilyMeasures(int variant) {
  std::vector<std::string> symbols;
  for (int preset = 0;; ++preset) {
    const std::optional<PresetMeasure> m = MeasureForPreset(variant, preset);
    if (!m) break;
    if (std::find(symbols.begin(), symbols.end(), m->symbol) == symbols.end()) symbols.push_back(m->symbol);
  }
  return symbols;
}

std::vector<std::string> AllMeasureNames() { return {std::begin(kKestKeyNames), std::end(kKestKeyNames)}; }

// The components on the search path: found by listing each directory for
// "*.bundle" entries, in search-path order and by name within a directory.
#include <dirent.h>
#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/LoaderInternal.h"

// The install location relative to the folder the runtime is loaded from, and
// the build tree's folders (searched only by the runtime of that build tree).
#ifndef QELVO_PLUGIN_INSTALL_SUBDIR
#define QELVO_PLUGIN_INSTALL_SUBDIR "qelvo/plugins"
#endif
#ifndef QELVO_RUNTIME_BUILD_DIR
#define QELVO_RUNTIME_BUILD_DIR ""
#endif
#ifndef QELVO_PLUGIN_BUILD_DIR
#define QELVO_PLUGIN_BUILD_DIR ""
#endif

namespace {

struct Registry {
  std::mutex mutex;
  bool scanned = false;
  std::vector<ComponentRecord*> found;
  std::vector<std::string> problems;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

std::vector<std::string> BundleNamesIn(const std::string& dir, std::vector<std::string>& problems) {
  std::vector<std::string> names;
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) {
    // Directories that do not exist are normal (nothing installed yet).
    if (errno != ENOENT && errno != ENOTDIR) problems.push_back(dir + ": " + std::strerror(errno));
    return names;
  }
  constexpr std::string_view kSuffix = ".bundle";
  while (const dirent* entry = readdir(listing)) {
    const std::string_view name(entry->d_name);
    if (name.size() > kSuffix.size() && name.ends_with(kSuffix)) names.emplace_back(name);
  }
  closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}

bool RegularFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void Scan(Registry& registry) {
  std::vector<ComponentRecord*> found;
  std::vector<std::string> problems;
  std::set<std::string> identifiers;
  for (const std::string& dir : QelvoComponentSearchPath()) {
    for (const std::string& name : BundleNamesIn(dir, problems)) {
      const std::string path = dir + "/" + name;
      std::string error;
      CFBundleObject* bundle = QelvoBundleAtPath(path, error);
      if (bundle == nullptr) {
        problems.push_back(error);
        continue;
      }
      ComponentRecord* component = &bundle->component;
      // The same directory reached twice (a path listed twice, a link).
      if (std::find(found.begin(), found.end(), component) != found.end()) continue;
      if (!RegularFile(bundle->executablePath)) {
        problems.push_back(bundle->path + ": shared object " + bundle->manifest.executable + " is missing");
        continue;
      }
      if (!identifiers.insert(bundle->manifest.identifier).second) {
        problems.push_back(bundle->path + ": identifier " + bundle->manifest.identifier +
                           " is already taken earlier on the search path");
        continue;
      }
      found.push_back(component);
    }
  }
  registry.found = std::move(found);
  registry.problems = std::move(problems);
  registry.scanned = true;
}

// The scanned list; scans first when nothing was scanned yet.
std::vector<ComponentRecord*>& Found(Registry& registry) {
  if (!registry.scanned) Scan(registry);
  return registry.found;
}

bool Matches(const ComponentDescription& d, const ComponentDescription* looking) {
  if (looking == nullptr) return true;
  return (looking->componentType == 0 || looking->componentType == d.componentType) &&
         (looking->componentSubType == 0 || looking->componentSubType == d.componentSubType) &&
         (looking->componentManufacturer == 0 || looking->componentManufacturer == d.componentManufacturer) &&
         ((d.componentFlags ^ looking->componentFlags) & looking->componentFlagsMask) == 0;
}

std::string Canonical(const char* path) {
  char resolved[PATH_MAX];
  return path != nullptr && path[0] != '\0' && realpath(path, resolved) != nullptr ? resolved : std::string();
}

// Where this runtime was loaded from, so an install anywhere finds its own
// bundles without a compiled-in prefix.
const std::string& RuntimeDirectory() {
  static const std::string dir = [] {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&Canonical), &info) == 0) return std::string();
    std::string file = Canonical(info.dli_fname);
    return file.substr(0, file.rfind('/'));
  }();
  return dir;
}

}  // namespace

std::vector<std::string> QelvoComponentSearchPath() {
  std::vector<std::string> dirs;
  if (const char* variable = std::getenv(kQelvoPluginPathVariable); variable != nullptr) {
    const std::string_view text(variable);
    size_t start = 0;
    while (start <= text.size()) {
      const size_t colon = std::min(text.find(':', start), text.size());
      if (colon > start) dirs.emplace_back(text.substr(start, colon - start));
      start = colon + 1;
    }
  }
  const char* only = std::getenv(kQelvoPluginPathOnlyVariable);
  if (only != nullptr && only[0] != '\0' && std::string_view(only) != "0") return dirs;
  const std::string& runtime = RuntimeDirectory();
  if (runtime.empty()) return dirs;
  dirs.push_back(runtime + "/" + QELVO_PLUGIN_INSTALL_SUBDIR);
  // An installed runtime never looks into the tree it was built in.
  static const bool inBuildTree = runtime == Canonical(QELVO_RUNTIME_BUILD_DIR);
  if (inBuildTree && QELVO_PLUGIN_BUILD_DIR[0] != '\0') dirs.emplace_back(QELVO_PLUGIN_BUILD_DIR);
  return dirs;
}

size_t QelvoRescanComponents() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  Scan(registry);
  return registry.found.size();
}

std::vector<std::string> QelvoComponentScanProblems() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  Found(registry);
  return registry.problems;
}

Component FindNextComponent(Component previous, const ComponentDescription* looking) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const std::vector<ComponentRecord*>& found = Found(registry);
  auto next = found.begin();
  if (previous != nullptr) {
    next = std::find(found.begin(), found.end(), previous);
    // A component the last scan did not find ends the walk.
    if (next == found.end()) return nullptr;
    ++next;
  }
  for (; next != found.end(); ++next)
    if (Matches((*next)->description, looking)) return *next;
  return nullptr;
}

long CountComponents(const ComponentDescription* looking) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const std::vector<ComponentRecord*>& found = Found(registry);
  return static_cast<long>(std::count_if(found.begin(), found.end(), [&](const ComponentRecord* c) {
    return Matches(c->description, looking);
  }));
}

Component QelvoFindComponent(const char* name) {
  if (name == nullptr) return nullptr;
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const std::vector<ComponentRecord*>& found = Found(registry);
  const std::string_view wanted(name);
  for (auto key : {&BundleManifest::identifier, &BundleManifest::name}) {
    for (ComponentRecord* c : found)
      if (c->bundle->manifest.*key == wanted) return c;
    if (key == &BundleManifest::identifier) {
      for (ComponentRecord* c : found)
        if (c->bundle->stem == wanted) return c;
    }
  }
  return nullptr;
}

OSStatus QelvoGetComponentDescription(Component component, ComponentDescription* outDesc) {
  if (outDesc == nullptr) return paramErr;
  if (component == nullptr || !QelvoIsComponent(component)) return invalidComponentID;
  *outDesc = component->description;
  return noErr;
}

CFBundleRef QelvoGetComponentBundle(Component component) {
  return component != nullptr && QelvoIsComponent(component) ? component->bundle : nullptr;
}

std::string QelvoGetComponentName(Component component) {
  return component != nullptr && QelvoIsComponent(component) ? component->bundle->manifest.name : std::string();
}

Component QelvoComponentAtPath(const char* path) {
  std::string error;
  CFBundleObject* bundle = QelvoBundleAtPath(path != nullptr ? path : "", error);
  if (bundle == nullptr) {
    QelvoSetLoaderError(error);
    return nullptr;
  }
  return &bundle->component;
}

OSStatus QelvoOpenComponent(const char* name, ComponentInstance* outInstance) {
  if (outInstance != nullptr) *outInstance = nullptr;
  Component component = QelvoFindComponent(name);
  if (component == nullptr) {
    QelvoSetLoaderError(std::string("no component named ") + (name != nullptr ? name : "(null)"));
    return fnfErr;
  }
  return OpenAComponent(component, outInstance);
}

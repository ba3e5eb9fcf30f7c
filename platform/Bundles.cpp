// Bundle values: one per bundle directory, made from its manifest, with the
// loads of its shared object counted so that "loaded bundles" can be asked for.
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "platform/CFRef.h"
#include "platform/LoaderInternal.h"

namespace {

struct BundleTable {
  std::mutex mutex;
  std::map<std::string, CFBundleObject*> byPath;
  std::set<const ComponentRecord*> components;
};

// Never destroyed: bundles outlive every static destructor that might ask.
BundleTable& Table() {
  static BundleTable* table = new BundleTable;
  return *table;
}

const CFBundleObject* AsBundle(CFBundleRef bundle) {
  return QelvoValueAs<CFBundleObject>(bundle, kQelvoTypeIDBundle);
}
CFBundleObject* AsMutableBundle(CFBundleRef bundle) {
  return QelvoMutableValueAs<CFBundleObject>(bundle, kQelvoTypeIDBundle);
}

bool IsKind(const std::string& path, mode_t kind) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == kind;
}

std::string StemOf(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  constexpr std::string_view kSuffix = ".bundle";
  if (name.size() > kSuffix.size() && name.ends_with(kSuffix)) name.resize(name.size() - kSuffix.size());
  return name;
}

CFStringRef MakeString(const std::string& text) {
  return CFStringCreateWithBytes(nullptr, reinterpret_cast<const uint8_t*>(text.data()),
                                 static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false);
}

std::string TextOf(CFStringRef s) {
  const char* text = CFStringGetCStringPtr(s, kCFStringEncodingUTF8);
  return text != nullptr ? std::string(text) : std::string();
}

CFURLRef MakeURL(const std::string& path, bool directory) {
  CFRef<CFStringRef> text = CFRef<CFStringRef>::Adopt(MakeString(path));
  return CFURLCreateWithFileSystemPath(nullptr, text.get(), kCFURLPOSIXPathStyle, directory);
}

// One path component: no separators, nothing that leaves the directory.
bool SafeComponent(const std::string& s) {
  return !s.empty() && s != "." && s != ".." && s.find('/') == std::string::npos;
}

}  // namespace

CFBundleObject::CFBundleObject(std::string bundlePath, std::string bundleStem, BundleManifest bundleManifest)
    : QelvoValue(kQelvoTypeIDBundle, true),
      path(std::move(bundlePath)),
      stem(std::move(bundleStem)),
      manifest(std::move(bundleManifest)),
      executablePath(path + "/" + manifest.executable),
      resourcesPath(path + "/" + kBundleResourcesDirName),
      identifier(MakeString(manifest.identifier)),
      component{this, {manifest.type, manifest.subtype, manifest.manufacturer, 0, 0}} {}

CFBundleObject* QelvoBundleAtPath(const std::string& path, std::string& error) {
  char resolved[PATH_MAX];
  if (path.empty() || realpath(path.c_str(), resolved) == nullptr) {
    error = "no bundle directory " + path;
    return nullptr;
  }
  const std::string canonical(resolved);
  if (!IsKind(canonical, S_IFDIR)) {
    error = path + " is not a directory";
    return nullptr;
  }

  BundleTable& table = Table();
  std::lock_guard lock(table.mutex);
  if (auto found = table.byPath.find(canonical); found != table.byPath.end()) return found->second;

  // Only a bundle that reads completely is kept, so a fixed one is seen on the next try.
  const std::string stem = StemOf(canonical);
  BundleManifest manifest;
  if (!ReadBundleManifest(canonical, stem, manifest, error)) return nullptr;
  const std::string executable = canonical + "/" + manifest.executable;
  if (!IsKind(executable, S_IFREG)) {
    error = canonical + ": shared object " + manifest.executable + " is missing";
    return nullptr;
  }
  auto* bundle = new CFBundleObject(canonical, stem, std::move(manifest));
  table.byPath.emplace(canonical, bundle);
  table.components.insert(&bundle->component);
  return bundle;
}

bool QelvoIsComponent(const ComponentRecord* component) {
  BundleTable& table = Table();
  std::lock_guard lock(table.mutex);
  return table.components.contains(component);
}

void* QelvoBundleLoad(CFBundleObject* bundle, const char* symbol, void** outSymbol, std::string& error) {
  // Outside the lock: the shared object's constructors may use bundles too.
  void* handle = dlopen(bundle->executablePath.c_str(), RTLD_LOCAL | RTLD_NOW);
  if (handle == nullptr) {
    const char* reason = dlerror();
    error = "cannot load " + bundle->executablePath + ": " + (reason != nullptr ? reason : "unknown reason");
    return nullptr;
  }
  if (symbol != nullptr) {
    void* found = dlsym(handle, symbol);
    if (found == nullptr) {
      error = bundle->executablePath + " has no entry symbol " + symbol;
      dlclose(handle);
      return nullptr;
    }
    *outSymbol = found;
  }
  std::lock_guard lock(Table().mutex);
  ++bundle->loadCount;
  return handle;
}

void QelvoBundleUnload(CFBundleObject* bundle, void* handle) {
  {
    std::lock_guard lock(Table().mutex);
    --bundle->loadCount;
  }
  // The dynamic loader counts its own loads: the object goes with the last one.
  dlclose(handle);
}

// ---- the value library's bundle operations ----------------------------------------

CFTypeID CFBundleGetTypeID() { return kQelvoTypeIDBundle; }

CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef bundleURL) {
  CFRef<CFStringRef> path = CFRef<CFStringRef>::Adopt(CFURLCopyFileSystemPath(bundleURL, kCFURLPOSIXPathStyle));
  if (!path) return nullptr;
  std::string error;
  CFBundleObject* bundle = QelvoBundleAtPath(TextOf(path.get()), error);
  if (bundle == nullptr) QelvoSetLoaderError(error);
  return bundle;
}

CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID) {
  if (bundleID == nullptr) return nullptr;
  BundleTable& table = Table();
  std::lock_guard lock(table.mutex);
  for (const auto& [path, bundle] : table.byPath)
    if (bundle->loadCount > 0 && CFEqual(bundle->identifier, bundleID)) return bundle;
  return nullptr;
}

CFStringRef CFBundleGetIdentifier(CFBundleRef bundle) {
  const CFBundleObject* b = AsBundle(bundle);
  return b != nullptr ? b->identifier : nullptr;
}

CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle) {
  const CFBundleObject* b = AsBundle(bundle);
  return b != nullptr ? MakeURL(b->path, true) : nullptr;
}

CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle) {
  const CFBundleObject* b = AsBundle(bundle);
  return b != nullptr ? MakeURL(b->resourcesPath, true) : nullptr;
}

CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName, CFStringRef resourceType,
                                 CFStringRef subDirName) {
  const CFBundleObject* b = AsBundle(bundle);
  if (b == nullptr || resourceName == nullptr) return nullptr;

  std::string file = TextOf(resourceName);
  std::string type = resourceType != nullptr ? TextOf(resourceType) : std::string();
  if (type.starts_with('.')) type.erase(0, 1);
  if (!type.empty()) file += "." + type;
  if (!SafeComponent(TextOf(resourceName)) || !SafeComponent(file)) return nullptr;

  std::string path = b->resourcesPath;
  if (subDirName != nullptr) {
    // A relative path of ordinary components, so the lookup stays in Resources.
    const std::string subdir = TextOf(subDirName);
    size_t start = 0;
    while (start < subdir.size()) {
      const size_t slash = std::min(subdir.find('/', start), subdir.size());
      const std::string part = subdir.substr(start, slash - start);
      if (!part.empty()) {
        if (!SafeComponent(part)) return nullptr;
        path += "/" + part;
      } else if (start == 0) {
        return nullptr;  // absolute
      }
      start = slash + 1;
    }
  }
  path += "/" + file;

  struct stat info;
  if (stat(path.c_str(), &info) != 0) return nullptr;
  return MakeURL(path, S_ISDIR(info.st_mode));
}

Boolean CFBundleIsExecutableLoaded(CFBundleRef bundle) {
  const CFBundleObject* b = AsBundle(bundle);
  if (b == nullptr) return false;
  std::lock_guard lock(Table().mutex);
  return b->loadCount > 0;
}

Boolean CFBundleLoadExecutable(CFBundleRef bundle) {
  CFBundleObject* b = AsMutableBundle(bundle);
  if (b == nullptr) return false;
  {
    std::lock_guard lock(Table().mutex);
    if (b->explicitLoad != nullptr) return true;
  }
  std::string error;
  void* handle = QelvoBundleLoad(b, nullptr, nullptr, error);
  if (handle == nullptr) {
    QelvoSetLoaderError(error);
    return false;
  }
  {
    std::lock_guard lock(Table().mutex);
    if (b->explicitLoad == nullptr) {
      b->explicitLoad = handle;
      return true;
    }
  }
  // Another thread's explicit load came first; one is enough.
  QelvoBundleUnload(b, handle);
  return true;
}

void CFBundleUnloadExecutable(CFBundleRef bundle) {
  CFBundleObject* b = AsMutableBundle(bundle);
  if (b == nullptr) return;
  void* handle = nullptr;
  {
    std::lock_guard lock(Table().mutex);
    handle = std::exchange(b->explicitLoad, nullptr);
  }
  if (handle != nullptr) QelvoBundleUnload(b, handle);
}

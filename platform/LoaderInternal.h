// What the bundle, registry, instance and host-call parts of the loader share
// inside the runtime.
#pragma once

#include <string>

#include "platform/BundleManifest.h"
#include "platform/ComponentCallBlock.h"
#include "platform/ComponentLoader.h"
#include "platform/ValueObject.h"

using ComponentEntryProc = ComponentResult (*)(ComponentParameters* params, void* storage);

struct ComponentRecord {
  CFBundleObject* bundle;
  ComponentDescription description;
};

// A bundle directory and its manifest. Bundles are unique per directory and
// live until the process ends (immortal values), so a Component (a pointer
// to the record inside) never dangles.
struct CFBundleObject : QelvoValue {
  CFBundleObject(std::string bundlePath, std::string bundleStem, BundleManifest bundleManifest);

  const std::string path;  // canonical, no trailing slash
  const std::string stem;  // directory name without ".bundle"
  const BundleManifest manifest;
  const std::string executablePath;
  const std::string resourcesPath;
  const CFStringRef identifier;  // lives as long as the bundle
  ComponentRecord component;

  // Guarded by the bundle table's lock.
  int loadCount = 0;                 // instances open plus an explicit load
  void* explicitLoad = nullptr;      // handle of CFBundleLoadExecutable's load
};

// The bundle in directory path (created on first use from its manifest), or
// null with the reason in error.
CFBundleObject* QelvoBundleAtPath(const std::string& path, std::string& error);
// Whether component is one the loader handed out.
bool QelvoIsComponent(const ComponentRecord* component);

// Loads the bundle's shared object and, when symbol is given, finds it; counts
// one load. Answers the handle for QelvoBundleUnload, or null with the reason.
void* QelvoBundleLoad(CFBundleObject* bundle, const char* symbol, void** outSymbol, std::string& error);
void QelvoBundleUnload(CFBundleObject* bundle, void* handle);

// An open instance's entry and storage, found without a lock; false when
// the instance is not open.
struct InstanceTarget {
  ComponentEntryProc entry;
  void* storage;
};
bool QelvoResolveInstance(ComponentInstance instance, InstanceTarget& target);

// One call of an open instance's entry. No lock, no allocation: render
// threads make such calls.
template <class... Args>
OSStatus QelvoCallInstance(ComponentInstance instance, SInt16 what, Args... args) {
  if (instance == nullptr) return paramErr;
  InstanceTarget target;
  if (!QelvoResolveInstance(instance, target)) return badComponentInstance;
  ComponentCallBlock<Args...> block(what, args...);
  return target.entry(block.get(), target.storage);
}

void QelvoSetLoaderError(std::string text);

// The component loader: finds bundles on the search path, loads a bundle's
// shared object, opens instances through its entry function and keeps one
// record per open instance (entry, instance storage, component description,
// bundle). Bundle layout, manifest and search path: docs/bundles.md.
//
// A bundle's shared object is loaded (RTLD_LOCAL | RTLD_NOW) when its first
// instance opens and unloaded when its last instance closes. Component
// instances are handles that the loader checks on every call, so a closed,
// null or made-up instance gets a status instead of a crash. The calls into
// units (AudioUnitHost.h) find an instance without taking a lock, so they can
// be made on a render thread; opening, closing and scanning take a lock.
//
// The loader installs itself behind the calls of platform/ComponentSeam.h
// (AudioUnitGetProperty, AudioUnitRender, Get/SetComponentInstanceStorage,
// GetComponentInfo) when the runtime is loaded; QelvoComponentLoaderHostOps()
// gives its table back to a test that installed a fake.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/AudioTypes.h"
#include "platform/ComponentSeam.h"
#include "platform/RuntimeApi.h"

QELVO_RUNTIME_API_BEGIN

// A component found on the search path: one per bundle. It stays valid until
// the process ends, even when a later scan no longer finds its bundle.
struct ComponentRecord;
using Component = ComponentRecord*;

// The instance is not open (closed, never opened, or not an instance at all).
constexpr OSStatus badComponentInstance = static_cast<OSStatus>(0x80008001u);
// The component is null or not one the loader handed out.
constexpr OSStatus invalidComponentID = -3000;
// The bundle's shared object cannot be loaded or lacks its entry symbol.
constexpr OSStatus kQelvoErr_ComponentLoadFailed = -3001;

// Colon-separated directories searched before the compiled-in ones.
inline constexpr const char* kQelvoPluginPathVariable = "QELVO_PLUGIN_PATH";
// Set (to anything but "" or "0") to search only QELVO_PLUGIN_PATH: tests and
// tools that must not see installed or freshly built bundles.
inline constexpr const char* kQelvoPluginPathOnlyVariable = "QELVO_PLUGIN_PATH_ONLY";

// [control] The directories searched, in order: those of QELVO_PLUGIN_PATH, then the
// install location (qelvo/plugins in the folder the runtime was loaded from),
// then, for the runtime of a build tree only, that tree's plugins folder.
std::vector<std::string> QelvoComponentSearchPath();

// [control] Looks for bundles again (the first lookup scans by itself) and answers the
// number of components found. Bundles that went away are no longer listed;
// their instances stay open. Of two bundles with one identifier the first on
// the search path wins.
size_t QelvoRescanComponents();

// [control] Why bundles were skipped in the last scan, one line each.
std::vector<std::string> QelvoComponentScanProblems();

// [control] The component after previous (null: the first) whose description matches:
// zero type, subtype or manufacturer match anything, and flags are compared
// under the flags mask. looking null matches every component.
Component FindNextComponent(Component previous, const ComponentDescription* looking);
long CountComponents(const ComponentDescription* looking);

// [control] The component whose bundle identifier, bundle name ("AUQelvoBS7" for
// AUQelvoBS7.bundle) or display name is name, tried in that order; null when
// none is.
Component QelvoFindComponent(const char* name);

// [control] The component of the bundle in directory path, on the search path or not
// (an LV2 bundle carries its own unit); null when path holds no readable
// bundle, with the reason in QelvoComponentLoaderLastError().
Component QelvoComponentAtPath(const char* path);

// [any] A component's record stays valid until the process ends.
OSStatus QelvoGetComponentDescription(Component component, ComponentDescription* outDesc);
// The component's bundle (owned by the loader) and its display name.
CFBundleRef QelvoGetComponentBundle(Component component);
std::string QelvoGetComponentName(Component component);

// [control] Opens an instance: loads the bundle's shared object if needed and calls its
// entry with the open selector; the entry attaches its unit object with
// SetComponentInstanceStorage. On failure *outInstance is null and the status
// is the entry's, or one of the loader's above (memFullErr when too many
// instances are open).
OSStatus OpenAComponent(Component component, ComponentInstance* outInstance);
// OpenAComponent of QelvoFindComponent(name); fnfErr when no component has that name.
OSStatus QelvoOpenComponent(const char* name, ComponentInstance* outInstance);
// [control] Calls the entry with the close selector, forgets the instance
// and unloads the shared object after its last instance. The entry's status.
// Must not overlap any other call of the instance.
OSStatus CloseComponent(ComponentInstance instance);

// [any] The component an open instance was opened from; null otherwise.
Component QelvoGetInstanceComponent(ComponentInstance instance);
// Instances open right now.
size_t QelvoOpenInstanceCount();

// [any] The reason for the last failure of a loader operation on this thread
// (empty when none failed yet).
std::string QelvoComponentLoaderLastError();

// [any] The loader's own table behind the calls of platform/ComponentSeam.h.
const AudioUnitHostOps* QelvoComponentLoaderHostOps();

QELVO_RUNTIME_API_END

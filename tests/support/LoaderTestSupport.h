// Helpers of the component loader tests: temporary bundle directories, the
// search path, and the probe bundle built by tests/loader.cmake.
#pragma once

#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>

#include "platform/AudioUnitHost.h"
#include "platform/ComponentLoader.h"
#include "support/LoaderProbe.h"

namespace loader_test {

namespace fs = std::filesystem;

inline const fs::path kProbeBundle = fs::path(QELVO_TEST_BUNDLE_DIR) / "QelvoProbe.bundle";
inline const fs::path kProbeObject = kProbeBundle / "QelvoProbe.so";
inline const fs::path kNoEntryObject = QELVO_NOENTRY_OBJECT;

// A directory removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "qelvo-loader-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

inline void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string ManifestText(const std::string& identifier, const std::string& subtype = "Qtst",
                                const std::string& extra = "") {
  return "identifier = " + identifier + "\nname = " + identifier + " unit\ntype = aufx\nsubtype = " + subtype +
         "\nmanufacturer = Qlvo\nversion = 1.0.0\n" + extra;
}

// dir/<name>.bundle with the manifest text and a copy of object as <name>.so
// (no shared object when object is empty) and the editor-view resource.
inline fs::path MakeBundle(const fs::path& dir, const std::string& name, const std::string& manifest,
                           const fs::path& object = kProbeObject) {
  const fs::path bundle = dir / (name + ".bundle");
  fs::create_directories(bundle / "Resources" / "EditorViewFactory.bundle");
  WriteFile(bundle / "Resources" / "EditorViewFactory.bundle" / "README", "view\n");
  if (!manifest.empty()) WriteFile(bundle / "Manifest.txt", manifest);
  if (!object.empty()) fs::copy_file(object, bundle / (name + ".so"));
  return bundle;
}

// Points QELVO_PLUGIN_PATH at dirs (none: unset) and scans again.
inline void UseSearchPath(std::initializer_list<fs::path> dirs) {
  std::string joined;
  for (const fs::path& dir : dirs) joined += (joined.empty() ? "" : ":") + dir.string();
  if (dirs.size() == 0) {
    unsetenv(kQelvoPluginPathVariable);
    unsetenv(kQelvoPluginPathOnlyVariable);
  } else {
    setenv(kQelvoPluginPathVariable, joined.c_str(), 1);
    setenv(kQelvoPluginPathOnlyVariable, "1", 1);
  }
  QelvoRescanComponents();
}

// Whether the dynamic loader has the shared object mapped right now.
inline bool ObjectLoaded(const fs::path& object) {
  void* handle = dlopen(fs::canonical(object).c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

// An open instance, closed at the end of its scope.
class OpenInstance {
 public:
  explicit OpenInstance(const char* name) { status_ = QelvoOpenComponent(name, &instance_); }
  ~OpenInstance() { Close(); }
  OpenInstance(const OpenInstance&) = delete;
  OpenInstance& operator=(const OpenInstance&) = delete;
  ComponentInstance get() const { return instance_; }
  OSStatus status() const { return status_; }
  OSStatus Close() { return instance_ != nullptr ? CloseComponent(std::exchange(instance_, nullptr)) : noErr; }

 private:
  ComponentInstance instance_ = nullptr;
  OSStatus status_ = noErr;
};

template <class T>
T ProbeValue(ComponentInstance unit, AudioUnitPropertyID id) {
  T value{};
  UInt32 size = sizeof value;
  if (AudioUnitGetProperty(unit, id, kAudioUnitScope_Global, 0, &value, &size) != noErr) value = T{};
  return value;
}

}  // namespace loader_test

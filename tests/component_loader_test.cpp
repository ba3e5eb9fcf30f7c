// The component loader with real bundles: manifests, the search path, loading
// and unloading, instance records, the argument blocks of the host calls and
// the bundle values a unit sees.
#include <elf.h>
#include <gtest/gtest.h>

#include <atomic>

#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <set>
#include <thread>
#include <vector>

#include "platform/BundleManifest.h"
#include "platform/CFRef.h"
#include "platform/Notifications.h"
#include "support/LoaderTestSupport.h"
#include "support/PrivateBus.h"

using namespace loader_test;

namespace {

constexpr UInt32 FourCC(const char (&s)[5]) {
  return (UInt32(UInt8(s[0])) << 24) | (UInt32(UInt8(s[1])) << 16) | (UInt32(UInt8(s[2])) << 8) | UInt8(s[3]);
}

CFRef<CFStringRef> Str(const char* text) {
  return CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8));
}

std::string PathOf(CFURLRef url) {
  char buffer[1024] = {};
  if (!CFURLGetFileSystemRepresentation(url, true, reinterpret_cast<uint8_t*>(buffer), sizeof buffer)) return "";
  return buffer;
}

std::vector<std::string> ComponentNames() {
  std::vector<std::string> names;
  for (Component c = FindNextComponent(nullptr, nullptr); c != nullptr; c = FindNextComponent(c, nullptr))
    names.push_back(QelvoGetComponentName(c));
  return names;
}

bool AnyContains(const std::vector<std::string>& lines, const std::string& a, const std::string& b) {
  for (const std::string& line : lines)
    if (line.find(a) != std::string::npos && line.find(b) != std::string::npos) return true;
  return false;
}

class ComponentLoader : public testing::Test {
 protected:
  void SetUp() override { UseSearchPath({QELVO_TEST_BUNDLE_DIR}); }
  void TearDown() override {
    unsetenv(kProbeFailOpenVariable);
    UseSearchPath({});
    EXPECT_EQ(QelvoOpenInstanceCount(), 0u) << "a test left an instance open";
  }
  TempDir temp;
};

// ---- manifests ------------------------------------------------------------------------

TEST(BundleManifest, ReadsEveryFieldWithDefaultsCommentsAndLineEndings) {
  const std::string text =
      "# a comment\r\n"
      "  identifier\t=  org.qelvo.audiounit.AUQelvoBS7  \r\n"
      "\n"
      "name = Qelvo Band 7 = brain\n"
      "type = aufx\nsubtype = Qbs7\nmanufacturer = Qlvo\nversion = 1.2.3";
  BundleManifest m;
  std::string error;
  ASSERT_TRUE(ParseBundleManifest(text, "AUQelvoBS7", m, error)) << error;
  EXPECT_EQ(m.identifier, "org.qelvo.audiounit.AUQelvoBS7");
  EXPECT_EQ(m.name, "Qelvo Band 7 = brain");  // split at the first '='
  EXPECT_EQ(m.type, 0x61756678u);
  EXPECT_EQ(m.subtype, FourCC("Qbs7"));
  EXPECT_EQ(m.manufacturer, FourCC("Qlvo"));
  EXPECT_EQ(m.version, 0x00010203u);
  EXPECT_EQ(m.executable, "AUQelvoBS7.so");
  EXPECT_EQ(m.entry, "FilterEntry");

  const std::pair<const char*, UInt32> versions[] = {{"1", 0x00010000}, {"2.5", 0x00020500}, {"65535.255.255", 0xFFFFFFFF}};
  for (auto [version, expected] : versions) {
    const std::string withVersion = "identifier = a\nname = a\ntype = aufx\nsubtype = abcd\nmanufacturer = Qlvo\n"
                                    "version = " + std::string(version) + "\nexecutable = lib x.so\nentry = _Entry2\n";
    ASSERT_TRUE(ParseBundleManifest(withVersion, "", m, error)) << version << ": " << error;
    EXPECT_EQ(m.version, expected) << version;
    EXPECT_EQ(m.executable, "lib x.so");
    EXPECT_EQ(m.entry, "_Entry2");
  }
}

TEST(BundleManifest, RefusesBrokenManifestsWithTheReason) {
  const std::string base = ManifestText("org.qelvo.t");
  const struct {
    std::string text;
    const char* reason;
  } cases[] = {
      {base + "just words\n", "line 7: expected \"key = value\""},
      {base + " = value\n", "missing key"},
      {base + "colour = red\n", "unknown key \"colour\""},
      {base + "subtype = Qxyz\n", "duplicate key \"subtype\""},
      {base + "entry =\n", "empty value for \"entry\""},
      {ManifestText("org.qelvo.t", "Qbs"), "invalid subtype"},
      {ManifestText("org.qelvo.t", "Qbs77"), "invalid subtype"},
      {ManifestText("org.qelvo.t", "Q\xC3\xA9s"), "invalid subtype"},
      {ManifestText("org qelvo"), "invalid identifier"},
      {ManifestText(".org.qelvo"), "invalid identifier"},
      {base + "executable = ../evil.so\n", "invalid executable"},
      {base + "executable = ..\n", "invalid executable"},
      {base + "entry = 9lives\n", "invalid entry"},
      {base + "entry = Filter-Entry\n", "invalid entry"},
      {"identifier = a\nname = \xFF\xFE\ntype = aufx\nsubtype = abcd\nmanufacturer = Qlvo\nversion = 1\n", "invalid name"},
      {"identifier = a\nname = a\ntype = aufx\nsubtype = abcd\nmanufacturer = Qlvo\n", "missing key \"version\""},
      {"name = a\ntype = aufx\nsubtype = abcd\nmanufacturer = Qlvo\nversion = 1\n", "missing key \"identifier\""},
      {std::string("identifier = a\0b\n", 17), "zero byte"},
      {base + "# padding\n" + std::string(kMaxBundleManifestBytes, '#'), "larger than"},
  };
  for (const auto& c : cases) {
    BundleManifest m;
    std::string error;
    EXPECT_FALSE(ParseBundleManifest(c.text, "stem", m, error)) << c.reason;
    EXPECT_NE(error.find(c.reason), std::string::npos) << "expected \"" << c.reason << "\", got \"" << error << "\"";
  }
  for (const char* version : {"1.2.3.4", "1.x", "70000", "1.256", "1..2", ".1", "1.", "-1", "+1", " "}) {
    BundleManifest m;
    std::string error;
    const std::string text = "identifier = a\nname = a\ntype = aufx\nsubtype = abcd\nmanufacturer = Qlvo\nversion = " +
                             std::string(version) + "\n";
    EXPECT_FALSE(ParseBundleManifest(text, "stem", m, error)) << "version " << version;
  }
  // Without a bundle name there is no default shared object.
  BundleManifest m;
  std::string error;
  EXPECT_FALSE(ParseBundleManifest(base, "", m, error));
}

// ---- the search path and scanning --------------------------------------------------------

TEST_F(ComponentLoader, SearchPathIsTheVariableThenTheInstallThenTheBuildTree) {
  setenv(kQelvoPluginPathVariable, "/first::/second:", 1);
  setenv(kQelvoPluginPathOnlyVariable, "1", 1);
  EXPECT_EQ(QelvoComponentSearchPath(), (std::vector<std::string>{"/first", "/second"}));
  setenv(kQelvoPluginPathOnlyVariable, "0", 1);
  const std::vector<std::string> dirs = QelvoComponentSearchPath();
  ASSERT_EQ(dirs.size(), 4u);
  EXPECT_EQ(dirs[0], "/first");
  EXPECT_EQ(dirs[1], "/second");
  // The install location is found from where the runtime is, not compiled in.
  Dl_info runtime{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&QelvoComponentSearchPath), &runtime), 0);
  EXPECT_EQ(dirs[2], fs::canonical(runtime.dli_fname).parent_path() / "qelvo" / "plugins");
  EXPECT_TRUE(dirs[3].ends_with("/plugins") && !dirs[3].ends_with("/qelvo/plugins")) << dirs[3];

  unsetenv(kQelvoPluginPathVariable);
  EXPECT_EQ(QelvoComponentSearchPath(), std::vector<std::string>(dirs.begin() + 2, dirs.end()));
}

TEST_F(ComponentLoader, EarlierDirectoriesWinAnIdentifierAndNamesOrderWithinOne) {
  const fs::path first = temp.path() / "first", second = temp.path() / "second";
  MakeBundle(first, "Zed", ManifestText("org.t.same", "Qzz1"));
  const fs::path alpha = MakeBundle(second, "Alpha", ManifestText("org.t.same", "Qaa1"));
  MakeBundle(second, "Gamma", ManifestText("org.t.gamma", "Qgg1"));
  MakeBundle(second, "Beta", ManifestText("org.t.beta", "Qbb1"));

  UseSearchPath({first, second});
  EXPECT_EQ(ComponentNames(), (std::vector<std::string>{"org.t.same unit", "org.t.beta unit", "org.t.gamma unit"}));
  EXPECT_TRUE(AnyContains(QelvoComponentScanProblems(), fs::canonical(alpha).string(), "already taken"));

  UseSearchPath({second, first});
  EXPECT_EQ(ComponentNames(), (std::vector<std::string>{"org.t.same unit", "org.t.beta unit", "org.t.gamma unit"}));
  ComponentDescription d{};
  ASSERT_EQ(QelvoGetComponentDescription(QelvoFindComponent("org.t.same"), &d), noErr);
  EXPECT_EQ(d.componentSubType, FourCC("Qaa1"));

  // The same directory twice is one component.
  UseSearchPath({second, second});
  EXPECT_EQ(CountComponents(nullptr), 3);
}

TEST_F(ComponentLoader, DescriptionsMatchWithZeroAsWildcardAndFlagsUnderTheMask) {
  MakeBundle(temp.path(), "A", ManifestText("org.t.a", "Qaa1"));
  MakeBundle(temp.path(), "B", ManifestText("org.t.b", "Qbb1"));
  UseSearchPath({temp.path()});
  const struct {
    ComponentDescription looking;
    long count;
  } cases[] = {
      {{0, 0, 0, 0, 0}, 2},
      {{FourCC("aufx"), 0, FourCC("Qlvo"), 0, 0}, 2},
      {{FourCC("aufx"), FourCC("Qbb1"), 0, 0, 0}, 1},
      {{FourCC("aumu"), 0, 0, 0, 0}, 0},
      {{0, 0, FourCC("Xxxx"), 0, 0}, 0},
      {{0, 0, 0, 1, 0}, 2},  // flags outside the mask are ignored
      {{0, 0, 0, 1, 1}, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CountComponents(&c.looking), c.count);
    long walked = 0;
    for (Component x = FindNextComponent(nullptr, &c.looking); x != nullptr; x = FindNextComponent(x, &c.looking))
      ++walked;
    EXPECT_EQ(walked, c.count);
  }
  ComponentDescription d{};
  EXPECT_EQ(QelvoGetComponentDescription(QelvoFindComponent("B"), &d), noErr);
  EXPECT_EQ(d.componentType, FourCC("aufx"));
  EXPECT_EQ(d.componentSubType, FourCC("Qbb1"));
  EXPECT_EQ(d.componentManufacturer, FourCC("Qlvo"));
  EXPECT_EQ(QelvoGetComponentDescription(nullptr, &d), invalidComponentID);
  EXPECT_EQ(QelvoGetComponentDescription(reinterpret_cast<Component>(&d), &d), invalidComponentID);
}

TEST_F(ComponentLoader, ComponentsAreFoundByIdentifierBundleNameOrDisplayName) {
  const Component probe = QelvoFindComponent("org.qelvo.audiounit.QelvoProbe");
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(QelvoFindComponent("QelvoProbe"), probe);
  EXPECT_EQ(QelvoFindComponent("Qelvo Probe"), probe);
  EXPECT_EQ(QelvoFindComponent("QelvoProbe.bundle"), nullptr);
  EXPECT_EQ(QelvoFindComponent(""), nullptr);
  EXPECT_EQ(QelvoFindComponent(nullptr), nullptr);
  ComponentInstance instance = reinterpret_cast<ComponentInstance>(1);
  EXPECT_EQ(QelvoOpenComponent("NoSuchUnit", &instance), fnfErr);
  EXPECT_EQ(instance, nullptr);
  EXPECT_NE(QelvoComponentLoaderLastError().find("NoSuchUnit"), std::string::npos);
}

TEST_F(ComponentLoader, BrokenBundlesAreSkippedWithAReasonNamingThem) {
  const fs::path dir = temp.path();
  MakeBundle(dir, "Good", ManifestText("org.t.good"));
  const fs::path noManifest = MakeBundle(dir, "NoManifest", "");
  const fs::path badManifest = MakeBundle(dir, "BadManifest", ManifestText("org.t.bad") + "oops\n");
  const fs::path noObject = MakeBundle(dir, "NoObject", ManifestText("org.t.noobject"), {});
  const fs::path otherObject = MakeBundle(dir, "OtherObject", ManifestText("org.t.other", "Qtst", "executable = Missing.so\n"));
  WriteFile(dir / "NotADirectory.bundle", "plain file");
  WriteFile(dir / "Ignored.txt", "not a bundle");

  UseSearchPath({dir});
  EXPECT_EQ(ComponentNames(), std::vector<std::string>{"org.t.good unit"});
  const std::vector<std::string> problems = QelvoComponentScanProblems();
  EXPECT_EQ(problems.size(), 5u);
  EXPECT_TRUE(AnyContains(problems, fs::canonical(noManifest).string(), "no manifest"));
  EXPECT_TRUE(AnyContains(problems, fs::canonical(badManifest).string(), "line 7"));
  EXPECT_TRUE(AnyContains(problems, fs::canonical(noObject).string(), "NoObject.so is missing"));
  EXPECT_TRUE(AnyContains(problems, fs::canonical(otherObject).string(), "Missing.so is missing"));
  EXPECT_TRUE(AnyContains(problems, "NotADirectory.bundle", "not a directory"));

  // Mended on disk, a bundle shows up on the next scan.
  WriteFile(badManifest / "Manifest.txt", ManifestText("org.t.bad"));
  EXPECT_EQ(QelvoRescanComponents(), 2u);
}

TEST_F(ComponentLoader, ScansFollowTheDiskButOpenInstancesOutliveTheirBundle) {
  const fs::path copy = MakeBundle(temp.path(), "Copy", ManifestText("org.t.copy"));
  UseSearchPath({temp.path()});
  OpenInstance unit("Copy");
  ASSERT_EQ(unit.status(), noErr);
  const Component component = QelvoGetInstanceComponent(unit.get());
  ASSERT_NE(component, nullptr);

  fs::remove_all(copy);
  EXPECT_EQ(QelvoRescanComponents(), 0u);
  EXPECT_EQ(FindNextComponent(nullptr, nullptr), nullptr);
  // A walk from a component the scan no longer finds ends at once.
  EXPECT_EQ(FindNextComponent(component, nullptr), nullptr);
  EXPECT_EQ(AudioUnitInitialize(unit.get()), noErr);
  EXPECT_EQ(QelvoGetInstanceComponent(unit.get()), component);
  EXPECT_EQ(unit.Close(), noErr);
}

// ---- opening and closing --------------------------------------------------------------------

TEST_F(ComponentLoader, OpenFailuresLeaveNothingOpenOrLoaded) {
  const fs::path dir = temp.path();
  const fs::path notAnObject = temp.path() / "garbage.so";
  WriteFile(notAnObject, "this is no shared object");
  MakeBundle(dir, "NoEntry", ManifestText("org.t.noentry"), kNoEntryObject);
  MakeBundle(dir, "WrongEntry", ManifestText("org.t.wrongentry", "Qtst", "entry = NoSuchEntry\n"));
  MakeBundle(dir, "Garbage", ManifestText("org.t.garbage"), notAnObject);
  MakeBundle(dir, "Failing", ManifestText("org.t.failing"));
  UseSearchPath({dir});

  const struct {
    const char* name;
    OSStatus status;
    const char* reason;
  } cases[] = {
      {"NoEntry", kQelvoErr_ComponentLoadFailed, "no entry symbol FilterEntry"},
      {"WrongEntry", kQelvoErr_ComponentLoadFailed, "no entry symbol NoSuchEntry"},
      {"Garbage", kQelvoErr_ComponentLoadFailed, "cannot load"},
      {"Failing", kProbeOpenFailure, "-4242"},
  };
  setenv(kProbeFailOpenVariable, "1", 1);
  for (const auto& c : cases) {
    const Component component = QelvoFindComponent(c.name);
    ASSERT_NE(component, nullptr) << c.name;
    ComponentInstance instance = reinterpret_cast<ComponentInstance>(1);
    EXPECT_EQ(OpenAComponent(component, &instance), c.status) << c.name;
    EXPECT_EQ(instance, nullptr);
    EXPECT_NE(QelvoComponentLoaderLastError().find(c.reason), std::string::npos) << QelvoComponentLoaderLastError();
    EXPECT_EQ(QelvoOpenInstanceCount(), 0u);
    EXPECT_FALSE(CFBundleIsExecutableLoaded(QelvoGetComponentBundle(component)));
    EXPECT_FALSE(ObjectLoaded(dir / (std::string(c.name) + ".bundle") / (std::string(c.name) + ".so"))) << c.name;
  }

  ComponentInstance instance = nullptr;
  EXPECT_EQ(OpenAComponent(nullptr, &instance), invalidComponentID);
  EXPECT_EQ(OpenAComponent(reinterpret_cast<Component>(&instance), &instance), invalidComponentID);
  EXPECT_EQ(OpenAComponent(QelvoFindComponent("Failing"), nullptr), paramErr);
}

TEST_F(ComponentLoader, TheObjectIsLoadedWhileAnInstanceIsOpenAndClosedHandlesStayRefused) {
  ASSERT_FALSE(ObjectLoaded(kProbeObject));
  ComponentInstance first = nullptr;
  ASSERT_EQ(QelvoOpenComponent("QelvoProbe", &first), noErr);
  EXPECT_TRUE(ObjectLoaded(kProbeObject));
  EXPECT_EQ(GetComponentVersion(first), 0x00010203);
  EXPECT_EQ(CloseComponent(first), noErr);
  EXPECT_FALSE(ObjectLoaded(kProbeObject));

  // The slot is reused, but the old handle names the closed instance only.
  OpenInstance second("QelvoProbe");
  ASSERT_EQ(second.status(), noErr);
  EXPECT_NE(second.get(), first);
  EXPECT_EQ(AudioUnitInitialize(first), badComponentInstance);
  EXPECT_EQ(CloseComponent(first), badComponentInstance);
  EXPECT_EQ(AudioUnitInitialize(second.get()), noErr);
  // A fresh load: the object's own count of opens started again.
  EXPECT_EQ(ProbeValue<ProbeCounters>(second.get(), kProbeProperty_Counters).opens, 1u);
}

TEST_F(ComponentLoader, TwoInstancesShareTheLoadedObjectButNotTheirState) {
  OpenInstance a("QelvoProbe"), b("QelvoProbe");
  ASSERT_EQ(a.status(), noErr);
  ASSERT_EQ(b.status(), noErr);
  EXPECT_EQ(QelvoOpenInstanceCount(), 2u);
  EXPECT_NE(GetComponentInstanceStorage(a.get()), GetComponentInstanceStorage(b.get()));
  EXPECT_EQ(ProbeValue<ProbeCounters>(b.get(), kProbeProperty_Counters).opens, 2u);

  EXPECT_EQ(AudioUnitInitialize(a.get()), noErr);
  EXPECT_EQ(ProbeValue<ProbeCounters>(a.get(), kProbeProperty_Counters).initialize, 1u);
  EXPECT_EQ(ProbeValue<ProbeCounters>(b.get(), kProbeProperty_Counters).initialize, 0u);

  EXPECT_EQ(a.Close(), noErr);
  EXPECT_TRUE(ObjectLoaded(kProbeObject));
  EXPECT_EQ(AudioUnitInitialize(b.get()), noErr);
  EXPECT_EQ(b.Close(), noErr);
  EXPECT_FALSE(ObjectLoaded(kProbeObject));
}

TEST_F(ComponentLoader, CallsOnNullClosedOrMadeUpInstancesAnswerAStatus) {
  ComponentInstance closed = nullptr;
  ASSERT_EQ(QelvoOpenComponent("QelvoProbe", &closed), noErr);
  ASSERT_EQ(CloseComponent(closed), noErr);
  int local = 0;
  const ComponentInstance madeUp[] = {closed, reinterpret_cast<ComponentInstance>(&local),
                                      reinterpret_cast<ComponentInstance>(0x1000),
                                      reinterpret_cast<ComponentInstance>(~uintptr_t{0})};

  UInt32 size = 4;
  Boolean writable = false;
  Float32 value = 0;
  AudioUnitRenderActionFlags flags = 0;
  AudioTimeStamp stamp{};
  AudioBufferList list{};
  const std::function<OSStatus(ComponentInstance)> calls[] = {
      [](ComponentInstance u) { return AudioUnitInitialize(u); },
      [](ComponentInstance u) { return AudioUnitUninitialize(u); },
      [&](ComponentInstance u) { return AudioUnitGetPropertyInfo(u, 8, 1, 0, &size, &writable); },
      [&](ComponentInstance u) { return AudioUnitGetProperty(u, 8, 1, 0, &value, &size); },
      [&](ComponentInstance u) { return AudioUnitSetProperty(u, 8, 1, 0, &value, 4); },
      [&](ComponentInstance u) { return AudioUnitGetParameter(u, 0, 0, 0, &value); },
      [](ComponentInstance u) { return AudioUnitSetParameter(u, 0, 0, 0, 1.0f, 0); },
      [&](ComponentInstance u) { return AudioUnitRender(u, &flags, &stamp, 0, 16, &list); },
      [](ComponentInstance u) { return AudioUnitReset(u, 0, 0); },
      [](ComponentInstance u) { return AudioUnitAddPropertyListener(u, 8, nullptr, nullptr); },
      [](ComponentInstance u) { return AudioUnitRemovePropertyListener(u, 8, nullptr); },
      [](ComponentInstance u) { return AudioUnitRemovePropertyListenerWithUserData(u, 8, nullptr, nullptr); },
      [](ComponentInstance u) { return AudioUnitAddRenderNotify(u, nullptr, nullptr); },
      [](ComponentInstance u) { return AudioUnitRemoveRenderNotify(u, nullptr, nullptr); },
      [](ComponentInstance u) { return AudioUnitScheduleParameters(u, nullptr, 0); },
      [](ComponentInstance u) { return GetComponentVersion(u); },
      [](ComponentInstance u) { return ComponentFunctionImplemented(u, kAudioUnitRenderSelect); },
      [](ComponentInstance u) { return SetComponentInstanceStorage(u, &u); },
      [](ComponentInstance u) { return CloseComponent(u); },
  };
  for (size_t i = 0; i < std::size(calls); ++i) {
    EXPECT_EQ(calls[i](nullptr), paramErr) << "call " << i;
    for (ComponentInstance u : madeUp) EXPECT_EQ(calls[i](u), badComponentInstance) << "call " << i << " on " << u;
  }
  ComponentDescription d{};
  for (ComponentInstance u : madeUp) {
    EXPECT_EQ(GetComponentInstanceStorage(u), nullptr);
    EXPECT_EQ(GetComponentInfo(u, &d), paramErr);
    EXPECT_EQ(QelvoGetInstanceComponent(u), nullptr);
  }
  ComponentParameters block{};
  EXPECT_EQ(QelvoCallComponentEntry(closed, &block), badComponentInstance);
}

// ---- the host calls' argument blocks ----------------------------------------------------------

void Listener(void* refCon, AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element) {
  auto* seen = static_cast<std::vector<std::tuple<AudioUnit, UInt32, UInt32, UInt32>>*>(refCon);
  seen->emplace_back(unit, id, scope, element);
}
OSStatus Notify(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32, AudioBufferList*) {
  return noErr;
}

TEST_F(ComponentLoader, HostCallsPackTheirArgumentsLastFirstInEightByteWords) {
  OpenInstance unit("QelvoProbe");
  ASSERT_EQ(unit.status(), noErr);
  const ComponentInstance u = unit.get();
  UInt32 size = 0;
  Boolean writable = false;
  Float32 value = 0;
  Byte data[4] = {1, 2, 3, 4};
  AudioUnitRenderActionFlags flags = 0;
  AudioTimeStamp stamp{};
  AudioBufferList list{};
  AudioUnitParameterEvent events[2] = {};
  void* const ref = &size;
  const auto P = [](const void* p) { return reinterpret_cast<intptr_t>(p); };
  const auto F = [](auto f) { return reinterpret_cast<intptr_t>(f); };

  const struct {
    std::function<void()> call;
    SInt16 what;
    std::vector<intptr_t> words;
  } cases[] = {
      {[&] { AudioUnitInitialize(u); }, 1, {}},
      {[&] { AudioUnitUninitialize(u); }, 2, {}},
      {[&] { AudioUnitGetPropertyInfo(u, 8, 2, 3, &size, &writable); }, 3, {P(&writable), P(&size), 3, 2, 8}},
      {[&] { AudioUnitSetProperty(u, 64010, 1, 0xFFFFFFFF, data, 4); }, 5, {4, P(data), 0xFFFFFFFF, 1, 64010}},
      {[&] { AudioUnitGetParameter(u, 2, 0, 7, &value); }, 6, {P(&value), 7, 0, 2}},
      // Floats travel as their bit pattern in the low half, the high half zero.
      {[&] { AudioUnitSetParameter(u, 1, 0, 0, 0.1f, 33); }, 7, {33, 0x3DCCCCCD, 0, 0, 1}},
      {[&] { AudioUnitSetParameter(u, 0, 0, 0, -2.5f, 0); }, 7, {0, 0xC0200000, 0, 0, 0}},
      {[&] { AudioUnitReset(u, 1, 5); }, 9, {5, 1}},
      {[&] { AudioUnitAddPropertyListener(u, 30, &Listener, ref); }, 10, {P(ref), F(&Listener), 30}},
      {[&] { AudioUnitRemovePropertyListener(u, 30, &Listener); }, 11, {F(&Listener), 30}},
      {[&] { AudioUnitRender(u, &flags, &stamp, 1, 512, &list); }, 14, {P(&list), 512, 1, P(&stamp), P(&flags)}},
      {[&] { AudioUnitAddRenderNotify(u, &Notify, ref); }, 15, {P(ref), F(&Notify)}},
      {[&] { AudioUnitRemoveRenderNotify(u, &Notify, ref); }, 16, {P(ref), F(&Notify)}},
      {[&] { AudioUnitScheduleParameters(u, events, 2); }, 17, {2, P(events)}},
      {[&] { AudioUnitRemovePropertyListenerWithUserData(u, 30, &Listener, ref); }, 18, {P(ref), F(&Listener), 30}},
      // A 16-bit selector asked about is sign-extended: -2 + 4 taken as unsigned is 2.
      {[&] { ComponentFunctionImplemented(u, kComponentCloseSelect); }, -3, {-2}},
      {[&] { GetComponentVersion(u); }, -4, {}},
  };
  for (const auto& c : cases) {
    c.call();
    const ProbeCall last = ProbeValue<ProbeCall>(u, kProbeProperty_LastCall);
    EXPECT_EQ(last.what, c.what);
    EXPECT_EQ(last.flags, 0);
    ASSERT_EQ(last.paramSize, 8 * c.words.size()) << "selector " << c.what;
    EXPECT_EQ(std::vector<intptr_t>(last.words, last.words + c.words.size()), c.words) << "selector " << c.what;
  }
  EXPECT_EQ(ComponentFunctionImplemented(u, kComponentCloseSelect), 1);
  EXPECT_EQ(ComponentFunctionImplemented(u, 12), 0);
}

TEST_F(ComponentLoader, ValuesRoundTripThroughTheUnitBitForBit) {
  OpenInstance unit("QelvoProbe");
  ASSERT_EQ(unit.status(), noErr);
  const ComponentInstance u = unit.get();
  for (UInt32 bits : {0x3DCCCCCDu, 0x80000000u, 0x00000001u, 0x7FC01234u, 0xFF800000u, 0x4479C000u}) {
    EXPECT_EQ(AudioUnitSetParameter(u, 2, 0, 0, std::bit_cast<Float32>(bits), 0), noErr);
    Float32 read = 0;
    EXPECT_EQ(AudioUnitGetParameter(u, 2, 0, 0, &read), noErr);
    EXPECT_EQ(std::bit_cast<UInt32>(read), bits);
  }

  std::vector<std::tuple<AudioUnit, UInt32, UInt32, UInt32>> seen;
  ASSERT_EQ(AudioUnitAddPropertyListener(u, 64010, &Listener, &seen), noErr);
  const Byte bytes[6] = {9, 8, 7, 6, 5, 4};
  ASSERT_EQ(AudioUnitSetProperty(u, 64010, kAudioUnitScope_Output, 3, bytes, sizeof bytes), noErr);
  EXPECT_EQ(seen, (std::vector<std::tuple<AudioUnit, UInt32, UInt32, UInt32>>{{u, 64010, 2, 3}}));

  UInt32 size = 0;
  Boolean writable = false;
  EXPECT_EQ(AudioUnitGetPropertyInfo(u, 64010, kAudioUnitScope_Output, 3, &size, &writable), noErr);
  EXPECT_EQ(size, 6u);
  EXPECT_TRUE(writable);
  Byte read[8] = {};
  size = sizeof read;
  EXPECT_EQ(AudioUnitGetProperty(u, 64010, kAudioUnitScope_Output, 3, read, &size), noErr);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(std::memcmp(read, bytes, 6), 0);
  EXPECT_EQ(AudioUnitGetProperty(u, 64010, kAudioUnitScope_Input, 3, read, &size), kAudioUnitErr_InvalidProperty);

  ASSERT_EQ(AudioUnitRemovePropertyListenerWithUserData(u, 64010, &Listener, &seen), noErr);
  ASSERT_EQ(AudioUnitSetProperty(u, 64010, kAudioUnitScope_Output, 3, bytes, sizeof bytes), noErr);
  EXPECT_EQ(seen.size(), 1u);
}

// ---- what a unit sees of the platform ---------------------------------------------------------

TEST_F(ComponentLoader, AUnitFindsItsStorageDescriptionAndLoadedBundle) {
  const CFRef<CFStringRef> identifier = Str("org.qelvo.audiounit.QelvoProbe");
  EXPECT_EQ(CFBundleGetBundleWithIdentifier(identifier.get()), nullptr);
  OpenInstance unit("QelvoProbe");
  ASSERT_EQ(unit.status(), noErr);

  const ProbeIdentity id = ProbeValue<ProbeIdentity>(unit.get(), kProbeProperty_Identity);
  EXPECT_EQ(id.instance, unit.get());
  EXPECT_EQ(id.storageSeen, id.storage);
  EXPECT_EQ(GetComponentInstanceStorage(unit.get()), id.storage);
  EXPECT_EQ(id.infoStatus, noErr);
  EXPECT_EQ(id.description.componentType, FourCC("aufx"));
  EXPECT_EQ(id.description.componentSubType, FourCC("Qprb"));
  EXPECT_EQ(id.description.componentManufacturer, FourCC("Qlvo"));
  EXPECT_EQ(id.description.componentFlags, 0u);
  EXPECT_EQ(id.description.componentFlagsMask, 0u);
  EXPECT_EQ(fs::path(id.editorViewPath), fs::canonical(kProbeBundle) / "Resources" / "EditorViewFactory.bundle");

  const CFBundleRef bundle = CFBundleGetBundleWithIdentifier(identifier.get());
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(bundle, QelvoGetComponentBundle(QelvoGetInstanceComponent(unit.get())));
  EXPECT_TRUE(CFEqual(CFBundleGetIdentifier(bundle), identifier.get()));
  unit.Close();
  EXPECT_EQ(CFBundleGetBundleWithIdentifier(identifier.get()), nullptr);
}

TEST_F(ComponentLoader, UnitsConnectedToEachOtherCallThroughTheLoader) {
  OpenInstance source("QelvoProbe"), sink("QelvoProbe");
  ASSERT_EQ(source.status(), noErr);
  ASSERT_EQ(sink.status(), noErr);
  ASSERT_EQ(AudioUnitSetParameter(source.get(), 0, 0, 0, 0.5f, 0), noErr);
  ASSERT_EQ(AudioUnitSetParameter(sink.get(), 0, 0, 0, 3.0f, 0), noErr);
  const ComponentInstance from = source.get();
  ASSERT_EQ(AudioUnitSetProperty(sink.get(), kProbeProperty_Source, 0, 0, &from, sizeof from), noErr);

  // Two buffers with null data: the units supply their own memory.
  alignas(AudioBufferList) Byte storage[AudioBufferListSize(2)] = {};
  auto* list = reinterpret_cast<AudioBufferList*>(storage);
  list->mNumberBuffers = 2;
  AudioUnitRenderActionFlags flags = 0;
  AudioTimeStamp stamp{};
  ASSERT_EQ(AudioUnitRender(sink.get(), &flags, &stamp, 0, 16, list), noErr);
  for (UInt32 b = 0; b < 2; ++b) {
    const AudioBuffer& buffer = list->mBuffers[b];
    ASSERT_NE(buffer.mData, nullptr);
    EXPECT_EQ(buffer.mDataByteSize, 64u);
    const auto* samples = static_cast<const Float32*>(buffer.mData);
    EXPECT_EQ(std::vector<Float32>(samples, samples + 16), std::vector<Float32>(16, 1.5f)) << "buffer " << b;
  }
  EXPECT_EQ(ProbeValue<ProbeCounters>(source.get(), kProbeProperty_Counters).render, 1u);

  // The source goes away: the sink's pull answers a status, not a crash.
  EXPECT_EQ(source.Close(), noErr);
  EXPECT_EQ(AudioUnitRender(sink.get(), &flags, &stamp, 0, 16, list), badComponentInstance);
}

TEST_F(ComponentLoader, AFakeTableTakesOverTheSeamAndTheLoaderComesBack) {
  EXPECT_EQ(GetAudioUnitHostOps(), QelvoComponentLoaderHostOps());
  OpenInstance unit("QelvoProbe");
  ASSERT_EQ(unit.status(), noErr);
  void* const storage = GetComponentInstanceStorage(unit.get());
  ASSERT_NE(storage, nullptr);

  static int fakeStorage;
  AudioUnitHostOps fake{};
  fake.getInstanceStorage = [](ComponentInstance) -> void* { return &fakeStorage; };
  const AudioUnitHostOps* previous = SetAudioUnitHostOps(&fake);
  EXPECT_EQ(GetComponentInstanceStorage(unit.get()), &fakeStorage);
  UInt32 size = 4;
  Float32 value = 0;
  EXPECT_EQ(AudioUnitGetProperty(unit.get(), 64010, 0, 0, &value, &size), paramErr);
  SetAudioUnitHostOps(previous);
  EXPECT_EQ(GetComponentInstanceStorage(unit.get()), storage);
}

// ---- bundle values --------------------------------------------------------------------------

TEST_F(ComponentLoader, BundleValuesAreOnePerDirectoryAndLoadedOnlyWhileUsed) {
  const CFRef<CFStringRef> path = Str(kProbeBundle.c_str());
  const CFRef<CFURLRef> url =
      CFRef<CFURLRef>::Adopt(CFURLCreateWithFileSystemPath(nullptr, path.get(), kCFURLPOSIXPathStyle, true));
  const CFBundleRef bundle = CFBundleCreate(nullptr, url.get());
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(CFGetTypeID(bundle), CFBundleGetTypeID());
  EXPECT_EQ(CFBundleCreate(nullptr, url.get()), bundle);
  EXPECT_EQ(QelvoGetComponentBundle(QelvoFindComponent("QelvoProbe")), bundle);
  CFRelease(bundle);  // lives on regardless
  EXPECT_EQ(CFGetRetainCount(bundle), std::numeric_limits<CFIndex>::max());

  const CFRef<CFURLRef> bundleURL = CFRef<CFURLRef>::Adopt(CFBundleCopyBundleURL(bundle));
  EXPECT_EQ(PathOf(bundleURL.get()), fs::canonical(kProbeBundle).string());
  EXPECT_TRUE(CFURLHasDirectoryPath(bundleURL.get()));
  const CFRef<CFURLRef> resources = CFRef<CFURLRef>::Adopt(CFBundleCopyResourcesDirectoryURL(bundle));
  EXPECT_EQ(PathOf(resources.get()), (fs::canonical(kProbeBundle) / "Resources").string());

  const CFRef<CFStringRef> identifier = Str("org.qelvo.audiounit.QelvoProbe");
  EXPECT_FALSE(CFBundleIsExecutableLoaded(bundle));
  EXPECT_EQ(CFBundleGetBundleWithIdentifier(identifier.get()), nullptr);
  ASSERT_TRUE(CFBundleLoadExecutable(bundle));
  ASSERT_TRUE(CFBundleLoadExecutable(bundle));  // once is enough
  EXPECT_EQ(CFBundleGetBundleWithIdentifier(identifier.get()), bundle);
  {
    OpenInstance unit("QelvoProbe");
    ASSERT_EQ(unit.status(), noErr);
  }
  EXPECT_EQ(CFBundleGetBundleWithIdentifier(identifier.get()), bundle);
  CFBundleUnloadExecutable(bundle);
  EXPECT_EQ(CFBundleGetBundleWithIdentifier(identifier.get()), nullptr);
  EXPECT_FALSE(ObjectLoaded(kProbeObject));
  EXPECT_EQ(CFBundleGetBundleWithIdentifier(nullptr), nullptr);
  EXPECT_EQ(CFBundleGetBundleWithIdentifier(Str("org.qelvo.audiounit.Nothing").get()), nullptr);

  // Not a bundle: null, with the reason kept.
  const CFRef<CFStringRef> tempPath = Str(temp.path().c_str());
  const CFRef<CFURLRef> tempURL =
      CFRef<CFURLRef>::Adopt(CFURLCreateWithFileSystemPath(nullptr, tempPath.get(), kCFURLPOSIXPathStyle, true));
  EXPECT_EQ(CFBundleCreate(nullptr, tempURL.get()), nullptr);
  EXPECT_NE(QelvoComponentLoaderLastError().find("Manifest.txt"), std::string::npos);
  EXPECT_EQ(CFBundleCreate(nullptr, nullptr), nullptr);
  EXPECT_EQ(CFBundleGetIdentifier(nullptr), nullptr);
  EXPECT_EQ(CFBundleGetIdentifier(reinterpret_cast<CFBundleRef>(const_cast<CFStringObject*>(path.get()))), nullptr);
}

TEST_F(ComponentLoader, ResourceURLsStayInsideTheResourcesFolder) {
  const fs::path bundlePath = MakeBundle(temp.path(), "Res", ManifestText("org.t.res"));
  WriteFile(bundlePath / "Resources" / "Deep" / "Er" / "notes.txt", "x");
  const CFRef<CFStringRef> path = Str(bundlePath.c_str());
  const CFRef<CFURLRef> url =
      CFRef<CFURLRef>::Adopt(CFURLCreateWithFileSystemPath(nullptr, path.get(), kCFURLPOSIXPathStyle, true));
  const CFBundleRef bundle = CFBundleCreate(nullptr, url.get());
  ASSERT_NE(bundle, nullptr);
  const std::string resources = (fs::canonical(bundlePath) / "Resources").string();

  const struct {
    const char* name;
    const char* type;
    const char* subdir;
    const char* found;  // relative to Resources; null: none
    bool directory;
  } cases[] = {
      {"EditorViewFactory", "bundle", nullptr, "EditorViewFactory.bundle", true},
      {"EditorViewFactory", ".bundle", nullptr, "EditorViewFactory.bundle", true},
      {"EditorViewFactory.bundle", nullptr, nullptr, "EditorViewFactory.bundle", true},
      {"README", nullptr, "EditorViewFactory.bundle", "EditorViewFactory.bundle/README", false},
      {"README", "", "EditorViewFactory.bundle/", "EditorViewFactory.bundle/README", false},
      {"notes", "txt", "Deep/Er", "Deep/Er/notes.txt", false},
      {"EditorViewFactory", "plugin", nullptr, nullptr, false},
      {"README", nullptr, nullptr, nullptr, false},
      {"README", nullptr, "/EditorViewFactory.bundle", nullptr, false},
      {"Manifest", "txt", "..", nullptr, false},
      {"Manifest", "txt", "Deep/../..", nullptr, false},
      {"EditorViewFactory.bundle/README", nullptr, nullptr, nullptr, false},
      {"..", nullptr, nullptr, nullptr, false},
      {"README", "/x", nullptr, nullptr, false},
  };
  for (const auto& c : cases) {
    const CFRef<CFStringRef> name = Str(c.name);
    const CFRef<CFStringRef> type = c.type != nullptr ? Str(c.type) : nullptr;
    const CFRef<CFStringRef> subdir = c.subdir != nullptr ? Str(c.subdir) : nullptr;
    const CFRef<CFURLRef> found =
        CFRef<CFURLRef>::Adopt(CFBundleCopyResourceURL(bundle, name.get(), type.get(), subdir.get()));
    if (c.found == nullptr) {
      EXPECT_FALSE(found) << c.name << " in " << (c.subdir ? c.subdir : "-");
      continue;
    }
    ASSERT_TRUE(found) << c.name;
    EXPECT_EQ(PathOf(found.get()), resources + "/" + c.found);
    EXPECT_EQ(bool(CFURLHasDirectoryPath(found.get())), c.directory) << c.name;
  }
  EXPECT_EQ(CFBundleCopyResourceURL(bundle, nullptr, Str("bundle").get(), nullptr), nullptr);
  EXPECT_EQ(CFBundleCopyResourceURL(nullptr, Str("README").get(), nullptr, nullptr), nullptr);
}

// ---- the built bundle -------------------------------------------------------------------------

// Defined symbols of a shared object's dynamic symbol table.
std::set<std::string> ExportedSymbols(const fs::path& object) {
  std::ifstream file(object, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::set<std::string> names;
  if (bytes.size() < sizeof(Elf64_Ehdr)) return names;
  Elf64_Ehdr header;
  std::memcpy(&header, bytes.data(), sizeof header);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) return names;
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  if (header.e_shoff + sections.size() * sizeof(Elf64_Shdr) > bytes.size()) return names;
  std::memcpy(sections.data(), bytes.data() + header.e_shoff, sections.size() * sizeof(Elf64_Shdr));
  for (const Elf64_Shdr& s : sections) {
    if (s.sh_type != SHT_DYNSYM || s.sh_link >= sections.size()) continue;
    const Elf64_Shdr& strings = sections[s.sh_link];
    for (size_t off = s.sh_offset; off + sizeof(Elf64_Sym) <= s.sh_offset + s.sh_size; off += sizeof(Elf64_Sym)) {
      Elf64_Sym sym;
      std::memcpy(&sym, bytes.data() + off, sizeof sym);
      if (sym.st_shndx != SHN_UNDEF && sym.st_name != 0 && ELF64_ST_BIND(sym.st_info) != STB_LOCAL)
        names.insert(bytes.data() + strings.sh_offset + sym.st_name);
    }
  }
  return names;
}

TEST(BuiltBundle, ExportsOnlyItsEntryAndCarriesItsManifestAndResources) {
  EXPECT_EQ(ExportedSymbols(kProbeObject), std::set<std::string>{"FilterEntry"});
  BundleManifest manifest;
  std::string error;
  ASSERT_TRUE(ReadBundleManifest(kProbeBundle.string(), "QelvoProbe", manifest, error)) << error;
  EXPECT_EQ(manifest.identifier, "org.qelvo.audiounit.QelvoProbe");
  EXPECT_EQ(manifest.name, "Qelvo Probe");
  EXPECT_EQ(manifest.type, FourCC("aufx"));
  EXPECT_EQ(manifest.subtype, FourCC("Qprb"));
  EXPECT_EQ(manifest.manufacturer, FourCC("Qlvo"));
  EXPECT_EQ(manifest.version, 0x00010203u);
  EXPECT_EQ(manifest.executable, "QelvoProbe.so");
  EXPECT_EQ(manifest.entry, "FilterEntry");
  EXPECT_TRUE(fs::is_regular_file(kProbeBundle / "Resources" / "EditorViewFactory.bundle" / "README"));
}

// ---- unloading and notifications --------------------------------------------------------------

std::atomic<int> gTestObserverCalls{0};
void TestObserver(CFNotificationCenterRef, void*, CFStringRef, const void*, CFDictionaryRef) { ++gTestObserverCalls; }

template <class Predicate>
bool WaitFor(Predicate done) {
  for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

TEST_F(ComponentLoader, UnloadingTakesTheUnitsNotificationObserverBack) {
  PrivateBus bus;
  CFNotificationCenterRef center = CFNotificationCenterGetDistributedCenter();
  const CFRef<CFStringRef> name = Str(kProbeNotificationName);
  {
    OpenInstance unit("QelvoProbe");
    ASSERT_EQ(unit.status(), noErr);
    const Byte any = 1;
    ASSERT_EQ(AudioUnitSetProperty(unit.get(), kProbeProperty_Listen, 0, 0, &any, 1), noErr);
    CFNotificationCenterPostNotification(center, name.get(), nullptr, nullptr, true);
    EXPECT_TRUE(WaitFor([&] { return ProbeValue<ProbeCounters>(unit.get(), kProbeProperty_Counters).notifications == 1; }));
  }
  ASSERT_FALSE(ObjectLoaded(kProbeObject));

  // Observers are called in registration order: once this later one has
  // seen the post, a stale registration of the unloaded unit would have been
  // called (into unmapped code) before it.
  CFNotificationCenterAddObserver(center, &gTestObserverCalls, TestObserver, name.get(), nullptr,
                                  CFNotificationSuspensionBehaviorDeliverImmediately);
  CFNotificationCenterPostNotification(center, name.get(), nullptr, nullptr, true);
  EXPECT_TRUE(WaitFor([] { return gTestObserverCalls == 1; }));
  CFNotificationCenterRemoveEveryObserver(center, &gTestObserverCalls);
}

}  // namespace

// An LV2 plug-in that cannot start says why: through the host's log when it
// offers one, else on stderr, and answers the null instance. An installed
// bundle runs the native unit it carries.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "lv2/Lv2Ports.h"
#include "support/Lv2Controls.h"
#include "platform/ComponentLoader.h"
#include "support/FloatWav.h"
#include "support/Lv2TestFeatures.h"

namespace {

namespace fs = std::filesystem;

const fs::path kWrapper = fs::path(QELVO_LV2_BUILD_DIR) / "AUQelvoBS7.lv2" / "AUQelvoBS7.so";
const fs::path kNativeBundle = fs::path(QELVO_PLUGIN_BUILD_DIR) / "AUQelvoBS7.bundle";
constexpr const char* kUri = "https://qelvo.org/plugins/AUQelvoBS7";

enum class Unit { kNone, kCarried, kBroken };
enum class Host { kNoFeatures, kLogAndMap, kMapOnly };
enum class Outcome { kStarts, kNull };

class Lv2Start : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qelvo-lv2-start-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    temp_ = pattern;
    // Nothing on the search path: only a unit a bundle carries can be found.
    fs::create_directories(temp_ / "empty");
    setenv(kQelvoPluginPathVariable, (temp_ / "empty").c_str(), 1);
    setenv(kQelvoPluginPathOnlyVariable, "1", 1);
    QelvoRescanComponents();
    library_ = dlopen(kWrapper.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    auto entry = reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(dlsym(library_, "lv2_descriptor"));
    ASSERT_NE(entry, nullptr);
    descriptor_ = entry(0);
    ASSERT_STREQ(descriptor_->URI, kUri);
  }
  void TearDown() override {
    unsetenv(kQelvoPluginPathVariable);
    unsetenv(kQelvoPluginPathOnlyVariable);
    QelvoRescanComponents();
    if (library_ != nullptr) dlclose(library_);
    fs::remove_all(temp_);
  }

  // A new LV2 bundle folder (the runtime keeps what it read of a folder),
  // carrying the native unit or a broken copy of it.
  std::string Bundle(Unit unit) {
    const fs::path bundle = temp_ / std::to_string(++bundles_) / "AUQelvoBS7.lv2";
    fs::create_directories(bundle);
    if (unit != Unit::kNone) fs::copy(kNativeBundle, bundle / "AUQelvoBS7.bundle", fs::copy_options::recursive);
    if (unit == Unit::kBroken) fs::remove(bundle / "AUQelvoBS7.bundle" / "Manifest.txt");
    return bundle.string() + "/";
  }

  // Renders one block of a constant input; answers whether any output sample is not zero.
  bool Sounds(LV2_Handle instance) {
    Lv2Controls controls = Lv2ControlValues(1, 1);
    std::vector<float> in(256, 0.5f), out[2] = {std::vector<float>(256, 7.0f), std::vector<float>(256, 7.0f)};
    for (uint32_t p = 0; p < kLv2ControlPortCount; ++p) descriptor_->connect_port(instance, p, &controls[p]);
    for (uint32_t c = 0; c < 2; ++c) {
      descriptor_->connect_port(instance, Lv2AudioIn(c), in.data());
      descriptor_->connect_port(instance, Lv2AudioOut(2, c), out[c].data());
    }
    descriptor_->activate(instance);
    descriptor_->run(instance, 256);
    bool sounds = false;
    for (const auto& channel : out)
      for (float v : channel) sounds |= v != 0.0f;
    if (!sounds) {
      for (uint32_t p = kLv2PortMode; p < kLv2ControlPortCount; ++p)
        EXPECT_EQ(controls[p], 0.0f) << "a silent placeholder shows meters at zero";
    }
    return sounds;
  }

  fs::path temp_;
  int bundles_ = 0;
  void* library_ = nullptr;
  const LV2_Descriptor* descriptor_ = nullptr;
};

struct Case {
  const char* what;
  Unit unit;
  Host host;
  double rate;
  Outcome outcome;
  const char* message;  // what the reason says, empty when there is none
};

TEST_F(Lv2Start, SaysWhyItCannotStartAndAnswersWhatTheHostSurvives) {
  const Case cases[] = {
      {"carried unit", Unit::kCarried, Host::kLogAndMap, 48000, Outcome::kStarts, ""},
      {"carried unit, no features", Unit::kCarried, Host::kNoFeatures, 48000, Outcome::kStarts, ""},
      {"no unit, log", Unit::kNone, Host::kLogAndMap, 48000, Outcome::kNull,
       "AUQelvoBS7 (LV2): cannot start: no native unit AUQelvoBS7.bundle in "},
      {"no unit, map only", Unit::kNone, Host::kMapOnly, 48000, Outcome::kNull, "cannot start: no native unit"},
      {"no unit, no features", Unit::kNone, Host::kNoFeatures, 48000, Outcome::kNull,
       "cannot start: no native unit"},
      {"broken unit", Unit::kBroken, Host::kLogAndMap, 48000, Outcome::kNull,
       "cannot start: unreadable native unit: "},
      {"zero rate", Unit::kCarried, Host::kLogAndMap, 0, Outcome::kNull, "cannot start: unusable sample rate 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bundle = Bundle(c.unit);
    TestUridMap map;
    TestLog log;
    const LV2_Feature mapFeature{LV2_URID__map, map.feature()}, logFeature{LV2_LOG__log, log.feature()};
    std::vector<const LV2_Feature*> features;
    if (c.host != Host::kNoFeatures) features.push_back(&mapFeature);
    if (c.host == Host::kLogAndMap) features.push_back(&logFeature);
    features.push_back(nullptr);

    testing::internal::CaptureStderr();
    LV2_Handle instance = descriptor_->instantiate(descriptor_, c.rate, bundle.c_str(), features.data());
    const std::string stderrText = testing::internal::GetCapturedStderr();
    const std::string logText = log.lines.empty() ? "" : log.lines[0].text;
    const std::string& said = c.host == Host::kLogAndMap ? logText : stderrText;

    if (c.outcome == Outcome::kNull) {
      EXPECT_EQ(instance, nullptr);
    } else {
      ASSERT_NE(instance, nullptr);
      EXPECT_TRUE(Sounds(instance));
      descriptor_->cleanup(instance);
    }
    if (c.message[0] == '\0') {
      EXPECT_EQ(stderrText + logText, "");
    } else {
      EXPECT_NE(said.find(c.message), std::string::npos) << said;
      if (c.host == Host::kLogAndMap) {
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_EQ(log.lines[0].type, map.Map(LV2_LOG__Error));
        EXPECT_EQ(stderrText, "") << "a host's log takes the message";
      }
    }
    if (c.unit == Unit::kNone && c.outcome != Outcome::kStarts) {
      // The reason names where the unit was looked for.
      EXPECT_NE(said.find(bundle + "AUQelvoBS7.bundle"), std::string::npos) << said;
      EXPECT_NE(said.find((temp_ / "empty").string()), std::string::npos) << said;
    }
  }
}

// Debian 12's lv2apply offers no features and uses a null instance without
// checking it: it cannot survive a failed start, but the reason must be out
// before it dies, and it must not end as if it had rendered.
TEST_F(Lv2Start, Lv2applyHearsWhyBeforeItFails) {
  if (std::string(QELVO_LV2APPLY).empty()) GTEST_SKIP() << "lv2apply not installed";
  if (QELVO_INSTRUMENTED) GTEST_SKIP() << "an uninstrumented host cannot load a sanitizer build of the plug-in";
  const std::string in = (temp_ / "in.wav").string(), out = (temp_ / "out.wav").string();
  const std::string err = (temp_ / "err.txt").string();
  WriteFloatWav(in, std::vector<float>(2 * 4800, 0.25f), 2, 48000);
  const std::string command = std::string("LV2_PATH=") + QELVO_LV2_BUILD_DIR + " " + QELVO_LV2APPLY + " -i " + in +
                              " -o " + out + " " + kUri + " 2>" + err;
  const int status = std::system(command.c_str());
  EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a failed start ended as a render";
  std::ifstream said(err);
  const std::string text((std::istreambuf_iterator<char>(said)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("AUQelvoBS7 (LV2): cannot start: no native unit"), std::string::npos) << text;
}

}  // namespace

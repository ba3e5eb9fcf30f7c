// Parameter values that are not numbers the audio path can use: NaN and the
// infinities, through a parameter write, a scheduled event and a restored
// saved state. Each is refused with kAudioUnitErr_InvalidPropertyValue and
// changes nothing; finite values outside the declared range stay accepted.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "framework/AUFastDispatch.h"
#include "support/ParameterEvents.h"
#include "support/SavedStateSupport.h"
#include "support/TestEffect.h"

using namespace saved_state_test;

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kNaNPayload = std::bit_cast<float>(0x7FC01234u);

float Param(AUBase& unit, AudioUnitParameterID id) {
  AudioUnitParameterValue value = -1.0f;
  EXPECT_EQ(unit.GetParameter(id, kAudioUnitScope_Global, 0, value), noErr);
  return value;
}

void ExpectDefaults(AUBase& unit, const std::string& what) {
  EXPECT_EQ(Param(unit, kParam_CutoffFrequency), kDefaultCutoff) << what;
  EXPECT_EQ(Param(unit, kParam_Resonance), kDefaultResonance) << what;
  EXPECT_EQ(Param(unit, kParam_Gain), kDefaultValue_Gain) << what;
  EXPECT_EQ(unit.Globals()->GetNumberOfParameters(), 3u) << what << ": a parameter was created";
}

// ---- parameter writes and scheduled events ------------------------------------

struct WriteCase {
  const char* name;
  std::vector<AudioUnitParameterEvent> events;  // empty: a plain write of `value` to `id`
  AudioUnitParameterID id;
  float value;
};

class EdgeParameterWrites : public ::testing::TestWithParam<WriteCase> {};

TEST_P(EdgeParameterWrites, ANonFiniteValueIsRefusedAndChangesNothing) {
  const WriteCase& c = GetParam();
  TestEffectPtr fx = OpenTestEffect();
  if (c.events.empty()) {
    EXPECT_EQ(fx->SetParameter(c.id, kAudioUnitScope_Global, 0, c.value, 0), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(AudioUnitBaseSetParameter(fx.get(), c.id, kAudioUnitScope_Global, 0, c.value, 0),
              kAudioUnitErr_InvalidPropertyValue)
        << "the fast path";
  } else {
    EXPECT_EQ(fx->ScheduleParameter(c.events.data(), static_cast<UInt32>(c.events.size())),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_TRUE(fx->GetParamEventList().empty()) << c.name << ": events of a refused batch were kept";
  }
  ExpectDefaults(*fx, c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Values, EdgeParameterWrites,
    ::testing::Values(WriteCase{"GainNaN", {}, kParam_Gain, kNaN},
                      WriteCase{"CutoffPlusInfinity", {}, kParam_CutoffFrequency, kInf},
                      WriteCase{"ResonanceMinusInfinity", {}, kParam_Resonance, -kInf},
                      WriteCase{"NewIdNaNPayload", {}, 7, kNaNPayload},
                      WriteCase{"ImmediateNaN", {ImmediateEvent(kParam_Gain, 0, kNaN)}, 0, 0},
                      // The good event before the bad one is not applied either.
                      WriteCase{"RampEndInfinityAfterAGoodEvent",
                                {ImmediateEvent(kParam_CutoffFrequency, 0, 500.0f),
                                 RampEvent(kParam_Resonance, 0, 64, 0.0f, kInf)},
                                0,
                                0},
                      WriteCase{"RampStartNaN", {RampEvent(kParam_CutoffFrequency, 0, 64, kNaN, 100.0f)}, 0, 0},
                      WriteCase{"NewIdRampMinusInfinity", {RampEvent(9, 0, 64, -kInf, 1.0f)}, 0, 0}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

// Hosts may set values beyond the declared range; the kernels hold cutoff and
// resonance within their limits, so such values stay accepted.
TEST(EdgeParameterWrites, FiniteValuesBeyondTheDeclaredRangeAreStillAccepted) {
  TestEffectPtr fx = OpenTestEffect();
  for (float value : {1e30f, -1e30f, std::numeric_limits<float>::max(), std::numeric_limits<float>::denorm_min()}) {
    EXPECT_EQ(fx->SetParameter(kParam_Gain, kAudioUnitScope_Global, 0, value, 0), noErr) << value;
    EXPECT_EQ(Param(*fx, kParam_Gain), value);
  }
}

// ---- saved state --------------------------------------------------------------------

struct StateCase {
  const char* name;
  float value;
  bool inSecondChunk;  // the global chunk is fine; the bad value sits in output 0's
};

class EdgeParameterState : public ::testing::TestWithParam<StateCase> {
 protected:
  void SetUp() override { InstallTestComponentInfo(); }
};

TEST_P(EdgeParameterState, AStateHoldingANonFiniteValueIsRefusedWhole) {
  const StateCase& c = GetParam();
  TestEffectPtr fx = OpenTestEffect();
  const float bad = c.value;
  const std::vector<UInt8> global =
      c.inSecondChunk ? Words({0, 0, 3, kParam_CutoffFrequency, Bits(500.0f), kParam_Resonance, Bits(6.0f),
                               kParam_Gain, Bits(0.5f)})
                      : Words({0, 0, 3, kParam_CutoffFrequency, Bits(500.0f), kParam_Resonance, Bits(bad),
                               kParam_Gain, Bits(0.5f)});
  const std::vector<UInt8> output = Words({kAudioUnitScope_Output, 0, 1, 4, Bits(bad)});
  CFRef<CFMutableDictionaryRef> state = MinimalState();
  Set(state.get(), "data", Data(c.inSecondChunk ? Concat({global, output}) : global).get());
  Set(state.get(), "name", Str("Restored").get());

  CFPropertyListRef value = state.get();
  EXPECT_EQ(fx->DispatchSetProperty(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &value, sizeof value),
            kAudioUnitErr_InvalidPropertyValue);
  ExpectDefaults(*fx, c.name);
  EXPECT_EQ(fx->Outputs().GetElement(0)->GetNumberOfParameters(), 0u) << c.name;
  EXPECT_EQ(TextOf(fx->GetCurrentPreset().presetName), "Untitled") << c.name << ": the preset name was applied";
}

INSTANTIATE_TEST_SUITE_P(Values, EdgeParameterState,
                         ::testing::Values(StateCase{"NaN", kNaN, false}, StateCase{"PlusInfinity", kInf, false},
                                           StateCase{"MinusInfinityInALaterChunk", -kInf, true},
                                           StateCase{"NaNPayloadInALaterChunk", kNaNPayload, true}),
                         [](const ::testing::TestParamInfo<StateCase>& info) { return std::string(info.param.name); });

}  // namespace

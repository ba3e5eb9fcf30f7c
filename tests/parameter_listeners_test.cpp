#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/ParameterListeners.h"
#include "support/ProbeUnit.h"

namespace {

// A listener whose calls run a test's function and are recorded.
struct Recorder {
  struct Call {
    void* object;
    AudioUnitParameterID id;
    Float32 value;
  };
  Recorder() { EXPECT_EQ(QelvoParameterListenerCreate(&Heard, this, &listener), noErr); }
  ~Recorder() {
    if (listener != nullptr) QelvoParameterListenerDispose(listener);
  }
  static void Heard(void* refCon, void* object, const AudioUnitParameter* parameter, AudioUnitParameterValue value) {
    auto* self = static_cast<Recorder*>(refCon);
    self->calls.push_back({object, parameter->mParameterID, value});
    if (self->then) self->then();
  }

  AUParameterListenerRef listener = nullptr;
  std::vector<Call> calls;
  std::function<void()> then;
};

class ParameterListeners : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(unit_.status(), noErr); }
  AudioUnitParameter Param(AudioUnitParameterID id, AudioUnitScope scope = kAudioUnitScope_Global,
                           AudioUnitElement element = 0) const {
    return AudioUnitParameter{unit_.get(), id, scope, element};
  }
  ProbeUnit unit_;
  int objectA_ = 0;
  int objectB_ = 0;
};

}  // namespace

TEST_F(ParameterListeners, OnlyRegistrationsForTheSameParameterHear) {
  Recorder r;
  const AudioUnitParameter target = Param(1);
  const AudioUnitParameter others[] = {Param(2), Param(1, kAudioUnitScope_Input), Param(1, kAudioUnitScope_Global, 3),
                                       AudioUnitParameter{nullptr, 1, kAudioUnitScope_Global, 0}};
  ASSERT_EQ(QelvoParameterListenerAddParameter(r.listener, &objectA_, &target), noErr);
  ASSERT_EQ(QelvoParameterListenerAddParameter(r.listener, &objectA_, &target), noErr);  // once only
  for (const AudioUnitParameter& other : others)
    ASSERT_EQ(QelvoParameterListenerAddParameter(r.listener, &objectB_, &other), noErr);

  ASSERT_EQ(AUParameterSet(nullptr, nullptr, &target, 0.5f, 0), noErr);
  ASSERT_EQ(r.calls.size(), 1u);
  EXPECT_EQ(r.calls[0].object, &objectA_);
  EXPECT_EQ(r.calls[0].value, 0.5f);
  EXPECT_EQ(unit_.Parameter(1), 0.5f) << "the unit took the value";

  ASSERT_EQ(QelvoParameterListenerRemoveParameter(r.listener, &objectA_, &target), noErr);
  ASSERT_EQ(AUParameterSet(nullptr, nullptr, &target, 0.25f, 0), noErr);
  EXPECT_EQ(r.calls.size(), 1u);
}

TEST_F(ParameterListeners, TheSenderIsNotToldOfItsOwnChange) {
  Recorder first;
  Recorder second;
  const AudioUnitParameter p = Param(1);
  for (Recorder* r : {&first, &second})
    for (int* object : {&objectA_, &objectB_}) ASSERT_EQ(QelvoParameterListenerAddParameter(r->listener, object, &p), noErr);

  ASSERT_EQ(AUParameterSet(first.listener, &objectA_, &p, 1.0f, 0), noErr);
  ASSERT_EQ(first.calls.size(), 1u);
  EXPECT_EQ(first.calls[0].object, &objectB_);
  EXPECT_EQ(second.calls.size(), 2u);
}

TEST_F(ParameterListeners, RefusedSetsTellNobody) {
  Recorder r;
  const AudioUnitParameter noUnit{nullptr, 1, kAudioUnitScope_Global, 0};
  ASSERT_EQ(QelvoParameterListenerAddParameter(r.listener, nullptr, &noUnit), noErr);
  EXPECT_EQ(AUParameterSet(nullptr, nullptr, &noUnit, 1.0f, 0), paramErr);
  EXPECT_EQ(AUParameterSet(nullptr, nullptr, nullptr, 1.0f, 0), paramErr);
  EXPECT_TRUE(r.calls.empty());
}

TEST_F(ParameterListeners, CallbacksMayChangeRegistrationsAndSetParameters) {
  Recorder mirror;   // copies parameter 1 into parameter 2
  Recorder quitter;  // leaves at its first call and takes the late listener with it
  Recorder late;
  const AudioUnitParameter p1 = Param(1);
  const AudioUnitParameter p2 = Param(2);
  ASSERT_EQ(QelvoParameterListenerAddParameter(mirror.listener, nullptr, &p1), noErr);
  ASSERT_EQ(QelvoParameterListenerAddParameter(quitter.listener, nullptr, &p1), noErr);
  ASSERT_EQ(QelvoParameterListenerAddParameter(late.listener, nullptr, &p1), noErr);
  ASSERT_EQ(QelvoParameterListenerAddParameter(late.listener, nullptr, &p2), noErr);
  mirror.then = [&] { EXPECT_EQ(AUParameterSet(mirror.listener, nullptr, &p2, mirror.calls.back().value, 0), noErr); };
  quitter.then = [&] {
    EXPECT_EQ(QelvoParameterListenerRemoveParameter(late.listener, nullptr, &p1), noErr);
    EXPECT_EQ(QelvoParameterListenerDispose(quitter.listener), noErr);
    quitter.listener = nullptr;
  };

  ASSERT_EQ(AUParameterSet(nullptr, nullptr, &p1, 0.75f, 0), noErr);
  EXPECT_EQ(unit_.Parameter(2), 0.75f);
  ASSERT_EQ(late.calls.size(), 1u) << "told of the mirrored change, not of the one it left";
  EXPECT_EQ(late.calls[0].id, 2u);
  EXPECT_EQ(quitter.calls.size(), 1u);

  ASSERT_EQ(AUParameterSet(nullptr, nullptr, &p1, 0.5f, 0), noErr);
  EXPECT_EQ(quitter.calls.size(), 1u);
  EXPECT_EQ(mirror.calls.size(), 2u);
}

TEST_F(ParameterListeners, DisposedListenersAreUnknown) {
  AUParameterListenerRef listener = nullptr;
  ASSERT_EQ(QelvoParameterListenerCreate(&Recorder::Heard, nullptr, &listener), noErr);
  ASSERT_EQ(QelvoParameterListenerDispose(listener), noErr);
  const AudioUnitParameter p = Param(1);
  EXPECT_EQ(QelvoParameterListenerDispose(listener), paramErr);
  EXPECT_EQ(QelvoParameterListenerAddParameter(listener, nullptr, &p), paramErr);
}

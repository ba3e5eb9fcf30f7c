#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "framework/AUScopeElement.h"
#include "support/ParameterEvents.h"
#include "support/ThrownStatus.h"

namespace {

// Records every element it makes and every element destroyed, in order.
struct Log {
  std::vector<std::pair<AudioUnitScope, AudioUnitElement>> created;
  std::vector<AudioUnitElement> destroyed;
};

class LoggedElement : public AUElement {
 public:
  LoggedElement(Log& log, AudioUnitElement number) : AUElement(nullptr), mLog(log), mNumber(number) {}
  ~LoggedElement() override { mLog.destroyed.push_back(mNumber); }
  AudioUnitElement Number() const { return mNumber; }

 private:
  Log& mLog;
  AudioUnitElement mNumber;
};

class FakeCreator : public AUElementCreator {
 public:
  explicit FakeCreator(Log& log) : mLog(log) {}
  AUElement* CreateElement(AudioUnitScope scope, AudioUnitElement element) override {
    if (failAt >= 0 && element == static_cast<AudioUnitElement>(failAt)) throw OSStatus(-1234);
    mLog.created.emplace_back(scope, element);
    return new LoggedElement(mLog, element);
  }
  int failAt = -1;

 private:
  Log& mLog;
};

AudioUnitParameterEvent Ramp(SInt32 startOffset, UInt32 duration, float from, float to) {
  return RampEvent(0, startOffset, duration, from, to);
}

AudioUnitParameterEvent Immediate(UInt32 offset, float value) { return ImmediateEvent(0, offset, value); }

std::vector<AudioUnitParameterID> ListOf(const AUElement& element) {
  std::vector<AudioUnitParameterID> ids(element.GetNumberOfParameters());
  element.GetParameterList(ids.data());
  return ids;
}

}  // namespace

// ---- scopes -----------------------------------------------------------------

TEST(Scope, GrowsInAscendingOrderAndShrinksFromTheTop) {
  Log log;
  FakeCreator creator(log);
  {
    AUScope scope;
    EXPECT_EQ(scope.GetNumberOfElements(), 0u);
    EXPECT_EQ(scope.GetCreator(), nullptr);

    scope.Initialize(&creator, kAudioUnitScope_Input, 3);
    EXPECT_EQ(scope.GetCreator(), &creator);
    EXPECT_EQ(scope.GetScope(), kAudioUnitScope_Input);
    using Made = std::pair<AudioUnitScope, AudioUnitElement>;
    EXPECT_EQ(log.created, (std::vector<Made>{{1, 0}, {1, 1}, {1, 2}}));
    for (UInt32 i = 0; i < 3; ++i)
      EXPECT_EQ(static_cast<LoggedElement*>(scope.GetElement(i))->Number(), i);

    AUElement* first = scope.GetElement(0);
    first->SetParameter(5, 1.5f);
    scope.SetNumberOfElements(1);
    EXPECT_EQ(log.destroyed, (std::vector<AudioUnitElement>{2, 1}));
    // Survivors keep their identity and parameters.
    EXPECT_EQ(scope.GetElement(0), first);
    EXPECT_EQ(first->GetParameter(5), 1.5f);

    scope.SetNumberOfElements(1);  // same count: nothing happens
    EXPECT_EQ(log.created.size(), 3u);
    EXPECT_EQ(log.destroyed.size(), 2u);

    scope.SetNumberOfElements(2);  // new numbers continue from the current count
    EXPECT_EQ(log.created.back(), Made(1, 1));
    log.destroyed.clear();
  }
  // Destruction deletes the rest in index order.
  EXPECT_EQ(log.destroyed, (std::vector<AudioUnitElement>{0, 1}));
}

TEST(Scope, MissingElementLookups) {
  Log log;
  FakeCreator creator(log);
  AUScope scope;
  scope.Initialize(&creator, kAudioUnitScope_Global, 2);

  const UInt32 missing[] = {2, 3, 0xFFFFFFFFu};
  for (UInt32 index : missing) {
    SCOPED_TRACE(index);
    EXPECT_EQ(scope.GetElement(index), nullptr);
    EXPECT_EQ(ThrownStatus([&] { scope.SafeGetElement(index); }), kAudioUnitErr_InvalidElement);
  }
  EXPECT_EQ(scope.SafeGetElement(1), scope.GetElement(1));
}

TEST(Scope, FailingCreatorLeavesTheScopeAsFarAsItGrew) {
  Log log;
  FakeCreator creator(log);
  creator.failAt = 2;
  AUScope scope;
  EXPECT_EQ(ThrownStatus([&] { scope.Initialize(&creator, kAudioUnitScope_Output, 4); }), -1234);
  EXPECT_EQ(scope.GetNumberOfElements(), 2u);
  EXPECT_NE(scope.GetElement(1), nullptr);

  creator.failAt = -1;
  scope.SetNumberOfElements(4);
  EXPECT_EQ(scope.GetNumberOfElements(), 4u);
}

TEST(Scope, GrowingWithoutACreatorFailsCleanly) {
  AUScope scope;
  EXPECT_EQ(ThrownStatus([&] { scope.SetNumberOfElements(1); }), kAudioUnitErr_InvalidElement);
  EXPECT_EQ(scope.GetNumberOfElements(), 0u);
  scope.SetNumberOfElements(0);
}

// ---- parameter storage --------------------------------------------------------

TEST(ElementParameters, MapCreatesOnSetAndListsAscending) {
  AUElement element(nullptr);
  EXPECT_EQ(element.GetNumberOfParameters(), 0u);
  EXPECT_FALSE(element.UsesIndexedParameters());

  element.SetParameter(7, 0.5f);
  EXPECT_EQ(ListOf(element), (std::vector<AudioUnitParameterID>{7}));

  element.SetParameter(3, 1.0f);
  element.SetParameter(9, 2.0f);
  element.SetParameter(7, 4.0f);  // existing entry: updated, not added
  element.SetParameter(0xFFFFFFFFu, -1.0f);
  EXPECT_EQ(ListOf(element), (std::vector<AudioUnitParameterID>{3, 7, 9, 0xFFFFFFFFu}));
  EXPECT_EQ(element.GetParameter(3), 1.0f);
  EXPECT_EQ(element.GetParameter(7), 4.0f);
  EXPECT_EQ(element.GetParameter(9), 2.0f);
  EXPECT_EQ(element.GetParameter(0xFFFFFFFFu), -1.0f);
}

// Enough IDs, in a scrambled order, that every level of the map's index is
// used: each is found with its own value and the list stays ascending.
TEST(ElementParameters, ManyIdsInAnyOrderAreFoundAndListedAscending) {
  AUElement element(nullptr);
  std::vector<AudioUnitParameterID> ids;
  for (AudioUnitParameterID i = 0; i < 3000; ++i) ids.push_back((i * 2654435761u) ^ (i << 7));
  for (AudioUnitParameterID id : ids) element.SetParameter(id, static_cast<float>(id % 1000));
  std::vector<AudioUnitParameterID> sorted = ids;
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  EXPECT_EQ(ListOf(element), sorted);
  for (AudioUnitParameterID id : ids) ASSERT_EQ(element.GetParameter(id), static_cast<float>(id % 1000)) << id;
  EXPECT_FALSE(element.HasParameter(sorted.back() + 1));
}

TEST(ElementParameters, UnknownIdsThrowWithoutCreatingAnything) {
  AUElement element(nullptr);
  element.SetParameter(1, 1.0f);
  float a, b, c;
  const std::pair<const char*, std::function<void()>> reads[] = {
      {"GetParameter", [&] { element.GetParameter(2); }},
      {"GetParamEvent", [&] { element.GetParamEvent(2); }},
      {"GetRampSliceStartEnd", [&] { element.GetRampSliceStartEnd(2, a, b, c); }},
  };
  for (const auto& [name, op] : reads) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ThrownStatus(op), kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(element.GetNumberOfParameters(), 1u);
  }
}

TEST(ElementParameters, IndexedStorageIsFixedSize) {
  AUElement element(nullptr);
  element.SetParameter(2, 5.0f);   // map entries from before indexing
  element.SetParameter(10, 6.0f);  // are ignored afterwards
  element.UseIndexedParameters(4);
  EXPECT_TRUE(element.UsesIndexedParameters());
  EXPECT_EQ(ListOf(element), (std::vector<AudioUnitParameterID>{0, 1, 2, 3}));
  for (AudioUnitParameterID id = 0; id < 4; ++id) EXPECT_EQ(element.GetParameter(id), 0.0f);

  element.SetParameter(3, 0.75f);
  EXPECT_EQ(element.GetParameter(3), 0.75f);

  const AudioUnitParameterEvent ramp = Ramp(0, 10, 0.0f, 1.0f);
  const std::pair<const char*, std::function<void()>> refused[] = {
      {"SetParameter", [&] { element.SetParameter(4, 1.0f); }},
      {"SetScheduledEvent", [&] { element.SetScheduledEvent(4, ramp, 0, 10); }},
      {"GetParameter of an old map ID", [&] { element.GetParameter(10); }},
  };
  for (const auto& [name, op] : refused) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ThrownStatus(op), kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(element.GetNumberOfParameters(), 4u);
  }

  element.UseIndexedParameters(-3);  // nonsense count: no storage at all, no crash
  EXPECT_EQ(element.GetNumberOfParameters(), 0u);
  EXPECT_EQ(ThrownStatus([&] { element.GetParameter(0); }), kAudioUnitErr_InvalidParameter);
}

TEST(ElementParameters, ScheduledEventsCreateInMapAndUpdateInPlace) {
  AUElement element(nullptr);
  element.SetScheduledEvent(4, Ramp(0, 100, 2.0f, 6.0f), 0, 50);
  ASSERT_EQ(element.GetNumberOfParameters(), 1u);
  // The value of a ramp is its start value, wherever the ramp is.
  EXPECT_EQ(element.GetParameter(4), 2.0f);

  const ParameterMapEvent* stored = &element.GetParamEvent(4);
  element.SetScheduledEvent(4, Immediate(0, 0.25f), 10, 64);
  EXPECT_EQ(&element.GetParamEvent(4), stored);  // overwritten, not reinserted
  EXPECT_EQ(stored->GetEventType(), kParameterEvent_Immediate);
  EXPECT_EQ(stored->GetDuration(), 64u);
  EXPECT_EQ(stored->GetSliceDuration(), 64u);
  EXPECT_EQ(stored->GetStartOffset(), 0);

  element.SetScheduledEvent(4, Ramp(0, 100, 2.0f, 6.0f), 0, 50);
  element.SetParameter(4, 3.0f);  // a plain value ends the ramp
  float start, end, delta;
  element.GetRampSliceStartEnd(4, start, end, delta);
  EXPECT_EQ(start, 3.0f);
  EXPECT_EQ(end, 3.0f);
  EXPECT_EQ(delta, 0.0f);
}

// ---- ramps ------------------------------------------------------------------

struct RampCase {
  const char* name;
  AudioUnitParameterEvent event;
  UInt32 sliceOffset, sliceFrames;
  SInt32 storedOffset;
  float start, end, delta;  // single-precision results, bit for bit
};

TEST(Ramp, SliceStartAndEndAreExactSinglePrecision) {
  const RampCase cases[] = {
      {"ramp starts inside the slice", Ramp(10, 100, 0.0f, 1.0f), 0, 50, 10,
       -0x1.999998p-4f, 0x1.99999ap-2f, 0x1.47ae14p-7f},
      {"ramp began in an earlier slice", Ramp(10, 100, 0.0f, 1.0f), 50, 50, -40,
       0x1.999998p-2f, 0x1.ccccccp-1f, 0x1.47ae14p-7f},
      {"falling ramp, long slice", Ramp(0, 441, 1000.0f, 20.0f), 123, 512, -123,
       0x1.6b5554p+9f, -0x1.9b1c78p+8f, -0x1.1c71c8p+1f},
      {"immediate value", Immediate(3, 0.25f), 0, 64, 0, 0.25f, 0.25f, 0.0f},
  };
  for (const RampCase& c : cases) {
    SCOPED_TRACE(c.name);
    ParameterMapEvent stored(c.event, c.sliceOffset, c.sliceFrames);
    EXPECT_EQ(stored.GetStartOffset(), c.storedOffset);
    EXPECT_EQ(stored.GetSliceDuration(), c.sliceFrames);
    float start = -99, end = -99, delta = -99;
    stored.GetRampSliceStartEnd(start, end, delta);
    EXPECT_EQ(start, c.start);
    EXPECT_EQ(end, c.end);
    EXPECT_EQ(delta, c.delta);
  }
}

TEST(Ramp, ZeroDurationGivesIeeeResults) {
  float start, end, delta;
  ParameterMapEvent begunEarlier(Ramp(0, 0, 1.0f, 2.0f), 5, 10);
  begunEarlier.GetRampSliceStartEnd(start, end, delta);
  EXPECT_EQ(delta, std::numeric_limits<float>::infinity());
  EXPECT_EQ(start, std::numeric_limits<float>::infinity());
  EXPECT_EQ(end, std::numeric_limits<float>::infinity());

  ParameterMapEvent atSliceStart(Ramp(0, 0, 1.0f, 2.0f), 0, 10);
  atSliceStart.GetRampSliceStartEnd(start, end, delta);
  EXPECT_TRUE(std::isnan(start));  // 0 x infinity
  EXPECT_TRUE(std::isnan(end));
}

TEST(Ramp, ExtremeOffsetsDoNotOverflow) {
  // A ramp that began 2^31 frames before the slice.
  ParameterMapEvent stored(Ramp(std::numeric_limits<SInt32>::min(), 0x80000000u, 0.0f, 1.0f), 0, 0);
  EXPECT_EQ(stored.GetStartOffset(), std::numeric_limits<SInt32>::min());
  float start, end, delta;
  stored.GetRampSliceStartEnd(start, end, delta);
  EXPECT_EQ(start, 1.0f);
  EXPECT_EQ(end, 1.0f);
}

TEST(Ramp, SetValueKeepsPositionButBecomesConstant) {
  ParameterMapEvent stored(Ramp(10, 100, 0.0f, 1.0f), 0, 50);
  stored.SetValue(0.5f);
  EXPECT_EQ(stored.GetEventType(), kParameterEvent_Immediate);
  EXPECT_EQ(stored.GetValue(), 0.5f);
  EXPECT_EQ(stored.GetEndValue(), 0.5f);
  EXPECT_EQ(stored.GetStartOffset(), 10);  // kept, ignored for a constant
  EXPECT_EQ(stored.GetDuration(), 100u);
}

// ---- names ------------------------------------------------------------------

TEST(ElementName, HoldsExactlyOneReference) {
  CFStringRef first = CFStringCreateWithCString(nullptr, "Left", kCFStringEncodingUTF8);
  CFStringRef second = CFStringCreateWithCString(nullptr, "Right", kCFStringEncodingUTF8);
  {
    AUElement element(nullptr);
    EXPECT_FALSE(element.HasName());
    EXPECT_EQ(element.GetName(), nullptr);

    element.SetName(first);
    EXPECT_TRUE(element.HasName());
    EXPECT_EQ(element.GetName(), first);
    EXPECT_EQ(CFGetRetainCount(first), 2);

    element.SetName(first);  // the held name again stays alive and is not leaked
    EXPECT_EQ(CFGetRetainCount(first), 2);

    element.SetName(second);
    EXPECT_EQ(CFGetRetainCount(first), 1);
    EXPECT_EQ(CFGetRetainCount(second), 2);

    element.SetName(nullptr);
    EXPECT_FALSE(element.HasName());
    EXPECT_EQ(CFGetRetainCount(second), 1);

    element.SetName(second);
  }
  // Destroying the element gives its reference back.
  EXPECT_EQ(CFGetRetainCount(second), 1);
  CFRelease(first);
  CFRelease(second);
}

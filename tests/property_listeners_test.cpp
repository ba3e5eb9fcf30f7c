#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/AUPropertyListeners.h"

namespace {

AudioUnit FakeUnit() { return reinterpret_cast<AudioUnit>(0x1234); }

// A listener that records its call and then runs an optional action, which
// may change the list that is being walked.
struct Script {
  std::vector<std::string>* log;
  std::string name;
  std::function<void()> action;
};

void ScriptedProc(void* refCon, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
  auto* s = static_cast<Script*>(refCon);
  s->log->push_back(s->name);
  if (s->action) s->action();
}

struct Call {
  void* refCon;
  AudioUnit unit;
  AudioUnitPropertyID id;
  AudioUnitScope scope;
  AudioUnitElement element;
  int proc;
  bool operator==(const Call&) const = default;
};
std::vector<Call> gCalls;

void ProcA(void* r, AudioUnit u, AudioUnitPropertyID id, AudioUnitScope s, AudioUnitElement e) {
  gCalls.push_back({r, u, id, s, e, 'A'});
}
void ProcB(void* r, AudioUnit u, AudioUnitPropertyID id, AudioUnitScope s, AudioUnitElement e) {
  gCalls.push_back({r, u, id, s, e, 'B'});
}

void* Ref(int i) { return reinterpret_cast<void*>(static_cast<intptr_t>(0x100 + i)); }

// The refCons called for a change of `id`, in call order.
std::vector<void*> Notify(AUPropertyListeners& list, AudioUnitPropertyID id) {
  gCalls.clear();
  list.PropertyChanged(id, kAudioUnitScope_Global, 0, FakeUnit());
  std::vector<void*> refs;
  for (const Call& c : gCalls) refs.push_back(c.refCon);
  return refs;
}

TEST(PropertyListeners, CallsListenersOfTheChangedPropertyInRegistrationOrder) {
  AUPropertyListeners list;
  gCalls.clear();
  list.Add(8, ProcA, Ref(1));
  list.Add(14, ProcA, Ref(2));
  list.Add(8, ProcB, Ref(3));
  list.Add(8, ProcA, Ref(4));

  list.PropertyChanged(8, kAudioUnitScope_Input, 3, FakeUnit());
  EXPECT_EQ(gCalls, (std::vector<Call>{{Ref(1), FakeUnit(), 8, 1, 3, 'A'},
                                       {Ref(3), FakeUnit(), 8, 1, 3, 'B'},
                                       {Ref(4), FakeUnit(), 8, 1, 3, 'A'}}));

  EXPECT_EQ(Notify(list, 99), std::vector<void*>{}) << "nobody listens to 99";

  AUPropertyListeners empty;
  gCalls.clear();
  empty.PropertyChanged(8, kAudioUnitScope_Global, 0, FakeUnit());
  EXPECT_TRUE(gCalls.empty());
}

TEST(PropertyListeners, DuplicateRegistrationIsCalledOncePerRecord) {
  AUPropertyListeners list;
  list.Add(22, ProcA, Ref(1));
  list.Add(22, ProcA, Ref(1));
  EXPECT_EQ(Notify(list, 22), (std::vector<void*>{Ref(1), Ref(1)}));

  list.Remove(22, ProcA, Ref(1), true);
  EXPECT_EQ(Notify(list, 22), std::vector<void*>{}) << "one removal takes every matching record";
  EXPECT_EQ(list.Count(), 0u);
}

TEST(PropertyListeners, RemovalMatchesIdFunctionAndOptionallyRefCon) {
  struct Case {
    const char* name;
    AudioUnitPropertyID id;
    AudioUnitPropertyListenerProc proc;
    void* refCon;
    bool refConSpecified;
    std::vector<void*> left8;   // still called for ID 8
    std::vector<void*> left14;  // still called for ID 14
  };
  const std::vector<void*> all8{Ref(1), Ref(2), Ref(3), Ref(1)};
  const std::vector<Case> cases{
      {"without refCon: every record of id and function", 8, ProcA, nullptr, false, {Ref(3)}, {Ref(5)}},
      {"without refCon, the refCon argument is ignored", 8, ProcA, Ref(9), false, {Ref(3)}, {Ref(5)}},
      {"with refCon: only that refCon, duplicates too", 8, ProcA, Ref(1), true, {Ref(2), Ref(3)}, {Ref(5)}},
      {"with refCon: a null refCon is a value like any other", 8, ProcA, nullptr, true, all8, {Ref(5)}},
      {"other function", 8, ProcB, Ref(3), true, {Ref(1), Ref(2), Ref(1)}, {Ref(5)}},
      {"other id", 14, ProcA, nullptr, false, all8, {}},
      {"never registered", 77, ProcA, nullptr, false, all8, {Ref(5)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AUPropertyListeners list;
    list.Add(8, ProcA, Ref(1));
    list.Add(8, ProcA, Ref(2));
    list.Add(8, ProcB, Ref(3));
    list.Add(14, ProcA, Ref(5));
    list.Add(8, ProcA, Ref(1));

    list.Remove(c.id, c.proc, c.refCon, c.refConSpecified);
    EXPECT_EQ(Notify(list, 8), c.left8);
    EXPECT_EQ(Notify(list, 14), c.left14);
  }
}

TEST(PropertyListeners, NullFunctionIsNeverCalled) {
  AUPropertyListeners list;
  list.Add(8, nullptr, Ref(1));
  list.Add(8, ProcA, Ref(2));
  EXPECT_EQ(Notify(list, 8), std::vector<void*>{Ref(2)});
  list.Remove(8, nullptr, nullptr, false);
  EXPECT_EQ(list.Count(), 1u);
}

// Listeners that change the list while it is being walked.
struct WalkBench {
  static constexpr AudioUnitPropertyID kID = 8;

  Script& Make(const std::string& name, std::function<void()> action = {}) {
    scripts.push_back(std::make_unique<Script>(Script{&log, name, std::move(action)}));
    return *scripts.back();
  }
  void Register(Script& s, AudioUnitPropertyID id = kID) { list.Add(id, ScriptedProc, &s); }
  void Unregister(Script& s, AudioUnitPropertyID id = kID) { list.Remove(id, ScriptedProc, &s, true); }

  std::vector<std::string> Walk(AudioUnitPropertyID id = kID) {
    log.clear();
    list.PropertyChanged(id, kAudioUnitScope_Global, 0, FakeUnit());
    return log;
  }

  AUPropertyListeners list;
  std::vector<std::string> log;
  std::vector<std::unique_ptr<Script>> scripts;
};

class PropertyListenersWalk : public ::testing::Test, protected WalkBench {};

TEST_F(PropertyListenersWalk, RecordsAddedDuringTheWalkAreReachedEvenWhenStorageGrows) {
  // 2 records + 40 more moves the storage past its first reservation while
  // the first listener is still running.
  Script& grower = Make("grow", [this] {
    for (int i = 0; i < 40; ++i) Register(Make("n" + std::to_string(i)));
  });
  Register(grower);
  Register(Make("second"));

  std::vector<std::string> expected{"grow", "second"};
  for (int i = 0; i < 40; ++i) expected.push_back("n" + std::to_string(i));
  EXPECT_EQ(Walk(), expected);
  EXPECT_EQ(list.Count(), 42u);
}

TEST(PropertyListenersWalkRemoval, SkipsNoOtherRecord) {
  struct Case {
    const char* name;
    int actor;                  // which of r0..r3 acts when called
    int victim;                 // which record it removes
    std::vector<std::string> during;
    std::vector<std::string> after;
  };
  const std::vector<Case> cases{
      {"already visited", 1, 0, {"r0", "r1", "r2", "r3"}, {"r1", "r2", "r3"}},
      {"not yet visited", 0, 2, {"r0", "r1", "r3"}, {"r0", "r1", "r3"}},
      {"itself", 1, 1, {"r0", "r1", "r2", "r3"}, {"r0", "r2", "r3"}},
      {"the last", 3, 3, {"r0", "r1", "r2", "r3"}, {"r0", "r1", "r2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WalkBench b;
    std::vector<Script*> r;
    for (int i = 0; i < 4; ++i) r.push_back(&b.Make("r" + std::to_string(i)));
    bool once = true;
    r[c.actor]->action = [&, victim = r[c.victim]] {
      if (std::exchange(once, false)) b.Unregister(*victim);
    };
    for (Script* s : r) b.Register(*s);

    EXPECT_EQ(b.Walk(), c.during);
    EXPECT_EQ(b.list.Count(), 3u);
    EXPECT_EQ(b.Walk(), c.after);
  }
}

TEST_F(PropertyListenersWalk, RemovedAndAddedAgainDuringTheWalkMovesToTheEnd) {
  Script& b = Make("b");
  Script& a = Make("a", [&] {
    Unregister(b);
    Register(b);
  });
  Register(a);
  Register(b);
  Register(Make("c"));
  EXPECT_EQ(Walk(), (std::vector<std::string>{"a", "c", "b"}));
  a.action = {};
  EXPECT_EQ(Walk(), (std::vector<std::string>{"a", "c", "b"}));
}

TEST_F(PropertyListenersWalk, NestedAnnouncementKeepsTheOuterWalkIntact) {
  // r0 (ID 8) announces ID 9 from inside its call; the ID-9 listener removes
  // r0 and r2. The outer walk must still reach r1 and r3 exactly once.
  Script& r0 = Make("r0");
  Script& r1 = Make("r1");
  Script& r2 = Make("r2");
  Script& r3 = Make("r3");
  Script& inner = Make("inner", [&] {
    Unregister(r0);
    Unregister(r2);
  });
  r0.action = [this] { list.PropertyChanged(9, kAudioUnitScope_Global, 0, FakeUnit()); };
  Register(r0);
  Register(inner, 9);
  Register(r1);
  Register(r2);
  Register(r3);

  EXPECT_EQ(Walk(), (std::vector<std::string>{"r0", "inner", "r1", "r3"}));
  EXPECT_EQ(Walk(), (std::vector<std::string>{"r1", "r3"}));
  EXPECT_EQ(list.Count(), 3u);
}

}  // namespace

// Unit lifecycle: construction, elements, initialize/cleanup/reset, stream
// formats, maximum frames and bus memory, unit-level parameters and render
// notification registration.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/PropertyNotices.h"
#include "support/TestUnit.h"
#include "support/ThrownStatus.h"

namespace {

// Frames the element's memory is laid out for; 0 when nothing was allocated.
UInt32 AllocatedFrames(AUIOElement* element) { return element->GetIOBuffer().GetAllocatedFrames(); }
// Initialized at least once: every bus then has descriptor room for its streams.
bool HasDescriptor(AUIOElement* element) { return element->GetIOBuffer().GetAllocatedStreams() > 0; }

std::string Text(CFStringRef s) { return s ? CFStringGetCStringPtr(s, kCFStringEncodingUTF8) : ""; }

OSStatus TestObserver(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                      AudioBufferList*) {
  return noErr;
}
OSStatus OtherObserver(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                       AudioBufferList*) {
  return noErr;
}

}  // namespace

// ---- construction -----------------------------------------------------------------

TEST(AUBaseConstruction, StartsUninitializedWithDocumentedDefaults) {
  TestUnit unit(1, 1);
  EXPECT_FALSE(unit.IsInitialized());
  EXPECT_EQ(unit.AudioUnitAPIVersion(), 2);
  EXPECT_EQ(unit.GetMaxFramesPerSlice(), 1156u);
  EXPECT_EQ(unit.GetLastRenderError(), noErr);
  EXPECT_EQ(unit.GetLastRenderedSampleTime(), -1.0);
  EXPECT_FALSE(unit.WantsRenderThreadID());
  EXPECT_EQ(unit.GetCurrentPreset().presetNumber, -1);
  EXPECT_EQ(Text(unit.GetCurrentPreset().presetName), "Untitled");
  EXPECT_GE(unit.GetParamEventList().capacity(), 24u);
  EXPECT_TRUE(unit.GetParamEventList().empty());
  EXPECT_EQ(unit.GetComponentInstance(), TestUnit::DefaultInstance());
  EXPECT_EQ(unit.Version(), 1);
}

TEST(AUBaseConstruction, SetsProcessWideValuesOnce) {
  TestUnit first;
  EXPECT_TRUE(AUBase::sAUBaseCFStringsInitialized);
  EXPECT_NE(AUBase::sVectorUnitType, -1);
  const CFStringRef untitled = AUBase::kUntitledString;
  const std::vector<std::pair<CFStringRef, std::string>> keys = {
      {AUBase::kVersionString, "version"},           {AUBase::kTypeString, "type"},
      {AUBase::kSubtypeString, "subtype"},           {AUBase::kManufacturerString, "manufacturer"},
      {AUBase::kDataString, "data"},                 {AUBase::kNameString, "name"},
      {AUBase::kRenderQualityString, "render-quality"}, {AUBase::kCPULoadString, "cpu-load"},
      {AUBase::kElementNameString, "element-name"},  {AUBase::kPartString, "part"},
      {AUBase::kUntitledString, "Untitled"}};
  for (const auto& [key, text] : keys) EXPECT_EQ(Text(key), text);

  TestUnit second;
  EXPECT_EQ(AUBase::kUntitledString, untitled);
}

TEST(AUBaseConstruction, OnlyTheGlobalElementExistsBeforePostConstructor) {
  TestUnit unit(1, 1);
  EXPECT_EQ(unit.GlobalScope().GetNumberOfElements(), 1u);
  EXPECT_NE(unit.Globals(), nullptr);
  EXPECT_EQ(dynamic_cast<AUIOElement*>(unit.Globals()), nullptr);
  for (AudioUnitScope scope : {1u, 2u, 3u, 4u})
    EXPECT_EQ(unit.GetScope(scope).GetNumberOfElements(), 0u) << scope;
  EXPECT_FALSE(unit.HasInput(0));
}

TEST(AUBaseConstruction, PostConstructorCreatesEachScopesElementsOnce) {
  struct Case {
    UInt32 inputs, outputs, groups, parts;
  };
  for (const Case c : {Case{1, 1, 0, 0}, Case{0, 2, 0, 0}, Case{3, 1, 2, 1}}) {
    TestUnitPtr unit = OpenTestUnit(c.inputs, c.outputs, c.groups, c.parts);
    const UInt32 counts[] = {1, c.inputs, c.outputs, c.groups, c.parts};
    for (AudioUnitScope scope = 0; scope < 5; ++scope) {
      AUScope& s = unit->GetScope(scope);
      ASSERT_EQ(s.GetNumberOfElements(), counts[scope]) << scope;
      EXPECT_EQ(s.GetScope(), scope);
      EXPECT_EQ(s.GetCreator(), static_cast<AUElementCreator*>(unit.get()));
      for (UInt32 i = 0; i < counts[scope]; ++i) {
        AUElement* e = s.GetElement(i);
        EXPECT_EQ(e->GetAudioUnit(), unit.get());
        EXPECT_EQ(dynamic_cast<AUInputElement*>(e) != nullptr, scope == kAudioUnitScope_Input);
        EXPECT_EQ(dynamic_cast<AUOutputElement*>(e) != nullptr, scope == kAudioUnitScope_Output);
      }
    }

    AUElement* global = unit->Globals();
    AUElement* firstOutput = unit->Outputs().GetElement(0);
    unit->CreateElements();
    unit->PostConstructor();
    EXPECT_EQ(unit->Globals(), global);
    EXPECT_EQ(unit->Outputs().GetElement(0), firstOutput);
    EXPECT_EQ(unit->Inputs().GetNumberOfElements(), c.inputs);
  }
}

TEST(AUBaseConstruction, CreateElementRejectsUnknownScopes) {
  TestUnit unit;
  for (AudioUnitScope scope : {5u, 6u, 0xFFFFFFFFu})
    EXPECT_EQ(ThrownStatus([&] { delete unit.CreateElement(scope, 0); }), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(ThrownStatus([&] { unit.GetScope(5); }), kAudioUnitErr_InvalidScope);
}

// ---- initialize / cleanup / reset ----------------------------------------------------

TEST(AUBaseLifecycle, InitializeRunsOnceAndCleanupOnlyWhenInitialized) {
  TestUnitPtr unit = OpenTestUnit();
  unit->DoCleanup();
  EXPECT_EQ(unit->cleanupCalls, 0);

  EXPECT_EQ(unit->DoInitialize(), noErr);
  EXPECT_EQ(unit->DoInitialize(), noErr);
  EXPECT_EQ(unit->initializeCalls, 1);
  EXPECT_TRUE(unit->IsInitialized());

  unit->DoCleanup();
  unit->DoCleanup();
  EXPECT_EQ(unit->cleanupCalls, 1);
  EXPECT_FALSE(unit->IsInitialized());

  EXPECT_EQ(unit->DoInitialize(), noErr);
  EXPECT_EQ(unit->initializeCalls, 2);
}

TEST(AUBaseLifecycle, FailedInitializeLeavesUnitUninitializedWithoutMemory) {
  TestUnitPtr unit = OpenTestUnit();
  unit->initializeResult = kAudioUnitErr_FormatNotSupported;
  EXPECT_EQ(unit->DoInitialize(), kAudioUnitErr_FormatNotSupported);
  EXPECT_FALSE(unit->IsInitialized());
  EXPECT_FALSE(HasDescriptor(unit->GetOutput(0)));
  unit->DoCleanup();
  EXPECT_EQ(unit->cleanupCalls, 0);

  unit->initializeResult = noErr;
  EXPECT_EQ(unit->DoInitialize(), noErr);
  EXPECT_EQ(AllocatedFrames(unit->GetOutput(0)), 1156u);
}

TEST(AUBaseLifecycle, PreDestructorUninitializes) {
  TestUnitPtr unit = OpenTestUnit();
  ASSERT_EQ(unit->DoInitialize(), noErr);
  unit->PreDestructor();
  EXPECT_FALSE(unit->IsInitialized());
  EXPECT_EQ(unit->cleanupCalls, 1);
}

TEST(AUBaseLifecycle, ResetLeavesParametersFormatsAndMemoryAlone) {
  TestUnitPtr unit = OpenTestUnit();
  ASSERT_EQ(unit->SetParameter(0, kAudioUnitScope_Global, 0, 0.75f, 0), noErr);
  ASSERT_EQ(unit->ChangeStreamFormat(kAudioUnitScope_Output, 0, CanonicalTestFormat(2),
                                     CanonicalTestFormat(1, 48000.0)),
            noErr);
  ASSERT_EQ(unit->DoInitialize(), noErr);

  EXPECT_EQ(unit->Reset(kAudioUnitScope_Global, 0), noErr);
  EXPECT_EQ(unit->GetLastRenderedSampleTime(), AUBase::kNoLastRenderedSampleTime);
  AudioUnitParameterValue value = 0;
  EXPECT_EQ(unit->GetParameter(0, kAudioUnitScope_Global, 0, value), noErr);
  EXPECT_EQ(value, 0.75f);
  EXPECT_EQ(unit->GetStreamFormat(kAudioUnitScope_Output, 0).mSampleRate, 48000.0);
  EXPECT_EQ(AllocatedFrames(unit->GetOutput(0)), 1156u);
  EXPECT_TRUE(unit->IsInitialized());
}

// ---- element access and counts ------------------------------------------------------------

TEST(AUBaseElements, LookupsRaiseTheDocumentedStatuses) {
  TestUnitPtr unit = OpenTestUnit(1, 1);
  EXPECT_EQ(unit->GetElement(kAudioUnitScope_Input, 1), nullptr);
  EXPECT_EQ(ThrownStatus([&] { unit->GetElement(5, 0); }), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(ThrownStatus([&] { unit->SafeGetElement(kAudioUnitScope_Output, 1); }),
            kAudioUnitErr_InvalidElement);
  EXPECT_EQ(ThrownStatus([&] { unit->GetIOElement(kAudioUnitScope_Global, 0); }),
            kAudioUnitErr_InvalidElement);
  EXPECT_EQ(ThrownStatus([&] { unit->GetInput(1); }), kAudioUnitErr_InvalidElement);
  EXPECT_EQ(ThrownStatus([&] { unit->GetOutput(1); }), kAudioUnitErr_InvalidElement);
  EXPECT_FALSE(unit->HasInput(3));
  EXPECT_FALSE(unit->HasInput(0));  // exists, but has no source
}

TEST(AUBaseElements, BusCountsChangeOnlyWhileUninitialized) {
  TestUnitPtr unit = OpenTestUnit(1, 1);
  for (AudioUnitScope scope = 0; scope < 5; ++scope) EXPECT_FALSE(unit->BusCountWritable(scope));

  EXPECT_EQ(unit->SetBusCount(kAudioUnitScope_Input, 3), noErr);
  EXPECT_EQ(unit->Inputs().GetNumberOfElements(), 3u);
  EXPECT_NE(dynamic_cast<AUInputElement*>(unit->Inputs().GetElement(2)), nullptr);

  ASSERT_EQ(unit->DoInitialize(), noErr);
  EXPECT_EQ(unit->SetBusCount(kAudioUnitScope_Input, 1), kAudioUnitErr_Initialized);
  EXPECT_EQ(unit->Inputs().GetNumberOfElements(), 3u);
  EXPECT_EQ(ThrownStatus([&] { unit->SetBusCount(7, 1); }), noErr);  // refused before the scope lookup
}

TEST(AUBaseElements, GlobalScopeKeepsExactlyOneElement) {
  TestUnitPtr unit = OpenTestUnit();
  EXPECT_EQ(ThrownStatus([&] { unit->SetNumberOfElements(kAudioUnitScope_Global, 2); }),
            kAudioUnitErr_InvalidScope);
  EXPECT_EQ(ThrownStatus([&] { unit->SetNumberOfElements(kAudioUnitScope_Global, 0); }),
            kAudioUnitErr_InvalidScope);
  EXPECT_EQ(ThrownStatus([&] { unit->SetNumberOfElements(kAudioUnitScope_Global, 1); }), noErr);
  EXPECT_EQ(unit->GlobalScope().GetNumberOfElements(), 1u);
  EXPECT_EQ(ThrownStatus([&] { unit->SetNumberOfElements(kAudioUnitScope_Part, 2); }), noErr);
  EXPECT_EQ(unit->Parts().GetNumberOfElements(), 2u);
  EXPECT_EQ(ThrownStatus([&] { unit->SetNumberOfElements(5, 1); }), kAudioUnitErr_InvalidScope);
}

// ---- stream formats ----------------------------------------------------------------------

TEST(AUBaseFormats, CanonicalJudgement) {
  auto with = [](auto edit) {
    CAStreamBasicDescription f = CanonicalTestFormat(2);
    edit(f);
    return f;
  };
  using F = CAStreamBasicDescription&;
  struct Case {
    const char* name;
    CAStreamBasicDescription format;
    bool canonical;
  };
  const Case cases[] = {
      {"stereo float", CanonicalTestFormat(2), true},
      {"six channels at 44100", CanonicalTestFormat(6, 44100.0), true},
      {"any sample rate", CanonicalTestFormat(1, 0.0), true},
      {"packed flag cleared", with([](F f) { f.mFormatFlags &= ~kAudioFormatFlagIsPacked; }), true},
      {"other flags free", with([](F f) { f.mFormatFlags |= kAudioFormatFlagIsNonMixable; }), true},
      {"not linear PCM", with([](F f) { f.mFormatID = kAudioFormatAC3; }), false},
      {"two frames per packet", with([](F f) { f.mFramesPerPacket = 2; f.mBytesPerPacket = 8; }),
       false},
      {"packet not frame", with([](F f) { f.mBytesPerPacket = 8; }), false},
      {"integer samples", with([](F f) { f.mFormatFlags &= ~kAudioFormatFlagIsFloat; }), false},
      {"interleaved stereo",
       with([](F f) {
         f.mFormatFlags &= ~kAudioFormatFlagIsNonInterleaved;
         f.mBytesPerFrame = f.mBytesPerPacket = 8;
       }),
       false},
      {"interleaved, 4 bytes per frame",
       with([](F f) { f.mFormatFlags &= ~kAudioFormatFlagIsNonInterleaved; }), false},
      {"big-endian float", with([](F f) { f.mFormatFlags |= kAudioFormatFlagIsBigEndian; }),
       false},
      {"16-bit integer",
       with([](F f) {
         f.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked |
                          kAudioFormatFlagIsNonInterleaved;
         f.mBitsPerChannel = 16;
         f.mBytesPerFrame = f.mBytesPerPacket = 2;
       }),
       false},
      {"64-bit float",
       with([](F f) {
         f.mBitsPerChannel = 64;
         f.mBytesPerFrame = f.mBytesPerPacket = 8;
       }),
       false},
      {"32 bits in 8 bytes", with([](F f) { f.mBytesPerFrame = f.mBytesPerPacket = 8; }), false},
  };
  TestUnit unit;
  for (const Case& c : cases) {
    EXPECT_EQ(unit.FormatIsCanonical(c.format), c.canonical) << c.name;
    EXPECT_EQ(unit.ValidFormat(kAudioUnitScope_Input, 9, c.format), c.canonical) << c.name;
  }
}

TEST(AUBaseFormats, MakeCanonicalFormatHasNoSampleRate) {
  TestUnit unit;
  CAStreamBasicDescription f = CanonicalTestFormat(2, 96000.0);
  unit.MakeCanonicalFormat(f, 3);
  EXPECT_EQ(f.mSampleRate, 0.0);
  EXPECT_EQ(f.mChannelsPerFrame, 3u);
  EXPECT_TRUE(unit.FormatIsCanonical(f));
}

TEST(AUBaseFormats, GetStreamFormatSelectsTheElement) {
  TestUnitPtr unit = OpenTestUnit(1, 1);
  unit->GetInput(0)->SetStreamFormat(CanonicalTestFormat(1, 22050.0));
  unit->GetOutput(0)->SetStreamFormat(CanonicalTestFormat(2, 48000.0));

  EXPECT_EQ(unit->GetStreamFormat(kAudioUnitScope_Input, 0).mSampleRate, 22050.0);
  EXPECT_EQ(unit->GetStreamFormat(kAudioUnitScope_Output, 0).mSampleRate, 48000.0);
  EXPECT_EQ(&unit->GetStreamFormat(kAudioUnitScope_Global, 7),
            &unit->GetOutput(0)->GetStreamFormat());

  struct Case {
    AudioUnitScope scope;
    AudioUnitElement element;
    OSStatus thrown;
  };
  for (const Case c : {Case{kAudioUnitScope_Group, 0, kAudioUnitErr_InvalidScope},
                       Case{kAudioUnitScope_Part, 0, kAudioUnitErr_InvalidScope},
                       Case{9, 0, kAudioUnitErr_InvalidScope},
                       Case{kAudioUnitScope_Input, 1, kAudioUnitErr_InvalidElement},
                       Case{kAudioUnitScope_Output, 1, kAudioUnitErr_InvalidElement}}) {
    EXPECT_EQ(ThrownStatus([&] { unit->GetStreamFormat(c.scope, c.element); }), c.thrown)
        << c.scope << "/" << c.element;
    EXPECT_EQ(ThrownStatus([&] {
                unit->ChangeStreamFormat(c.scope, c.element, CanonicalTestFormat(2),
                                         CanonicalTestFormat(1));
              }),
              c.thrown)
        << c.scope << "/" << c.element;
  }
}

TEST(AUBaseFormats, GlobalFormatNeedsAnOutput) {
  TestUnitPtr unit = OpenTestUnit(1, 0);
  EXPECT_EQ(ThrownStatus([&] { unit->GetStreamFormat(kAudioUnitScope_Global, 0); }),
            kAudioUnitErr_InvalidElement);
}

TEST(AUBaseFormats, WritabilityFollowsScopeAndState) {
  TestUnitPtr unit = OpenTestUnit(1, 1);
  struct Case {
    AudioUnitScope scope;
    AudioUnitElement element;
    bool uninitialized, initialized;
  };
  const Case cases[] = {{kAudioUnitScope_Global, 5, true, false},
                        {kAudioUnitScope_Input, 0, true, false},
                        {kAudioUnitScope_Output, 0, true, false},
                        {kAudioUnitScope_Group, 0, false, false},
                        {kAudioUnitScope_Part, 0, false, false},
                        {11, 0, false, false}};
  for (const Case& c : cases)
    EXPECT_EQ(unit->IsStreamFormatWritable(c.scope, c.element), c.uninitialized) << c.scope;
  ASSERT_EQ(unit->DoInitialize(), noErr);
  for (const Case& c : cases)
    EXPECT_EQ(unit->IsStreamFormatWritable(c.scope, c.element), c.initialized) << c.scope;
  EXPECT_EQ(ThrownStatus([&] { unit->IsStreamFormatWritable(kAudioUnitScope_Input, 1); }),
            kAudioUnitErr_InvalidElement);
}

TEST(AUBaseFormats, ChangeStreamFormatStoresAndNotifiesTheCallersAddress) {
  TestUnitPtr unit = OpenTestUnit(1, 1);
  std::vector<Notice> notices;
  unit->AddPropertyListener(kAudioUnitProperty_StreamFormat, RecordNoticeWithUnit, &notices);

  const CAStreamBasicDescription mono = CanonicalTestFormat(1, 32000.0);
  EXPECT_EQ(unit->ChangeStreamFormat(kAudioUnitScope_Global, 3, CanonicalTestFormat(2), mono),
            noErr);
  EXPECT_TRUE(unit->GetOutput(0)->GetStreamFormat().IsEqual(mono, false));
  EXPECT_EQ(unit->ChangeStreamFormat(kAudioUnitScope_Input, 0, CanonicalTestFormat(2), mono),
            noErr);
  EXPECT_TRUE(unit->GetInput(0)->GetStreamFormat().IsEqual(mono, false));

  const std::vector<Notice> expected = {
      {kAudioUnitProperty_StreamFormat, kAudioUnitScope_Global, 3, TestUnit::DefaultInstance()},
      {kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, TestUnit::DefaultInstance()}};
  EXPECT_EQ(notices, expected);
}

TEST(AUBaseFormats, FormatChangeWhileInitializedReallocatesTheBus) {
  TestUnitPtr unit = OpenTestUnit(1, 1);
  ASSERT_EQ(unit->ChangeStreamFormat(kAudioUnitScope_Output, 0, CanonicalTestFormat(2),
                                     CanonicalTestFormat(1)),
            noErr);
  EXPECT_FALSE(HasDescriptor(unit->GetOutput(0)));  // nothing before initialize
  ASSERT_EQ(unit->DoInitialize(), noErr);
  ASSERT_EQ(unit->ChangeStreamFormat(kAudioUnitScope_Output, 0, CanonicalTestFormat(1),
                                     CanonicalTestFormat(4)),
            noErr);
  EXPECT_EQ(AllocatedFrames(unit->GetOutput(0)), 1156u);
}

// ---- maximum frames and bus memory ------------------------------------------------------

TEST(AUBaseBuffers, MaxFramesBeforeFirstInitializeSizesTheBuses) {
  TestUnitPtr unit = OpenTestUnit(1, 2);
  std::vector<Notice> notices;
  unit->AddPropertyListener(kAudioUnitProperty_MaximumFramesPerSlice, RecordNoticeWithUnit, &notices);

  EXPECT_EQ(unit->CanSetMaxFrames(), noErr);
  unit->SetMaxFramesPerSlice(512);
  EXPECT_EQ(unit->GetMaxFramesPerSlice(), 512u);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0], (Notice{14, kAudioUnitScope_Global, 0, TestUnit::DefaultInstance()}));
  EXPECT_FALSE(HasDescriptor(unit->GetOutput(0)));

  ASSERT_EQ(unit->DoInitialize(), noErr);
  EXPECT_EQ(AllocatedFrames(unit->GetOutput(0)), 512u);
  EXPECT_EQ(AllocatedFrames(unit->GetOutput(1)), 512u);
  // An input without a source gets a descriptor but no sample memory.
  EXPECT_TRUE(HasDescriptor(unit->GetInput(0)));
  EXPECT_EQ(AllocatedFrames(unit->GetInput(0)), 0u);
  EXPECT_EQ(unit->CanSetMaxFrames(), kAudioUnitErr_Initialized);
}

TEST(AUBaseBuffers, MaxFramesAfterCleanupWaitForTheNextInitialize) {
  TestUnitPtr unit = OpenTestUnit(1, 1);
  ASSERT_EQ(unit->DoInitialize(), noErr);
  EXPECT_EQ(AllocatedFrames(unit->GetOutput(0)), 1156u);
  unit->DoCleanup();
  EXPECT_EQ(AllocatedFrames(unit->GetOutput(0)), 1156u);  // cleanup keeps the memory

  unit->SetMaxFramesPerSlice(2048);
  EXPECT_EQ(AllocatedFrames(unit->GetOutput(0)), 1156u);
  ASSERT_EQ(unit->DoInitialize(), noErr);
  EXPECT_EQ(AllocatedFrames(unit->GetOutput(0)), 2048u);
}

TEST(AUBaseBuffers, ReallocateBuffersCreatesMissingElements) {
  TestUnit unit(2, 1);  // never opened: no bus elements yet
  unit.ReallocateBuffers();
  EXPECT_EQ(unit.Inputs().GetNumberOfElements(), 2u);
  EXPECT_EQ(unit.Outputs().GetNumberOfElements(), 1u);
  EXPECT_FALSE(HasDescriptor(unit.GetOutput(0)));
}

// ---- parameters -------------------------------------------------------------------------

TEST(AUBaseParameters, SetAndGetThroughScopes) {
  TestUnitPtr unit = OpenTestUnit(1, 1);
  struct Case {
    AudioUnitScope scope;
    AudioUnitElement element;
    AudioUnitParameterID id;
    AudioUnitParameterValue value;
  };
  const Case cases[] = {{kAudioUnitScope_Global, 0, 0, 1000.0f},
                        {kAudioUnitScope_Global, 0, 2, -3.5f},
                        {kAudioUnitScope_Input, 0, 7, 0.25f},
                        {kAudioUnitScope_Output, 0, 7, 0.5f}};
  for (const Case& c : cases)
    EXPECT_EQ(unit->SetParameter(c.id, c.scope, c.element, c.value, 99), noErr);
  for (const Case& c : cases) {
    AudioUnitParameterValue value = 0;
    EXPECT_EQ(unit->GetParameter(c.id, c.scope, c.element, value), noErr);
    EXPECT_EQ(value, c.value) << c.scope << "/" << c.id;
  }
}

TEST(AUBaseParameters, FailuresAreRaisedOrReturned) {
  TestUnitPtr unit = OpenTestUnit(1, 1);
  AudioUnitParameterValue value = 123.0f;
  EXPECT_EQ(unit->SetParameter(0, kAudioUnitScope_Group, 0, 1.0f, 0), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(unit->GetParameter(0, kAudioUnitScope_Group, 0, value), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(value, 123.0f);
  EXPECT_EQ(unit->Groups().GetNumberOfElements(), 0u);

  EXPECT_EQ(ThrownStatus([&] { unit->SetParameter(0, 7, 0, 1.0f, 0); }), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(ThrownStatus([&] { unit->GetParameter(0, 7, 0, value); }), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(ThrownStatus([&] { unit->SetParameter(0, kAudioUnitScope_Global, 1, 1.0f, 0); }),
            kAudioUnitErr_InvalidElement);
  EXPECT_EQ(ThrownStatus([&] { unit->GetParameter(0, kAudioUnitScope_Output, 4, value); }),
            kAudioUnitErr_InvalidElement);
  EXPECT_EQ(ThrownStatus([&] { unit->GetParameter(42, kAudioUnitScope_Global, 0, value); }),
            kAudioUnitErr_InvalidParameter);
  EXPECT_EQ(value, 123.0f);
}

TEST(AUBaseParameters, ParameterListComesFromTheRichestElement) {
  TestUnitPtr unit = OpenTestUnit(3, 1);
  for (AudioUnitParameterID id : {2u, 0u, 1u}) unit->SetParameter(id, 0, 0, 1.0f, 0);
  // Input 1 and 2 tie on two parameters; the first of them wins.
  unit->SetParameter(9, kAudioUnitScope_Input, 0, 1.0f, 0);
  unit->SetParameter(5, kAudioUnitScope_Input, 1, 1.0f, 0);
  unit->SetParameter(4, kAudioUnitScope_Input, 1, 1.0f, 0);
  unit->SetParameter(8, kAudioUnitScope_Input, 2, 1.0f, 0);
  unit->SetParameter(3, kAudioUnitScope_Input, 2, 1.0f, 0);

  struct Case {
    AudioUnitScope scope;
    std::vector<AudioUnitParameterID> ids;
  };
  for (const Case& c : {Case{kAudioUnitScope_Global, {0, 1, 2}}, Case{kAudioUnitScope_Input, {4, 5}},
                        Case{kAudioUnitScope_Output, {}}, Case{kAudioUnitScope_Group, {}}}) {
    UInt32 count = 77;
    EXPECT_EQ(unit->GetParameterList(c.scope, nullptr, count), noErr);
    EXPECT_EQ(count, c.ids.size()) << c.scope;
    std::vector<AudioUnitParameterID> ids(c.ids.size() + 1, 0xEEEEEEEE);
    EXPECT_EQ(unit->GetParameterList(c.scope, ids.data(), count), noErr);
    EXPECT_EQ(ids.back(), 0xEEEEEEEEu) << "wrote past the count";
    ids.pop_back();
    EXPECT_EQ(ids, c.ids) << c.scope;
  }
  UInt32 count = 0;
  EXPECT_EQ(ThrownStatus([&] { unit->GetParameterList(5, nullptr, count); }), kAudioUnitErr_InvalidScope);
}

// ---- render notifications -----------------------------------------------------------------

TEST(AUBaseRenderNotifications, RegistrationsArePostedForTheRenderThread) {
  TestUnit unit;
  int a = 0, b = 0;
  EXPECT_EQ(unit.SetRenderNotification(nullptr, &a), paramErr);
  EXPECT_EQ(unit.SetRenderNotification(TestObserver, &a), noErr);
  EXPECT_EQ(unit.SetRenderNotification(TestObserver, &b), noErr);
  EXPECT_EQ(unit.SetRenderNotification(OtherObserver, &a), noErr);
  EXPECT_EQ(unit.RemoveRenderNotification(TestObserver, &a), noErr);
  EXPECT_EQ(unit.RemoveRenderNotification(OtherObserver, &b), noErr);  // never added

  AUBase::NotificationList& list = unit.RenderNotifications();
  EXPECT_EQ(list.begin(), list.end());  // nothing applied before the render thread updates
  list.update();
  std::vector<AUBase::RenderCallback> active(list.begin(), list.end());
  const std::vector<AUBase::RenderCallback> expected = {{TestObserver, &b}, {OtherObserver, &a}};
  EXPECT_EQ(active, expected);
}

TEST(AUBaseRenderNotifications, ExhaustedHeapIsReportedNotPosted) {
  TestUnit unit;
  using List = AUBase::NotificationList;
  const List::AllocFunction saved = List::sAllocNode;
  List::sAllocNode = [](size_t) -> void* { return nullptr; };
  const OSStatus added = unit.SetRenderNotification(TestObserver, nullptr);
  const OSStatus removed = unit.RemoveRenderNotification(TestObserver, nullptr);
  List::sAllocNode = saved;

  EXPECT_EQ(added, memFullErr);
  EXPECT_EQ(removed, memFullErr);
  unit.RenderNotifications().update();
  EXPECT_EQ(unit.RenderNotifications().begin(), unit.RenderNotifications().end());
}

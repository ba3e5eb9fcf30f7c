// The saved-state parts of scopes and elements: parameter chunks and
// element names.
#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

#include "framework/AUSavedStateFormat.h"
#include "framework/AUScopeElement.h"

using saved_state::AppendWord;
using saved_state::ReadWord;
using saved_state::Remaining;

// ---- AUElement ----------------------------------------------------------------

void AUElement::SaveState(CFMutableDataRef data) const {
  const UInt32 count = GetNumberOfParameters();
  AppendWord(data, count);
  if (mUseIndexedParameters) {
    const UInt32 n = static_cast<UInt32>(mIndexedParameters.size());
    for (UInt32 i = 0; i < n; ++i) {
      AppendWord(data, i);
      AppendWord(data, std::bit_cast<UInt32>(mIndexedParameters[i].GetValue()));
    }
  } else {
    // As many as counted above, should an ID be added meanwhile.
    mParameters.ForEach(
        [&](AudioUnitParameterID paramID, const ParameterMapEvent& event) {
          AppendWord(data, paramID);
          AppendWord(data, std::bit_cast<UInt32>(event.GetValue()));
        },
        count);
  }
}

const UInt8* AUElement::StateEnd(const UInt8* state, const UInt8* end) {
  if (Remaining(state, end) < 4) return nullptr;
  // 64-bit arithmetic: 8 x count must not wrap.
  const UInt64 entryBytes = UInt64{ReadWord(state)} * 8;
  if (Remaining(state + 4, end) < entryBytes) return nullptr;
  return state + 4 + entryBytes;
}

bool AUElement::StateValuesAreFinite(const UInt8* state, const UInt8* chunkEnd) {
  for (const UInt8* p = state + 4; p != chunkEnd; p += 8)
    if (!std::isfinite(std::bit_cast<AudioUnitParameterValue>(ReadWord(p + 4)))) return false;
  return true;
}

const UInt8* AUElement::RestoreState(const UInt8* state, const UInt8* end) {
  const UInt8* chunkEnd = StateEnd(state, end);
  if (chunkEnd == nullptr) return nullptr;
  for (const UInt8* p = state + 4; p != chunkEnd; p += 8)
    SetParameter(ReadWord(p), std::bit_cast<AudioUnitParameterValue>(ReadWord(p + 4)));
  return chunkEnd;
}

// ---- AUScope --------------------------------------------------------------------

bool AUScope::HasElementWithName() const {
  for (const auto& element : mElements)
    if (element && element->HasName()) return true;
  return false;
}

void AUScope::AddElementNamesToDict(CFMutableDictionaryRef names) const {
  if (!HasElementWithName()) return;
  CFRef<CFMutableDictionaryRef> scopeNames = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                &kCFTypeDictionaryValueCallBacks));
  for (UInt32 i = 0; i < mElements.size(); ++i) {
    const AUElement* element = mElements[i].get();
    if (element && element->HasName())
      CFDictionarySetValue(scopeNames.get(), saved_state::MakeDecimalKey(i).get(),
                           element->GetName());
  }
  CFDictionarySetValue(names, saved_state::MakeDecimalKey(mScope).get(), scopeNames.get());
}

bool AUScope::CanRestoreElementNames(CFTypeRef scopeNames) const {
  if (scopeNames == nullptr || CFGetTypeID(scopeNames) != CFDictionaryGetTypeID()) return false;
  const auto dict = static_cast<CFDictionaryRef>(scopeNames);
  const CFIndex count = CFDictionaryGetCount(dict);
  std::vector<const void*> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
  CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
  const UInt32 limit = std::max(GetNumberOfElements(), kMaxRestoredElements);
  for (CFIndex i = 0; i < count; ++i) {
    UInt32 element;
    if (!saved_state::ParseDecimalKey(keys[i], element) || element >= limit) return false;
    if (values[i] == nullptr || CFGetTypeID(values[i]) != CFStringGetTypeID()) return false;
  }
  return true;
}

bool AUScope::RestoreElementNames(CFDictionaryRef scopeNames) {
  if (!CanRestoreElementNames(scopeNames)) throw OSStatus(kAudioUnitErr_InvalidPropertyValue);
  const CFIndex count = CFDictionaryGetCount(scopeNames);
  std::vector<const void*> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
  CFDictionaryGetKeysAndValues(scopeNames, keys.data(), values.data());
  std::vector<UInt32> numbers(keys.size());
  UInt32 highest = 0;
  for (size_t i = 0; i < keys.size(); ++i) {
    saved_state::ParseDecimalKey(keys[i], numbers[i]);
    highest = std::max(highest, numbers[i]);
  }
  // Even an empty entry gives a scope without elements its first one.
  bool raised = false;
  if (highest >= GetNumberOfElements()) {
    SetNumberOfElements(highest + 1);
    raised = true;
  }
  for (size_t i = 0; i < keys.size(); ++i)
    SafeGetElement(numbers[i])->SetName(static_cast<CFStringRef>(values[i]));
  return raised;
}

// Variables a host program may define and export (linked with -rdynamic)
// under the plain names of the value library's constants, as a host written
// against another library of that kind would. Plain C names, and this file
// sees none of the runtime's declarations.
#include <cstdint>

extern "C" {

// Read-only: a runtime whose initialiser wrote its own key through this name
// would crash the host on load.
extern const void* const kCFNumberFormatterMaxFractionDigits;
const void* const kCFNumberFormatterMaxFractionDigits = nullptr;

// Callbacks that retain, release and compare nothing: dictionaries built with
// them would keep no value alive and find no key.
struct HostDictionaryKeyCallBacks {
  intptr_t version;
  const void* retain;
  const void* release;
  const void* copyDescription;
  const void* equal;
  const void* hash;
};
extern const HostDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
const HostDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {};

}  // extern "C"

// The addresses the test compares with the runtime's own.
const void* HostMaxFractionDigitsAddress() { return &kCFNumberFormatterMaxFractionDigits; }
const void* HostDictionaryKeyCallBacksAddress() { return &kCFTypeDictionaryKeyCallBacks; }

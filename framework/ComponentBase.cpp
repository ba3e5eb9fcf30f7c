#include "framework/ComponentBase.h"

#include "framework/ComponentArguments.h"

ComponentBase::~ComponentBase() = default;

OSStatus ComponentBase::Version() { return 1; }

void ComponentBase::PostConstructor() {}

void ComponentBase::PreDestructor() {}

OSStatus ComponentBase::ComponentEntryDispatch(ComponentParameters* params, ComponentBase* This) {
  if (params == nullptr || This == nullptr) return paramErr;

  switch (params->what) {
    case kComponentCloseSelect:
      This->PreDestructor();
      delete This;
      return noErr;

    case kComponentVersionSelect:
      return This->Version();

    case kComponentCanDoSelect: {
      const ComponentArguments args(*params, 1);
      if (!args.Complete()) return paramErr;
      // -4 .. -1 are the component selectors served here.
      return args.Get<UInt32>(0) + 4u <= 3u ? 1 : 0;
    }

    default:
      return badComponentSelector;
  }
}

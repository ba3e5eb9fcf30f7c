#include "framework/ComponentBase.h"

ComponentBase::~ComponentBase() = default;

OSStatus ComponentBase::Version() { return 1; }

void ComponentBase::PostConstructor() {}

void ComponentBase::PreDestructor() {}

// pending: close, version and capability selectors arrive with the component entry.
OSStatus ComponentBase::ComponentEntryDispatch(ComponentParameters* params, ComponentBase* This) {
  if (params == nullptr || This == nullptr) return paramErr;
  return badComponentSelector;
}

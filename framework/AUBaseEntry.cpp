// The audio-unit selectors of the component entry.
#include "framework/AUBase.h"

// pending
OSStatus AUBase::ComponentEntryDispatch(ComponentParameters* params, AUBase* This) {
  if (params == nullptr || This == nullptr) return paramErr;
  return ComponentBase::ComponentEntryDispatch(params, This);
}

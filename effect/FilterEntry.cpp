#include "effect/Filter.h"
#include "framework/ComponentEntryPoint.h"

extern "C" ComponentResult FilterEntry(ComponentParameters* params, Filter* obj) {
  return ComponentEntryPoint<Filter>::Dispatch(params, obj);
}

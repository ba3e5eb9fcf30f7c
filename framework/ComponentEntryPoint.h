// The entry dispatcher of a unit class: open creates the unit object and
// attaches it to the component instance; every other selector goes to the
// audio-unit dispatch. Whatever the work throws comes back as a status.
#pragma once

#include <memory>

#include "framework/AUBase.h"
#include "framework/AUFastDispatch.h"
#include "framework/ComponentArguments.h"
#include "platform/ComponentSeam.h"

template <class Class>
class ComponentEntryPoint {
 public:
  // [any] The thread is the selector's (AUBase::ComponentEntryDispatch);
  // open and close are [control], close must not overlap any other call.
  static OSStatus Dispatch(ComponentParameters* params, Class* obj) {
    return CallReturningStatus([&]() -> OSStatus {
      if (params == nullptr) return paramErr;
      if (params->what == kComponentOpenSelect) return Open(*params);
      return AUBase::ComponentEntryDispatch(params, obj);
    });
  }

 private:
  static OSStatus Open(const ComponentParameters& params) {
    const ComponentArguments args(params, 1);
    if (!args.Complete()) return paramErr;
    const auto instance = args.Get<ComponentInstance>(0);

    // A constructor that throws has its memory freed by the new-expression;
    // a unit that fails later is destroyed here, since nobody else can
    // reach it to close it.
    std::unique_ptr<Class> unit(new Class(instance));
    unit->PostConstructor();
    const OSStatus result = SetComponentInstanceStorage(instance, unit.get());
    if (result != noErr) {
      unit->PreDestructor();
      return result;
    }
    unit.release();
    return noErr;
  }
};

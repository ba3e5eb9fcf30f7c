// Root of every unit class: one object per open component instance.
#pragma once

#include "platform/AudioTypes.h"

class ComponentBase {
 public:
  // [control; constructing]
  explicit ComponentBase(ComponentInstance inInstance) : mComponentInstance(inInstance) {}
  // [control; closing]
  virtual ~ComponentBase();

  // [control] Version reported for the version selector; units override it.
  virtual OSStatus Version();
  // [control; constructing] Runs right after construction, when virtual
  // calls reach the final class.
  virtual void PostConstructor();
  // [control; closing] Runs right before destruction, for the same reason.
  virtual void PreDestructor();

  // [any]
  ComponentInstance GetComponentInstance() const { return mComponentInstance; }

  // [control] Close, version and the component-level capability query.
  static OSStatus ComponentEntryDispatch(ComponentParameters* params, ComponentBase* This);

  ComponentBase(const ComponentBase&) = delete;
  ComponentBase& operator=(const ComponentBase&) = delete;

 protected:
  ComponentInstance mComponentInstance;
};

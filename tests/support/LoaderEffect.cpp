// A small effect built into a bundle of its own for the loader tests: the
// effect base with filter kernels and the three parameters, registering the
// level listener at construction as the deliverables do, behind an entry made
// by the framework's entry dispatcher.
#include "effect/FilterConstants.h"
#include "effect/FilterKernel.h"
#include "effect/KestNotificationObserver.h"
#include "framework/AUEffectBase.h"
#include "framework/ComponentEntryPoint.h"

class LoaderEffect : public AUEffectBase {
 public:
  explicit LoaderEffect(ComponentInstance instance) : AUEffectBase(instance, true) {
    SetParameter(kParam_CutoffFrequency, kDefaultCutoff);
    SetParameter(kParam_Resonance, kDefaultResonance);
    SetParameter(kParam_Gain, kDefaultValue_Gain);
    AddKestNotificationObserverX();
  }

  AUKernelBase* NewKernel() override { return new FilterKernel(*this); }
};

extern "C" OSStatus FilterEntry(ComponentParameters* params, LoaderEffect* unit) {
  return ComponentEntryPoint<LoaderEffect>::Dispatch(params, unit);
}

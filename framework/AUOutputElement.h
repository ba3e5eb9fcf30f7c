// An output bus: always renders into memory of its own (or the caller's).
#pragma once

#include "framework/AUIOElement.h"

class AUOutputElement : public AUIOElement {
 public:
  // [control] Lays out its memory at once when the unit is already initialized.
  explicit AUOutputElement(AUBase* audioUnit);
  ~AUOutputElement() override;

  // [control] A new format gets fresh memory while the unit is initialized.
  OSStatus SetStreamFormat(const CAStreamBasicDescription& format) override;
  // [any]
  bool NeedsBufferSpace() const override { return true; }
  AUOutputElement* AsOutputElement() final { return this; }
};

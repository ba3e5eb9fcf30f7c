// One render-notification registration: a procedure to call before and after
// each render, and the user data handed back to it.
#pragma once

#include "platform/AudioTypes.h"

struct RenderCallback {
  AURenderCallback mRenderNotify;
  void* mRenderNotifyRefCon;

  // [any] The same procedure with other user data is a separate registration.
  bool operator==(const RenderCallback& other) const {
    return mRenderNotify == other.mRenderNotify && mRenderNotifyRefCon == other.mRenderNotifyRefCon;
  }
};
static_assert(sizeof(RenderCallback) == 2 * sizeof(void*));

// Runs an operation that reports failure by throwing a bare status and
// returns that status (noErr when nothing was thrown).
#pragma once

#include <functional>

#include "platform/AudioTypes.h"

inline OSStatus ThrownStatus(const std::function<void()>& op) {
  try {
    op();
  } catch (OSStatus status) {
    return status;
  }
  return noErr;
}

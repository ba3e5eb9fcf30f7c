// The message of the ToolError a call of the host program's pieces throws.
#pragma once

#include <functional>
#include <string>

#include "tools/qelvo/ToolError.h"

// Empty when the call throws nothing.
inline std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const ToolError& e) {
    return e.what();
  }
  return "";
}

// Messages of an LV2 instance: through the host's log (log:log with a URID
// map) when it offers one, otherwise on stderr.
#pragma once

#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include <string>

class Lv2Log {
 public:
  // [control] In instantiate, from the host's features.
  explicit Lv2Log(const LV2_Feature* const* features);
  // [control] One line of the error type.
  void Error(const std::string& text) const;

 private:
  const LV2_Log_Log* log_ = nullptr;
  LV2_URID errorType_ = 0;
};

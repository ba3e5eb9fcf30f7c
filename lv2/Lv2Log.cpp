#include "lv2/Lv2Log.h"

#include <cstdio>
#include <cstring>

Lv2Log::Lv2Log(const LV2_Feature* const* features) {
  const LV2_URID_Map* map = nullptr;
  const LV2_Log_Log* log = nullptr;
  for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
    if (std::strcmp(features[i]->URI, LV2_URID__map) == 0) map = static_cast<const LV2_URID_Map*>(features[i]->data);
    if (std::strcmp(features[i]->URI, LV2_LOG__log) == 0) log = static_cast<const LV2_Log_Log*>(features[i]->data);
  }
  // A message's type is a mapped URI: without the map the log cannot be used.
  if (map != nullptr && log != nullptr && log->printf != nullptr) {
    errorType_ = map->map(map->handle, LV2_LOG__Error);
    if (errorType_ != 0) log_ = log;
  }
}

void Lv2Log::Error(const std::string& text) const {
  if (log_ != nullptr) {
    log_->printf(log_->handle, errorType_, "%s\n", text.c_str());
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

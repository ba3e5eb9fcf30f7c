// Host features for the in-process LV2 tests: a URID map, a log that keeps
// what it is told, and a worker whose work the test runs when it chooses.
#pragma once

#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

class TestUridMap {
 public:
  LV2_URID Map(const char* uri) {
    for (size_t i = 0; i < uris_.size(); ++i)
      if (uris_[i] == uri) return static_cast<LV2_URID>(i + 1);
    uris_.emplace_back(uri);
    return static_cast<LV2_URID>(uris_.size());
  }
  LV2_URID_Map* feature() { return &map_; }

 private:
  static LV2_URID Call(LV2_URID_Map_Handle handle, const char* uri) {
    return static_cast<TestUridMap*>(handle)->Map(uri);
  }
  std::vector<std::string> uris_;
  LV2_URID_Map map_{this, Call};
};

struct TestLogLine {
  LV2_URID type;
  std::string text;
};

class TestLog {
 public:
  std::vector<TestLogLine> lines;
  LV2_Log_Log* feature() { return &log_; }

 private:
  static int VPrintf(LV2_Log_Handle handle, LV2_URID type, const char* format, va_list args) {
    char text[4096];
    const int n = std::vsnprintf(text, sizeof text, format, args);
    static_cast<TestLog*>(handle)->lines.push_back({type, text});
    return n;
  }
  static int Printf(LV2_Log_Handle handle, LV2_URID type, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = VPrintf(handle, type, format, args);
    va_end(args);
    return n;
  }
  LV2_Log_Log log_{this, Printf, VPrintf};
};

// Keeps what run() asks for; the test plays the worker thread with RunWork().
class TestWorker {
 public:
  int scheduled = 0;
  LV2_Worker_Schedule* feature() { return &schedule_; }

  // Runs every queued request through the plug-in's work().
  void RunWork(const LV2_Worker_Interface* iface, LV2_Handle instance) {
    for (const std::vector<char>& message : queue_)
      iface->work(instance, Respond, nullptr, static_cast<uint32_t>(message.size()), message.data());
    queue_.clear();
  }

 private:
  static LV2_Worker_Status Schedule(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data) {
    auto* self = static_cast<TestWorker*>(handle);
    ++self->scheduled;
    const char* bytes = static_cast<const char*>(data);
    self->queue_.emplace_back(bytes, bytes + size);
    return LV2_WORKER_SUCCESS;
  }
  static LV2_Worker_Status Respond(LV2_Worker_Respond_Handle, uint32_t, const void*) { return LV2_WORKER_SUCCESS; }

  std::vector<std::vector<char>> queue_;
  LV2_Worker_Schedule schedule_{this, Schedule};
};

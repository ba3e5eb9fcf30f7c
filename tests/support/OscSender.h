// Sends OSC messages over UDP to a port on 127.0.0.1, as EEG senders do:
// floats, or integers for contact quality. For feeding `qelvo bridge` whole
// streams without a process per message.
#pragma once

#include <lo/lo.h>

#include "support/ToolRunner.h"

#include <stdexcept>
#include <string>
#include <vector>

class OscSender {
 public:
  explicit OscSender(const std::string& port) : address_(lo_address_new("127.0.0.1", port.c_str())) {
    if (address_ == nullptr) throw std::runtime_error("cannot address udp 127.0.0.1:" + port);
  }
  OscSender(const OscSender&) = delete;
  OscSender& operator=(const OscSender&) = delete;
  ~OscSender() { lo_address_free(address_); }

  void Floats(const std::string& path, const std::vector<float>& values) {
    lo_message m = lo_message_new();
    for (float v : values) lo_message_add_float(m, v);
    Send(path, m);
  }
  void Int(const std::string& path, int value) {
    lo_message m = lo_message_new();
    lo_message_add_int32(m, value);
    Send(path, m);
  }

 private:
  void Send(const std::string& path, lo_message m) {
    const int sent = lo_send_message(address_, path.c_str(), m);
    lo_message_free(m);
    if (sent < 0) throw std::runtime_error("cannot send " + path + ": " + lo_address_errstr(address_));
  }

  lo_address address_;
};

// The port a bridge started with --osc-port 0 reports on its first line.
inline std::string BridgePort(const BackgroundTool& bridge) {
  const std::string& out = bridge.Out();
  const size_t at = out.find("127.0.0.1:");
  if (at == std::string::npos) return "";
  return out.substr(at + 10, out.find(' ', at) - at - 10);
}

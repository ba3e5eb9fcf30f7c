// Fuzz target: a notification's user info as it arrives from the bus. The
// input is a signal's signature and body in the bus's wire format; the
// harness frames it as a Notification signal and writes it to sd-bus over a
// socket pair, so sd-bus takes the bytes apart as it does what the daemon
// forwards, and ReadWireNotification decodes what comes out. A read may fail
// but must never crash, read outside a buffer or leak. A read that succeeds
// must keep every limit of docs/notifications.md, must already be what the
// runtime would send (CopyUserInfoForWire gives it back unchanged) and must
// read back the same after being sent.
//
// Input: one byte n, then n bytes of signature (the body's D-Bus type
// string; "ssa{sv}" for a well-formed notification), then the body,
// little-endian.
#include <sys/socket.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/NotificationWire.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// ---- framing ---------------------------------------------------------------

class Frame {
 public:
  void Pad(size_t alignment) {
    while (bytes_.size() % alignment != 0) bytes_.push_back(0);
  }
  void Byte(uint8_t v) { bytes_.push_back(v); }
  void Word(uint32_t v) {
    Pad(4);
    for (int i = 0; i < 4; ++i) bytes_.push_back(uint8_t(v >> (8 * i)));
  }
  void String(const std::string& s) {
    Word(uint32_t(s.size()));
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    bytes_.push_back(0);
  }
  void Signature(const std::string& s) {
    Byte(uint8_t(s.size()));
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    bytes_.push_back(0);
  }
  // A header field: code, then a variant of one basic type.
  void Field(uint8_t code, char type, const std::string& value) {
    Pad(8);
    Byte(code);
    Signature(std::string(1, type));
    if (type == 'g')
      Signature(value);
    else
      String(value);
  }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// A little-endian signal message: fixed header, header fields, body.
std::vector<uint8_t> SignalMessage(const std::string& signature, const uint8_t* body, size_t bodySize,
                                   uint32_t serial) {
  Frame fields;
  fields.Field(1, 'o', kNotificationPath);
  fields.Field(2, 's', kNotificationInterface);
  fields.Field(3, 's', kNotificationMember);
  if (!signature.empty()) fields.Field(8, 'g', signature);
  Frame message;
  message.Byte('l');
  message.Byte(4);  // signal
  message.Byte(0);
  message.Byte(1);  // protocol version
  message.Word(uint32_t(bodySize));
  message.Word(serial);
  message.Word(uint32_t(fields.Bytes().size()));
  auto& out = message.Bytes();
  out.insert(out.end(), fields.Bytes().begin(), fields.Bytes().end());
  message.Pad(8);
  out.insert(out.end(), body, body + bodySize);
  return out;
}

// ---- the connection ----------------------------------------------------------

// A client connection with a hand-written peer: the peer side is an sd-bus
// server only for the authentication; after that its socket is written
// directly.
struct Pair {
  sd_bus* client = nullptr;
  sd_bus* server = nullptr;
  int peer = -1;
  uint32_t serial = 0;

  bool Open() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) return false;
    sd_id128_t id;
    sd_id128_randomize(&id);
    sd_bus_new(&client);
    sd_bus_set_fd(client, fds[0], fds[0]);
    sd_bus_set_anonymous(client, 1);
    sd_bus_new(&server);
    sd_bus_set_fd(server, fds[1], fds[1]);
    sd_bus_set_server(server, 1, id);
    sd_bus_set_anonymous(server, 1);
    if (sd_bus_start(client) < 0 || sd_bus_start(server) < 0) return false;
    for (int i = 0; i < 1000 && sd_bus_is_ready(client) <= 0; ++i) {
      sd_bus_process(client, nullptr);
      sd_bus_process(server, nullptr);
    }
    peer = fds[1];
    return sd_bus_is_ready(client) > 0;
  }

  void Close() {
    client = sd_bus_close_unref(client);
    // The server owns the peer descriptor.
    server = sd_bus_close_unref(server);
    peer = -1;
  }
};

Pair& Connection() {
  static Pair pair;
  if (pair.client == nullptr || sd_bus_is_open(pair.client) <= 0) {
    pair.Close();
    Require(pair.Open());
  }
  return pair;
}

// ---- checks -------------------------------------------------------------------

struct Totals {
  size_t values = 0;
  size_t bytes = 0;
};

void CheckValue(CFTypeRef value, int depth, Totals& totals) {
  Require(value != nullptr);
  ++totals.values;
  switch (CFGetTypeID(value)) {
    case kQelvoTypeIDString: {
      const CFIndex length = CFStringGetLength(static_cast<CFStringRef>(value));
      Require(length >= 0 && size_t(length) <= kNotificationMaxStringBytes);
      totals.bytes += size_t(length);
      return;
    }
    case kQelvoTypeIDData: {
      const CFIndex length = CFDataGetLength(static_cast<CFDataRef>(value));
      Require(length >= 0 && size_t(length) <= kNotificationMaxDataBytes);
      totals.bytes += size_t(length);
      return;
    }
    case kQelvoTypeIDNumber:
    case kQelvoTypeIDBoolean:
      return;
    case kQelvoTypeIDArray: {
      Require(depth <= kNotificationMaxDepth);
      CFArrayRef array = static_cast<CFArrayRef>(value);
      const CFIndex count = CFArrayGetCount(array);
      Require(size_t(count) <= kNotificationMaxElements);
      for (CFIndex i = 0; i < count; ++i) CheckValue(CFArrayGetValueAtIndex(array, i), depth + 1, totals);
      return;
    }
    case kQelvoTypeIDDictionary: {
      Require(depth <= kNotificationMaxDepth);
      CFDictionaryRef dict = static_cast<CFDictionaryRef>(value);
      const CFIndex count = CFDictionaryGetCount(dict);
      Require(size_t(count) <= kNotificationMaxElements);
      std::vector<const void*> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
      CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
      for (CFIndex i = 0; i < count; ++i) {
        Require(CFGetTypeID(keys[i]) == kQelvoTypeIDString);
        CheckValue(keys[i], depth, totals);
        --totals.values;  // keys count as bytes only
        CheckValue(values[i], depth + 1, totals);
      }
      return;
    }
    default:
      Require(false);  // nothing else is transported
  }
}

// Equal and of the same kinds throughout: an integer must not come back as a
// float or the other way round.
bool SameValue(CFTypeRef a, CFTypeRef b) {
  if (a == nullptr || b == nullptr) return a == b;
  if (CFGetTypeID(a) != CFGetTypeID(b)) return false;
  switch (CFGetTypeID(a)) {
    case kQelvoTypeIDNumber:
      return CFNumberIsFloatType(static_cast<CFNumberRef>(a)) == CFNumberIsFloatType(static_cast<CFNumberRef>(b)) &&
             CFEqual(a, b);
    case kQelvoTypeIDArray: {
      CFArrayRef x = static_cast<CFArrayRef>(a), y = static_cast<CFArrayRef>(b);
      if (CFArrayGetCount(x) != CFArrayGetCount(y)) return false;
      for (CFIndex i = 0; i < CFArrayGetCount(x); ++i)
        if (!SameValue(CFArrayGetValueAtIndex(x, i), CFArrayGetValueAtIndex(y, i))) return false;
      return true;
    }
    case kQelvoTypeIDDictionary: {
      CFDictionaryRef x = static_cast<CFDictionaryRef>(a), y = static_cast<CFDictionaryRef>(b);
      const CFIndex count = CFDictionaryGetCount(x);
      if (count != CFDictionaryGetCount(y)) return false;
      std::vector<const void*> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
      CFDictionaryGetKeysAndValues(x, keys.data(), values.data());
      for (CFIndex i = 0; i < count; ++i)
        if (!SameValue(values[i], CFDictionaryGetValue(y, keys[i]))) return false;
      return true;
    }
    default:
      return CFEqual(a, b);
  }
}

void CheckDecoded(Pair& pair, const WireNotification& n) {
  Require(n.name && size_t(CFStringGetLength(n.name.get())) <= kNotificationMaxStringBytes);
  if (n.object) Require(CFStringGetLength(n.object.get()) > 0);
  if (n.userInfo) {
    Require(CFDictionaryGetCount(n.userInfo.get()) > 0);
    Totals totals;
    CheckValue(n.userInfo.get(), 1, totals);
    Require(totals.values <= kNotificationMaxValues && totals.bytes <= kNotificationMaxTotalBytes);
  }

  bool tooLarge = true;
  CFRef<CFDictionaryRef> forWire =
      n.userInfo ? CopyUserInfoForWire(n.userInfo.get(), &tooLarge) : CFRef<CFDictionaryRef>();
  if (n.userInfo) Require(!tooLarge && SameValue(forWire.get(), n.userInfo.get()));

  // Sent and read again: the same notification.
  sd_bus_message* m = nullptr;
  Require(sd_bus_message_new_signal(pair.client, &m, kNotificationPath, kNotificationInterface,
                                    kNotificationMember) >= 0);
  Require(AppendWireNotification(m, n.name.get(), n.object.get(), forWire.get()) >= 0);
  Require(sd_bus_message_seal(m, ++pair.serial, 0) >= 0);
  WireNotification again;
  Require(ReadWireNotification(m, &again));
  sd_bus_message_unref(m);
  Require(CFEqual(again.name.get(), n.name.get()));
  Require(SameValue(again.object.get(), n.object.get()));
  Require(SameValue(again.userInfo.get(), n.userInfo.get()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  const size_t signatureLength = std::min<size_t>(data[0], size - 1);
  const std::string signature(reinterpret_cast<const char*>(data + 1), signatureLength);
  // A zero byte ends the signature field early and leaves sd-bus nothing
  // but a framing error to report.
  if (signature.find('\0') != std::string::npos) return 0;
  const uint8_t* body = data + 1 + signatureLength;
  const size_t bodySize = size - 1 - signatureLength;

  Pair& pair = Connection();
  const std::vector<uint8_t> message = SignalMessage(signature, body, bodySize, ++pair.serial);
  if (write(pair.peer, message.data(), message.size()) != ssize_t(message.size())) {
    pair.Close();
    return 0;
  }
  for (;;) {
    sd_bus_message* m = nullptr;
    const int r = sd_bus_process(pair.client, &m);
    if (m != nullptr) {
      WireNotification n;
      if (ReadWireNotification(m, &n)) CheckDecoded(pair, n);
      sd_bus_message_unref(m);
    }
    if (r <= 0) break;
  }
  return 0;
}

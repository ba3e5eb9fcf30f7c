// OSC datagrams built by hand, for tests of the bridge: padded strings,
// big-endian numbers, messages and bundles, and sending one over UDP.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace osc {

// Zero-terminated and padded to a multiple of four bytes.
inline std::string S(const std::string& text) {
  std::string out = text;
  out.append(4 - text.size() % 4, '\0');
  return out;
}

inline std::string Big32(uint32_t v) {
  const uint32_t big = htonl(v);
  return std::string(reinterpret_cast<const char*>(&big), 4);
}

inline std::string Big64(uint64_t v) { return Big32(uint32_t(v >> 32)) + Big32(uint32_t(v)); }

inline std::string F(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  return Big32(bits);
}

inline std::string D(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  return Big64(bits);
}

inline std::string I(int32_t v) { return Big32(static_cast<uint32_t>(v)); }

// tags without the leading comma; body: the arguments, already encoded.
inline std::string Message(const std::string& address, const std::string& tags, const std::string& body = "") {
  return S(address) + S("," + tags) + body;
}

// Time tag 1: "at once".
inline std::string Bundle(const std::vector<std::string>& elements, uint64_t timeTag = 1) {
  std::string out = S("#bundle") + Big64(timeTag);
  for (const std::string& e : elements) out += Big32(static_cast<uint32_t>(e.size())) + e;
  return out;
}

// Sends one datagram to 127.0.0.1:port.
inline bool SendUdp(int port, const std::string& datagram) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool sent = fd >= 0 && sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                                      sizeof to) == static_cast<ssize_t>(datagram.size());
  if (fd >= 0) close(fd);
  return sent;
}

// The port a command started with port 0 names on its output after
// "127.0.0.1:"; 0 while it has not said.
inline int BoundPort(const std::string& output) {
  const size_t at = output.find("127.0.0.1:");
  return at == std::string::npos ? 0 : std::atoi(output.c_str() + at + 10);
}

}  // namespace osc

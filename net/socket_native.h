// What the socket sources (socket_common.cpp and the platform's own) share
// about the system's socket API: the raw views of an address and the names
// of the options. Not for use above the socket seam.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "net/socket.h"

namespace net::sock::native {

inline sockaddr* Raw(Address& address) { return reinterpret_cast<sockaddr*>(address.bytes); }
inline const sockaddr* Raw(const Address& address) { return reinterpret_cast<const sockaddr*>(address.bytes); }

// The platform's own socket type: a descriptor, or a SOCKET on Windows.
using Native = decltype(::socket(0, 0, 0));

struct OptionLevel {
  int level;
  int name;
};

inline OptionLevel OptionName(Option option) {
  switch (option) {
    case Option::Broadcast: return {SOL_SOCKET, SO_BROADCAST};
    case Option::ReceiveBuffer: return {SOL_SOCKET, SO_RCVBUF};
    case Option::IPv6Only: return {IPPROTO_IPV6, IPV6_V6ONLY};
    case Option::MulticastLoop: return {IPPROTO_IP, IP_MULTICAST_LOOP};
    case Option::MulticastTTL: return {IPPROTO_IP, IP_MULTICAST_TTL};
  }
  return {SOL_SOCKET, -1};
}

}  // namespace net::sock::native

// What is the same on BSD sockets and on Winsock 2, written once for both:
// socket addresses, the IPv6 probe and IPv4 group membership.
#ifndef _WIN32
#include <arpa/inet.h>
#endif

#include "net/socket_native.h"

namespace net::sock {

namespace {

using native::Native;
using native::Raw;

bool Membership(Handle handle, int name, std::uint32_t group, std::uint32_t interfaceAddress) {
  ip_mreq request{};
  request.imr_multiaddr.s_addr = group;
  request.imr_interface.s_addr = interfaceAddress;
  return ::setsockopt(static_cast<Native>(handle), IPPROTO_IP, name, reinterpret_cast<const char*>(&request),
                      sizeof request) == 0;
}

}  // namespace

Address AnyAddress(Family family, std::uint16_t port) {
  Address address;
  if (family == Family::IPv6) {
    auto& a = *reinterpret_cast<sockaddr_in6*>(address.bytes);
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = in6addr_any;
    address.length = sizeof a;
  } else {
    auto& a = *reinterpret_cast<sockaddr_in*>(address.bytes);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    address.length = sizeof a;
  }
  return address;
}

Address IPv4Address(std::uint32_t address, std::uint16_t port) {
  Address out = AnyAddress(Family::IPv4, port);
  reinterpret_cast<sockaddr_in*>(out.bytes)->sin_addr.s_addr = address;
  return out;
}

bool ParseAddress(Family family, const std::string& text, std::uint16_t port, Address& out) {
  out = AnyAddress(family, port);
  if (family == Family::IPv6)
    return ::inet_pton(AF_INET6, text.c_str(), &reinterpret_cast<sockaddr_in6*>(out.bytes)->sin6_addr) == 1;
  return ::inet_pton(AF_INET, text.c_str(), &reinterpret_cast<sockaddr_in*>(out.bytes)->sin_addr) == 1;
}

void AddressText(const Address& address, std::string& out) {
  char text[INET6_ADDRSTRLEN] = {};
  if (Raw(address)->sa_family == AF_INET6) {
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address.bytes)->sin6_addr, text, sizeof text);
  } else {
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address.bytes)->sin_addr, text, sizeof text);
  }
  out.assign(text);
}

std::uint16_t AddressPort(const Address& address) {
  if (Raw(address)->sa_family == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6*>(address.bytes)->sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in*>(address.bytes)->sin_port);
}

std::uint32_t InetAddr(const std::string& text) { return ::inet_addr(text.c_str()); }

bool OffersIPv6() {
  const Handle probe = Open(Family::IPv6);
  if (probe == kNone) return false;
  Close(probe);
  return true;
}

bool JoinGroup(Handle handle, std::uint32_t group, std::uint32_t interfaceAddress) {
  return Membership(handle, IP_ADD_MEMBERSHIP, group, interfaceAddress);
}

bool LeaveGroup(Handle handle, std::uint32_t group, std::uint32_t interfaceAddress) {
  return Membership(handle, IP_DROP_MEMBERSHIP, group, interfaceAddress);
}

}  // namespace net::sock

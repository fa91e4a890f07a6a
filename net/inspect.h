// What the system can tell about its network, for diagnosing why devices are
// not heard: the adapters, the source address the system would pick for a
// destination, who holds a UDP port, and what may filter the announcements.
// inspect_posix.cpp and inspect_win32.cpp implement it with the same
// contract. Nothing here sends a datagram.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/socket.h"

namespace net::inspect {

struct AdapterAddress {
  std::uint32_t address = 0;  // IPv4, network byte order
  int prefix = 0;             // prefix length of its subnet
};

struct AdapterInfo {
  std::string name;  // the system's name (the friendly name on Windows), UTF-8
  unsigned index = 0;  // the interface index that packet information reports
  // "loopback", "wireless", "tunnel", "virtual", "ethernet", or empty when
  // the system does not tell.
  std::string kind;
  std::vector<AdapterAddress> addresses;
  // Reverse-path filtering in force on the adapter (Linux: 0 off, 1 strict,
  // 2 loose); -1 where the system has no such setting or does not tell.
  int rpFilter = -1;
};

// Every adapter that is up and connected and has an IPv4 address, in the
// system's order.
// False when the system cannot list them.
bool ListAdapters(std::vector<AdapterInfo>& out);

// The local IPv4 address (network order) the system would send from to
// 'destination' at 'port', found by connecting a UDP socket and reading its
// address back; nothing is sent. 0 when the system has no route.
std::uint32_t SourceAddressFor(std::uint32_t destination, std::uint16_t port);

struct PortOwner {
  std::string program;  // image or command name; empty when the system does not tell
  long pid = 0;
};

// The processes other than this one holding UDP 'port' on the family (an
// IPv6 socket that also carries IPv4 counts for IPv4). Empty when the system
// does not tell.
std::vector<PortOwner> PortOwners(sock::Family family, std::uint16_t port);

enum class FirewallState {
  NotChecked,  // the system has no firewall this code can ask (Linux)
  Unknown,     // there is one, but it could not be asked (no rights, an emulated system)
  Off,         // off for every active profile, or inbound allowed by default
  Allowed,     // on, and an inbound rule allows each of the programs UDP on the ports
  Blocked,     // on, and some program has no such rule
};

struct Firewall {
  FirewallState state = FirewallState::NotChecked;
  std::vector<std::string> blockedPrograms;  // with Blocked: the programs no rule lets in
  std::string reason;                        // with Unknown: why, in English
};

// Whether inbound UDP to 'ports' is let through to the programs (file names
// such as "orven-setup.exe") on the active profiles.
Firewall CheckFirewall(const std::vector<std::string>& programs, const std::vector<std::uint16_t>& ports);

}  // namespace net::inspect

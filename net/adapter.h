// Choosing one network adapter of the workstation for a socket: the part of
// the socket seam that ties sockets to an adapter. adapter_posix.cpp and
// adapter_win32.cpp implement it with the same contract.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/socket.h"

namespace net::sock {

struct Adapter {
  std::string name;        // the system's name of the adapter
  std::uint32_t ipv4 = 0;  // its first IPv4 address, network byte order; 0 when it has none
};

// Finds the adapter by its name or by one of its IPv4 addresses (dotted
// quad). False when there is none.
bool FindAdapter(const std::string& nameOrAddress, Adapter& out);

// Every IPv4 address of the workstation's adapters (network byte order), the
// loopback ones too. Empty when the system cannot list them.
std::vector<std::uint32_t> LocalAddresses();

// Binds the socket at 'port' so that it receives only datagrams that arrive
// through the adapter, and what it sends leaves through it: on Linux the
// socket is tied to the adapter's device and bound to the wildcard address;
// on Windows it is bound to the adapter's address (IPv4 only: an IPv6 socket
// fails with the code for an unsupported address family). On failure the
// reason is left for LastSocketError().
bool BindToAdapter(Handle handle, Family family, const Adapter& adapter, std::uint16_t port);

}  // namespace net::sock

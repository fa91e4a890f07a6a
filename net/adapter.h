// Choosing one network adapter of the workstation for a socket: the part of
// the socket seam that ties sockets to an adapter. adapter_posix.cpp and
// adapter_win32.cpp implement it with the same contract.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/socket.h"

namespace net::sock {

struct Adapter {
  std::string name;        // the system's name of the adapter
  std::uint32_t ipv4 = 0;  // its first IPv4 address, network byte order; 0 when it has none
};

// Finds the adapter by its name or by one of its IPv4 addresses (dotted
// quad). False when there is none.
bool FindAdapter(const std::string& nameOrAddress, Adapter& out);

// Binds the socket at 'port' so that it receives only datagrams that arrive
// through the adapter, and what it sends leaves through it: on Linux the
// socket is tied to the adapter's device and bound to the wildcard address;
// on Windows it is bound to the adapter's address (IPv4 only: an IPv6 socket
// fails with the code for an unsupported address family). On failure the
// reason is left for LastSocketError().
bool BindToAdapter(Handle handle, Family family, const Adapter& adapter, std::uint16_t port);

// Sends one datagram as SendTo() does, out of the adapter 'through' names
// (a limited broadcast leaves by that adapter, not by the route the system
// would choose), from the socket's own address and port; nothing is left set
// on the socket. With no adapter (index 0), or when the adapter cannot be
// sent through (it has gone), the datagram is sent once as SendTo() sends it.
Sent SendThrough(Handle handle, const std::uint8_t* data, std::size_t size, const Address& destination,
                 const Arrival& through);

// The system's name of the adapter with that interface index (the friendly
// name on Windows, UTF-8); empty when there is none.
std::string AdapterName(unsigned index);

}  // namespace net::sock

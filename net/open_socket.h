// Opening a datagram socket, the one way every program here does it: the
// window's endpoints, orven-cli and the simulator describe the socket they
// want and get it made in the same steps, in the same order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/adapter.h"
#include "net/socket.h"

namespace net::sock {

struct SocketSettings {
  Family family = Family::IPv4;
  std::uint16_t port = 0;            // local port; 0: the system picks one
  std::string address;               // local address (numeric text); empty: the wildcard address
  const Adapter* adapter = nullptr;  // instead of 'address': tied to this adapter (BindToAdapter)
  bool broadcast = false;            // permission to send to a broadcast address
  bool multicastSender = false;      // own group datagrams delivered locally, time-to-live 1
  int receiveBuffer = 0;             // asks for at least this many bytes (EnlargeReceiveBuffer); 0: the system's
  // IPv4 group to join after the bind, network byte order. It is joined on
  // the adapter's address, else on the local address, else on the system's
  // default multicast interface.
  std::optional<std::uint32_t> group;
  // With port 0: ports the system's choice must not be. A socket the system
  // put on one of them stays open while another is made, so that the system
  // cannot offer that port again, and is closed at the end; when the system
  // has no other port left, the bind step fails.
  std::vector<std::uint16_t> avoidPorts;
};

// The steps in the order they are taken. An IPv6 socket always carries IPv6
// traffic only, so it never collides with an IPv4 socket on the same port.
enum class OpenStep { Create, IPv6Only, Broadcast, MulticastLoop, MulticastTTL, Bind, Join };

struct Opened {
  Handle handle = kNone;         // kNone when a step failed
  OpenStep failedAt = OpenStep::Create;
  int error = 0;                 // Windows socket error code of the failure (LastSocketError())
  bool ok() const { return handle != kNone; }
};

// Makes the socket; on failure nothing stays open. A local address that is
// not numeric text fails the bind step (error: 10022, invalid argument).
Opened OpenSocket(const SocketSettings& settings);

}  // namespace net::sock

// The few datagram-socket and thread operations the endpoints need, with one
// contract on every platform. socket_posix.cpp implements them on BSD
// sockets, socket_win32.cpp on Winsock 2; everything above this header is
// written once.
//
// Failures: a function that reports failure leaves the reason for
// LastSocketError() (net/errors.h), which gives it as a Windows socket error
// code on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace net::sock {

// A socket: a descriptor on POSIX, a SOCKET on Windows. kNone is no socket.
using Handle = std::intptr_t;
constexpr Handle kNone = -1;

enum class Family { IPv4, IPv6 };

// An IPv4 or IPv6 address with a port, as the system's socket calls take it.
struct Address {
  alignas(8) unsigned char bytes[128] = {};
  int length = 0;
};

// The wildcard address of the family with the port.
Address AnyAddress(Family family, std::uint16_t port);
// An IPv4 address given in network byte order, with the port.
Address IPv4Address(std::uint32_t address, std::uint16_t port);
// Numeric address text (dotted quad or IPv6 notation); false when unreadable.
bool ParseAddress(Family family, const std::string& text, std::uint16_t port, Address& out);
// Writes the address as text into 'out', reusing its storage.
void AddressText(const Address& address, std::string& out);
std::uint16_t AddressPort(const Address& address);

// The platform's own inet_addr(): a dotted quad in network byte order;
// kNoAddress (which is also 255.255.255.255) for text it cannot read.
constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu;
std::uint32_t InetAddr(const std::string& text);

// True when the socket layer offers IPv6 datagram sockets.
bool OffersIPv6();

// A datagram socket of the family (UDP), not inherited by child processes;
// kNone on failure.
Handle Open(Family family);
// Closes the socket. Safe with kNone.
void Close(Handle handle) noexcept;
// Wakes threads waiting on or receiving from the socket, as far as the
// platform allows; the handle itself stays valid until Close().
void Wake(Handle handle) noexcept;

bool Bind(Handle handle, const Address& local);
bool LocalAddress(Handle handle, Address& out);

enum class Option {
  Broadcast,       // permission to send to a broadcast address (0/1)
  ReceiveBuffer,   // receive buffer size in bytes
  IPv6Only,        // an IPv6 socket carries no IPv4 traffic (0/1)
  MulticastLoop,   // own multicast datagrams are delivered locally (0/1)
  MulticastTTL,    // time-to-live of multicast datagrams
};
bool SetOption(Handle handle, Option option, int value);
bool GetOption(Handle handle, Option option, int& value);
// Best effort: asks for a receive buffer of at least 'bytes', beyond the
// system's cap for ordinary programs where the program may go beyond it.
void EnlargeReceiveBuffer(Handle handle, int bytes) noexcept;

// IPv4 group membership; group and interface in network byte order
// (interface 0: the system's default multicast interface).
bool JoinGroup(Handle handle, std::uint32_t group, std::uint32_t interfaceAddress);
bool LeaveGroup(Handle handle, std::uint32_t group, std::uint32_t interfaceAddress);

// Waits up to timeoutMs for any of the sockets to become readable (a
// pending error counts as readable: the receive reports it). Returns the
// number of readable sockets, 0 on time-out, -1 on failure (a socket that is
// no socket any more included); 'readable[i]' tells which.
int WaitReadable(const Handle* handles, bool* readable, std::size_t count, int timeoutMs);

// The adapter a datagram came in on, from the receive's packet information:
// the system's interface index (0: not told) and, where the system tells it,
// the adapter's own IPv4 address, network byte order (0: not told).
struct Arrival {
  unsigned index = 0;
  std::uint32_t local = 0;
};

// Asks the socket to report each datagram's Arrival to Receive(). False when
// the system refuses; Receive() then reports none.
bool EnableArrival(Handle handle, Family family);

enum class Received {
  Datagram,   // 'length' bytes (0 possible) are in the buffer
  Oversized,  // the datagram was longer than the buffer: it is consumed, none of it counts
  Nothing,    // no datagram was waiting
  Failed,     // see LastSocketError()
};
// Takes one datagram without blocking; with 'arrival', also the adapter it
// came in on (left {} where the socket does not report it).
Received Receive(Handle handle, std::uint8_t* buffer, std::size_t size, std::size_t& length,
                 Address& source, Arrival* arrival = nullptr);

enum class Sent {
  Whole,      // 'sent' == size
  Part,       // fewer bytes than given went out
  TooBig,     // longer than the socket can send as one datagram
  WouldBlock, // only with wait == false: the send buffer is full
  Failed,     // see LastSocketError()
};
// Sends one datagram; with wait == true it waits for room in the send
// buffer, with wait == false it never blocks.
Sent SendTo(Handle handle, const std::uint8_t* data, std::size_t size, const Address& destination,
            bool wait = true);

// Raises the calling thread to the highest normal priority of the platform
// (above the GUI thread). Best effort: without the right to, it stays.
void RaiseThreadPriority() noexcept;
// The processor the calling thread runs on at this moment, or -1 where the
// system does not tell.
int CurrentProcessor() noexcept;

// Threads and the processors they may run on. Where the system does not let
// a thread be kept to one processor (here: everywhere but Linux), these do
// nothing and return false.
using ThreadId = std::intptr_t;
// The calling thread.
ThreadId CurrentThread() noexcept;
// Keeps the thread to that one processor from now on.
bool RunOnlyOn(ThreadId thread, int processor) noexcept;
// Lets the thread run on every processor the process had when it first kept
// a thread to one.
bool RunAnywhere(ThreadId thread) noexcept;

}  // namespace net::sock

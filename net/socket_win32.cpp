// The socket seam on Winsock 2 (Windows).
//
// Sockets are made non-blocking, so a receive never blocks; a send that
// finds the send buffer full waits for room, as a blocking send would.
// Error codes are Winsock's own, which are the codes of the error table.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <windows.h>

#include "net/socket.h"

#include <vector>

#include "net/errors.h"
#include "net/socket_native.h"

namespace net {

int WindowsSocketCode(int platformError) { return platformError; }

int LastSocketError() { return ::WSAGetLastError(); }

}  // namespace net

namespace net::sock {

namespace {

// Winsock is started once per process, before the first socket is made.
// It is never stopped: the process's end releases it, also for threads
// that are still about to close their sockets then.
void StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

SOCKET Sock(Handle handle) { return static_cast<SOCKET>(handle); }

using native::OptionName;
using native::Raw;

// Waits up to timeoutMs for room to send.
void WaitWritable(Handle handle, int timeoutMs) {
  WSAPOLLFD waitFor{Sock(handle), POLLWRNORM, 0};
  ::WSAPoll(&waitFor, 1, timeoutMs);
}

}  // namespace

Handle Open(Family family) {
  StartWinsock();
  const SOCKET s = ::socket(family == Family::IPv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return kNone;
  u_long nonBlocking = 1;
  if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    const int code = ::WSAGetLastError();
    ::closesocket(s);
    ::WSASetLastError(code);
    return kNone;
  }
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<Handle>(s);
}

void Close(Handle handle) noexcept {
  if (handle != kNone) ::closesocket(Sock(handle));
}

void Wake(Handle handle) noexcept {
  if (handle != kNone) ::shutdown(Sock(handle), SD_BOTH);
}

bool Bind(Handle handle, const Address& local) { return ::bind(Sock(handle), Raw(local), local.length) == 0; }

bool LocalAddress(Handle handle, Address& out) {
  out = Address{};
  int length = sizeof out.bytes;
  if (::getsockname(Sock(handle), Raw(out), &length) != 0) return false;
  out.length = length;
  return true;
}

bool SetOption(Handle handle, Option option, int value) {
  const native::OptionLevel o = OptionName(option);
  const DWORD dword = static_cast<DWORD>(value);
  return ::setsockopt(Sock(handle), o.level, o.name, reinterpret_cast<const char*>(&dword), sizeof dword) == 0;
}

bool GetOption(Handle handle, Option option, int& value) {
  const native::OptionLevel o = OptionName(option);
  DWORD dword = 0;
  int length = sizeof dword;
  const bool ok = ::getsockopt(Sock(handle), o.level, o.name, reinterpret_cast<char*>(&dword), &length) == 0;
  value = static_cast<int>(dword);
  return ok;
}

void EnlargeReceiveBuffer(Handle handle, int bytes) noexcept { SetOption(handle, Option::ReceiveBuffer, bytes); }

int WaitReadable(const Handle* handles, bool* readable, std::size_t count, int timeoutMs) {
  WSAPOLLFD one{};
  std::vector<WSAPOLLFD> many;
  WSAPOLLFD* waitFor = &one;
  if (count > 1) {
    many.resize(count);
    waitFor = many.data();
  }
  for (std::size_t i = 0; i < count; ++i) waitFor[i] = WSAPOLLFD{Sock(handles[i]), POLLRDNORM, 0};
  const int ready = ::WSAPoll(waitFor, static_cast<ULONG>(count), timeoutMs);
  if (ready == SOCKET_ERROR) return -1;
  for (std::size_t i = 0; i < count; ++i) {
    if (waitFor[i].revents & POLLNVAL) {
      ::WSASetLastError(WSAENOTSOCK);
      return -1;
    }
    readable[i] = waitFor[i].revents != 0;
  }
  return ready;
}

bool EnableArrival(Handle handle, Family family) {
  const DWORD on = 1;
  if (family == Family::IPv6)
    return ::setsockopt(Sock(handle), IPPROTO_IPV6, IPV6_PKTINFO, reinterpret_cast<const char*>(&on), sizeof on) == 0;
  return ::setsockopt(Sock(handle), IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

namespace {

// WSARecvMsg is reached through a pointer the provider gives; it is the
// same for every datagram socket.
LPFN_WSARECVMSG RecvMsg(SOCKET s) {
  static const LPFN_WSARECVMSG function = [s] {
    GUID id = WSAID_WSARECVMSG;
    LPFN_WSARECVMSG f = nullptr;
    DWORD bytes = 0;
    return ::WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &f, sizeof f, &bytes, nullptr,
                      nullptr) == 0
               ? f
               : nullptr;
  }();
  return function;
}

Received Failure(std::size_t& length) {
  length = 0;
  switch (::WSAGetLastError()) {
    case WSAEMSGSIZE: return Received::Oversized;  // the rest of the datagram is discarded
    case WSAEWOULDBLOCK: return Received::Nothing;
    default: return Received::Failed;
  }
}

// A receive with the packet information: the adapter's index (the address
// Windows tells is the datagram's destination, not the adapter's).
Received ReceiveWithArrival(LPFN_WSARECVMSG recvMsg, SOCKET s, std::uint8_t* buffer, std::size_t size,
                            std::size_t& length, Address& source, Arrival& arrival) {
  alignas(WSACMSGHDR) char control[128];
  WSABUF data{static_cast<ULONG>(size), reinterpret_cast<char*>(buffer)};
  WSAMSG message{};
  message.name = Raw(source);
  message.namelen = sizeof source.bytes;
  message.lpBuffers = &data;
  message.dwBufferCount = 1;
  message.Control.buf = control;
  message.Control.len = sizeof control;
  DWORD received = 0;
  if (recvMsg(s, &message, &received, nullptr, nullptr) != 0) return Failure(length);
  if (message.dwFlags & MSG_TRUNC) {
    length = 0;
    return Received::Oversized;
  }
  source.length = message.namelen;
  length = received;
  for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message); c != nullptr; c = WSA_CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
      arrival.index = reinterpret_cast<const IN_PKTINFO*>(WSA_CMSG_DATA(c))->ipi_ifindex;
    else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO)
      arrival.index = reinterpret_cast<const IN6_PKTINFO*>(WSA_CMSG_DATA(c))->ipi6_ifindex;
  }
  return Received::Datagram;
}

}  // namespace

Received Receive(Handle handle, std::uint8_t* buffer, std::size_t size, std::size_t& length,
                 Address& source, Arrival* arrival) {
  if (arrival != nullptr) {
    *arrival = Arrival{};
    if (const LPFN_WSARECVMSG recvMsg = RecvMsg(Sock(handle)))
      return ReceiveWithArrival(recvMsg, Sock(handle), buffer, size, length, source, *arrival);
  }
  int sourceLength = sizeof source.bytes;
  const int n = ::recvfrom(Sock(handle), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0, Raw(source),
                           &sourceLength);
  if (n == SOCKET_ERROR) return Failure(length);
  source.length = sourceLength;
  length = static_cast<std::size_t>(n);
  return Received::Datagram;
}

Sent SendTo(Handle handle, const std::uint8_t* data, std::size_t size, const Address& destination, bool wait) {
  for (;;) {
    const int sent = ::sendto(Sock(handle), reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
                              Raw(destination), destination.length);
    if (sent != SOCKET_ERROR) return static_cast<std::size_t>(sent) == size ? Sent::Whole : Sent::Part;
    switch (::WSAGetLastError()) {
      case WSAEMSGSIZE: return Sent::TooBig;
      case WSAEWOULDBLOCK:
        if (!wait) return Sent::WouldBlock;
        WaitWritable(handle, 1000);
        continue;
      default: return Sent::Failed;
    }
  }
}

void RaiseThreadPriority() noexcept { ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST); }

int CurrentProcessor() noexcept { return static_cast<int>(::GetCurrentProcessorNumber()); }

// Not done on Windows: see the hand-over's processor sharing.
ThreadId CurrentThread() noexcept { return 0; }
bool RunOnlyOn(ThreadId, int) noexcept { return false; }
bool RunAnywhere(ThreadId) noexcept { return false; }

}  // namespace net::sock

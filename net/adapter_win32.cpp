// Adapter choice on Windows: GetAdaptersAddresses() and a bind to the
// adapter's address (Windows delivers an adapter's broadcasts and group
// datagrams to a socket bound to its address); for one datagram sent through
// an adapter, IP_UNICAST_IF together with WSASendMsg's IN_PKTINFO.
#include "net/adapter.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <iphlpapi.h>
#include <windows.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "net/helpers_win32.h"

namespace net::sock {

bool FindAdapter(const std::string& nameOrAddress, Adapter& out) {
  std::vector<unsigned char> storage;
  IP_ADAPTER_ADDRESSES* const list = AdaptersAddresses(GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, storage);
  if (list == nullptr) return false;
  const std::uint32_t wanted = ::inet_addr(nameOrAddress.c_str());
  const bool byAddress = wanted != INADDR_NONE || nameOrAddress == "255.255.255.255";
  for (auto* a = list; a != nullptr; a = a->Next) {
    std::uint32_t first = 0;
    bool match = !byAddress && (nameOrAddress == Utf8FromWide(a->FriendlyName) || nameOrAddress == a->AdapterName);
    for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
      if (u->Address.lpSockaddr == nullptr || u->Address.lpSockaddr->sa_family != AF_INET) continue;
      const std::uint32_t address = reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr)->sin_addr.s_addr;
      if (first == 0) first = address;
      if (byAddress && address == wanted) match = true;
    }
    if (match) {
      out.name = Utf8FromWide(a->FriendlyName);
      out.ipv4 = byAddress ? wanted : first;
      return true;
    }
  }
  return false;
}

bool BindToAdapter(Handle handle, Family family, const Adapter& adapter, std::uint16_t port) {
  if (family != Family::IPv4) {
    ::WSASetLastError(WSAEAFNOSUPPORT);
    return false;
  }
  return Bind(handle, IPv4Address(adapter.ipv4, port));
}

namespace {

// The adapters by interface index: name and first IPv4 address. Asking the
// system costs far more than a send, so the answer is kept: asked again
// after 5 s, or after a second for an index it did not know (an adapter just
// plugged in), so that a flood of answers, or a list of thousands of devices,
// never asks it more than once a second.
struct KnownAdapter {
  std::string name;
  std::uint32_t address = 0;
};

KnownAdapter LookUpAdapter(unsigned index) {
  static std::mutex mutex;
  static std::unordered_map<unsigned, KnownAdapter> known;
  static std::chrono::steady_clock::time_point asked;
  static bool everAsked = false;
  const std::lock_guard<std::mutex> lock(mutex);
  const auto now = std::chrono::steady_clock::now();
  const auto age = now - asked;
  if (!everAsked || age > std::chrono::seconds(5) || (known.count(index) == 0 && age > std::chrono::seconds(1))) {
    known.clear();
    asked = now;
    everAsked = true;
    std::vector<unsigned char> storage;
    for (auto* a = AdaptersAddresses(GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                     storage);
         a != nullptr; a = a->Next) {
      KnownAdapter& k = known[a->IfIndex];
      k.name = Utf8FromWide(a->FriendlyName);
      for (auto* u = a->FirstUnicastAddress; u != nullptr && k.address == 0; u = u->Next)
        if (u->Address.lpSockaddr != nullptr && u->Address.lpSockaddr->sa_family == AF_INET)
          k.address = reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr)->sin_addr.s_addr;
    }
  }
  const auto it = known.find(index);
  return it == known.end() ? KnownAdapter{} : it->second;
}

bool SetUnicastInterface(SOCKET s, unsigned index) {
  const DWORD value = ::htonl(index);  // this option takes the index in network byte order
  return ::setsockopt(s, IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

// WSASendMsg with IN_PKTINFO naming the adapter (its index and its address:
// with the index alone, datagrams have been seen leaving from 0.0.0.0).
Sent SendWithPacketInfo(SOCKET s, const std::uint8_t* data, std::size_t size, const Address& destination,
                        unsigned index, std::uint32_t local) {
  alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
  WSABUF part{static_cast<ULONG>(size), reinterpret_cast<char*>(const_cast<std::uint8_t*>(data))};
  WSAMSG message{};
  message.name = reinterpret_cast<sockaddr*>(const_cast<unsigned char*>(destination.bytes));
  message.namelen = destination.length;
  message.lpBuffers = &part;
  message.dwBufferCount = 1;
  message.Control.buf = control;
  message.Control.len = sizeof control;
  WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message);
  c->cmsg_level = IPPROTO_IP;
  c->cmsg_type = IP_PKTINFO;
  c->cmsg_len = WSA_CMSG_LEN(sizeof(IN_PKTINFO));
  IN_PKTINFO info{};
  info.ipi_addr.s_addr = local;
  info.ipi_ifindex = index;
  std::memcpy(WSA_CMSG_DATA(c), &info, sizeof info);
  for (int waits = 0;; ++waits) {
    DWORD sent = 0;
    if (::WSASendMsg(s, &message, 0, &sent, nullptr, nullptr) == 0)
      return sent == size ? Sent::Whole : Sent::Part;
    const int error = ::WSAGetLastError();
    if (error == WSAEMSGSIZE) return Sent::TooBig;
    if (error != WSAEWOULDBLOCK || waits == 10) return Sent::Failed;
    WSAPOLLFD room{s, POLLWRNORM, 0};  // the socket is non-blocking: wait for room as SendTo() does
    ::WSAPoll(&room, 1, 1000);
  }
}

}  // namespace

Sent SendThrough(Handle handle, const std::uint8_t* data, std::size_t size, const Address& destination,
                 const Arrival& through) {
  const SOCKET s = static_cast<SOCKET>(handle);
  const std::uint32_t local =
      through.index == 0 ? 0 : through.local != 0 ? through.local : LookUpAdapter(through.index).address;
  // Windows honours the packet information for the send, Wine only
  // IP_UNICAST_IF: both, so that each has the one it takes. The option is
  // put back at once, so later sends are not tied.
  if (local == 0 || !SetUnicastInterface(s, through.index)) return SendTo(handle, data, size, destination);
  const Sent sent = SendWithPacketInfo(s, data, size, destination, through.index, local);
  SetUnicastInterface(s, 0);
  if (sent != Sent::Failed) return sent;
  return SendTo(handle, data, size, destination);  // the adapter has gone: as without one
}

std::string AdapterName(unsigned index) { return index == 0 ? std::string() : LookUpAdapter(index).name; }

}  // namespace net::sock

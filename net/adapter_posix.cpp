// Adapter choice on POSIX systems: getifaddrs() and, on Linux, SO_BINDTODEVICE
// for a socket tied to one adapter, and an IP_PKTINFO control message for one
// datagram sent through one.
#include "net/adapter.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace net::sock {

bool FindAdapter(const std::string& nameOrAddress, Adapter& out) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  in_addr wanted{};
  const bool byAddress = ::inet_pton(AF_INET, nameOrAddress.c_str(), &wanted) == 1;
  std::string found;
  for (const ifaddrs* a = list; a != nullptr && found.empty(); a = a->ifa_next) {
    if (a->ifa_name == nullptr) continue;
    const bool v4 = a->ifa_addr != nullptr && a->ifa_addr->sa_family == AF_INET;
    const std::uint32_t address = v4 ? reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr : 0;
    if (byAddress ? (v4 && address == wanted.s_addr) : nameOrAddress == a->ifa_name) found = a->ifa_name;
  }
  out = Adapter{};
  for (const ifaddrs* a = list; a != nullptr && !found.empty(); a = a->ifa_next) {
    if (a->ifa_name == nullptr || found != a->ifa_name) continue;
    out.name = found;
    if (a->ifa_addr != nullptr && a->ifa_addr->sa_family == AF_INET && out.ipv4 == 0)
      out.ipv4 = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
  }
  ::freeifaddrs(list);
  if (byAddress && !found.empty()) out.ipv4 = wanted.s_addr;
  return !found.empty();
}

bool BindToAdapter(Handle handle, Family family, const Adapter& adapter, std::uint16_t port) {
  const int fd = static_cast<int>(handle);
#ifdef SO_BINDTODEVICE
  if (::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, adapter.name.c_str(),
                   static_cast<socklen_t>(adapter.name.size() + 1)) != 0)
    return false;
  return Bind(handle, AnyAddress(family, port));
#else
  // Without a device binding the adapter's address is the closest choice.
  if (family != Family::IPv4) {
    errno = EAFNOSUPPORT;
    return false;
  }
  (void)fd;
  return Bind(handle, IPv4Address(adapter.ipv4, port));
#endif
}

Sent SendThrough(Handle handle, const std::uint8_t* data, std::size_t size, const Address& destination,
                 const Arrival& through) {
#ifdef IP_PKTINFO
  // The control message steers this one datagram: out of the adapter with
  // that index, from its address (0: the system takes the adapter's own),
  // also where no route leads there; the socket keeps no setting of it.
  if (through.index != 0) {
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    iovec part{const_cast<std::uint8_t*>(data), size};
    msghdr message{};
    message.msg_name = const_cast<unsigned char*>(destination.bytes);
    message.msg_namelen = static_cast<socklen_t>(destination.length);
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    const auto send = [&](std::uint32_t from) {
      in_pktinfo info{};
      info.ipi_ifindex = static_cast<int>(through.index);
      info.ipi_spec_dst.s_addr = from;
      std::memcpy(CMSG_DATA(c), &info, sizeof info);
      ssize_t sent;
      do sent = ::sendmsg(static_cast<int>(handle), &message, 0);
      while (sent < 0 && errno == EINTR);
      return sent;
    };
    ssize_t sent = send(through.local);
    // The adapter's address has changed since: the system takes its own.
    if (sent < 0 && errno != EMSGSIZE && through.local != 0) sent = send(0);
    if (sent >= 0) return static_cast<std::size_t>(sent) == size ? Sent::Whole : Sent::Part;
    if (errno == EMSGSIZE) return Sent::TooBig;
    // The adapter has gone: as without one.
  }
#endif
  return SendTo(handle, data, size, destination);
}

std::string AdapterName(unsigned index) {
  char name[IF_NAMESIZE] = {};
  return index != 0 && ::if_indextoname(index, name) != nullptr ? std::string(name) : std::string();
}

}  // namespace net::sock

// Adapter choice on POSIX systems: getifaddrs() and, on Linux, SO_BINDTODEVICE.
#include "net/adapter.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

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

std::vector<std::uint32_t> LocalAddresses() {
  std::vector<std::uint32_t> addresses;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return addresses;
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next)
    if (a->ifa_addr != nullptr && a->ifa_addr->sa_family == AF_INET)
      addresses.push_back(reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
  ::freeifaddrs(list);
  return addresses;
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

}  // namespace net::sock

// Adapter choice on Windows: GetAdaptersAddresses() and a bind to the
// adapter's address (Windows delivers an adapter's broadcasts and group
// datagrams to a socket bound to its address).
#include "net/adapter.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

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

}  // namespace net::sock

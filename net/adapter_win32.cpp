// Adapter choice on Windows: GetAdaptersAddresses() and a bind to the
// adapter's address (Windows delivers an adapter's broadcasts and group
// datagrams to a socket bound to its address).
#include "net/adapter.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <vector>

namespace net::sock {

namespace {

std::string Utf8(const wchar_t* text) {
  if (text == nullptr) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

// The adapters' list, or an empty buffer when the system cannot give it.
std::vector<unsigned char> AdapterList() {
  ULONG size = 16 * 1024;
  std::vector<unsigned char> storage;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    storage.resize(size);
    rc = ::GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr,
                                reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()), &size);
  }
  if (rc != NO_ERROR) storage.clear();
  return storage;
}

// Each IPv4 address of the adapter.
template <typename F>
void ForEachAddress(const IP_ADAPTER_ADDRESSES* a, F f) {
  for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next)
    if (u->Address.lpSockaddr != nullptr && u->Address.lpSockaddr->sa_family == AF_INET)
      f(reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr)->sin_addr.s_addr);
}

}  // namespace

bool FindAdapter(const std::string& nameOrAddress, Adapter& out) {
  std::vector<unsigned char> storage = AdapterList();
  if (storage.empty()) return false;
  const std::uint32_t wanted = ::inet_addr(nameOrAddress.c_str());
  const bool byAddress = wanted != INADDR_NONE || nameOrAddress == "255.255.255.255";
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()); a != nullptr; a = a->Next) {
    std::uint32_t first = 0;
    bool match = !byAddress && (nameOrAddress == Utf8(a->FriendlyName) || nameOrAddress == a->AdapterName);
    ForEachAddress(a, [&](std::uint32_t address) {
      if (first == 0) first = address;
      if (byAddress && address == wanted) match = true;
    });
    if (match) {
      out.name = Utf8(a->FriendlyName);
      out.ipv4 = byAddress ? wanted : first;
      return true;
    }
  }
  return false;
}

std::vector<std::uint32_t> LocalAddresses() {
  std::vector<std::uint32_t> addresses;
  std::vector<unsigned char> storage = AdapterList();
  if (storage.empty()) return addresses;
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()); a != nullptr; a = a->Next)
    ForEachAddress(a, [&](std::uint32_t address) { addresses.push_back(address); });
  return addresses;
}

bool BindToAdapter(Handle handle, Family family, const Adapter& adapter, std::uint16_t port) {
  if (family != Family::IPv4) {
    ::WSASetLastError(WSAEAFNOSUPPORT);
    return false;
  }
  return Bind(handle, IPv4Address(adapter.ipv4, port));
}

}  // namespace net::sock

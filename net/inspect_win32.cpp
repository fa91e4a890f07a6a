// What the system tells about its network on Windows: GetAdaptersAddresses(),
// GetExtendedUdpTable() with the owners' process ids, and the firewall's COM
// interface (INetFwPolicy2).
#include "net/inspect.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>
#include <initguid.h>
#include <netfw.h>

#include <algorithm>
#include <cctype>
#include <sstream>

#include "net/helpers_win32.h"

namespace net::inspect {

namespace {

SOCKET Sock(sock::Handle handle) { return static_cast<SOCKET>(handle); }


std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string FileName(const std::string& path) {
  const auto slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string KindOf(const IP_ADAPTER_ADDRESSES& a) {
  switch (a.IfType) {
    case IF_TYPE_SOFTWARE_LOOPBACK: return "loopback";
    case IF_TYPE_IEEE80211: return "wireless";
    case IF_TYPE_TUNNEL:
    case IF_TYPE_PPP: return "tunnel";
    default: break;
  }
  // Virtual and VPN adapters present themselves as Ethernet; their
  // description is all the system tells.
  const std::string description = Lower(Utf8FromWide(a.Description));
  for (const char* word : {"vpn", "tap-", "wireguard", "tunnel"})
    if (description.find(word) != std::string::npos) return "tunnel";
  for (const char* word : {"virtual", "hyper-v", "vmware", "virtualbox", "loopback"})
    if (description.find(word) != std::string::npos) return "virtual";
  return a.IfType == IF_TYPE_ETHERNET_CSMACD ? "ethernet" : std::string();
}

// A port list of a firewall rule: "*", or numbers and ranges separated by commas.
bool PortListHas(const std::string& list, std::uint16_t port) {
  if (list.empty() || list == "*") return true;
  std::istringstream in(list);
  std::string item;
  while (std::getline(in, item, ',')) {
    const auto dash = item.find('-');
    try {
      const unsigned long low = std::stoul(item.substr(0, dash));
      const unsigned long high = dash == std::string::npos ? low : std::stoul(item.substr(dash + 1));
      if (port >= low && port <= high) return true;
    } catch (const std::exception&) {
      // a keyword such as "RPC": not one of ours
    }
  }
  return false;
}

template <typename T>
struct Com {
  T* p = nullptr;
  ~Com() {
    if (p != nullptr) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
};

struct Bstr {
  BSTR text = nullptr;
  ~Bstr() { ::SysFreeString(text); }
};

}  // namespace

bool ListAdapters(std::vector<AdapterInfo>& out) {
  out.clear();
  std::vector<unsigned char> storage;
  IP_ADAPTER_ADDRESSES* const list =
      AdaptersAddresses(GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER, storage);
  if (list == nullptr) return false;
  for (auto* a = list; a != nullptr; a = a->Next) {
    if (a->OperStatus != IfOperStatusUp) continue;
    AdapterInfo info;
    info.name = Utf8FromWide(a->FriendlyName);
    info.index = a->IfIndex;
    info.kind = KindOf(*a);
    for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
      if (u->Address.lpSockaddr == nullptr || u->Address.lpSockaddr->sa_family != AF_INET) continue;
      info.addresses.push_back({reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr)->sin_addr.s_addr,
                                static_cast<int>(u->OnLinkPrefixLength)});
    }
    if (!info.addresses.empty()) out.push_back(info);
  }
  return true;
}

std::uint32_t SourceAddressFor(std::uint32_t destination, std::uint16_t port) {
  const sock::Handle handle = sock::Open(sock::Family::IPv4);  // starts Winsock
  if (handle == sock::kNone) return 0;
  sock::SetOption(handle, sock::Option::Broadcast, 1);  // connect() to a broadcast address needs it
  const sock::Address to = sock::IPv4Address(destination, port);
  sockaddr_in local{};
  int localLength = sizeof local;
  std::uint32_t address = 0;
  if (::connect(Sock(handle), reinterpret_cast<const sockaddr*>(to.bytes), to.length) == 0 &&
      ::getsockname(Sock(handle), reinterpret_cast<sockaddr*>(&local), &localLength) == 0)
    address = local.sin_addr.s_addr;
  sock::Close(handle);
  return address;
}

std::vector<PortOwner> PortOwners(sock::Family family, std::uint16_t port) {
  std::vector<DWORD> pids;
  const auto collect = [&](ULONG af) {
    DWORD size = 0;
    ::GetExtendedUdpTable(nullptr, &size, FALSE, af, UDP_TABLE_OWNER_PID, 0);
    std::vector<unsigned char> table(size + 1024);
    size = static_cast<DWORD>(table.size());
    if (::GetExtendedUdpTable(table.data(), &size, FALSE, af, UDP_TABLE_OWNER_PID, 0) != NO_ERROR) return;
    if (af == AF_INET) {
      const auto* t = reinterpret_cast<const MIB_UDPTABLE_OWNER_PID*>(table.data());
      for (DWORD i = 0; i < t->dwNumEntries; ++i)
        if (::ntohs(static_cast<u_short>(t->table[i].dwLocalPort)) == port) pids.push_back(t->table[i].dwOwningPid);
    } else {
      const auto* t = reinterpret_cast<const MIB_UDP6TABLE_OWNER_PID*>(table.data());
      for (DWORD i = 0; i < t->dwNumEntries; ++i)
        if (::ntohs(static_cast<u_short>(t->table[i].dwLocalPort)) == port) pids.push_back(t->table[i].dwOwningPid);
    }
  };
  if (family == sock::Family::IPv4) collect(AF_INET);
  collect(AF_INET6);  // a dual-stack socket holds the IPv4 port too
  std::vector<PortOwner> owners;
  for (const DWORD pid : pids) {
    // Pid 0: the system could not tell (Wine, for a socket of no Windows process).
    if (pid == 0 || pid == ::GetCurrentProcessId() ||
        std::any_of(owners.begin(), owners.end(), [&](const PortOwner& o) { return o.pid == long(pid); }))
      continue;
    PortOwner owner;
    owner.pid = static_cast<long>(pid);
    if (HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
      wchar_t path[MAX_PATH];
      DWORD length = MAX_PATH;
      if (::QueryFullProcessImageNameW(process, 0, path, &length)) owner.program = FileName(Utf8FromWide(path));
      ::CloseHandle(process);
    }
    owners.push_back(owner);
  }
  return owners;
}

Firewall CheckFirewall(const std::vector<std::string>& programs, const std::vector<std::uint16_t>& ports) {
  Firewall result;
  result.state = FirewallState::Unknown;
  const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const auto unknown = [&](const char* why, HRESULT hr) {
    std::ostringstream text;
    text << why << " (0x" << std::hex << static_cast<unsigned long>(hr) << ")";
    result.reason = text.str();
    return result;
  };
  struct Uninit {
    HRESULT init;
    ~Uninit() {
      if (SUCCEEDED(init)) ::CoUninitialize();
    }
  } uninit{init};
  Com<INetFwPolicy2> policy;
  HRESULT hr = ::CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwPolicy2,
                                  reinterpret_cast<void**>(&policy));
  if (FAILED(hr)) return unknown("the firewall's interface is not available", hr);
  long profiles = 0;
  if (FAILED(hr = policy->get_CurrentProfileTypes(&profiles))) return unknown("the active profiles are not told", hr);
  long blockingProfiles = 0;  // active profiles with the firewall on and inbound blocked by default
  for (long bit : {NET_FW_PROFILE2_DOMAIN, NET_FW_PROFILE2_PRIVATE, NET_FW_PROFILE2_PUBLIC}) {
    if (!(profiles & bit)) continue;
    VARIANT_BOOL on = VARIANT_FALSE;
    NET_FW_ACTION inbound = NET_FW_ACTION_BLOCK;
    if (FAILED(hr = policy->get_FirewallEnabled(static_cast<NET_FW_PROFILE_TYPE2>(bit), &on)))
      return unknown("the firewall's state is not told", hr);
    if (on == VARIANT_FALSE) continue;
    if (SUCCEEDED(policy->get_DefaultInboundAction(static_cast<NET_FW_PROFILE_TYPE2>(bit), &inbound)) &&
        inbound == NET_FW_ACTION_ALLOW)
      continue;
    blockingProfiles |= bit;
  }
  if (blockingProfiles == 0) {
    result.state = FirewallState::Off;
    return result;
  }
  Com<INetFwRules> rules;
  if (FAILED(hr = policy->get_Rules(&rules))) return unknown("the firewall's rules are not told", hr);
  Com<IUnknown> enumUnknown;
  if (FAILED(hr = rules->get__NewEnum(&enumUnknown)) || enumUnknown.p == nullptr)
    return unknown("the firewall's rules cannot be read", hr);
  Com<IEnumVARIANT> each;
  if (FAILED(hr = enumUnknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&each))))
    return unknown("the firewall's rules cannot be read", hr);
  // For each program: the ports an enabled inbound rule allows on the blocking profiles.
  std::vector<std::vector<bool>> allowed(programs.size(), std::vector<bool>(ports.size(), false));
  VARIANT item;
  ::VariantInit(&item);
  ULONG fetched = 0;
  while (each->Next(1, &item, &fetched) == S_OK && fetched == 1) {
    Com<INetFwRule> rule;
    if (item.vt == VT_DISPATCH && item.pdispVal != nullptr &&
        SUCCEEDED(item.pdispVal->QueryInterface(IID_INetFwRule, reinterpret_cast<void**>(&rule)))) {
      VARIANT_BOOL enabled = VARIANT_FALSE;
      NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
      NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
      long protocol = 0, ruleProfiles = 0;
      Bstr application, localPorts;
      if (SUCCEEDED(rule->get_Enabled(&enabled)) && enabled != VARIANT_FALSE &&
          SUCCEEDED(rule->get_Direction(&direction)) && direction == NET_FW_RULE_DIR_IN &&
          SUCCEEDED(rule->get_Action(&action)) && action == NET_FW_ACTION_ALLOW &&
          SUCCEEDED(rule->get_Protocol(&protocol)) && (protocol == NET_FW_IP_PROTOCOL_UDP || protocol == 256) &&
          SUCCEEDED(rule->get_Profiles(&ruleProfiles)) && (ruleProfiles & blockingProfiles) != 0) {
        rule->get_ApplicationName(&application.text);
        rule->get_LocalPorts(&localPorts.text);
        const std::string app = Lower(FileName(Utf8FromWide(application.text)));
        const std::string portList = Utf8FromWide(localPorts.text);
        for (std::size_t p = 0; p < programs.size(); ++p) {
          if (!app.empty() && app != Lower(programs[p])) continue;  // no program named: every program
          for (std::size_t q = 0; q < ports.size(); ++q)
            if (PortListHas(portList, ports[q])) allowed[p][q] = true;
        }
      }
    }
    ::VariantClear(&item);
  }
  for (std::size_t p = 0; p < programs.size(); ++p)
    if (std::find(allowed[p].begin(), allowed[p].end(), false) != allowed[p].end())
      result.blockedPrograms.push_back(programs[p]);
  result.state = result.blockedPrograms.empty() ? FirewallState::Allowed : FirewallState::Blocked;
  return result;
}

}  // namespace net::inspect

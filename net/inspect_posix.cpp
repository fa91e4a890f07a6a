// What the system tells about its network on Linux (and, as far as they
// have the same calls, other POSIX systems): getifaddrs(), /sys/class/net,
// /proc/net/udp{,6} with /proc/*/fd, and rp_filter in /proc/sys.
#include "net/inspect.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace net::inspect {

namespace fs = std::filesystem;

namespace {

int ReadNumber(const std::string& path, int fallback) {
  std::ifstream in(path);
  int value = fallback;
  return in >> value ? value : fallback;
}

int PrefixOf(const sockaddr* mask) {
  if (mask == nullptr || mask->sa_family != AF_INET) return 0;
  return __builtin_popcount(reinterpret_cast<const sockaddr_in*>(mask)->sin_addr.s_addr);
}

std::string KindOf(const std::string& name, unsigned flags) {
  if (flags & IFF_LOOPBACK) return "loopback";
  if (flags & IFF_POINTOPOINT) return "tunnel";
  const fs::path sys = fs::path("/sys/class/net") / name;
  std::error_code ec;
  if (!fs::exists(sys, ec)) return {};
  if (fs::exists(sys / "wireless", ec) || fs::exists(sys / "phy80211", ec)) return "wireless";
  const int type = ReadNumber((sys / "type").string(), -1);
  if (type == 65534 || type == 768 || type == 769 || type == 776 || type == 778) return "tunnel";
  if (fs::canonical(sys, ec).string().find("/devices/virtual/") != std::string::npos) return "virtual";
  return type == 1 ? "ethernet" : std::string();
}

int RpFilterOf(const std::string& name) {
  // The kernel applies the larger of the adapter's and the "all" setting.
  const int own = ReadNumber("/proc/sys/net/ipv4/conf/" + name + "/rp_filter", -1);
  const int all = ReadNumber("/proc/sys/net/ipv4/conf/all/rp_filter", -1);
  return own < 0 ? -1 : std::max(own, all);
}

}  // namespace

bool ListAdapters(std::vector<AdapterInfo>& out) {
  out.clear();
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_name == nullptr || a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    if (!(a->ifa_flags & IFF_UP) || !(a->ifa_flags & IFF_RUNNING)) continue;  // up, and connected
    AdapterInfo* info = nullptr;
    for (AdapterInfo& known : out)
      if (known.name == a->ifa_name) info = &known;
    if (info == nullptr) {
      info = &out.emplace_back();
      info->name = a->ifa_name;
      info->index = ::if_nametoindex(a->ifa_name);
      info->kind = KindOf(info->name, a->ifa_flags);
      info->rpFilter = RpFilterOf(info->name);
    }
    info->addresses.push_back(
        {reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr, PrefixOf(a->ifa_netmask)});
  }
  ::freeifaddrs(list);
  return true;
}

std::uint32_t SourceAddressFor(std::uint32_t destination, std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) return 0;
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);  // connect() to a broadcast address needs it
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = destination;
  to.sin_port = htons(port);
  sockaddr_in local{};
  socklen_t length = sizeof local;
  std::uint32_t address = 0;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0)
    address = local.sin_addr.s_addr;
  ::close(fd);
  return address;
}

std::vector<PortOwner> PortOwners(sock::Family family, std::uint16_t port) {
  // The sockets bound to the port, by inode: "sl local_address rem_address st
  // tx:rx tr:when retrnsmt uid timeout inode".
  std::set<std::string> inodes;
  std::vector<std::string> tables = {"/proc/net/udp6"};
  if (family == sock::Family::IPv4) tables.push_back("/proc/net/udp");
  for (const std::string& table : tables) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode))
        continue;
      const auto colon = local.rfind(':');
      if (colon == std::string::npos || std::stoul(local.substr(colon + 1), nullptr, 16) != port) continue;
      if (inode != "0") inodes.insert("socket:[" + inode + "]");
    }
  }
  std::vector<PortOwner> owners;
  if (inodes.empty()) return owners;
  std::error_code ec;
  for (const fs::directory_entry& process : fs::directory_iterator("/proc", ec)) {
    const std::string pid = process.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos || std::stol(pid) == ::getpid()) continue;
    std::error_code fdError;
    for (const fs::directory_entry& fd : fs::directory_iterator(process.path() / "fd", fdError)) {
      std::error_code linkError;
      const fs::path target = fs::read_symlink(fd.path(), linkError);
      if (linkError || inodes.count(target.string()) == 0) continue;
      PortOwner owner;
      owner.pid = std::stol(pid);
      std::ifstream comm(process.path() / "comm");
      std::getline(comm, owner.program);
      owners.push_back(owner);
      break;
    }
  }
  return owners;
}

Firewall CheckFirewall(const std::vector<std::string>&, const std::vector<std::uint16_t>&) {
  return Firewall{};  // not asked here: rp_filter per adapter is reported instead
}

}  // namespace net::inspect

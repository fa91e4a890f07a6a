// The doctor's judgement: from what was heard and what the system told
// (plain values, gathered elsewhere) to findings with advice. No system
// calls here, so that every rule is tested on its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cli::diagnosis {

struct Subnet {
  std::uint32_t address = 0;  // network byte order
  int prefix = 0;
};

struct Adapter {
  std::string name;
  std::string kind;  // "loopback", "wireless", "tunnel", "virtual", "ethernet" or empty
  std::vector<Subnet> addresses;
  int rpFilter = -1;  // 1: strict reverse-path filtering; -1: not told
  int broadcast = 0;  // announcements heard on it by broadcast (port 60080)
  int multicast = 0;  // ... and on the group
};

struct Port {
  std::uint16_t port = 0;
  std::string family;  // "IPv4" or "IPv6"
  bool free = true;
  std::string program;  // the holder, when told
  long pid = 0;         // 0: not told
};

struct Device {
  std::string identity;
  std::uint32_t ip = 0;  // announced address, network order; 0: none
  // Adapters it was heard on (positions in Facts::adapters), by path.
  std::vector<int> broadcastOn, multicastOn;
  int Adapter() const;  // the first adapter it was heard on, -1 when none was told
};

enum class Firewall { NotChecked, Unknown, Off, Allowed, Blocked };

struct Facts {
  double seconds = 0;
  std::vector<Adapter> adapters;
  int broadcastAdapter = -1;  // where a datagram to 255.255.255.255 leaves; -1 unknown
  int multicastAdapter = -1;  // where the group is joined by default; -1 unknown
  std::vector<Port> ports;
  std::vector<Device> devices;
  Firewall firewall = Firewall::NotChecked;
  std::vector<std::string> firewallBlocks;  // programs no inbound rule lets in
};

struct Finding {
  std::string severity;  // "error", "warning", "info"
  std::string code;
  std::string text;
};

enum class Language { English, Chinese };

// True when the address lies in one of the adapter's subnets.
bool InSubnet(std::uint32_t address, const Adapter& adapter);
// How many distinct devices were heard on the adapter.
int DevicesOn(const Facts& facts, int adapter);

// The findings, errors first, each rule in a fixed order.
std::vector<Finding> Diagnose(const Facts& facts, Language language);

}  // namespace cli::diagnosis

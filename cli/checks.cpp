#include "cli/checks.h"

#include "cli/assign.h"
#include "device/fields.h"

namespace cli {

namespace {

std::string Text(std::uint32_t networkOrder) {
  const std::string text = device::IPv4ToText(networkOrder);
  return text.empty() ? "0.0.0.0" : text;
}

}  // namespace

std::vector<std::string> PreWriteProblems(const device::NetConfig& pending, std::uint64_t ident,
                                          const engine::DeviceList& heard,
                                          const std::unordered_set<std::uint64_t>& movingAway) {
  std::vector<std::string> problems;
  if (device::AutoIPToChecked(pending.AutoIP)) return problems;
  const std::uint32_t ip = HostOrder(pending.PAddr);
  const std::uint32_t mask = HostOrder(pending.SubNetMask);
  const std::uint32_t gateway = HostOrder(pending.GatePAddr);
  const bool contiguous = (~mask & (~mask + 1)) == 0;
  if (!contiguous) {
    problems.push_back("mask " + Text(pending.SubNetMask) + " is not contiguous");
  } else {
    const std::string subnet = Text(pending.PAddr & pending.SubNetMask) + "/" + std::to_string(PrefixLength(mask));
    if (gateway != 0 && (gateway & mask) != (ip & mask))
      problems.push_back("gateway " + Text(pending.GatePAddr) + " is outside the device's subnet " + subnet);
    // /31 and /32 have no network or broadcast address of their own.
    if (PrefixLength(mask) <= 30) {
      if ((ip & ~mask) == 0)
        problems.push_back("ip " + Text(pending.PAddr) + " is the network address of its subnet " + subnet);
      else if ((ip & ~mask) == ~mask)
        problems.push_back("ip " + Text(pending.PAddr) + " is the broadcast address of its subnet " + subnet);
    }
  }
  for (int i = 0; i < heard.Count(); ++i) {
    if (heard.Ident(i) == ident || movingAway.count(heard.Ident(i)) != 0) continue;
    const device::NetConfig& other = heard.Entry(i).Config;
    if (other.PAddr == pending.PAddr) {
      problems.push_back("ip " + Text(pending.PAddr) + " is already announced by device " + heard.Text(i));
      break;
    }
  }
  return problems;
}

}  // namespace cli

#include "cli/assign.h"

#include <cstring>
#include <map>
#include <set>

#include "cli/fields.h"

namespace cli {

namespace {

// The network or broadcast address of the address's subnet under the mask
// (/31 and /32 have none of their own).
bool SubnetEdge(std::uint32_t address, std::uint32_t mask) {
  if (PrefixLength(mask) > 30) return false;
  return (address & ~mask) == 0 || (address & ~mask) == ~mask;
}

}  // namespace

int PrefixLength(std::uint32_t mask) {
  int n = 0;
  while (n < 32 && (mask & (0x80000000u >> n))) ++n;
  return n;
}

std::uint32_t HostOrder(std::uint32_t networkOrder) {
  std::uint8_t b[4];
  std::memcpy(b, &networkOrder, 4);
  return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}

std::string DottedQuad(std::uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." + std::to_string((a >> 8) & 0xFF) +
         "." + std::to_string(a & 0xFF);
}

bool ParseDottedQuad(const std::string& text, std::uint32_t& hostOrder) {
  if (!IsDottedQuad(text)) return false;
  hostOrder = 0;
  std::size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t end = text.find('.', at);
    hostOrder = (hostOrder << 8) | static_cast<std::uint32_t>(std::stoul(text.substr(at, end - at)));
    at = end + 1;
  }
  return true;
}

AddressResult AssignAddresses(const AddressRequest& request) {
  AddressResult result;
  const std::set<std::uint32_t> masks(request.masks.begin(), request.masks.end());
  for (std::uint32_t mask : masks) {
    if ((request.first & mask) != (request.last & mask)) {
      result.problem = "the range " + DottedQuad(request.first) + "-" + DottedQuad(request.last) +
                       " crosses the boundary of the subnet " + DottedQuad(request.first & mask) + "/" +
                       std::to_string(PrefixLength(mask));
      return result;
    }
  }
  std::map<std::uint32_t, int> announcedBy;
  for (std::uint32_t a : request.announced) ++announcedBy[a];
  const std::set<std::uint32_t> workstation(request.workstation.begin(), request.workstation.end());
  const auto usable = [&](std::uint32_t a) {
    if (a < request.first || a > request.last || workstation.count(a)) return false;
    for (std::uint32_t mask : masks)
      if (SubnetEdge(a, mask)) return false;
    return true;
  };

  const std::size_t n = request.current.size();
  result.addresses.assign(n, 0);
  std::vector<bool> kept(n, false);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t a = request.current[i];
    const auto it = announcedBy.find(a);
    kept[i] = usable(a) && it != announcedBy.end() && it->second == 1;
    if (kept[i]) result.addresses[i] = a;
  }
  // The next candidate; 64 bits so that a range up to 255.255.255.255 ends.
  std::uint64_t next = request.first;
  for (std::size_t i = 0; i < n; ++i) {
    if (kept[i]) continue;
    while (next <= request.last && (!usable(static_cast<std::uint32_t>(next)) ||
                                    announcedBy.count(static_cast<std::uint32_t>(next))))
      ++next;
    if (next > request.last) {
      ++result.missing;
      continue;
    }
    result.addresses[i] = static_cast<std::uint32_t>(next++);
  }
  if (result.missing) result.addresses.clear();
  return result;
}

}  // namespace cli

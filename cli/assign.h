// Address assignment for a plan: each device the next free address of a
// range, keeping an address a device already holds inside the range. Pure:
// the devices heard and this workstation's addresses come in as numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// Addresses here are numbers whose most significant byte is the first of the
// dotted text ("host order").
struct AddressRequest {
  std::uint32_t first = 0, last = 0;  // the range, both included
  // Per device to plan, in plan order: its announced address and the mask of
  // its subnet (the one the plan gives, or its announced one).
  std::vector<std::uint32_t> current;
  std::vector<std::uint32_t> masks;
  std::vector<std::uint32_t> announced;    // by every device heard, the planned ones too
  std::vector<std::uint32_t> workstation;  // this workstation's adapters
};

struct AddressResult {
  std::vector<std::uint32_t> addresses;  // per device; empty when a problem is set
  std::size_t missing = 0;               // devices left without an address
  std::string problem;                   // a range across a subnet boundary
};

// Free means inside the range, announced by no device, not the workstation's
// and not the network or broadcast address of any of the masks' subnets. A
// device keeps its current address when it is in the range, free but for
// itself, and no other device announces it, so planning again after the plan
// was written changes nothing. The others take free addresses in ascending
// order.
AddressResult AssignAddresses(const AddressRequest& request);

std::string DottedQuad(std::uint32_t hostOrder);
// A record's address (network byte order) in host order.
std::uint32_t HostOrder(std::uint32_t networkOrder);
// The number of leading one bits of a mask.
int PrefixLength(std::uint32_t mask);
// The dotted quad as a number; false when it is not four decimal parts.
bool ParseDottedQuad(const std::string& text, std::uint32_t& hostOrder);

}  // namespace cli

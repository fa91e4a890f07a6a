// Checks made before a write, beyond the window's rules: they catch
// configurations that take a device off the network. Each problem names the
// field and the value; --force writes anyway.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "device/netconfig.h"
#include "engine/device_list.h"

namespace cli {

// Problems of writing 'pending' to the device 'ident': mask not contiguous,
// gateway outside the device's subnet, device address equal to its subnet's
// network or broadcast address, device address announced by another device
// in 'heard' (devices in 'movingAway' are about to give their address up).
// Nothing is checked for a record on automatic addressing.
std::vector<std::string> PreWriteProblems(const device::NetConfig& pending, std::uint64_t ident,
                                          const engine::DeviceList& heard,
                                          const std::unordered_set<std::uint64_t>& movingAway);

}  // namespace cli

// The packet intake: is this datagram an announcement, is the device new.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/device_list.h"

namespace engine {

enum class IntakeResult {
  Dropped,      // not an announcement (or too short to make an entry): nothing changed
  NewDevice,    // a line was appended
  KnownDevice,  // the device's stored record was refreshed
};

struct IntakeOutcome {
  IntakeResult result = IntakeResult::Dropped;
  int index = -1;  // the device's line, for NewDevice and KnownDevice
};

// One datagram: `work` must hold the handler's private copy of it. Asks the
// device library whether it is an announcement (kinds 255 and 252), keys the
// device by its identity and appends or refreshes its line. A new device's
// HAddrFormat is byte 2 of the buffer; a known device's is left alone.
// 'adapter' (the interface index the datagram came in on, 0: not known)
// becomes the device's adapter.
IntakeOutcome Intake(std::vector<std::uint8_t>& work, DeviceList& list, unsigned adapter = 0);

// The record the device library points at inside an announcement it has
// accepted, or null when those 60 bytes would not lie wholly inside the
// datagram: nothing is ever read outside it, whatever the library answers.
device::NetConfig* AnnouncedConfig(std::vector<std::uint8_t>& work);

}  // namespace engine

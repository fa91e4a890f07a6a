// The write-and-confirm decision: given whether a write is open, the pending
// record and an announcement of the device being written, either the write
// is confirmed or the configuration-set packet to send is made.
#pragma once

#include <cstdint>
#include <vector>

#include "device/netconfig.h"

namespace engine {

enum class ConfirmAction {
  None,     // no write open (or no record in the announcement): nothing to do
  Send,     // `work` now holds the configuration-set packet to broadcast
  Success,  // the device announced exactly the pending record
};

// `work` holds the announcement (accepted by the intake) with the record the
// device announced. On Send the buffer has been grown to 1500 bytes (zeros
// after the datagram), the pending record written where the library points,
// turned into a configuration-set packet and cut to the length the library
// returned. Throws std::runtime_error when the library returns a length
// outside 1..1500 (nothing is sent then).
ConfirmAction Confirm(bool writeOpen, const device::NetConfig& pending, std::vector<std::uint8_t>& work);

}  // namespace engine

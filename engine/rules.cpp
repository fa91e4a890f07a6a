#include "engine/rules.h"

#include <cstring>

namespace engine {

bool DeviceAddressAllowed(std::uint32_t pAddrNetworkOrder) {
  // Network byte order: the first number of the dotted text is the lowest byte in memory.
  std::uint8_t bytes[4];
  std::memcpy(bytes, &pAddrNetworkOrder, 4);
  const int first = bytes[0];
  return (first >= 1 && first <= 126) || (first >= 128 && first <= 223);
}

}  // namespace engine

// The 60-byte configuration record shared with the devices, and the device
// list's entry around it. Both are packed: the layout is the wire layout.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace device {

static_assert(std::endian::native == std::endian::little,
              "ServerPort and HAddr are stored in the workstation's (little-endian) order");

#pragma pack(push, 1)
struct NetConfig {
  std::uint8_t AutoIP;         // nonzero: automatic addressing
  std::uint32_t ServerPAddr;   // IPv4, network byte order; 0 = not set
  std::uint16_t ServerPort;    // little-endian
  std::uint16_t HAddr;         // byte 7: sixth hardware-address byte, byte 8: fifth
  char DeviceName[31];         // ANSI code page, at most 30 bytes + zero
  std::uint32_t PAddr;         // the following five: IPv4, network byte order
  std::uint32_t SubNetMask;
  std::uint32_t GatePAddr;
  std::uint32_t DNS1PAddr;
  std::uint32_t DNS2PAddr;
};

struct DeviceEntry {
  NetConfig Config;            // as last announced
  std::uint8_t HAddrFormat;    // byte 2 of the first announcement; never compared
};
#pragma pack(pop)

static_assert(sizeof(NetConfig) == 60);
static_assert(offsetof(NetConfig, AutoIP) == 0);
static_assert(offsetof(NetConfig, ServerPAddr) == 1);
static_assert(offsetof(NetConfig, ServerPort) == 5);
static_assert(offsetof(NetConfig, HAddr) == 7);
static_assert(offsetof(NetConfig, DeviceName) == 9);
static_assert(offsetof(NetConfig, PAddr) == 40);
static_assert(offsetof(NetConfig, SubNetMask) == 44);
static_assert(offsetof(NetConfig, GatePAddr) == 48);
static_assert(offsetof(NetConfig, DNS1PAddr) == 52);
static_assert(offsetof(NetConfig, DNS2PAddr) == 56);
static_assert(sizeof(DeviceEntry) == 61);
static_assert(offsetof(DeviceEntry, Config) == 0);
static_assert(offsetof(DeviceEntry, HAddrFormat) == 60);

constexpr std::size_t kNetConfigSize = sizeof(NetConfig);
constexpr std::size_t kDeviceNameBytes = 30;  // longest name; byte 31 is the terminator

}  // namespace device

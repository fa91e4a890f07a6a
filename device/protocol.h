// The adapter to the device-protocol library ORVENAPI3: the only code that
// calls it. The library is linked at load time; the build links either the
// project's stand-in or the vendor's file (CMake cache variable
// ORVENAPI3_LIBRARY).
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/netconfig.h"

namespace device::protocol {

// Where the devices announce themselves: broadcast to 255.255.255.255 at
// kBroadcastPort, and to the IPv4 group kGroup at kGroupPort. A
// configuration-set packet goes back to the port the announcement came from.
constexpr std::uint16_t kBroadcastPort = 60080;
constexpr std::uint16_t kGroupPort = 60081;
inline constexpr const char* kGroup = "230.1.1.100";
// The port the window's sender names as its own (the default destination of
// plain sends, which the tool never makes).
constexpr std::uint16_t kSenderPort = 60100;
// The source port of a configuration-set packet, from the window or from
// orven-cli, is chosen by the system but is never one of these.
inline constexpr std::uint16_t kReservedSourcePorts[] = {kBroadcastPort, kGroupPort, kSenderPort};

// Packet kinds the tool handles: announcements, periodic and after a write.
constexpr std::int32_t kAnnouncement = 255;
constexpr std::int32_t kAnnouncementAfterWrite = 252;
// Largest configuration-set packet, and the size the buffer is grown to.
constexpr std::size_t kSendBufferSize = 1500;

// Classifies a datagram; 255 and 252 are announcements.
std::int32_t PreparePackage(std::uint8_t* buffer, std::int32_t length);
// The device identity (only after PreparePackage accepted the buffer).
std::uint64_t GetDeviceIdent(std::uint8_t* buffer);
// The configuration record inside the buffer (only after PreparePackage).
NetConfig* ReadNetConfigration(std::uint8_t* buffer);
// Rewrites a 1500-byte buffer holding an announcement with the pending
// record in place into a configuration-set packet; returns its length.
std::int32_t SendNetConfigration(std::uint8_t* buffer);

}  // namespace device::protocol
